// A small event loop on epoll(7): posted work, one-shot and repeating timers,
// and file-descriptor watches. It is the scheduler and fd watcher of the
// native platform when no application event loop is present
// (chordwellctl, the VM test, tests of the adapters), and the loop of the
// key thread in the application.
//
// A key wakes this loop, so the wake-up is on every key's way: epoll hands
// back only the descriptors that are ready (poll(2) would set up and tear
// down a wait on every watched descriptor at each turn), and a turn that
// runs a callback allocates nothing.
//
// Another thread may use the loop while it runs on its own thread if both
// hold the loop's lock (setLock): the loop holds it for everything but its
// wait, and whatever changes its timers from another thread wakes it.
#pragma once

#include "ports/fd_watcher.hpp"
#include "ports/ports.hpp"

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
    // loop's thread, or from another while holding the loop's lock.
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
    /// From now on runOnce() holds `lock` while it does anything but wait
    /// (null: no lock). Set before the loop runs on a thread of its own.
    void setLock(std::recursive_mutex* lock) { lock_ = lock; }
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
    // Key repeat arms and cancels a timer at every mapped key press, on the
    // key path, which must not allocate: timers live in slots that are made
    // once and reused (a closure of two words fits the function's inline
    // storage). A timer's task runs in place; cancelling it while it runs
    // frees the slot afterwards.
    struct Timer {
        Duration due{};
        Duration interval{}; // zero for one-shot
        Task task;
        std::uint64_t sequence = 0; // arming order, for timers due at once
        std::uint32_t generation = 0;
        bool armed = false;
        bool running = false;
    };
    struct Watch {
        int fd = -1;
        int registered = -1; // the descriptor in the epoll set (a copy when fd was in it already)
        // Shared so that calling it needs no copy of the closure (a copy of
        // most closures allocates); the callback may unwatch itself.
        std::shared_ptr<std::function<void()>> callback;
    };

    TimerId arm(Duration firstDelay, Duration interval, Task task);
    Timer* findTimer(TimerId id);
    void releaseTimer(std::uint32_t index);
    std::chrono::milliseconds timeUntilNextTimer(std::chrono::milliseconds cap) const;
    std::size_t runDueTimers();
    std::size_t runPosted();
    void wake();
    /// Timers changed: the loop may be waiting, on another thread, with an
    /// older deadline.
    void timersChanged();

    const std::chrono::steady_clock::time_point start_;
    int wakeFd_ = -1;  // eventfd
    int epollFd_ = -1; // the watched descriptors and wakeFd_
    std::recursive_mutex* lock_ = nullptr;
    std::atomic<bool> waiting_{false}; // runOnce waits for input now

    mutable std::mutex postedMutex_;
    std::deque<Task> posted_;
    std::deque<Task> running_; // the batch being run; keeps its storage

    std::vector<std::unique_ptr<Timer>> timers_; // slots; a slot never moves
    std::vector<std::uint32_t> freeTimers_;      // capacity kept at the slot count
    std::size_t armedTimers_ = 0;
    std::uint64_t nextSequence_ = 0;
    WatchId nextWatchId_ = 1;
    std::map<WatchId, Watch> watches_;
    // Reused from turn to turn, so that a turn allocates nothing once they
    // have grown.
    std::vector<TimerId> dueTimers_;
    std::atomic<bool> quit_{false};
};

} // namespace chordwell::platform::lnx
