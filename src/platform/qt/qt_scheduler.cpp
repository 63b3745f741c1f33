#include "platform/qt/qt_scheduler.hpp"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <limits>

namespace chordwell::platform::qt {

namespace {

// QTimer takes whole milliseconds in an int; round up so that a timer never
// fires before its delay, and clamp absurd values instead of overflowing.
int toTimerMilliseconds(Scheduler::Duration d) {
    if (d <= Scheduler::Duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max()));
}

} // namespace

QtScheduler::QtScheduler() : context_(std::make_unique<QObject>()) {
    clock_.start();
}

QtScheduler::~QtScheduler() {
    for (auto& [id, entry] : timers_) {
        (void)id;
        delete entry.timer;
    }
    timers_.clear();
}

void QtScheduler::postToMain(Task task) {
    if (!task) {
        return;
    }
    QMetaObject::invokeMethod(
        context_.get(), [t = std::move(task)]() { t(); }, Qt::QueuedConnection);
}

Scheduler::TimerId QtScheduler::scheduleOnce(Duration delay, Task task) {
    return arm(delay, std::nullopt, std::move(task));
}

Scheduler::TimerId QtScheduler::scheduleRepeating(Duration firstDelay, Duration interval,
                                                  Task task) {
    return arm(firstDelay, interval, std::move(task));
}

Scheduler::TimerId QtScheduler::arm(Duration firstDelay, std::optional<Duration> interval,
                                    Task task) {
    if (!task) {
        return 0;
    }
    const TimerId id = nextId_++;
    auto* timer = new QTimer(context_.get());
    // Key repeat wants the requested cadence, not the coarse default.
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(!interval.has_value());
    timer->setInterval(toTimerMilliseconds(firstDelay));
    if (interval) {
        // After the first firing the timer continues at the interval. An
        // interval of 0 would spin the loop; one millisecond is the floor.
        const int every = std::max(1, toTimerMilliseconds(*interval));
        QObject::connect(timer, &QTimer::timeout, timer,
                         [timer, every]() { timer->setInterval(every); });
    }
    QObject::connect(timer, &QTimer::timeout, context_.get(), [this, id]() { fire(id); });
    timers_.emplace(id, Entry{timer, std::make_shared<Task>(std::move(task))});
    timer->start();
    return id;
}

void QtScheduler::fire(TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) {
        return;
    }
    // Keep the task alive while it runs: it may cancel its own timer.
    std::shared_ptr<Task> task = it->second.task;
    if (it->second.timer->isSingleShot()) {
        it->second.timer->deleteLater();
        timers_.erase(it);
    }
    (*task)();
}

void QtScheduler::cancel(TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) {
        return;
    }
    it->second.timer->stop();
    // The timer may be the sender of the signal being delivered right now.
    it->second.timer->deleteLater();
    timers_.erase(it);
}

Scheduler::Duration QtScheduler::now() const {
    return std::chrono::nanoseconds(clock_.nsecsElapsed());
}

} // namespace chordwell::platform::qt
