#include "platform/linux/key_loop.hpp"

#include "logging/log.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <utility>

namespace chordwell::platform::lnx {

namespace {

thread_local bool onKeyPathThread = false;

// A bell's descriptor; shared so that a ring a key-path thread holds back
// never writes to a descriptor that is closed (or reused) meanwhile.
struct BellFd {
    int fd = -1;
    BellFd() : fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~BellFd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    BellFd(const BellFd&) = delete;
    BellFd& operator=(const BellFd&) = delete;
    void ring() const {
        const std::uint64_t one = 1;
        // A counter that cannot take more still holds a ring: nothing lost.
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    }
};

// Rings held back by this thread until its work is done. Copying a
// shared_ptr allocates nothing.
constexpr std::size_t kHeldRings = 8;
thread_local std::array<std::shared_ptr<BellFd>, kHeldRings> heldRings;
thread_local std::size_t heldRingCount = 0;

class EventFdBell final : public MainThreadBell {
public:
    EventFdBell(std::shared_ptr<FdWatcher> watcher, std::function<void()> routine)
        : watcher_(std::move(watcher)), fd_(std::make_shared<BellFd>()) {
        if (fd_->fd < 0) {
            log(LogLevel::error, "Could not create a wake-up descriptor for the main thread.",
                "keyboard");
            return;
        }
        watch_ = watcher_->watchReadable(fd_->fd, [fd = fd_->fd, routine = std::move(routine)] {
            std::uint64_t rings = 0;
            if (::read(fd, &rings, sizeof rings) == static_cast<ssize_t>(sizeof rings)) {
                routine();
            }
        });
    }
    ~EventFdBell() override {
        if (watch_ != 0) {
            watcher_->unwatch(watch_);
        }
    }
    EventFdBell(const EventFdBell&) = delete;
    EventFdBell& operator=(const EventFdBell&) = delete;

    void ring() override {
        if (fd_->fd < 0) {
            return;
        }
        if (!onKeyPathThread) {
            fd_->ring();
            return;
        }
        for (std::size_t i = 0; i < heldRingCount; ++i) {
            if (heldRings[i] == fd_) {
                return;
            }
        }
        if (heldRingCount == kHeldRings) {
            fd_->ring(); // more bells than a thread ever holds: ring now
            return;
        }
        heldRings[heldRingCount++] = fd_;
    }

private:
    std::shared_ptr<FdWatcher> watcher_;
    std::shared_ptr<BellFd> fd_;
    FdWatcher::WatchId watch_ = 0;
};

} // namespace

KeyLoop::KeyLoop(std::shared_ptr<FdWatcher> mainWatcher)
    : loop_(std::make_shared<PollLoop>()), mainWatcher_(std::move(mainWatcher)) {
    loop_->setLock(mutex_.get());
}

KeyLoop::KeyLoop(std::shared_ptr<PollLoop> loop) : loop_(std::move(loop)), mainWatcher_(loop_) {
    loop_->setLock(mutex_.get());
}

KeyLoop::~KeyLoop() {
    stop();
    loop_->setLock(nullptr);
}

void KeyLoop::start() {
    if (thread_.joinable()) {
        return;
    }
    thread_ = std::thread([this] {
        markKeyPathThread();
        while (!loop_->quitRequested()) {
            loop_->runOnce(std::chrono::hours(24));
            ringBells();
        }
    });
}

void KeyLoop::stop() {
    if (!thread_.joinable()) {
        return;
    }
    loop_->quit();
    thread_.join();
}

bool KeyLoop::isKeyPathThread() const {
    return onKeyPathThread;
}

std::unique_ptr<MainThreadBell> KeyLoop::makeMainThreadBell(std::function<void()> routine) {
    return std::make_unique<EventFdBell>(mainWatcher_, std::move(routine));
}

void KeyLoop::markKeyPathThread() {
    onKeyPathThread = true;
}

void KeyLoop::ringBells() {
    for (std::size_t i = 0; i < heldRingCount; ++i) {
        heldRings[i]->ring();
        heldRings[i].reset();
    }
    heldRingCount = 0;
}

} // namespace chordwell::platform::lnx
