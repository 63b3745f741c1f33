#include "cli/file_input.hpp"

#include "cli/commands.hpp"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace chordwell::cli {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool refuse(InputFailure& failure, std::string message) {
    failure = {std::move(message), kExitUsage};
    return false;
}

bool fail(InputFailure& failure, std::string message) {
    failure = {std::move(message), kExitFailure};
    return false;
}

std::string tooLarge() {
    return "file is larger than " + std::to_string(kMaxInputBytes / (1024 * 1024)) + " MiB";
}

bool readStream(std::istream& in, std::string& text, InputFailure& failure) {
    char buffer[64 * 1024];
    while (in) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxInputBytes) {
            text.clear();
            return refuse(failure, "standard input is larger than " +
                                       std::to_string(kMaxInputBytes / (1024 * 1024)) + " MiB");
        }
    }
    if (in.bad()) {
        return fail(failure, "cannot read standard input");
    }
    return true;
}

} // namespace

bool readInput(const std::string& path, std::istream& in, std::string& text,
               InputFailure& failure) {
    text.clear();
    if (path == "-") {
        return readStream(in, text, failure);
    }
    // Opened without blocking, so that a FIFO with no writer cannot hang us
    // before we see what it is.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) {
        return fail(failure, std::string("cannot open: ") + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        return fail(failure, std::string("cannot read: ") + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return refuse(failure,
                      S_ISDIR(info.st_mode) ? "is a folder, not a file" : "not a regular file");
    }
    if (static_cast<std::uintmax_t>(info.st_size) > kMaxInputBytes) {
        return refuse(failure, tooLarge());
    }
    // Bounded even if the file grows while it is read.
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            text.clear();
            return fail(failure, std::string("cannot read: ") + std::strerror(error));
        }
        if (n == 0) {
            return true;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxInputBytes) {
            text.clear();
            return refuse(failure, tooLarge());
        }
    }
}

} // namespace chordwell::cli
