// A small main loop on poll(2): posted work, one-shot and repeating timers,
// and file-descriptor watches. It is the scheduler and fd watcher of the
// native platform when no application event loop is present
// (chordwellctl, the VM test, tests of the adapters).
#pragma once

#include "platform/fd_watcher.hpp"
#include "platform/ports.hpp"

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace chordwell::platform::lnx {

class PollLoop final : public Scheduler, public FdWatcher {
public:
    PollLoop();
    ~PollLoop() override;
    PollLoop(const PollLoop&) = delete;
    PollLoop& operator=(const PollLoop&) = delete;

    // Scheduler. postToMain may be called from any thread; the rest from the
    // loop's thread.
    void postToMain(Task task) override;
    TimerId scheduleOnce(Duration delay, Task task) override;
    TimerId scheduleRepeating(Duration firstDelay, Duration interval, Task task) override;
    void cancel(TimerId id) override;
    Duration now() const override;

    // FdWatcher
    WatchId watchReadable(int fd, std::function<void()> onReadable) override;
    void unwatch(WatchId id) override;

    /// Waits at most `timeout` for something to do, then does everything
    /// that is due. Returns the number of callbacks run. Not reentrant:
    /// callbacks must not run the loop themselves.
    std::size_t runOnce(std::chrono::milliseconds timeout);
    /// Runs until quit() or until `limit` has passed.
    void runFor(Duration limit);
    /// Runs until quit().
    void run();
    /// Makes run() / runFor() return; callable from any thread and from
    /// signal-safe contexts that only write the wake-up descriptor.
    void quit();
    bool quitRequested() const { return quit_.load(); }

    /// Whether anything remains to be done without waiting: posted work or
    /// a timer that is due.
    bool hasPendingWork() const;

private:
    struct Timer {
        Duration due{};
        Duration interval{}; // zero for one-shot
        // Shared so that firing a timer (which may cancel it) needs no copy
        // of the closure: repeating timers fire on the key path.
        std::shared_ptr<Task> task;
    };
    struct Watch {
        int fd = -1;
        std::function<void()> callback;
    };

    std::chrono::milliseconds timeUntilNextTimer(std::chrono::milliseconds cap) const;
    std::size_t runDueTimers();
    std::size_t runPosted();
    void wake();

    const std::chrono::steady_clock::time_point start_;
    int wakeFd_ = -1; // eventfd

    mutable std::mutex postedMutex_;
    std::deque<Task> posted_;

    TimerId nextTimerId_ = 1;
    std::map<TimerId, Timer> timers_;
    WatchId nextWatchId_ = 1;
    std::map<WatchId, Watch> watches_;
    // Reused from turn to turn, so that a turn allocates nothing once they
    // have grown.
    std::vector<pollfd> pollFds_;
    std::vector<WatchId> pollIds_;
    std::vector<TimerId> dueTimers_;
    std::atomic<bool> quit_{false};
};

} // namespace chordwell::platform::lnx
