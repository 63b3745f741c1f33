// Watching file descriptors for readability on one thread's loop: the main
// thread's, or the key path's (key_path.hpp). Adapters that read descriptors
// (on Linux: the udev monitor, the virtual keyboard's LEDs, sd-bus) never
// poll in a loop of their own: they hand their descriptors to a loop, which
// calls back when data is there. The application supplies a watcher on its
// Qt event loop, and the Linux adapter's epoll loop runs its key path; tools
// and tests use that epoll loop as their main loop.
#pragma once

#include <cstdint>
#include <functional>

namespace chordwell::platform {

class FdWatcher {
public:
    using WatchId = std::uint64_t; // 0 is never a valid id

    virtual ~FdWatcher() = default;
    /// Calls `onReadable` on the loop's thread whenever `fd` is readable (or
    /// in error: the callback then sees the error when it reads, and
    /// unwatches). The descriptor stays owned by the caller.
    virtual WatchId watchReadable(int fd, std::function<void()> onReadable) = 0;
    /// Stops watching; unknown ids are ignored. Safe from inside a callback.
    virtual void unwatch(WatchId id) = 0;
};

} // namespace chordwell::platform
