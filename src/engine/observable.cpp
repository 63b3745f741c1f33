#include "engine/observable.hpp"

#include <algorithm>

namespace chordwell {

namespace detail {

struct SignalState {
    struct Slot {
        std::uint64_t id = 0; // 0: cancelled, removed after the emission
        std::function<void()> observer;
    };

    std::vector<Slot> slots;
    std::vector<Slot> pending; // subscribed during an emission
    std::uint64_t nextId = 1;
    int emitting = 0;
    bool needsCompaction = false;

    void compact() {
        if (needsCompaction) {
            std::erase_if(slots, [](const Slot& s) { return s.id == 0; });
            needsCompaction = false;
        }
        if (!pending.empty()) {
            for (Slot& s : pending) {
                if (s.id != 0) {
                    slots.push_back(std::move(s));
                }
            }
            pending.clear();
        }
    }

    void cancel(std::uint64_t id) {
        auto mark = [&](std::vector<Slot>& list) {
            for (Slot& s : list) {
                if (s.id == id) {
                    s.id = 0;
                    return true;
                }
            }
            return false;
        };
        if (mark(slots) || mark(pending)) {
            needsCompaction = true;
            if (emitting == 0) {
                compact();
            }
        }
    }

    bool contains(std::uint64_t id) const {
        auto has = [&](const std::vector<Slot>& list) {
            return std::any_of(list.begin(), list.end(), [&](const Slot& s) { return s.id == id; });
        };
        return has(slots) || has(pending);
    }
};

} // namespace detail

Subscription::Subscription(Subscription&& other) noexcept
    : state_(std::move(other.state_)), id_(other.id_) {
    other.id_ = 0;
}

Subscription& Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        cancel();
        state_ = std::move(other.state_);
        id_ = other.id_;
        other.id_ = 0;
    }
    return *this;
}

void Subscription::cancel() {
    if (id_ != 0) {
        if (auto state = state_.lock()) {
            state->cancel(id_);
        }
        id_ = 0;
    }
    state_.reset();
}

bool Subscription::active() const {
    if (id_ == 0) {
        return false;
    }
    auto state = state_.lock();
    return state && state->contains(id_);
}

WillChangeSignal::WillChangeSignal() : state_(std::make_shared<detail::SignalState>()) {}

WillChangeSignal::~WillChangeSignal() = default;

Subscription WillChangeSignal::subscribe(std::function<void()> observer) {
    const std::uint64_t id = state_->nextId++;
    auto& target = state_->emitting > 0 ? state_->pending : state_->slots;
    target.push_back({id, std::move(observer)});
    return Subscription(state_, id);
}

void WillChangeSignal::emit() {
    // Keep the state alive even if an observer destroys the signal's owner.
    const std::shared_ptr<detail::SignalState> keep = state_;
    detail::SignalState& state = *keep;
    ++state.emitting;
    const std::size_t count = state.slots.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (state.slots[i].id != 0 && state.slots[i].observer) {
            state.slots[i].observer();
        }
    }
    if (--state.emitting == 0) {
        state.compact();
    }
}

bool WillChangeSignal::hasSlots() const {
    return !state_->slots.empty() || !state_->pending.empty();
}

std::size_t WillChangeSignal::subscriberCount() const {
    std::size_t n = 0;
    for (const auto& s : state_->slots) {
        n += s.id != 0 ? 1 : 0;
    }
    for (const auto& s : state_->pending) {
        n += s.id != 0 ? 1 : 0;
    }
    return n;
}

} // namespace chordwell
