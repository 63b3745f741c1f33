// Which Chordwell process may grab a keyboard. The application and the
// background mode (chordwellctl run) must never grab the same keyboard at
// once: they would fight over its keys. Each keyboard has a lock file in the
// user's runtime folder ($XDG_RUNTIME_DIR/chordwell, else
// /tmp/chordwell-<uid>), held with flock(2) for as long as the grab lasts,
// and naming its holder so that the process that comes second can say who
// has the keyboard. The kernel drops the lock when the holder dies, so a
// crash never leaves a keyboard locked, and a lock file that is anything but
// a regular file (a FIFO, a folder) is moved aside instead of waited on.
#pragma once

#include "fileio/file_io.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace chordwell::platform::lnx {

/// A held keyboard lock; the lock is released when the last reference goes.
/// Within one process the same keyboard's lock is shared (every acquire of
/// a keyboard this process already holds succeeds).
class KeyboardLock {
public:
    ~KeyboardLock();
    KeyboardLock(const KeyboardLock&) = delete;
    KeyboardLock& operator=(const KeyboardLock&) = delete;

    const std::string& name() const { return name_; }

private:
    friend struct KeyboardLockAccess;
    KeyboardLock(std::string name, fileio::FileLock lock)
        : name_(std::move(name)), lock_(std::move(lock)) {}
    std::string name_;
    fileio::FileLock lock_;
};

struct KeyboardLockResult {
    /// The lock, when this process holds it now.
    std::shared_ptr<KeyboardLock> lock;
    /// Another process holds it: "chordwellctl (process 1234)".
    std::optional<std::string> heldBy;
};

/// Takes the lock of the keyboard `name` (its event node's name, "event5").
/// When no lock file can be made (no runtime folder) the keyboard counts as
/// free: `lock` and `heldBy` are both empty.
KeyboardLockResult acquireKeyboardLock(const std::string& name);

/// The folder of the lock files (created with mode 0700 when missing).
std::optional<std::filesystem::path> keyboardLockFolder();

} // namespace chordwell::platform::lnx
