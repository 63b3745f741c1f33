// CoreGraphics adapters of the EventTap and EventPoster ports. macOS only.
#pragma once

#include "platform/macos/cf_ref.hpp"
#include "platform/ports.hpp"

#include <ApplicationServices/ApplicationServices.h>

#include <memory>

namespace chordwell::platform::mac {

/// A keyboard tap at the head of the session's event stream
/// (kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault).
class MacEventTap final : public EventTap {
public:
    /// CGEventTapCreate for key-down, key-up and flags-changed; nullptr when
    /// the system refuses the tap (no Accessibility permission).
    static std::unique_ptr<MacEventTap> create(Callback callback, void* userInfo);
    ~MacEventTap() override;

    MacEventTap(const MacEventTap&) = delete;
    MacEventTap& operator=(const MacEventTap&) = delete;

    bool addToRunLoop() override;
    void removeFromRunLoop() override;
    void enable(bool enabled) override;
    bool isEnabled() const override;

private:
    MacEventTap(Callback callback, void* userInfo);

    static CGEventRef trampoline(CGEventTapProxy proxy, CGEventType type, CGEventRef event,
                                 void* userInfo);

    Callback callback_;
    void* userInfo_;
    CFRef<CFMachPortRef> tap_;
    CFRef<CFRunLoopSourceRef> source_;
    CFRef<CFRunLoopRef> runLoop_;
};

/// Posts key events at the session event tap from a combined-session-state
/// event source.
class MacEventPoster final : public EventPoster {
public:
    bool postKeyEvent(std::int64_t keyCode, EventFlags flags, bool keyDown) override;

private:
    /// The event source, made on first use and kept: a source of the
    /// combined session state has no per-event state worth renewing, and
    /// keeping it spares the key path one system allocation per key. A
    /// failed creation is retried at the next post.
    CFRef<CGEventSourceRef> source_;
};

} // namespace chordwell::platform::mac
