// Changes of files in one folder, read on the main loop: the background
// mode reloads a mapping file that was edited on disk, and the platform
// notices when /dev/uinput appears or changes its permissions. Nothing
// polls: the inotify descriptor wakes the loop only when something changed.
#pragma once

#include "ports/fd_watcher.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <system_error>

namespace chordwell::platform::lnx {

class InotifyWatch {
public:
    /// Called with the name of the file inside the folder that changed.
    using Callback = std::function<void(std::string_view name)>;

    /// Watches `folder` for the inotify events of `mask` (IN_CLOSE_WRITE,
    /// IN_MOVED_TO, ...). Nothing, with `error` set, when the folder cannot
    /// be watched.
    static std::unique_ptr<InotifyWatch> create(std::shared_ptr<FdWatcher> watcher,
                                                const std::filesystem::path& folder,
                                                std::uint32_t mask, Callback callback,
                                                std::error_code& error);
    ~InotifyWatch();
    InotifyWatch(const InotifyWatch&) = delete;
    InotifyWatch& operator=(const InotifyWatch&) = delete;

private:
    InotifyWatch(std::shared_ptr<FdWatcher> watcher, int fd, Callback callback);
    void onReadable();

    std::shared_ptr<FdWatcher> watcher_;
    int fd_ = -1;
    FdWatcher::WatchId watch_ = 0;
    Callback callback_;
};

} // namespace chordwell::platform::lnx
