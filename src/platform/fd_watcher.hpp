// Watching file descriptors for readability on the main thread. Adapters that
// read descriptors (on Linux: the udev monitor, evdev nodes, the virtual
// keyboard) never poll in a loop of their own: they hand their descriptors to
// the main loop, which calls back when data is there. The application
// supplies a watcher on its Qt event loop; tools and tests use the Linux
// adapter's poll(2) loop.
#pragma once

#include <cstdint>
#include <functional>

namespace chordwell::platform {

class FdWatcher {
public:
    using WatchId = std::uint64_t; // 0 is never a valid id

    virtual ~FdWatcher() = default;
    /// Calls `onReadable` on the main thread whenever `fd` is readable (or
    /// in error: the callback then sees the error when it reads, and
    /// unwatches). The descriptor stays owned by the caller.
    virtual WatchId watchReadable(int fd, std::function<void()> onReadable) = 0;
    /// Stops watching; unknown ids are ignored. Safe from inside a callback.
    virtual void unwatch(WatchId id) = 0;
};

} // namespace chordwell::platform
