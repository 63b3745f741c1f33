// The event-tap blocker: swallows the system's own key-downs while the held
// keys of the listened keyboard match a mapping, lets the engine's synthetic
// key-downs through (one-shot pass-throughs), swallows every key-down while a
// combination is being recorded, and records the signatures the event stream
// reports for the keys being recorded.
#pragma once

#include "engine/observable.hpp"
#include "model/inline_list.hpp"
#include "model/keys.hpp"
#include "ports/ports.hpp"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace chordwell {

class RawKeyboardListener;

// Owned through a shared pointer (the engine's), so that the tap callback can
// keep it alive while it decides.
class TapBlockerListener : public std::enable_shared_from_this<TapBlockerListener> {
public:
    /// A pass-through leaves the list when its own event comes back through
    /// the tap (posted events come back in posting order, so older entries
    /// still waiting then were lost and leave with it). This bound only
    /// guards memory should events stop coming back; no output comes near.
    static constexpr std::size_t kMaxPassThroughs = 4096;
    /// Key-downs that can wait at once for their HID value (see handle()).
    static constexpr std::size_t kMaxPendingKeyDowns = 16;
    /// How long a key's tap event waits for its HID value, and the other way
    /// round. The two come from one key press along two paths (the device's
    /// own queue, and the window server's event stream) and are served by
    /// the run loop as separate messages, in no fixed order, with any amount
    /// of other work between them. They drift apart by a few milliseconds,
    /// by tens on a loaded machine; a wait ten times the usual drift keeps a
    /// mapped key from leaking even then. Only a key that would complete a
    /// mapping ever waits this long in full (one typed on another keyboard
    /// while the listened one holds the rest of a combination), and 100 ms
    /// stays below the time between two presses of a fast typist.
    static constexpr std::chrono::milliseconds kHidValueDeadline{100};

    explicit TapBlockerListener(RawKeyboardListener& owner);
    TapBlockerListener(const TapBlockerListener&) = delete;
    TapBlockerListener& operator=(const TapBlockerListener&) = delete;
    /// Stops the tap: its callback must never see a dead blocker.
    ~TapBlockerListener();

    /// Begins a new recording and installs the tap (logs when it cannot).
    void start();
    /// Disables and removes the tap; the lists stay as they are.
    void stop();

    /// Adds signatures the editor derived for the combination being recorded
    /// (those not yet known, in order).
    void registerTapSignatures(std::span<const MacKeySignature> signatures);

    const std::vector<MacKeySignature>& persistentCapturedTapSignatures() const {
        return persistentCapturedTapSignatures_;
    }
    const std::vector<MacKeySignature>& allTapSignaturesIncludingNotCapturedByTap() const {
        return allTapSignaturesIncludingNotCapturedByTap_;
    }
    /// A copy of the pass-through list, taken under the lock.
    std::vector<KeyComboSignature> forceLetItPassKeys() const;

    /// Turns the tap on again when the system turned it off without telling
    /// it (as a machine that slept may).
    void ensureTapEnabled();

    /// True while a tap exists and is installed in the run loop, that is
    /// while a registered pass-through can be consumed.
    bool hasLiveTap() const { return eventTap_ != nullptr && sourceAdded_; }

    /// Runs `f` while holding the lock shared with the engine (guards the
    /// pass-through list and the engine's held keys). Never call another
    /// operation of the engine or the blocker from `f`.
    template <typename F> decltype(auto) lockMutateValues(F&& f) const {
        std::lock_guard<std::mutex> guard(lockMutateValues_);
        return std::forward<F>(f)();
    }

    /// Registers a one-shot pass-through, only while the tap is live.
    /// Returns false when nothing was registered.
    bool addPassThrough(const KeyComboSignature& combo);
    /// Withdraws the newest entry equal to `combo` (its post failed).
    void withdrawPassThrough(const KeyComboSignature& combo);

    /// The HID value of `usage` went down on the listened keyboard; `matched`:
    /// the held keys then completed a mapping. Settles a key-down of that key
    /// the tap swallowed before the value arrived: it stays swallowed when
    /// matched, else it is posted again.
    void hidKeyDown(HidUsage usage, bool matched);
    /// The HID value of `usage` went up on the listened keyboard.
    void hidKeyUp(HidUsage usage);
    /// Settles what has waited kHidValueDeadline for a HID value that never
    /// came (a key of another keyboard): a key-down swallowed meanwhile is
    /// posted again unless the listened keyboard's held keys match a mapping.
    /// Runs by itself on a timer; never on "the next turn", since on a real
    /// run loop posted work runs before the HID value that was on its way.
    void settleDue();
    std::size_t pendingKeyDownCount() const { return pendingKeyDowns_.size(); }
    /// Whether a key-down waits for its HID value, or a change seen by the
    /// tap for its HID value, still within its deadline.
    bool isWaiting() const;

    /// The tap callback (user data = the blocker).
    static platform::TapDecision handleTapEvent(void* userInfo, const platform::KeyEvent& event);

    [[nodiscard]] Subscription subscribeWillChange(std::function<void()> observer) {
        return willChange_.subscribe(std::move(observer));
    }

    RawKeyboardListener& rawKeyboardListener() const { return owner_; }

private:
    using Time = platform::Scheduler::Duration;

    struct PendingKeyDown {
        std::int64_t keyCode = 0;
        EventFlags flags = 0;
        HidUsage usage = 0;
        bool released = false; // its key-up came too, and waits with it
        EventFlags upFlags = 0;
        Time deadline{};
        // The listened keyboard's held keys matched a mapping when it came:
        // a key of another keyboard is then swallowed.
        bool heldMatchedAtTap = false;
        // A HID value of its key came and completed a mapping: its own (the
        // tap event came first), unless that value's own tap event follows,
        // which shows this one was another keyboard's.
        bool pairedWithHid = false;

        friend bool operator==(const PendingKeyDown&, const PendingKeyDown&) = default;
    };
    // A key the tap saw change before its HID value did.
    struct TapAhead {
        HidUsage usage = 0;
        Time deadline{};

        friend bool operator==(const TapAhead&, const TapAhead&) = default;
    };
    // A key whose HID value went down before its tap event came, with what
    // the value decided.
    struct Awaited {
        HidUsage usage = 0;
        bool matched = false;
        Time deadline{};

        friend bool operator==(const Awaited&, const Awaited&) = default;
    };
    using HeldKeys = InlineList<HidUsage, 32>;
    struct Snapshot {
        HeldKeys held;
        bool forceBlock = false;
        bool passRegistered = false;
    };

    platform::TapDecision handle(const platform::KeyEvent& event);
    platform::TapDecision reEnableAfterNotice();
    Snapshot takeSnapshot(const platform::KeyEvent& event, const KeyComboSignature& combo);
    bool noteUserKeyUp(const platform::KeyEvent& event, const HeldKeys& held);
    void noteUserModifier(const platform::KeyEvent& event, const HeldKeys& held);
    void recordKeyDown(const MacKeySignature& signature);
    std::optional<Awaited> noteUserKeyDown(HidUsage usage, const HeldKeys& held);
    void takePassThrough(const KeyComboSignature& combo);
    void noteTapAhead(HidUsage usage);
    platform::TapDecision decideKeyDown(const platform::KeyEvent& event,
                                        const KeyComboSignature& combo, Snapshot& snapshot);
    bool heldWillMatch(const HeldKeys& held, HidUsage usage) const;
    platform::TapDecision holdUntilHidValue(const platform::KeyEvent& event, HidUsage usage,
                                            bool heldMatches);
    void appendPersistent(const MacKeySignature& signature);
    Time deadlineFromNow() const;
    void armSettleTimer(Time deadline);
    void cancelSettleTimer();
    std::optional<Time> earliestDeadline() const;
    void forgetExpired();
    void repost(const PendingKeyDown& key);
    void settleOtherKeyboards(HidUsage usage);

    RawKeyboardListener& owner_;
    std::unique_ptr<platform::EventTap> eventTap_;
    bool sourceAdded_ = false;
    std::vector<KeyComboSignature> forceLetItPassKeys_;
    // Key-downs swallowed before their HID value arrived, and keys the tap
    // saw go up (or modifiers go down) before their HID value did; each
    // settles by its HID value, or by its deadline.
    InlineList<PendingKeyDown, kMaxPendingKeyDowns> pendingKeyDowns_;
    InlineList<TapAhead, kMaxPendingKeyDowns> tapReleased_;
    InlineList<TapAhead, kMaxPendingKeyDowns> tapPressed_; // modifiers only
    // Keys whose HID value went down before their tap event came: that event
    // is the user's key even when it looks like one of the engine's own, and
    // what the value decided holds for it even when the key is up by then.
    InlineList<Awaited, kMaxPendingKeyDowns> awaitingTap_;
    // Keys whose tap event came before their HID value (or from another
    // keyboard): their HID value then awaits no tap event.
    InlineList<HidUsage, kMaxPendingKeyDowns> tapAhead_;
    // Key codes of key-downs given back (posted) before their key-up came.
    // The user's key-up travels the event stream while the posted key-down
    // may still be queued behind it, and an up ahead of its down leaves the
    // key down at the application: that up is swallowed and posted instead,
    // behind the down.
    InlineList<std::int64_t, kMaxPendingKeyDowns> givenBackDown_;
    platform::Scheduler::TimerId settleTimer_ = 0;
    Time settleAt_{};
    std::vector<MacKeySignature> persistentCapturedTapSignatures_;
    std::vector<MacKeySignature> allTapSignaturesIncludingNotCapturedByTap_;
    mutable std::mutex lockMutateValues_;
    WillChangeSignal willChange_;
};

} // namespace chordwell
