// The Scheduler port on Qt's event loop: posted work and timers are delivered
// by the thread that owns the scheduler (the GUI thread).
#pragma once

#include "platform/ports.hpp"

#include <QElapsedTimer>
#include <QObject>

#include <memory>
#include <unordered_map>

class QTimer;

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
    std::size_t pendingTimerCount() const { return timers_.size(); }

private:
    struct Entry {
        QTimer* timer = nullptr;
        std::shared_ptr<Task> task;
    };

    TimerId arm(Duration firstDelay, std::optional<Duration> interval, Task task);
    void fire(TimerId id);

    // Receiver of queued work; deleting it drops what has not run yet.
    std::unique_ptr<QObject> context_;
    QElapsedTimer clock_;
    TimerId nextId_ = 1;
    std::unordered_map<TimerId, Entry> timers_;
};

} // namespace chordwell::platform::qt
