// CoreGraphics adapters of the EventTap and EventPoster ports. macOS only.
#pragma once

#include "platform/macos/cf_ref.hpp"
#include "platform/macos/tap_events.hpp"
#include "ports/ports.hpp"

#include <ApplicationServices/ApplicationServices.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace chordwell::platform::mac {

/// Ends interception from the tap when the user types the emergency chord:
/// the tap sees every key, also those of a keyboard it swallows.
struct EmergencyExit : std::enable_shared_from_this<EmergencyExit> {
    EmergencyChord chord;
    std::function<void()> handler;
    Scheduler* scheduler = nullptr;
};

/// A keyboard tap at the head of the session's event stream
/// (kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault).
class MacEventTap final : public EventTap {
public:
    /// CGEventTapCreate for key-down, key-up and flags-changed; nullptr when
    /// the system refuses the tap, and when it would make one that sees no
    /// keys: without Accessibility it clears the key bits of the mask and
    /// fails only when nothing is left, which flags-changed always is.
    /// `exit` (optional) outlives the tap.
    static std::unique_ptr<MacEventTap> create(Callback callback, void* userInfo,
                                               EmergencyExit* exit = nullptr);
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
    EmergencyExit* exit_ = nullptr;
    CFRef<CFMachPortRef> tap_;
    CFRef<CFRunLoopSourceRef> source_;
    CFRef<CFRunLoopRef> runLoop_;
};

/// Posts key events at the session event tap from a combined-session-state
/// event source. Refuses (returns false) while Secure Event Input is on, so
/// that no output lands in a password field, and while the process may not
/// post, since the system would drop the event without a word.
class MacEventPoster final : public EventPoster {
public:
    bool postKeyEvent(std::int64_t keyCode, EventFlags flags, bool keyDown) override;

private:
    bool mayPost();

    /// The post permission as last asked (asking is not free, and the key
    /// path asks for every event): asked again after a second.
    bool postAccess_ = false;
    std::optional<std::chrono::nanoseconds> postAccessAskedAt_;
    /// The event source, made on first use and kept: a source of the
    /// combined session state has no per-event state worth renewing, and
    /// keeping it spares the key path one system allocation per key. A
    /// failed creation is retried at the next post.
    CFRef<CGEventSourceRef> source_;
};

} // namespace chordwell::platform::mac
