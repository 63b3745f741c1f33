#include "fileio/file_io.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace chordwell::fileio {
namespace fs = std::filesystem;

namespace {

class FileErrorCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "chordwell.file"; }
    std::string message(int value) const override {
        switch (static_cast<FileError>(value)) {
        case FileError::notRegularFile:
            return "not a regular file";
        case FileError::tooLarge:
            return "file is too large";
        case FileError::noFreeName:
            return "too many earlier copies";
        }
        return "unknown file error";
    }
};

std::error_code lastError() {
    return std::error_code(errno, std::generic_category());
}

// Closes a descriptor when the scope ends.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    /// Hands the descriptor over; it is not closed here any more.
    int release() { return std::exchange(fd_, -1); }
    /// Closes now; false when close reports an error (data may be lost).
    /// Not retried after EINTR: the descriptor is gone either way.
    bool close() {
        if (fd_ < 0) {
            return true;
        }
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

private:
    int fd_;
};

int openRetrying(const char* path, int flags, mode_t mode = 0) {
    for (;;) {
        const int fd = ::open(path, flags, mode);
        if (fd >= 0 || errno != EINTR) {
            return fd;
        }
    }
}

bool fsyncRetrying(int fd) {
    for (;;) {
        if (::fsync(fd) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

// Opens `path` for reading without ever blocking on a FIFO or device, and
// accepts it only when it is a regular file.
FileDescriptor openRegularForReading(const fs::path& path, struct stat& attributes,
                                     std::error_code& error) {
    FileDescriptor fd(openRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        error = lastError();
        return fd;
    }
    if (::fstat(fd.get(), &attributes) != 0) {
        error = lastError();
        fd.close();
        return fd;
    }
    if (!S_ISREG(attributes.st_mode)) {
        error = FileError::notRegularFile;
        fd.close();
    }
    return fd;
}

// Reads at most `limit` bytes from the current position; `more` tells
// whether anything was left.
bool readUpTo(int fd, std::uintmax_t limit, std::string& bytes, bool& more,
              std::error_code& error) {
    char buffer[16384];
    more = false;
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = lastError();
            return false;
        }
        if (count == 0) {
            return true;
        }
        const auto got = static_cast<std::size_t>(count);
        const std::uintmax_t room = limit - bytes.size();
        if (got > room) {
            bytes.append(buffer, static_cast<std::size_t>(room));
            more = true;
            return true;
        }
        bytes.append(buffer, got);
    }
}

fs::path temporarySibling(const fs::path& target) {
    static std::atomic<std::uint64_t> counter{0};
    // Not std::random_device: it may throw where the system has no entropy
    // source. Uniqueness comes from the pid, the counter and O_EXCL; the salt
    // only spreads names of processes that reuse a pid.
    static const auto salt =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::uint64_t n = ++counter;
    return target.parent_path() /
           ("." + target.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
            std::to_string((salt ^ (n * 0x9E3779B97F4A7C15ULL)) % 1000000) + "-" +
            std::to_string(n));
}

// Renames without ever replacing an existing file. False with EEXIST when
// `to` is taken.
bool renameNoReplace(const fs::path& from, const fs::path& to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return false;
    }
#elif defined(__APPLE__)
    if (::renamex_np(from.c_str(), to.c_str(), RENAME_EXCL) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOTSUP) {
        return false;
    }
#endif
    // The file system cannot rename exclusively: check, then rename. Only
    // another process creating the same unusual name in between could lose.
    struct stat attributes {};
    if (::lstat(to.c_str(), &attributes) == 0) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT) {
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool allDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

} // namespace

const std::error_category& fileErrorCategory() {
    static const FileErrorCategory category;
    return category;
}

std::error_code make_error_code(FileError error) {
    return std::error_code(static_cast<int>(error), fileErrorCategory());
}

fs::path resolveRegularLink(const fs::path& path) {
    std::error_code error;
    fs::path current = path;
    // Follow the chain by hand: canonical() fails on a link whose target is
    // not there yet, and such a link is still the user's choice of place.
    for (int hops = 0; hops < 40; ++hops) {
        if (!fs::is_symlink(fs::symlink_status(current, error))) {
            break;
        }
        const fs::path target = fs::read_symlink(current, error);
        if (error) {
            return path;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    if (current == path) {
        return path;
    }
    const auto status = fs::symlink_status(current, error);
    if (status.type() == fs::file_type::regular ||
        (status.type() == fs::file_type::not_found &&
         fs::is_directory(current.parent_path(), error))) {
        return current.lexically_normal();
    }
    return path;
}

std::optional<std::string> readRegularFile(const fs::path& path, std::uintmax_t maxBytes,
                                           std::error_code& error) {
    error.clear();
    struct stat attributes {};
    FileDescriptor fd = openRegularForReading(path, attributes, error);
    if (!fd.valid()) {
        return std::nullopt;
    }
    if (attributes.st_size < 0 || static_cast<std::uintmax_t>(attributes.st_size) > maxBytes) {
        error = FileError::tooLarge;
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(attributes.st_size));
    bool more = false;
    if (!readUpTo(fd.get(), maxBytes, bytes, more, error)) {
        return std::nullopt;
    }
    if (more) {
        error = FileError::tooLarge;
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> readRegularFileTail(const fs::path& path, std::uintmax_t maxBytes,
                                               bool& truncated, std::error_code& error) {
    error.clear();
    truncated = false;
    struct stat attributes {};
    FileDescriptor fd = openRegularForReading(path, attributes, error);
    if (!fd.valid()) {
        return std::nullopt;
    }
    if (attributes.st_size > 0 && static_cast<std::uintmax_t>(attributes.st_size) > maxBytes) {
        const auto start =
            static_cast<off_t>(static_cast<std::uintmax_t>(attributes.st_size) - maxBytes);
        if (::lseek(fd.get(), start, SEEK_SET) < 0) {
            error = lastError();
            return std::nullopt;
        }
        truncated = true;
    }
    std::string bytes;
    bool more = false;
    if (!readUpTo(fd.get(), maxBytes, bytes, more, error)) {
        return std::nullopt;
    }
    return bytes;
}

bool writeFileAtomically(const fs::path& path, std::string_view bytes, std::error_code& error,
                         std::optional<fs::perms> forcedMode) {
    error.clear();
    const fs::path target = resolveRegularLink(path);

    // The permission bits of the file being replaced survive the save (a
    // user's chmod 600 on a file of their own stays).
    std::optional<mode_t> keptMode;
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        keptMode = existing.st_mode & 07777;
    }
    if (forcedMode) {
        keptMode = static_cast<mode_t>(*forcedMode) & 07777;
    }

    fs::path temporary;
    int rawFd = -1;
    for (int attempt = 0; attempt < 100 && rawFd < 0; ++attempt) {
        temporary = temporarySibling(target);
        // 0666 filtered by the umask, like any file a program creates.
        rawFd = openRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (rawFd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (rawFd < 0) {
        error = lastError();
        return false;
    }
    FileDescriptor fd(rawFd);

    auto fail = [&](std::error_code cause) {
        fd.close();
        ::unlink(temporary.c_str());
        error = cause;
        return false;
    };

    if (keptMode && ::fchmod(fd.get(), *keptMode) != 0) {
        return fail(lastError());
    }
    if (!writeAll(fd.get(), bytes.data(), bytes.size())) {
        return fail(lastError());
    }
    if (!fsyncRetrying(fd.get())) {
        return fail(lastError());
    }
    if (!fd.close()) {
        return fail(lastError());
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        return fail(lastError());
    }
    // Make the rename itself durable; a failure here leaves a complete file
    // either way, so it is not reported.
    fs::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    FileDescriptor directory(openRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid()) {
        fsyncRetrying(directory.get());
    }
    return true;
}

std::optional<fs::path> moveAside(const fs::path& file, std::string_view suffix,
                                  std::error_code& error) {
    return moveEntryAside(resolveRegularLink(file), suffix, error);
}

std::optional<fs::path> moveEntryAside(const fs::path& source, std::string_view suffix,
                                       std::error_code& error) {
    error.clear();
    const std::string baseName = source.filename().string() + std::string(suffix);
    constexpr int kMaxCopies = 1000;
    for (int attempt = 1; attempt <= kMaxCopies; ++attempt) {
        const fs::path candidate =
            source.parent_path() /
            (attempt == 1 ? baseName : baseName + "-" + std::to_string(attempt));
        if (renameNoReplace(source, candidate)) {
            return candidate;
        }
        if (errno != EEXIST) {
            error = lastError();
            return std::nullopt;
        }
    }
    error = FileError::noFreeName;
    return std::nullopt;
}

std::optional<long> temporaryFileOwner(std::string_view name) {
    // ".<name>.tmp-<pid>-<salt>-<counter>"
    if (name.size() < 2 || name.front() != '.') {
        return std::nullopt;
    }
    const std::size_t marker = name.rfind(".tmp-");
    if (marker == std::string_view::npos || marker < 2) {
        return std::nullopt;
    }
    std::string_view rest = name.substr(marker + 5);
    std::string_view parts[3];
    for (int i = 0; i < 3; ++i) {
        const std::size_t dash = i < 2 ? rest.find('-') : rest.size();
        if (dash == std::string_view::npos) {
            return std::nullopt;
        }
        parts[i] = rest.substr(0, dash);
        rest = i < 2 ? rest.substr(dash + 1) : std::string_view();
        if (!allDigits(parts[i])) {
            return std::nullopt;
        }
    }
    if (parts[0].size() > 9) {
        return std::nullopt;
    }
    return std::stol(std::string(parts[0]));
}

bool processIsGone(long pid) {
    if (pid <= 0 || pid == static_cast<long>(::getpid())) {
        return false;
    }
    // Only a process that is certainly gone: EPERM means it exists.
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

namespace {

// Removes the temporary files in `folder` whose name `ours` accepts.
template <typename Ours> std::size_t removeStaleTemporaries(const fs::path& folder, Ours ours) {
    std::size_t removed = 0;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) {
        return 0;
    }
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) {
            break;
        }
        const fs::path entry = it->path();
        const std::string name = entry.filename().native();
        const auto owner = temporaryFileOwner(name);
        if (!owner || !ours(name)) {
            continue;
        }
        struct stat attributes {};
        if (::lstat(entry.c_str(), &attributes) != 0 || !S_ISREG(attributes.st_mode) ||
            attributes.st_uid != ::geteuid() || !processIsGone(*owner)) {
            continue;
        }
        if (::unlink(entry.c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

} // namespace

std::size_t removeStaleTemporaryFiles(const fs::path& folder) {
    return removeStaleTemporaries(folder, [](const std::string&) { return true; });
}

std::size_t removeStaleTemporaryFilesOf(const fs::path& file) {
    const std::string prefix = "." + file.filename().string() + ".tmp-";
    return removeStaleTemporaries(
        file.parent_path().empty() ? fs::path(".") : file.parent_path(),
        [&](const std::string& name) { return name.compare(0, prefix.size(), prefix) == 0; });
}

std::size_t removeStaleProcessFolders(const fs::path& base, std::string_view prefix) {
    std::size_t removed = 0;
    std::error_code error;
    fs::directory_iterator it(base, error);
    if (error) {
        return 0;
    }
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) {
            break;
        }
        const fs::path entry = it->path();
        const std::string name = entry.filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        const std::string_view rest = std::string_view(name).substr(prefix.size());
        const std::size_t dash = rest.find('-');
        if (dash == std::string_view::npos || dash > 9 || !allDigits(rest.substr(0, dash))) {
            continue;
        }
        struct stat attributes {};
        if (::lstat(entry.c_str(), &attributes) != 0 || !S_ISDIR(attributes.st_mode) ||
            attributes.st_uid != ::geteuid() ||
            !processIsGone(std::stol(std::string(rest.substr(0, dash))))) {
            continue;
        }
        std::error_code removeError;
        if (fs::remove_all(entry, removeError) > 0 && !removeError) {
            ++removed;
        }
    }
    return removed;
}

// ---------------------------------------------------------------- lock files

FileLock::FileLock(FileLock&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        FileLock gone(std::move(*this));
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FileLock::~FileLock() {
    if (fd_ < 0) {
        return;
    }
    // Emptied first: a reader that opens it between our unlock and our
    // close must not name a process that let go.
    if (::ftruncate(fd_, 0) != 0) {
        // The lock goes all the same.
    }
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
}

FileLockAttempt tryLockFile(const fs::path& path, std::string_view content) {
    FileLockAttempt attempt;
    // Two rounds at most: a first entry that is no regular file is moved
    // aside, and then the lock file is made afresh.
    for (int round = 0; round < 3; ++round) {
        bool unusable = false;
        const int fd = openRetrying(
            path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd < 0) {
            // A link (ELOOP), a folder (EISDIR), a socket (ENXIO): not ours
            // to lock, but not a reason to keep anyone out either.
            if (errno != ELOOP && errno != EISDIR && errno != ENXIO && errno != EMLINK) {
                attempt.error = lastError();
                return attempt;
            }
            unusable = true;
        } else {
            FileDescriptor file(fd);
            struct stat attributes {};
            if (::fstat(file.get(), &attributes) != 0) {
                attempt.error = lastError();
                return attempt;
            }
            if (S_ISREG(attributes.st_mode)) {
                int locked = 0;
                do {
                    locked = ::flock(file.get(), LOCK_EX | LOCK_NB);
                } while (locked != 0 && errno == EINTR);
                if (locked != 0) {
                    if (errno == EWOULDBLOCK) {
                        attempt.heldElsewhere = true;
                        char text[kMaxLockText];
                        const ssize_t n = ::pread(file.get(), text, sizeof text, 0);
                        if (n > 0) {
                            attempt.holderText.assign(text, static_cast<std::size_t>(n));
                        }
                    } else {
                        attempt.error = lastError(); // a file system without locks
                    }
                    return attempt;
                }
                if (::ftruncate(file.get(), 0) != 0 ||
                    ::pwrite(file.get(), content.data(), content.size(), 0) !=
                        static_cast<ssize_t>(content.size())) {
                    // Held without the holder's name: the next process just
                    // cannot say who holds it.
                }
                attempt.lock.emplace(FileLock(path, file.release()));
                return attempt;
            }
            unusable = true; // a FIFO or a device
        }
        if (unusable) {
            std::error_code moveError;
            auto aside = moveEntryAside(path, ".unusable", moveError);
            if (aside) {
                attempt.setAside = std::move(aside);
            } else if (moveError != std::errc::no_such_file_or_directory) {
                // Someone else may have moved it; anything else is final.
                attempt.error = moveError;
                return attempt;
            }
        }
    }
    attempt.error = std::make_error_code(std::errc::resource_unavailable_try_again);
    return attempt;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace chordwell::fileio
