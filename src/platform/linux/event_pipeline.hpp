// The user's keyboard event stream as Chordwell sees it on Linux.
//
// There is no system-wide event tap on Linux, so the stream is built in
// process: the keys of grabbed keyboards and the keys Chordwell posts run
// through the event taps (every active tap, in creation order, may swallow),
// and whatever passes is written to one virtual keyboard (uinput) that the
// desktop reads instead of the grabbed devices. The path allocates nothing:
// all state is held in fixed-size tables.
//
// Modifier guard. Desktops give a modifier pressed and released alone a
// meaning of its own (Super opens the GNOME overview or the KDE launcher, a
// lone Alt opens the menu bar of many applications). When Chordwell swallows
// a key while a modifier is held, or lifts and restores a held modifier
// around its output, the desktop would see such a lone tap the user never
// typed. So before the virtual keyboard releases a modifier that Chordwell
// left alone in that way, the pipeline taps a neutral key (kNeutralKey): a
// key code the kernel reserves for keys without meaning, which no desktop
// binds and which types nothing, but which is "another key" to every lone-tap
// detector. A modifier the user taps alone while nothing was swallowed still
// reaches the desktop as the plain tap it is.
#pragma once

#include "platform/linux/key_tables.hpp"
#include "ports/ports.hpp"

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace chordwell::platform::lnx {

/// Where the events that pass the taps go: the virtual keyboard.
class KeySink {
public:
    virtual ~KeySink() = default;
    /// Writes one key event (value 0 up, 1 down, 2 repeat) followed by its
    /// SYN_REPORT; false when the write failed.
    virtual bool writeKey(std::uint16_t code, std::int32_t value) = 0;
};

class EventPipeline;

/// The key tapped between a guarded modifier's down and up (KEY_UNKNOWN).
inline constexpr std::uint16_t kNeutralKey = 240;

/// An event tap of the in-process stream. It takes part in the stream while
/// it is added to the run loop and enabled.
class LinuxEventTap final : public EventTap {
public:
    LinuxEventTap(std::weak_ptr<EventPipeline> pipeline, Callback callback, void* userInfo);
    ~LinuxEventTap() override;
    LinuxEventTap(const LinuxEventTap&) = delete;
    LinuxEventTap& operator=(const LinuxEventTap&) = delete;

    bool addToRunLoop() override;
    void removeFromRunLoop() override;
    void enable(bool enabled) override;
    bool isEnabled() const override { return enabled_; }
    void setCoversEveryKeyboard(bool covers) override;

    bool isActive() const { return inRunLoop_ && enabled_; }
    bool coversEveryKeyboard() const { return coversEveryKeyboard_; }
    TapDecision deliver(const KeyEvent& event) const { return callback_(userInfo_, event); }

private:
    void changed();

    std::weak_ptr<EventPipeline> pipeline_;
    Callback callback_;
    void* userInfo_;
    bool inRunLoop_ = false;
    bool enabled_ = false;
    bool coversEveryKeyboard_ = false;
};

class EventPipeline {
public:
    /// Identifies where a key came from: a grabbed keyboard, or Chordwell.
    using SourceId = std::uint64_t;
    static constexpr SourceId kSynthetic = 0;

    /// `sink` may be null: nothing can then be written, and no tap should
    /// be created (the keyboards would go silent).
    explicit EventPipeline(KeySink* sink);
    ~EventPipeline();
    EventPipeline(const EventPipeline&) = delete;
    EventPipeline& operator=(const EventPipeline&) = delete;

    bool canWrite() const { return sink_ != nullptr; }
    void setSink(KeySink* sink) { sink_ = sink; }

    // ---- taps
    void addTap(LinuxEventTap* tap);
    void removeTap(LinuxEventTap* tap);
    /// Whether some tap is added to the run loop and enabled.
    bool hasActiveTap() const;
    /// Whether some active tap wants the keys of every keyboard.
    bool hasActiveCoveringTap() const;
    /// Called whenever a tap is added, removed, enabled or disabled.
    void setTapStateObserver(std::function<void()> observer) { tapObserver_ = std::move(observer); }
    void tapStateChanged();

    // ---- input of grabbed keyboards
    /// One key change of a grabbed keyboard: 0 up, 1 down, 2 auto-repeat.
    /// Modifiers and Caps Lock become flags-changed events; the rest key-down
    /// and key-up events with the flags of the modifiers held. Auto-repeats
    /// bypass the taps and repeat a key only while it is down on the virtual
    /// keyboard.
    void physicalKey(SourceId source, std::uint16_t code, std::int32_t value);
    /// Forgets the keys a keyboard holds and releases those it holds on the
    /// virtual keyboard (its grab ended).
    void releaseSource(SourceId source);
    /// Releases every key held on the virtual keyboard.
    void releaseAll();

    // ---- synthetic input
    /// Posts one key event as the event poster does: the taps see it with
    /// exactly `flags`; if it passes, held modifiers not named in `flags`
    /// are lifted, then the ones named are pressed around the key on the
    /// virtual keyboard, and all is restored after the key-up. False when the
    /// key code has no key, nothing can be written, or a write failed (then
    /// the key is not down and the modifiers are as they were).
    bool postKey(std::int64_t keyCode, EventFlags flags, bool keyDown);

    /// The flag word of the modifiers held on grabbed keyboards.
    EventFlags physicalFlags() const;
    bool isVirtuallyDown(std::uint16_t code) const;
    /// Whether any key is down on the virtual keyboard.
    bool anyVirtualKeyDown() const { return virtualDown_.any(); }

private:
    struct HeldModifier {
        SourceId source = 0;
        std::uint16_t code = 0;
        friend bool operator==(const HeldModifier&, const HeldModifier&) = default;
    };
    struct Adjustment {
        bool active = false;
        InlineList<std::uint16_t, 8> pressed; // added for the posted key
        InlineList<HeldModifier, 8> lifted;   // held ones lifted for it
    };

    TapDecision dispatch(const KeyEvent& event);
    /// Writes one key change and keeps virtualDown_ true to what the virtual
    /// keyboard holds: a failed write changes nothing. `guarded`: a modifier
    /// written down here must not later come up as a lone tap.
    bool write(std::uint16_t code, bool down, SourceId owner, bool guarded = false);
    /// Every modifier held on the virtual keyboard must not come up alone.
    void guardHeldModifiers();
    /// Releases what the last posted key pressed and puts back what it
    /// lifted (also undoes a post that failed half-way).
    void restoreAdjustment();
    bool holdsModifier(SourceId source, std::uint16_t code) const;
    template <typename Predicate> void removeHeld(Predicate remove) {
        InlineList<HeldModifier, 32> rest;
        for (const HeldModifier& held : heldModifiers_) {
            if (!remove(held)) {
                rest.push_back(held);
            }
        }
        heldModifiers_ = rest;
    }

    KeySink* sink_;
    std::vector<LinuxEventTap*> taps_;
    int dispatchDepth_ = 0;
    bool tapsNeedCompaction_ = false;
    std::function<void()> tapObserver_;

    InlineList<HeldModifier, 32> heldModifiers_;
    std::bitset<kMaxEvdevKeyCode + 1> virtualDown_;
    std::array<SourceId, kMaxEvdevKeyCode + 1> virtualOwner_{};
    // Per virtual modifier (indexed by evdev code): whether it must not come
    // up alone, and whether another key went down since it did.
    std::bitset<kMaxEvdevKeyCode + 1> guarded_;
    std::bitset<kMaxEvdevKeyCode + 1> interrupted_;
    Adjustment adjustment_;
};

/// The event poster of the Linux platform: posts through the pipeline.
/// Its built-in outputs are the Linux desktop's: Open Search is the Super
/// key alone, Copy Control+C, Paste Control+V.
class LinuxEventPoster final : public EventPoster {
public:
    explicit LinuxEventPoster(std::shared_ptr<EventPipeline> pipeline)
        : pipeline_(std::move(pipeline)) {}
    bool postKeyEvent(std::int64_t keyCode, EventFlags flags, bool keyDown) override;
    std::optional<KeyStroke> builtInShortcut(OutputBehavior::Kind kind) const override;
    /// Every key down on the virtual keyboard comes up: the grabbed
    /// keyboards' as well as Chordwell's own.
    void releaseHeldKeys() override;

private:
    std::shared_ptr<EventPipeline> pipeline_;
};

/// The built-in shortcuts of the Linux desktop (see LinuxEventPoster).
std::optional<KeyStroke> linuxBuiltInShortcut(OutputBehavior::Kind kind);

} // namespace chordwell::platform::lnx
