#include "platform/sim/virtual_scheduler.hpp"

#include <algorithm>
#include <utility>

namespace chordwell::platform::sim {

namespace {

using Duration = Scheduler::Duration;

// Time never wraps: a delay beyond the end of the clock's range lands at
// its end (a timer that never comes due, a wait that lasts "for ever").
Duration saturatingAdd(Duration time, Duration delta) {
    if (delta <= Duration::zero()) {
        return time;
    }
    if (time > Duration::max() - delta) {
        return Duration::max();
    }
    return time + delta;
}

} // namespace

void VirtualScheduler::postToMain(Task task) {
    if (task) {
        queue_.push_back(std::move(task));
    }
}

Scheduler::TimerId VirtualScheduler::scheduleOnce(Duration delay, Task task) {
    return add(delay, Duration{0}, false, std::move(task));
}

Scheduler::TimerId VirtualScheduler::scheduleRepeating(Duration firstDelay, Duration interval,
                                                       Task task) {
    // Like the real schedulers, never more often than once a millisecond: a
    // tiny interval would otherwise fire millions of times per second.
    return add(firstDelay, std::max<Duration>(interval, kMinimumInterval), true, std::move(task));
}

Scheduler::TimerId VirtualScheduler::add(Duration delay, Duration interval, bool repeating,
                                         Task task) {
    Slot* slot = nullptr;
    for (Slot& s : slots_) {
        if (s.id == 0 && !s.firing) {
            slot = &s;
            break;
        }
    }
    if (slot == nullptr) {
        slot = &slots_.emplace_back();
    }
    slot->id = nextId_++;
    slot->due = saturatingAdd(now_, delay);
    slot->interval = interval;
    slot->repeating = repeating;
    slot->order = nextOrder_++;
    slot->task = std::move(task);
    return slot->id;
}

VirtualScheduler::Slot* VirtualScheduler::findSlot(TimerId id) {
    if (id == 0) {
        return nullptr;
    }
    for (Slot& s : slots_) {
        if (s.id == id) {
            return &s;
        }
    }
    return nullptr;
}

void VirtualScheduler::cancel(TimerId id) {
    if (Slot* slot = findSlot(id)) {
        slot->id = 0;
        if (!slot->firing) {
            slot->task = nullptr;
        }
    }
}

std::size_t VirtualScheduler::runMainQueue() {
    std::size_t count = 0;
    while (!queue_.empty()) {
        std::swap(queue_, running_);
        for (Task& task : running_) {
            task();
            ++count;
        }
        running_.clear();
    }
    return count;
}

VirtualScheduler::Slot* VirtualScheduler::nextSlot(Duration limit) {
    Slot* best = nullptr;
    for (Slot& s : slots_) {
        if (s.id == 0 || s.due > limit) {
            continue;
        }
        if (best == nullptr || s.due < best->due || (s.due == best->due && s.order < best->order)) {
            best = &s;
        }
    }
    return best;
}

void VirtualScheduler::advance(Duration delta) {
    advanceTo(saturatingAdd(now_, delta));
}

void VirtualScheduler::fire(Slot& slot) {
    const TimerId id = slot.id;
    if (slot.repeating) {
        if (slot.due == Duration::max()) {
            // The end of time: a repeat cannot come due again.
            slot.id = 0;
        } else {
            slot.due = saturatingAdd(slot.due, slot.interval);
        }
        slot.order = nextOrder_++;
    } else {
        slot.id = 0; // fired: the slot is free once the task returns
    }
    slot.firing = true;
    slot.task();
    slot.firing = false;
    if (slot.id != id) {
        slot.task = nullptr; // cancelled during its firing, or one-shot
        slot.id = 0;
    }
}

void VirtualScheduler::advanceTo(Duration time) {
    runMainQueue();
    while (Slot* slot = nextSlot(time)) {
        now_ = std::max(now_, slot->due);
        fire(*slot);
        runMainQueue();
    }
    now_ = std::max(now_, time);
    runMainQueue();
}

std::size_t VirtualScheduler::runPostedBatch() {
    std::swap(queue_, batch_);
    const std::size_t count = batch_.size();
    for (Task& task : batch_) {
        task();
    }
    batch_.clear();
    return count;
}

bool VirtualScheduler::fireDueTimers() {
    // Those due when the turn began: a timer armed by one of them for "now"
    // waits for the next turn.
    const std::uint64_t limit = nextOrder_;
    bool fired = false;
    for (;;) {
        Slot* best = nullptr;
        for (Slot& s : slots_) {
            if (s.id == 0 || s.due > now_ || s.order >= limit) {
                continue;
            }
            if (best == nullptr || s.due < best->due ||
                (s.due == best->due && s.order < best->order)) {
                best = &s;
            }
        }
        if (best == nullptr) {
            return fired;
        }
        fire(*best);
        fired = true;
    }
}

void VirtualScheduler::setTime(Duration time) {
    now_ = std::max(now_, time);
}

std::size_t VirtualScheduler::activeTimerCount() const {
    return static_cast<std::size_t>(
        std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.id != 0; }));
}

std::optional<Scheduler::Duration> VirtualScheduler::nextDue() const {
    std::optional<Duration> best;
    for (const Slot& s : slots_) {
        if (s.id != 0 && (!best || s.due < *best)) {
            best = s.due;
        }
    }
    return best;
}

} // namespace chordwell::platform::sim
