// A scheduler on a virtual clock: nothing happens until the owner runs the
// main queue or advances the clock, so every run is deterministic.
#pragma once

#include "ports/ports.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace chordwell::platform::sim {

class VirtualScheduler : public Scheduler {
public:
    /// The shortest interval of a repeating timer, as on the real platforms.
    static constexpr Duration kMinimumInterval = std::chrono::milliseconds(1);

    void postToMain(Task task) override;
    TimerId scheduleOnce(Duration delay, Task task) override;
    TimerId scheduleRepeating(Duration firstDelay, Duration interval, Task task) override;
    void cancel(TimerId id) override;
    Duration now() const override { return now_; }

    /// Runs queued main-thread work, including work queued meanwhile, until
    /// the queue is empty. Returns the number of tasks run.
    std::size_t runMainQueue();
    /// Advances the clock by `delta`: every timer that falls due fires at its
    /// own time, in time order (equal times in scheduling order), and the
    /// main queue runs after each firing and at the end.
    void advance(Duration delta);
    /// Advances to an absolute time (no-op when it lies in the past).
    void advanceTo(Duration time);

    // The pieces of a run loop's turn, for a world that turns its loop
    // itself: the work posted before the call, every timer due now (the
    // main queue untouched), and time moved on with nothing fired.

    /// Runs the tasks queued before the call; tasks they queue wait.
    std::size_t runPostedBatch();
    /// Fires every timer due at the current time, in time order; false when
    /// none was.
    bool fireDueTimers();
    /// Moves the clock to `time` (no-op in the past) without firing.
    void setTime(Duration time);

    std::size_t activeTimerCount() const;
    std::optional<Duration> nextDue() const;
    bool hasQueuedWork() const { return !queue_.empty(); }

private:
    struct Slot {
        TimerId id = 0; // 0: free
        Duration due{};
        Duration interval{};
        bool repeating = false;
        bool firing = false;
        std::uint64_t order = 0;
        Task task;
    };

    TimerId add(Duration delay, Duration interval, bool repeating, Task task);
    Slot* findSlot(TimerId id);
    Slot* nextSlot(Duration limit);
    void fire(Slot& slot);

    Duration now_{};
    // A deque keeps slots in place while a firing task schedules new timers;
    // freed slots are reused so steady-state timers do not allocate.
    std::deque<Slot> slots_;
    TimerId nextId_ = 1;
    std::uint64_t nextOrder_ = 1;
    std::vector<Task> queue_;
    std::vector<Task> running_;
    std::vector<Task> batch_;
};

} // namespace chordwell::platform::sim
