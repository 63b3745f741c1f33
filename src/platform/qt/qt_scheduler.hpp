// The Scheduler port on Qt's event loop: posted work and timers are delivered
// by the thread that owns the scheduler (the GUI thread).
//
// Key repeat arms and cancels a timer at every mapped key press, on the key
// event path, which must not allocate. So timers live in slots that are made
// once and reused: arming fills a free slot (its closure fits the function's
// inline storage), cancelling returns it. On Linux a slot's clock is a
// timerfd watched by a socket notifier, which arms with one system call;
// elsewhere it is a QTimer kept for reuse.
#pragma once

#include "ports/ports.hpp"

#include <QElapsedTimer>
#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace chordwell::platform::qt {

class QtScheduler : public Scheduler {
public:
    QtScheduler();
    QtScheduler(const QtScheduler&) = delete;
    QtScheduler& operator=(const QtScheduler&) = delete;
    /// Cancels every pending timer; posted work that has not run yet is
    /// dropped (it is bound to the scheduler's lifetime).
    ~QtScheduler() override;

    /// Safe to call from any thread; the task runs on the owning thread.
    void postToMain(Task task) override;
    TimerId scheduleOnce(Duration delay, Task task) override;
    TimerId scheduleRepeating(Duration firstDelay, Duration interval, Task task) override;
    void cancel(TimerId id) override;
    Duration now() const override;

    /// Number of timers armed and not yet fired (one-shot) or cancelled.
    std::size_t pendingTimerCount() const { return armedCount_; }
    /// Number of timer slots made so far (they are reused, never freed).
    std::size_t timerSlotCount() const { return slots_.size(); }

    class Clock; // a slot's timer source (timerfd or QTimer)

private:
    struct Slot {
        std::unique_ptr<Clock> clock;
        Task task;
        std::uint32_t generation = 0;
        bool armed = false;
        bool repeating = false;
        bool running = false;
    };

    TimerId arm(Duration firstDelay, std::optional<Duration> interval, Task task);
    Slot* find(TimerId id);
    void fire(std::uint32_t index);
    void release(std::uint32_t index);

    // Receiver of queued work; deleting it drops what has not run yet.
    std::unique_ptr<QObject> context_;
    QElapsedTimer clock_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<std::uint32_t> free_; // capacity kept at the slot count
    std::size_t armedCount_ = 0;
};

} // namespace chordwell::platform::qt
