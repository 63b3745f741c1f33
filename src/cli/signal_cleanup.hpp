// Removing a temporary folder when the process is told to stop.
#pragma once

#include <filesystem>
#include <thread>

namespace chordwell::cli {

/// While it lives, SIGTERM, SIGINT, SIGHUP and SIGPIPE first remove `folder`
/// (with everything in it), then end the process by that signal as they would
/// have without it, so that callers still see how it ended. Signals the
/// process was told to ignore stay ignored. One instance at a time.
class RemoveFolderOnSignal {
public:
    explicit RemoveFolderOnSignal(std::filesystem::path folder);
    ~RemoveFolderOnSignal();
    RemoveFolderOnSignal(const RemoveFolderOnSignal&) = delete;
    RemoveFolderOnSignal& operator=(const RemoveFolderOnSignal&) = delete;

private:
    void watch();

    std::filesystem::path folder_;
    int pipe_[2] = {-1, -1};
    bool installed_[4] = {};
    std::thread watcher_;
};

} // namespace chordwell::cli
