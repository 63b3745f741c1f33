#include "platform/linux/keyboard_lock.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string describeHolder(int fd) {
    std::string text;
    char buffer[256];
    ssize_t n = 0;
    ::lseek(fd, 0, SEEK_SET);
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < 1024) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    std::istringstream in(text);
    std::string pid;
    std::string program;
    std::getline(in, pid);
    std::getline(in, program);
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
        return "another Chordwell process";
    }
    if (program.empty()) {
        program = "Chordwell";
    }
    return program + " (process " + pid + ")";
}

bool usableName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

} // namespace

struct KeyboardLockAccess {
    static std::shared_ptr<KeyboardLock> make(std::string name, int fd) {
        return std::shared_ptr<KeyboardLock>(new KeyboardLock(std::move(name), fd));
    }
};

KeyboardLock::~KeyboardLock() {
    if (fd_ >= 0) {
        // Empty the file first: a reader that opens it between our unlock
        // and our close must not name a process that let go.
        if (::ftruncate(fd_, 0) != 0) {
            // Nothing else to do: the lock is dropped all the same.
        }
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
}

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
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return result;
    }
    int rc = 0;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        // Only a lock someone holds refuses the keyboard; a file system
        // without locks does not.
        if (errno == EWOULDBLOCK) {
            result.heldBy = describeHolder(fd);
        }
        ::close(fd);
        return result;
    }
    const std::string content = std::to_string(::getpid()) + "\n" + programName() + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, content.data(), content.size(), 0) != static_cast<ssize_t>(content.size())) {
        // The lock holds without the holder's name; the other side then
        // says "another Chordwell process".
    }
    result.lock = KeyboardLockAccess::make(name, fd);
    reg.held[name] = result.lock;
    return result;
}

} // namespace chordwell::platform::lnx
