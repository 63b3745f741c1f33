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

class TapBlockerListener {
public:
    /// At most this many pass-throughs wait for their key-down; beyond that
    /// the oldest is dropped. A real pass-through is consumed within the same
    /// turn of the event loop, so only stale entries ever reach the bound.
    static constexpr std::size_t kMaxPassThroughs = 32;

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

    /// The tap callback (user data = the blocker).
    static platform::TapDecision handleTapEvent(void* userInfo, const platform::KeyEvent& event);

    [[nodiscard]] Subscription subscribeWillChange(std::function<void()> observer) {
        return willChange_.subscribe(std::move(observer));
    }

    RawKeyboardListener& rawKeyboardListener() const { return owner_; }

private:
    platform::TapDecision handle(const platform::KeyEvent& event);
    void appendPersistent(const MacKeySignature& signature);

    RawKeyboardListener& owner_;
    std::unique_ptr<platform::EventTap> eventTap_;
    bool sourceAdded_ = false;
    InlineList<KeyComboSignature, kMaxPassThroughs> forceLetItPassKeys_;
    std::vector<MacKeySignature> persistentCapturedTapSignatures_;
    std::vector<MacKeySignature> allTapSignaturesIncludingNotCapturedByTap_;
    mutable std::mutex lockMutateValues_;
    WillChangeSignal willChange_;
};

} // namespace chordwell
