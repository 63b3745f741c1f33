#include "platform/qt/qt_scheduler.hpp"

#include <QMetaObject>
#include <QTimer>

#if defined(__linux__)
#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>
#elif defined(__APPLE__)
#include <CoreFoundation/CoreFoundation.h>
#endif

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

constexpr std::uint32_t indexOf(Scheduler::TimerId id) {
    return static_cast<std::uint32_t>(id & 0xFFFFFFFFu) - 1;
}

constexpr Scheduler::TimerId makeId(std::uint32_t index, std::uint32_t generation) {
    return (static_cast<Scheduler::TimerId>(generation) << 32) | (index + 1);
}

} // namespace

/// One slot's timer: armed with a first delay and an optional interval,
/// calls `fired` on the owning thread. Arming and disarming a made clock do
/// not allocate (timerfd); the QTimer fallback reuses its object.
class QtScheduler::Clock {
public:
    Clock(QObject* context, std::function<void()> fired) : fired_(std::move(fired)) {
#if defined(__APPLE__)
        // Qt's event loop is the main CFRunLoop here. The timer is made once
        // and never leaves the loop: arming moves its next fire date, and
        // each firing sets the next one itself.
        (void)context;
        CFRunLoopTimerContext timerContext{};
        timerContext.info = this;
        cfTimer_ = CFRunLoopTimerCreate(kCFAllocatorDefault, kFarFuture, kFarFuture, 0, 0,
                                        &Clock::cfTimerFired, &timerContext);
        if (cfTimer_ != nullptr) {
            CFRunLoopAddTimer(CFRunLoopGetMain(), cfTimer_, kCFRunLoopCommonModes);
            return;
        }
#endif
#if defined(__linux__)
        fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fd_ >= 0) {
            notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
            QObject::connect(notifier_.get(), &QSocketNotifier::activated, context, [this] {
                std::uint64_t expirations = 0;
                // Nothing to read: disarmed or re-armed since it became
                // readable, so this wake-up is stale.
                if (::read(fd_, &expirations, sizeof expirations) ==
                    static_cast<ssize_t>(sizeof expirations)) {
                    fired_();
                }
            });
            return;
        }
#endif
        timer_ = std::make_unique<QTimer>();
        // Key repeat wants the requested cadence, not the coarse default.
        timer_->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer_.get(), &QTimer::timeout, context, [this] {
            if (every_ >= 0 && timer_->interval() != every_) {
                timer_->setInterval(every_); // after the first delay
            }
            fired_();
        });
    }
    ~Clock() {
#if defined(__APPLE__)
        if (cfTimer_ != nullptr) {
            CFRunLoopTimerInvalidate(cfTimer_);
            CFRelease(cfTimer_);
        }
#endif
#if defined(__linux__)
        notifier_.reset();
        if (fd_ >= 0) {
            ::close(fd_);
        }
#endif
    }
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    void arm(Duration first, std::optional<Duration> interval) {
#if defined(__APPLE__)
        if (cfTimer_ != nullptr) {
            cfEvery_ = interval ? std::max(0.001, seconds(*interval)) : -1.0;
            CFRunLoopTimerSetNextFireDate(cfTimer_, CFAbsoluteTimeGetCurrent() +
                                                        std::max(0.0, seconds(first)));
            return;
        }
#endif
#if defined(__linux__)
        if (fd_ >= 0) {
            itimerspec spec{};
            // An interval of 0 would spin the loop; one millisecond is the
            // floor. A first delay of 0 would disarm: one nanosecond fires
            // at the next turn.
            spec.it_value = toTimespec(std::max(first, Duration(1)));
            if (interval) {
                spec.it_interval =
                    toTimespec(std::max<Duration>(*interval, std::chrono::milliseconds(1)));
            }
            ::timerfd_settime(fd_, 0, &spec, nullptr);
            return;
        }
#endif
        every_ = interval ? std::max(1, toTimerMilliseconds(*interval)) : -1;
        timer_->setSingleShot(!interval.has_value());
        timer_->start(toTimerMilliseconds(first));
    }

    void disarm() {
#if defined(__APPLE__)
        if (cfTimer_ != nullptr) {
            cfEvery_ = -1.0;
            CFRunLoopTimerSetNextFireDate(cfTimer_, kFarFuture);
            return;
        }
#endif
#if defined(__linux__)
        if (fd_ >= 0) {
            const itimerspec off{};
            ::timerfd_settime(fd_, 0, &off, nullptr);
            return;
        }
#endif
        timer_->stop();
    }

private:
#if defined(__APPLE__)
    static constexpr CFTimeInterval kFarFuture = 1.0e10; // seconds after 2001: centuries away
    static double seconds(Duration d) {
        return std::chrono::duration<double>(std::min<Duration>(d, std::chrono::hours(24 * 365)))
            .count();
    }
    static void cfTimerFired(CFRunLoopTimerRef timer, void* info) {
        auto* self = static_cast<Clock*>(info);
        CFRunLoopTimerSetNextFireDate(
            timer, self->cfEvery_ > 0 ? CFAbsoluteTimeGetCurrent() + self->cfEvery_ : kFarFuture);
        self->fired_();
    }
    CFRunLoopTimerRef cfTimer_ = nullptr;
    double cfEvery_ = -1.0;
#endif
#if defined(__linux__)
    static timespec toTimespec(Duration d) {
        const auto clamped = std::min<Duration>(d, std::chrono::hours(24 * 365));
        const auto s = std::chrono::duration_cast<std::chrono::seconds>(clamped);
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(s.count());
        ts.tv_nsec = static_cast<long>((clamped - s).count());
        return ts;
    }
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
#endif
    std::unique_ptr<QTimer> timer_;
    int every_ = -1;
    std::function<void()> fired_;
};

QtScheduler::QtScheduler() : context_(std::make_unique<QObject>()) {
    clock_.start();
}

QtScheduler::~QtScheduler() {
    for (auto& slot : slots_) {
        if (slot->clock) {
            slot->clock->disarm();
        }
    }
    slots_.clear();
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
    if (free_.empty()) {
        const auto index = static_cast<std::uint32_t>(slots_.size());
        auto slot = std::make_unique<Slot>();
        slot->clock = std::make_unique<Clock>(context_.get(), [this, index] { fire(index); });
        slots_.push_back(std::move(slot));
        free_.reserve(slots_.size());
        free_.push_back(index);
    }
    const std::uint32_t index = free_.back();
    free_.pop_back();
    Slot& slot = *slots_[index];
    ++slot.generation;
    slot.task = std::move(task);
    slot.armed = true;
    slot.repeating = interval.has_value();
    ++armedCount_;
    slot.clock->arm(firstDelay, interval);
    return makeId(index, slot.generation);
}

QtScheduler::Slot* QtScheduler::find(TimerId id) {
    const std::uint32_t index = indexOf(id);
    if (id == 0 || index >= slots_.size()) {
        return nullptr;
    }
    Slot& slot = *slots_[index];
    if (!slot.armed || makeId(index, slot.generation) != id) {
        return nullptr;
    }
    return &slot;
}

void QtScheduler::fire(std::uint32_t index) {
    Slot& slot = *slots_[index];
    if (!slot.armed) {
        return;
    }
    if (!slot.repeating) {
        slot.armed = false;
        --armedCount_;
        slot.clock->disarm();
    }
    // The task may cancel its own timer or arm others; its slot is given
    // back only after it returns.
    slot.running = true;
    slot.task();
    slot.running = false;
    if (!slot.armed) {
        release(index);
    }
}

void QtScheduler::release(std::uint32_t index) {
    Slot& slot = *slots_[index];
    slot.task = nullptr;
    free_.push_back(index); // within the reserved capacity
}

void QtScheduler::cancel(TimerId id) {
    Slot* slot = find(id);
    if (slot == nullptr) {
        return;
    }
    slot->armed = false;
    --armedCount_;
    slot->clock->disarm();
    if (!slot->running) {
        release(indexOf(id));
    }
}

Scheduler::Duration QtScheduler::now() const {
    return std::chrono::nanoseconds(clock_.nsecsElapsed());
}

} // namespace chordwell::platform::qt
