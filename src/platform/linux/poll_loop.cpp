#include "platform/linux/poll_loop.hpp"

#include "logging/log.hpp"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <exception>
#include <optional>
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

// The epoll data of the wake-up descriptor; watches use their ids (never 0).
constexpr std::uint64_t kWakeData = 0;

} // namespace

PollLoop::PollLoop()
    : start_(std::chrono::steady_clock::now()), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      epollFd_(::epoll_create1(EPOLL_CLOEXEC)) {
    if (wakeFd_ < 0 || epollFd_ < 0) {
        log(LogLevel::error, "Could not create the main loop's wake-up descriptor.", "keyboard");
    }
    if (wakeFd_ >= 0 && epollFd_ >= 0) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = kWakeData;
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &event);
    }
}

PollLoop::~PollLoop() {
    for (const auto& [id, watch] : watches_) {
        if (watch.registered != watch.fd && watch.registered >= 0) {
            ::close(watch.registered);
        }
    }
    if (epollFd_ >= 0) {
        ::close(epollFd_);
    }
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

void PollLoop::timersChanged() {
    // Only a loop that waits, while another thread holds its lock, can have
    // an older deadline in hand; its own callbacks run before it computes
    // the next one.
    if (waiting_.load()) {
        wake();
    }
}

namespace {

constexpr std::uint32_t indexOfTimer(Scheduler::TimerId id) {
    return static_cast<std::uint32_t>(id & 0xFFFFFFFFu) - 1;
}

constexpr Scheduler::TimerId timerId(std::uint32_t index, std::uint32_t generation) {
    return (static_cast<Scheduler::TimerId>(generation) << 32) | (index + 1);
}

} // namespace

Scheduler::TimerId PollLoop::arm(Duration firstDelay, Duration interval, Task task) {
    std::uint32_t index = 0;
    if (!freeTimers_.empty()) {
        index = freeTimers_.back();
        freeTimers_.pop_back();
    } else {
        index = static_cast<std::uint32_t>(timers_.size());
        timers_.push_back(std::make_unique<Timer>());
        freeTimers_.reserve(timers_.size());
    }
    Timer& timer = *timers_[index];
    timer.due = now() + std::max(firstDelay, Duration::zero());
    timer.interval = interval;
    timer.task = std::move(task);
    timer.sequence = nextSequence_++;
    timer.armed = true;
    ++armedTimers_;
    timersChanged();
    return timerId(index, timer.generation);
}

PollLoop::Timer* PollLoop::findTimer(TimerId id) {
    const std::uint32_t index = indexOfTimer(id);
    if (id == 0 || index >= timers_.size()) {
        return nullptr;
    }
    Timer& timer = *timers_[index];
    if (!timer.armed || timer.generation != static_cast<std::uint32_t>(id >> 32)) {
        return nullptr;
    }
    return &timer;
}

void PollLoop::releaseTimer(std::uint32_t index) {
    Timer& timer = *timers_[index];
    timer.task = nullptr;
    ++timer.generation; // its id no longer finds it
    freeTimers_.push_back(index);
}

Scheduler::TimerId PollLoop::scheduleOnce(Duration delay, Task task) {
    return arm(delay, Duration::zero(), std::move(task));
}

Scheduler::TimerId PollLoop::scheduleRepeating(Duration firstDelay, Duration interval, Task task) {
    // A repeating timer never fires more often than once a millisecond.
    return arm(firstDelay, std::max<Duration>(interval, std::chrono::milliseconds(1)),
               std::move(task));
}

void PollLoop::cancel(TimerId id) {
    Timer* timer = findTimer(id);
    if (timer == nullptr) {
        return;
    }
    timer->armed = false;
    --armedTimers_;
    if (!timer->running) {
        releaseTimer(indexOfTimer(id)); // else once its task has returned
    }
}

Scheduler::Duration PollLoop::now() const {
    return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - start_);
}

FdWatcher::WatchId PollLoop::watchReadable(int fd, std::function<void()> onReadable) {
    if (fd < 0 || !onReadable || epollFd_ < 0) {
        return 0;
    }
    const WatchId id = nextWatchId_++;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = id;
    int registered = fd;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0) {
        if (errno != EEXIST) {
            return 0;
        }
        // Watched twice: epoll holds a descriptor once, so the second watch
        // gets a copy of its own.
        registered = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (registered < 0 || ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, registered, &event) != 0) {
            if (registered >= 0) {
                ::close(registered);
            }
            return 0;
        }
    }
    watches_[id] =
        Watch{fd, registered, std::make_shared<std::function<void()>>(std::move(onReadable))};
    return id;
}

void PollLoop::unwatch(WatchId id) {
    auto it = watches_.find(id);
    if (it == watches_.end()) {
        return;
    }
    const Watch& watch = it->second;
    if (watch.registered != watch.fd) {
        ::close(watch.registered); // leaves the epoll set with it
    } else {
        // Fails harmlessly when the descriptor was closed already (it left
        // the set then) or now stands for another file, which is not ours
        // to remove: epoll knows it by its file, not its number.
        epoll_event unused{};
        (void)::epoll_ctl(epollFd_, EPOLL_CTL_DEL, watch.fd, &unused);
    }
    watches_.erase(it);
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
                       [&](const auto& timer) { return timer->armed && timer->due <= t; });
}

std::chrono::milliseconds PollLoop::timeUntilNextTimer(std::chrono::milliseconds cap) const {
    std::chrono::milliseconds result = cap;
    const Duration t = now();
    for (const auto& timer : timers_) {
        if (!timer->armed) {
            continue;
        }
        if (timer->due <= t) {
            return std::chrono::milliseconds(0);
        }
        // Round up so that the wait never ends just before the timer is due.
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(timer->due - t);
        result = std::min(result, wait);
    }
    return result;
}

std::size_t PollLoop::runDueTimers() {
    std::size_t ran = 0;
    const Duration t = now();
    dueTimers_.clear();
    for (std::uint32_t i = 0; i < timers_.size(); ++i) {
        const Timer& timer = *timers_[i];
        if (timer.armed && timer.due <= t) {
            dueTimers_.push_back(timerId(i, timer.generation));
        }
    }
    std::sort(dueTimers_.begin(), dueTimers_.end(), [this](TimerId a, TimerId b) {
        const Timer& x = *timers_[indexOfTimer(a)];
        const Timer& y = *timers_[indexOfTimer(b)];
        return x.due != y.due ? x.due < y.due : x.sequence < y.sequence;
    });
    for (TimerId id : dueTimers_) {
        Timer* timer = findTimer(id);
        if (timer == nullptr) {
            continue; // cancelled by an earlier callback
        }
        if (timer->interval == Duration::zero()) {
            timer->armed = false;
            --armedTimers_;
        } else {
            timer->due += timer->interval;
            if (timer->due <= t) {
                timer->due = t + timer->interval; // do not catch up
            }
        }
        timer->running = true;
        runGuarded(timer->task); // in place: it may cancel its own timer
        timer->running = false;
        if (!timer->armed) {
            releaseTimer(indexOfTimer(id));
        }
        ++ran;
    }
    return ran;
}

std::size_t PollLoop::runPosted() {
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        if (posted_.empty()) {
            return 0;
        }
        running_.swap(posted_); // both keep their storage
    }
    const std::size_t count = running_.size();
    for (Task& task : running_) {
        runGuarded(task);
    }
    running_.clear();
    return count;
}

std::size_t PollLoop::runOnce(std::chrono::milliseconds timeout) {
    std::unique_lock<std::recursive_mutex> lock;
    if (lock_ != nullptr) {
        lock = std::unique_lock<std::recursive_mutex>(*lock_);
    }
    std::chrono::milliseconds wait = std::max(timeout, std::chrono::milliseconds(0));
    {
        std::lock_guard<std::mutex> posted(postedMutex_);
        if (!posted_.empty()) {
            wait = std::chrono::milliseconds(0);
        }
    }
    if (armedTimers_ != 0) {
        wait = timeUntilNextTimer(wait);
    }

    std::array<epoll_event, 16> events{};
    int ready = 0;
    if (epollFd_ >= 0) {
        if (lock.owns_lock()) {
            waiting_.store(true); // before the lock goes: a change from now on wakes us
            lock.unlock();
        }
        ready = ::epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()),
                             static_cast<int>(wait.count()));
        const int error = errno;
        if (lock_ != nullptr) {
            lock.lock();
            waiting_.store(false);
        }
        errno = error;
    }
    std::size_t ran = 0;
    if (ready < 0 && errno != EINTR) {
        log(LogLevel::error, "epoll_wait() failed in the main loop.", "keyboard");
    }
    for (int i = 0; i < ready; ++i) {
        const std::uint64_t data = events[static_cast<std::size_t>(i)].data.u64;
        if (data == kWakeData) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
            continue;
        }
        auto it = watches_.find(data);
        if (it == watches_.end()) {
            continue; // unwatched meanwhile, by a callback or another thread
        }
        // Held here: the callback may unwatch itself.
        const std::shared_ptr<std::function<void()>> callback = it->second.callback;
        runGuarded(*callback);
        ++ran;
    }
    if (armedTimers_ != 0) {
        ran += runDueTimers();
    }
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
