// "Will change" announcements of the engine's published fields.
//
// Observers (the user interface) are told before a published value changes.
// One signal per object is enough: observers re-read whatever they show.
// Emission runs on the main thread and must not allocate, because the key
// event path announces changes of the held keys and of the pass-through list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace chordwell {

namespace detail {
struct SignalState;
} // namespace detail

/// RAII token of one subscription; destroying or cancelling it ends the
/// subscription. Outliving the signal is harmless.
class Subscription {
public:
    Subscription() = default;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    ~Subscription() { cancel(); }

    void cancel();
    /// True while the subscription is registered with a living signal.
    bool active() const;

private:
    friend class WillChangeSignal;
    Subscription(std::weak_ptr<detail::SignalState> state, std::uint64_t id)
        : state_(std::move(state)), id_(id) {}

    std::weak_ptr<detail::SignalState> state_;
    std::uint64_t id_ = 0;
};

/// A list of observers called in subscription order. Subscribing or
/// cancelling from inside an observer is allowed; a subscription made during
/// an emission is first called at the next emission.
class WillChangeSignal {
public:
    WillChangeSignal();
    WillChangeSignal(const WillChangeSignal&) = delete;
    WillChangeSignal& operator=(const WillChangeSignal&) = delete;
    ~WillChangeSignal();

    [[nodiscard]] Subscription subscribe(std::function<void()> observer);
    void emit();
    std::size_t subscriberCount() const;

private:
    std::shared_ptr<detail::SignalState> state_;
};

} // namespace chordwell
