// A Scheduler on the main CFRunLoop, for processes without Qt's event loop
// (the application uses the Qt scheduler, which runs on the same loop).
// macOS only.
#pragma once

#include "platform/macos/cf_ref.hpp"
#include "platform/macos/task_queue.hpp"
#include "platform/macos/timer_table.hpp"
#include "ports/ports.hpp"

namespace chordwell::platform::mac {

class RunLoopScheduler final : public Scheduler {
public:
    /// Binds to the main run loop (CFRunLoopGetMain), whichever thread
    /// constructs it.
    RunLoopScheduler();
    /// Invalidates every timer and the posting source; queued work is
    /// dropped.
    ~RunLoopScheduler() override;

    RunLoopScheduler(const RunLoopScheduler&) = delete;
    RunLoopScheduler& operator=(const RunLoopScheduler&) = delete;

    /// Callable from any thread.
    void postToMain(Task task) override;
    /// Timers may be scheduled and cancelled from any thread; their tasks run
    /// on the main thread.
    TimerId scheduleOnce(Duration delay, Task task) override;
    TimerId scheduleRepeating(Duration firstDelay, Duration interval, Task task) override;
    void cancel(TimerId id) override;
    Duration now() const override;

private:
    TimerId addTimer(Duration firstDelay, Duration interval, Task task, bool repeating);
    static void timerFired(CFRunLoopTimerRef timer, void* info);
    static void performPosted(void* info);

    CFRef<CFRunLoopRef> mainLoop_;
    CFRef<CFRunLoopSourceRef> postSource_;
    TaskQueue posted_;
    TimerTable<CFRunLoopTimerRef> timers_;
};

} // namespace chordwell::platform::mac
