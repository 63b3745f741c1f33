// The simulated world's event flow: the order in which HID values and tap
// events arrive, the taps walked newest first, posting in sync or async mode,
// and what reaches the focused application.
#include "platform/sim/sim_event_flow.hpp"
#include "platform/sim/sim_world.hpp"

#include <algorithm>

namespace chordwell::platform::sim {

std::unique_ptr<EventTap> SimWorld::createKeyboardEventTap(EventTap::Callback callback,
                                                           void* userInfo) {
    if (tapCreationFails_ || callback == nullptr) {
        return nullptr;
    }
    return std::make_unique<Tap>(*this, callback, userInfo);
}

EventPoster& SimWorld::eventPoster() {
    return *poster_;
}

bool SimWorld::hidGoesFirst() {
    switch (order_) {
    case DeliveryOrder::hidFirst:
        return true;
    case DeliveryOrder::tapFirst:
        return false;
    case DeliveryOrder::random:
        break;
    }
    // The top bit: the raw output of the generator is the same on every
    // standard library, unlike its distributions.
    return (orderRandom_() >> 63) != 0;
}

void SimWorld::deliverQueuedInput() {
    // Values queued while these are delivered (an engine reacting to one)
    // wait for the next round, in order.
    while (!queuedInput_.empty()) {
        std::swap(queuedInput_, deliveringInput_);
        for (const QueuedInput& queued : deliveringInput_) {
            if (auto keyboard = queued.keyboard.lock()) {
                sendInputValue(*keyboard, queued.value);
            }
        }
        deliveringInput_.clear();
    }
}

void SimWorld::setDeliveryOrder(DeliveryOrder order, std::uint64_t seed) {
    deliverQueuedInput();
    order_ = order;
    orderRandom_.seed(seed);
}

void SimWorld::setPostingMode(PostingMode mode) {
    postingMode_ = mode;
    if (mode == PostingMode::sync) {
        // Nothing posted earlier may overtake what is posted from now on.
        deliverPostedEvents();
    }
}

bool SimWorld::post(std::int64_t keyCode, EventFlags flags, bool keyDown) {
    if (postingFails_) {
        return false;
    }
    ++postedEvents_;
    const KeyEvent event{keyDown ? EventType::keyDown : EventType::keyUp, keyCode, flags, true};
    if (postingMode_ == PostingMode::sync) {
        dispatch(event, true);
        return true;
    }
    pendingPosts_.push_back(event);
    if (!postDeliveryQueued_) {
        postDeliveryQueued_ = true;
        std::weak_ptr<bool> alive = alive_;
        scheduler_->postToMain([this, alive] {
            if (!alive.expired()) {
                deliverPostedEvents();
            }
        });
    }
    return true;
}

void SimWorld::deliverPostedEvents() {
    postDeliveryQueued_ = false;
    // Events posted while these travel (an output triggered meanwhile) keep
    // their place behind them; in async mode they wait for the next turn.
    std::swap(pendingPosts_, deliveringPosts_);
    for (const KeyEvent& event : deliveringPosts_) {
        dispatch(event, true);
    }
    deliveringPosts_.clear();
    if (postingMode_ == PostingMode::sync && !pendingPosts_.empty()) {
        deliverPostedEvents();
    }
}

void SimWorld::dispatch(const KeyEvent& event, bool synthetic) {
    ++dispatching_;
    bool swallowed = false;
    for (std::size_t i = taps_.size(); i > 0; --i) {
        Tap* tap = taps_[i - 1];
        if (tap == nullptr || !tap->active()) {
            continue;
        }
        if (tap->call(event) == TapDecision::swallow) {
            swallowed = true;
            break;
        }
    }
    --dispatching_;
    compactTaps();
    if (!swallowed) {
        deliver(event, synthetic);
    }
}

void SimWorld::deliver(const KeyEvent& event, bool synthetic) {
    ++appEventCount_;
    if (event.keyCode >= 0 && event.keyCode <= 0xFFFF &&
        (event.type == EventType::keyDown || event.type == EventType::keyUp)) {
        const auto code = static_cast<std::size_t>(event.keyCode);
        std::uint64_t& word = appKeysDown_[code / 64];
        const std::uint64_t bit = std::uint64_t{1} << (code % 64);
        const bool wasDown = (word & bit) != 0;
        if (event.type == EventType::keyDown && !wasDown) {
            word |= bit;
            ++appKeysDownCount_;
        } else if (event.type == EventType::keyUp && wasDown) {
            word &= ~bit;
            --appKeysDownCount_;
        }
    }
    AppEvent delivered{scheduler_->now(), event.type, event.keyCode, event.flags, synthetic};
    if (appEventLimit_ > 0) {
        if (appEvents_.size() >= appEventLimit_) {
            // Drop the older half at once: amortised constant time, and the
            // storage is reused rather than grown.
            const auto keep = static_cast<std::ptrdiff_t>(appEventLimit_ / 2);
            appEvents_.erase(appEvents_.begin(), appEvents_.end() - keep);
        }
        appEvents_.push_back(delivered);
    }
    if (sink_) {
        sink_(delivered);
    }
}

void SimWorld::setAppEventLimit(std::size_t limit) {
    appEventLimit_ = limit;
    if (appEvents_.size() > limit) {
        appEvents_.erase(appEvents_.begin(), appEvents_.end() - static_cast<std::ptrdiff_t>(limit));
    }
}

bool SimWorld::isDownAtApplication(std::int64_t keyCode) const {
    if (keyCode < 0 || keyCode > 0xFFFF) {
        return false;
    }
    const auto code = static_cast<std::size_t>(keyCode);
    return (appKeysDown_[code / 64] & (std::uint64_t{1} << (code % 64))) != 0;
}

void SimWorld::compactTaps() {
    if (dispatching_ == 0 && tapsNeedCompaction_) {
        std::erase(taps_, nullptr);
        tapsNeedCompaction_ = false;
    }
}

void SimWorld::disableTapsBySystem(EventType notice) {
    const auto taps = taps_;
    for (Tap* tap : taps) {
        if (tap != nullptr && tap->active()) {
            tap->enable(false);
            (void)tap->call(KeyEvent{notice, 0, 0});
        }
    }
    step();
}

std::size_t SimWorld::activeTapCount() const {
    return static_cast<std::size_t>(std::count_if(
        taps_.begin(), taps_.end(), [](const Tap* t) { return t != nullptr && t->active(); }));
}

std::size_t SimWorld::tapCount() const {
    return static_cast<std::size_t>(
        std::count_if(taps_.begin(), taps_.end(), [](const Tap* t) { return t != nullptr; }));
}

} // namespace chordwell::platform::sim
