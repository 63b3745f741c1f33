#include "platform/linux/poll_loop.hpp"

#include "logging/log.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string>
#include <utility>

namespace chordwell::platform::lnx {

namespace {

template <typename F> void runGuarded(F&& f) {
    try {
        std::forward<F>(f)();
    } catch (const std::exception& e) {
        log(LogLevel::error, std::string("Main-loop callback failed: ") + e.what(), "keyboard");
    } catch (...) {
        log(LogLevel::error, "Main-loop callback failed.", "keyboard");
    }
}

} // namespace

PollLoop::PollLoop()
    : start_(std::chrono::steady_clock::now()), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (wakeFd_ < 0) {
        log(LogLevel::error, "Could not create the main loop's wake-up descriptor.", "keyboard");
    }
}

PollLoop::~PollLoop() {
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

void PollLoop::wake() {
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

void PollLoop::postToMain(Task task) {
    if (!task) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        posted_.push_back(std::move(task));
    }
    wake();
}

Scheduler::TimerId PollLoop::scheduleOnce(Duration delay, Task task) {
    const TimerId id = nextTimerId_++;
    timers_[id] = Timer{now() + std::max(delay, Duration::zero()), Duration::zero(),
                        std::make_shared<Task>(std::move(task))};
    return id;
}

Scheduler::TimerId PollLoop::scheduleRepeating(Duration firstDelay, Duration interval, Task task) {
    const TimerId id = nextTimerId_++;
    // A repeating timer never fires more often than once a millisecond.
    const Duration safeInterval = std::max<Duration>(interval, std::chrono::milliseconds(1));
    timers_[id] = Timer{now() + std::max(firstDelay, Duration::zero()), safeInterval,
                        std::make_shared<Task>(std::move(task))};
    return id;
}

void PollLoop::cancel(TimerId id) {
    timers_.erase(id);
}

Scheduler::Duration PollLoop::now() const {
    return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - start_);
}

FdWatcher::WatchId PollLoop::watchReadable(int fd, std::function<void()> onReadable) {
    if (fd < 0 || !onReadable) {
        return 0;
    }
    const WatchId id = nextWatchId_++;
    watches_[id] = Watch{fd, std::move(onReadable)};
    return id;
}

void PollLoop::unwatch(WatchId id) {
    watches_.erase(id);
}

bool PollLoop::hasPendingWork() const {
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        if (!posted_.empty()) {
            return true;
        }
    }
    const Duration t = now();
    return std::any_of(timers_.begin(), timers_.end(),
                       [&](const auto& entry) { return entry.second.due <= t; });
}

std::chrono::milliseconds PollLoop::timeUntilNextTimer(std::chrono::milliseconds cap) const {
    std::chrono::milliseconds result = cap;
    const Duration t = now();
    for (const auto& [id, timer] : timers_) {
        if (timer.due <= t) {
            return std::chrono::milliseconds(0);
        }
        // Round up so that the wait never ends just before the timer is due.
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(timer.due - t);
        result = std::min(result, wait);
    }
    return result;
}

std::size_t PollLoop::runDueTimers() {
    std::size_t ran = 0;
    const Duration t = now();
    dueTimers_.clear();
    for (const auto& [id, timer] : timers_) {
        if (timer.due <= t) {
            dueTimers_.push_back(id);
        }
    }
    std::sort(dueTimers_.begin(), dueTimers_.end(),
              [this](TimerId a, TimerId b) { return timers_.at(a).due < timers_.at(b).due; });
    for (TimerId id : dueTimers_) {
        auto it = timers_.find(id);
        if (it == timers_.end()) {
            continue; // cancelled by an earlier callback
        }
        const std::shared_ptr<Task> task = it->second.task; // may cancel its own timer
        if (it->second.interval == Duration::zero()) {
            timers_.erase(it);
        } else {
            it->second.due += it->second.interval;
            if (it->second.due <= t) {
                it->second.due = t + it->second.interval; // do not catch up
            }
        }
        runGuarded(*task);
        ++ran;
    }
    return ran;
}

std::size_t PollLoop::runPosted() {
    std::deque<Task> batch;
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        batch.swap(posted_);
    }
    for (Task& task : batch) {
        runGuarded(task);
    }
    return batch.size();
}

std::size_t PollLoop::runOnce(std::chrono::milliseconds timeout) {
    std::chrono::milliseconds wait = std::max(timeout, std::chrono::milliseconds(0));
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        if (!posted_.empty()) {
            wait = std::chrono::milliseconds(0);
        }
    }
    wait = timeUntilNextTimer(wait);

    std::vector<pollfd>& fds = pollFds_;
    std::vector<WatchId>& ids = pollIds_;
    fds.clear();
    ids.clear();
    if (wakeFd_ >= 0) {
        fds.push_back(pollfd{wakeFd_, POLLIN, 0});
    }
    for (const auto& [id, watch] : watches_) {
        fds.push_back(pollfd{watch.fd, POLLIN, 0});
        ids.push_back(id);
    }
    const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
    std::size_t ran = 0;
    if (ready > 0) {
        std::size_t first = 0;
        if (wakeFd_ >= 0) {
            first = 1;
            if (fds[0].revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
            }
        }
        for (std::size_t i = first; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            const WatchId id = ids[i - first];
            auto it = watches_.find(id);
            if (it == watches_.end()) {
                continue; // unwatched by an earlier callback
            }
            if (fds[i].revents & POLLNVAL) {
                // Closed without being unwatched: it can never become
                // readable again.
                watches_.erase(it);
                continue;
            }
            auto callback = it->second.callback; // may unwatch itself
            runGuarded(callback);
            ++ran;
        }
    } else if (ready < 0 && errno != EINTR) {
        log(LogLevel::error, "poll() failed in the main loop.", "keyboard");
    }
    ran += runDueTimers();
    ran += runPosted();
    return ran;
}

void PollLoop::runFor(Duration limit) {
    quit_.store(false);
    const Duration end = now() + limit;
    while (!quit_.load()) {
        const Duration left = end - now();
        if (left <= Duration::zero()) {
            break;
        }
        runOnce(std::chrono::ceil<std::chrono::milliseconds>(left));
    }
}

void PollLoop::run() {
    quit_.store(false);
    while (!quit_.load()) {
        runOnce(std::chrono::milliseconds(1000));
    }
}

void PollLoop::quit() {
    quit_.store(true);
    wake();
}

} // namespace chordwell::platform::lnx
