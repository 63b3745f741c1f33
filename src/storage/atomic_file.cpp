#include "storage/atomic_file.hpp"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace chordwell::storage {
namespace fs = std::filesystem;

namespace {

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

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    /// Closes now; false when close reports an error (data may be lost).
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

fs::path temporarySibling(const fs::path& target) {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t salt = std::random_device{}();
    fs::path name = "." + target.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                    std::to_string(salt % 1000000) + "-" + std::to_string(++counter);
    return target.parent_path() / name;
}

} // namespace

std::optional<std::string> readFile(const fs::path& path, std::error_code& error) {
    error.clear();
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        error = lastError();
        return std::nullopt;
    }
    std::string bytes;
    struct stat attributes {};
    if (::fstat(fd.get(), &attributes) == 0 && attributes.st_size > 0) {
        bytes.reserve(static_cast<std::size_t>(attributes.st_size));
    }
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = lastError();
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return bytes;
}

bool writeFileAtomically(const fs::path& path, std::string_view bytes, std::error_code& error) {
    error.clear();
    fs::path temporary;
    int rawFd = -1;
    for (int attempt = 0; attempt < 100 && rawFd < 0; ++attempt) {
        temporary = temporarySibling(path);
        rawFd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
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
        std::error_code ignored;
        fs::remove(temporary, ignored);
        error = cause;
        return false;
    };

    const char* data = bytes.data();
    std::size_t remaining = bytes.size();
    while (remaining > 0) {
        const ssize_t written = ::write(fd.get(), data, remaining);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(lastError());
        }
        data += written;
        remaining -= static_cast<std::size_t>(written);
    }
    if (::fsync(fd.get()) != 0) {
        return fail(lastError());
    }
    if (!fd.close()) {
        return fail(lastError());
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return fail(lastError());
    }
    // Make the rename itself durable; a failure here leaves a complete file
    // either way, so it is not reported.
    fs::path folder = path.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid()) {
        ::fsync(directory.get());
    }
    return true;
}

} // namespace chordwell::storage
