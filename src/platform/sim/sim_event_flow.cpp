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

bool SimWorld::turnsLikeARunLoop() const {
    return virtual_ != nullptr && runLoopTurns_ && order_ != DeliveryOrder::hidFirst;
}

SimWorld::Plan SimWorld::nextPlan() {
    Plan plan;
    if (order_ == DeliveryOrder::tapFirst) {
        plan.hidFirst = false; // the HID value on the next turn
        return plan;
    }
    // The raw output of the generator, the same on every standard library.
    plan.hidFirst = (orderRandom_() >> 63) != 0;
    plan.turns = static_cast<std::uint32_t>(orderRandom_() % 4);
    // Half of the keys within the same millisecond, the others up to 30 ms.
    const std::uint64_t gap = orderRandom_();
    plan.delay = (gap & 1) == 0
                     ? Scheduler::Duration{}
                     : std::chrono::milliseconds(static_cast<std::int64_t>((gap >> 1) % 31));
    return plan;
}

void SimWorld::queueKeyMessages(SimKeyboard& keyboard, const HidInputValue& value,
                                const std::optional<KeyEvent>& event) {
    const Plan plan = nextPlan();
    const Scheduler::Duration now = scheduler_->now();
    const std::uint64_t firstSeq = nextSeq_++;
    const std::uint64_t secondSeq = nextSeq_++;
    Message hid;
    hid.seq = plan.hidFirst ? firstSeq : secondSeq;
    hid.readyAt = plan.hidFirst ? now : now + plan.delay;
    hid.readyTurn = plan.hidFirst ? turn_ : turn_ + plan.turns;
    hid.value = value;
    for (const auto& attached : keyboards_) {
        if (attached.get() == &keyboard) {
            hid.keyboard = attached;
            break;
        }
    }
    hidPath_.push_back(hid);
    if (event) {
        Message tap;
        tap.seq = plan.hidFirst ? secondSeq : firstSeq;
        tap.readyAt = plan.hidFirst ? now + plan.delay : now;
        tap.readyTurn = plan.hidFirst ? turn_ + plan.turns : turn_;
        tap.event = *event;
        tapPath_.push_back(tap);
    }
    if (drainAfterSteps_) {
        runLoopUntil(secondSeq);
        runLoopUntilIdle();
    }
}

bool SimWorld::messageReadyNow() const {
    const auto now = scheduler_->now();
    return (!hidPath_.empty() && hidPath_.front().readyAt <= now) ||
           (!tapPath_.empty() && tapPath_.front().readyAt <= now);
}

std::optional<Scheduler::Duration> SimWorld::nextMessageTime() const {
    std::optional<Scheduler::Duration> next;
    for (const auto* path : {&hidPath_, &tapPath_}) {
        if (!path->empty() && (!next || path->front().readyAt < *next)) {
            next = path->front().readyAt;
        }
    }
    return next;
}

bool SimWorld::runTurn() {
    // Work posted before the turn, then the due timers or one message.
    bool did = virtual_->runPostedBatch() > 0;
    if (virtual_->fireDueTimers()) {
        did = true;
    } else {
        const auto now = scheduler_->now();
        auto ready = [&](const std::deque<Message>& path) {
            return !path.empty() && path.front().readyAt <= now && path.front().readyTurn <= turn_;
        };
        std::deque<Message>* path = nullptr;
        if (ready(hidPath_) && (!ready(tapPath_) || hidPath_.front().seq < tapPath_.front().seq)) {
            path = &hidPath_;
        } else if (ready(tapPath_)) {
            path = &tapPath_;
        }
        if (path != nullptr) {
            const Message message = path->front();
            path->pop_front();
            if (path == &hidPath_) {
                if (auto keyboard = message.keyboard.lock()) {
                    sendInputValue(*keyboard, message.value);
                }
            } else {
                dispatch(message.event, message.synthetic);
            }
            did = true;
        }
    }
    ++turn_;
    return did;
}

void SimWorld::runLoopUntilIdle() {
    for (std::size_t guard = 0; guard < 1'000'000; ++guard) {
        const auto due = virtual_->nextDue();
        const bool timerDue = due && *due <= scheduler_->now();
        if (!virtual_->hasQueuedWork() && !timerDue && !messageReadyNow()) {
            return;
        }
        (void)runTurn();
    }
}

void SimWorld::runLoopUntil(std::uint64_t seq) {
    auto pending = [&] {
        for (const auto* path : {&hidPath_, &tapPath_}) {
            for (const Message& m : *path) {
                if (m.seq <= seq) {
                    return true;
                }
            }
        }
        return false;
    };
    while (pending()) {
        runLoopUntilIdle();
        if (!pending()) {
            return;
        }
        // The rest is due later: time passes, timers firing on the way.
        const auto next = nextMessageTime();
        if (!next) {
            return;
        }
        advanceLoop(*next > scheduler_->now() ? *next - scheduler_->now()
                                              : Scheduler::Duration::zero());
    }
}

void SimWorld::advanceLoop(Scheduler::Duration delta) {
    const auto end = scheduler_->now() + delta;
    runLoopUntilIdle();
    for (;;) {
        std::optional<Scheduler::Duration> next = virtual_->nextDue();
        if (auto message = nextMessageTime(); message && (!next || *message < *next)) {
            next = message;
        }
        if (!next || *next > end) {
            break;
        }
        virtual_->setTime(*next);
        runLoopUntilIdle();
    }
    virtual_->setTime(end);
    runLoopUntilIdle();
}

void SimWorld::deliverQueuedInput() {
    if (turnsLikeARunLoop() || !hidPath_.empty() || !tapPath_.empty()) {
        // Everything on its way arrives, time passing as it must.
        while (!hidPath_.empty() || !tapPath_.empty()) {
            runLoopUntil(nextSeq_);
        }
        if (virtual_ != nullptr) {
            runLoopUntilIdle();
        }
    }
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
        deliverQueuedInput();
    }
}

std::size_t SimWorld::pendingPostedEventCount() const {
    return pendingPosts_.size() +
           static_cast<std::size_t>(std::count_if(tapPath_.begin(), tapPath_.end(),
                                                  [](const Message& m) { return m.synthetic; }));
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
    if (turnsLikeARunLoop()) {
        // A message of the event stream, on a later turn.
        Message message;
        message.seq = nextSeq_++;
        message.readyAt = scheduler_->now();
        message.readyTurn = turn_ + 1;
        message.event = event;
        message.synthetic = true;
        tapPath_.push_back(message);
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
