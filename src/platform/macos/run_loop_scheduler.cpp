#include "platform/macos/run_loop_scheduler.hpp"

#include "logging/log.hpp"
#include "platform/macos/mach_clock.hpp"

#include <algorithm>
#include <chrono>

namespace chordwell::platform::mac {

namespace {

CFTimeInterval seconds(Scheduler::Duration duration) {
    return std::chrono::duration<CFTimeInterval>(duration).count();
}

// CFRunLoopTimer treats an interval of 0 as "fire once"; a repeating timer
// gets at least a millisecond.
constexpr CFTimeInterval kMinimumInterval = 0.001;

void runGuarded(const Scheduler::Task& task) {
    try {
        task();
    } catch (...) {
        log(LogLevel::error, "A scheduled task failed with an exception.", "keyboard");
    }
}

} // namespace

RunLoopScheduler::RunLoopScheduler() : mainLoop_(CFRef<CFRunLoopRef>::retain(CFRunLoopGetMain())) {
    CFRunLoopSourceContext context{};
    context.version = 0;
    context.info = this;
    context.perform = &RunLoopScheduler::performPosted;
    postSource_ =
        CFRef<CFRunLoopSourceRef>::adopt(CFRunLoopSourceCreate(kCFAllocatorDefault, 0, &context));
    if (postSource_) {
        CFRunLoopAddSource(mainLoop_.get(), postSource_.get(), kCFRunLoopCommonModes);
    } else {
        log(LogLevel::error, "Could not create the main run-loop source; posted work is lost.",
            "keyboard");
    }
}

RunLoopScheduler::~RunLoopScheduler() {
    for (CFRunLoopTimerRef timer : timers_.takeAll()) {
        CFRunLoopTimerInvalidate(timer);
        CFRelease(timer);
    }
    if (postSource_) {
        CFRunLoopSourceInvalidate(postSource_.get());
    }
    posted_.clear();
}

void RunLoopScheduler::postToMain(Task task) {
    if (!task || !postSource_) {
        return;
    }
    posted_.push(std::move(task));
    // Signalled on every post, not only on the first: a drain that is
    // running right now has already taken its batch.
    CFRunLoopSourceSignal(postSource_.get());
    CFRunLoopWakeUp(mainLoop_.get());
}

Scheduler::TimerId RunLoopScheduler::scheduleOnce(Duration delay, Task task) {
    return addTimer(delay, Duration::zero(), std::move(task), false);
}

Scheduler::TimerId RunLoopScheduler::scheduleRepeating(Duration firstDelay, Duration interval,
                                                       Task task) {
    return addTimer(firstDelay, interval, std::move(task), true);
}

Scheduler::TimerId RunLoopScheduler::addTimer(Duration firstDelay, Duration interval, Task task,
                                              bool repeating) {
    if (!task) {
        return 0;
    }
    const CFAbsoluteTime fireDate = CFAbsoluteTimeGetCurrent() + std::max(0.0, seconds(firstDelay));
    const CFTimeInterval period = repeating ? std::max(kMinimumInterval, seconds(interval)) : 0.0;
    CFRunLoopTimerContext context{};
    context.version = 0;
    context.info = this;
    CFRunLoopTimerRef timer = CFRunLoopTimerCreate(kCFAllocatorDefault, fireDate, period, 0, 0,
                                                   &RunLoopScheduler::timerFired, &context);
    if (timer == nullptr) {
        log(LogLevel::error, "Could not create a run-loop timer.", "keyboard");
        return 0;
    }
    // Known to the table before the run loop can fire it.
    const TimerId id = timers_.add(timer, std::move(task), repeating);
    CFRunLoopAddTimer(mainLoop_.get(), timer, kCFRunLoopCommonModes);
    return id;
}

void RunLoopScheduler::cancel(TimerId id) {
    if (std::optional<CFRunLoopTimerRef> timer = timers_.cancel(id)) {
        CFRunLoopTimerInvalidate(*timer);
        CFRelease(*timer);
    }
}

Scheduler::Duration RunLoopScheduler::now() const {
    // The clock the run loop's timers follow, so that a deadline taken from
    // now() and a timer armed for it agree.
    return std::chrono::duration_cast<Duration>(machNow());
}

void RunLoopScheduler::timerFired(CFRunLoopTimerRef timer, void* info) {
    auto* self = static_cast<RunLoopScheduler*>(info);
    if (self == nullptr) {
        return;
    }
    auto firing = self->timers_.fire(timer);
    if (firing.finished) {
        // The run loop holds the timer while it fires and invalidates a
        // one-shot timer afterwards; only our own reference is left to drop.
        CFRelease(*firing.finished);
    }
    if (firing.task) {
        runGuarded(*firing.task);
    }
}

void RunLoopScheduler::performPosted(void* info) {
    auto* self = static_cast<RunLoopScheduler*>(info);
    if (self == nullptr) {
        return;
    }
    const TaskQueue::DrainResult result = self->posted_.drain();
    if (result.failed > 0) {
        log(LogLevel::error, "A task posted to the main thread failed with an exception.",
            "keyboard");
    }
}

} // namespace chordwell::platform::mac
