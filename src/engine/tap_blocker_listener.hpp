// The event-tap blocker: swallows the system's own key-downs while the held
// keys of the listened keyboard match a mapping, lets the engine's synthetic
// key-downs through (one-shot pass-throughs), swallows every key-down while a
// combination is being recorded, and records the signatures the event stream
// reports for the keys being recorded.
#pragma once

#include "engine/observable.hpp"
#include "model/inline_list.hpp"
#include "model/keys.hpp"
#include "platform/ports.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
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
    /// The end of a turn in which tap events came ahead of HID values: a
    /// key-down whose value never came (another keyboard's) is posted again
    /// unless the listened keyboard's held keys match a mapping.
    void settlePendingKeyDowns();
    std::size_t pendingKeyDownCount() const { return pendingKeyDowns_.size(); }

    /// The tap callback (user data = the blocker).
    static platform::TapDecision handleTapEvent(void* userInfo, const platform::KeyEvent& event);

    [[nodiscard]] Subscription subscribeWillChange(std::function<void()> observer) {
        return willChange_.subscribe(std::move(observer));
    }

    RawKeyboardListener& rawKeyboardListener() const { return owner_; }

private:
    struct PendingKeyDown {
        std::int64_t keyCode = 0;
        EventFlags flags = 0;
        HidUsage usage = 0;
        bool released = false; // its key-up came too, and waits with it
        EventFlags upFlags = 0;

        friend bool operator==(const PendingKeyDown&, const PendingKeyDown&) = default;
    };

    platform::TapDecision handle(const platform::KeyEvent& event);
    void appendPersistent(const MacKeySignature& signature);
    void queueSettling();
    void repost(const PendingKeyDown& key);

    RawKeyboardListener& owner_;
    std::unique_ptr<platform::EventTap> eventTap_;
    bool sourceAdded_ = false;
    std::vector<KeyComboSignature> forceLetItPassKeys_;
    // Key-downs swallowed before their HID value arrived, and keys the tap
    // saw go up before their HID value did; both settle by the turn's end.
    InlineList<PendingKeyDown, kMaxPendingKeyDowns> pendingKeyDowns_;
    InlineList<HidUsage, kMaxPendingKeyDowns> tapReleased_;
    InlineList<HidUsage, kMaxPendingKeyDowns> tapPressed_; // modifiers only
    // Keys whose HID value went down before their tap event came: that event
    // is the user's key even when it looks like one of the engine's own.
    InlineList<HidUsage, kMaxPendingKeyDowns> awaitingTap_;
    // Keys whose tap event came before their HID value (or from another
    // keyboard): their HID value then awaits no tap event.
    InlineList<HidUsage, kMaxPendingKeyDowns> tapAhead_;
    bool settlingQueued_ = false;
    std::vector<MacKeySignature> persistentCapturedTapSignatures_;
    std::vector<MacKeySignature> allTapSignaturesIncludingNotCapturedByTap_;
    mutable std::mutex lockMutateValues_;
    WillChangeSignal willChange_;
};

} // namespace chordwell
