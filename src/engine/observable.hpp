// Change announcements of the engine's published fields.
//
// Observers (the user interface) are told before a published value changes.
// WillChangeSignal says only that something changes: observers re-read
// whatever they show. ValueSignal hands each observer a value as well (the
// engine says what changes). Emission runs on the main thread and must not
// allocate, because the key event path announces changes of the held keys and
// of the pass-through list.
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
    /// False when no observer (even a cancelled one) is registered: the cheap
    /// check that lets an emission with nobody listening do nothing.
    bool hasSlots() const;

private:
    std::shared_ptr<detail::SignalState> state_;
};

/// A WillChangeSignal whose observers receive a value. `Payload` is a plain
/// value; emitting copies it into storage made at construction, so emission
/// allocates nothing. Same rules as WillChangeSignal for subscribing and
/// cancelling during an emission; an observer may emit again (a nested
/// emission), and the observers after it still see the outer value.
template <typename Payload> class ValueSignal {
public:
    ValueSignal() = default;
    ValueSignal(const ValueSignal&) = delete;
    ValueSignal& operator=(const ValueSignal&) = delete;

    [[nodiscard]] Subscription subscribe(std::function<void(const Payload&)> observer) {
        return inner_.subscribe([current = current_, f = std::move(observer)] { f(*current); });
    }
    void emit(const Payload& value) {
        if (!inner_.hasSlots()) {
            return;
        }
        // Held locally: an observer may destroy the signal's owner.
        const std::shared_ptr<Payload> current = current_;
        const Payload outer = *current;
        *current = value;
        inner_.emit();
        *current = outer;
    }
    std::size_t subscriberCount() const { return inner_.subscriberCount(); }
    bool hasSlots() const { return inner_.hasSlots(); }

private:
    WillChangeSignal inner_;
    std::shared_ptr<Payload> current_ = std::make_shared<Payload>();
};

} // namespace chordwell
