#include "platform/linux/inotify_watch.hpp"

#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace chordwell::platform::lnx {

std::unique_ptr<InotifyWatch> InotifyWatch::create(std::shared_ptr<FdWatcher> watcher,
                                                   const std::filesystem::path& folder,
                                                   std::uint32_t mask, Callback callback,
                                                   std::error_code& error) {
    error.clear();
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        error = std::error_code(errno, std::generic_category());
        return nullptr;
    }
    if (::inotify_add_watch(fd, folder.c_str(), mask | IN_ONLYDIR) < 0) {
        error = std::error_code(errno, std::generic_category());
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<InotifyWatch>(
        new InotifyWatch(std::move(watcher), fd, std::move(callback)));
}

InotifyWatch::InotifyWatch(std::shared_ptr<FdWatcher> watcher, int fd, Callback callback)
    : watcher_(std::move(watcher)), fd_(fd), callback_(std::move(callback)) {
    watch_ = watcher_->watchReadable(fd_, [this] { onReadable(); });
}

InotifyWatch::~InotifyWatch() {
    if (watch_ != 0) {
        watcher_->unwatch(watch_);
    }
    ::close(fd_);
}

void InotifyWatch::onReadable() {
    // Names are collected first: a callback may destroy this watch.
    std::vector<std::string> names;
    alignas(inotify_event) std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        std::size_t offset = 0;
        while (offset + sizeof(inotify_event) <= static_cast<std::size_t>(n)) {
            inotify_event event{};
            std::memcpy(&event, buffer.data() + offset, sizeof event);
            const char* name = buffer.data() + offset + sizeof(inotify_event);
            if (event.len > 0) {
                names.emplace_back(name, ::strnlen(name, event.len));
            }
            offset += sizeof(inotify_event) + event.len;
        }
    }
    const Callback callback = callback_;
    for (const std::string& name : names) {
        callback(name);
    }
}

} // namespace chordwell::platform::lnx
