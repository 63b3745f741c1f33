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

// Opens a FILE argument without blocking, so that a FIFO with no writer
// cannot hang us before we see what it is, and accepts only a regular file.
// The descriptor, or -1 with `failure` set.
int openRegular(const std::string& path, InputFailure& failure, struct stat& info) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        fail(failure, std::string("cannot open: ") + std::strerror(errno));
        return -1;
    }
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        fail(failure, std::string("cannot read: ") + std::strerror(error));
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        refuse(failure, S_ISDIR(info.st_mode) ? "is a folder, not a file" : "not a regular file");
        return -1;
    }
    return fd;
}

} // namespace

bool InputPieces::open(const std::string& path, std::istream& in, InputFailure& failure) {
    if (path == "-") {
        stream_ = &in;
        return true;
    }
    struct stat info {};
    fd_ = openRegular(path, failure, info);
    return fd_ >= 0;
}

InputPieces::~InputPieces() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool InputPieces::next(std::string_view& piece, InputFailure& failure) {
    piece = {};
    if (fd_ >= 0) {
        for (;;) {
            const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return fail(failure, std::string("cannot read: ") + std::strerror(errno));
            }
            piece = std::string_view(buffer_, static_cast<std::size_t>(n));
            return true;
        }
    }
    if (stream_ == nullptr) {
        return true;
    }
    // Up to the end of the line (or of the buffer), then the newline itself:
    // a pipe's reader gets each command as soon as its line is complete.
    std::istream& in = *stream_;
    in.get(buffer_, sizeof buffer_ - 1, '\n');
    auto got = static_cast<std::size_t>(in.gcount());
    if (in.bad()) {
        return fail(failure, "cannot read standard input");
    }
    if (!in.eof()) {
        // get() fails when it stored nothing (an empty line): that is fine.
        in.clear(in.rdstate() & ~std::ios::failbit);
        if (in.peek() == '\n') {
            in.ignore(1);
            buffer_[got++] = '\n';
        }
        if (in.bad()) {
            return fail(failure, "cannot read standard input");
        }
    }
    piece = std::string_view(buffer_, got);
    if (got == 0 && !in.eof()) {
        // Nothing stored and no newline: cannot happen with a buffer of
        // more than one byte, but never report a false end.
        return fail(failure, "cannot read standard input");
    }
    return true;
}

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
