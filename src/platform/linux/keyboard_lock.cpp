#include "platform/linux/keyboard_lock.hpp"

#include "fileio/file_io.hpp"
#include "logging/log.hpp"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace chordwell::platform::lnx {
namespace fs = std::filesystem;

namespace {

struct Registry {
    std::mutex mutex;
    pid_t owner = 0; // the process the entries belong to
    std::map<std::string, std::weak_ptr<KeyboardLock>> held;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

// The name of this program as the other process will read it.
std::string programName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? std::string("chordwell") : name;
}

// "chordwellctl (process 1234)" from what the holder wrote: its process id
// and program name, one a line. The text is bounded and may be anything.
std::string describeHolder(const std::string& text) {
    std::istringstream in(text);
    std::string pid;
    std::string program;
    std::getline(in, pid);
    std::getline(in, program);
    if (pid.empty() || pid.size() > 10 ||
        pid.find_first_not_of("0123456789") != std::string::npos) {
        return "another Chordwell process";
    }
    if (program.empty() || program.size() > 32 ||
        !std::all_of(program.begin(), program.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '-' || c == '_' || c == '.';
        })) {
        program = "Chordwell";
    }
    return program + " (process " + pid + ")";
}

bool usableName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

} // namespace

struct KeyboardLockAccess {
    static std::shared_ptr<KeyboardLock> make(std::string name, fileio::FileLock lock) {
        return std::shared_ptr<KeyboardLock>(new KeyboardLock(std::move(name), std::move(lock)));
    }
};

KeyboardLock::~KeyboardLock() = default;

std::optional<fs::path> keyboardLockFolder() {
    fs::path folder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        folder = fs::path(runtime) / "chordwell";
    } else {
        folder = fs::path("/tmp") / ("chordwell-" + std::to_string(::getuid()));
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::nullopt;
    }
    // In a shared /tmp the folder must be ours, or another user could steer
    // (or block) our locks.
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid()) {
        return std::nullopt;
    }
    return folder;
}

KeyboardLockResult acquireKeyboardLock(const std::string& name) {
    KeyboardLockResult result;
    if (!usableName(name)) {
        return result;
    }
    Registry& reg = registry();
    std::lock_guard guard(reg.mutex);
    if (reg.owner != ::getpid()) {
        // A forked child inherits the entries but not the right to them:
        // the locks are its parent's.
        reg.held.clear();
        reg.owner = ::getpid();
    }
    if (auto it = reg.held.find(name); it != reg.held.end()) {
        if (auto held = it->second.lock()) {
            result.lock = std::move(held);
            return result;
        }
        reg.held.erase(it);
    }
    const auto folder = keyboardLockFolder();
    if (!folder) {
        return result;
    }
    const fs::path file = *folder / ("keyboard-" + name + ".lock");
    // Never waits: a FIFO or a folder in place of the lock file is moved
    // aside, and what the holder wrote is read with a bound.
    fileio::FileLockAttempt attempt =
        fileio::tryLockFile(file, std::to_string(::getpid()) + "\n" + programName() + "\n");
    if (attempt.setAside) {
        log(LogLevel::warning,
            "Keyboard lock " + file.string() + " was not a regular file; moved it to " +
                attempt.setAside->string() + ".",
            "keyboard");
    }
    if (attempt.lock) {
        result.lock = KeyboardLockAccess::make(name, std::move(*attempt.lock));
        reg.held[name] = result.lock;
    } else if (attempt.heldElsewhere) {
        result.heldBy = describeHolder(attempt.holderText);
    }
    // Otherwise (a file system without locks, a folder we cannot write) the
    // keyboard counts as free.
    return result;
}

} // namespace chordwell::platform::lnx
