// The file side of the log: the writer thread's view of chordwell.log and
// chordwell.log.1 (opening, rotating, whole-line writes, reading back).
#include "logging/log_file.hpp"

#include "fileio/file_io.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace chordwell::logging {
namespace fs = std::filesystem;

namespace {

// One file's share of readAll: its end, starting on a whole line when the
// beginning had to be left out. Missing, unreadable or refused: nothing.
std::string readTail(const fs::path& path) {
    bool truncated = false;
    std::error_code error;
    auto text = fileio::readRegularFileTail(path, LogFile::maxReadBytes, truncated, error);
    if (!text) {
        return {};
    }
    if (truncated) {
        const std::size_t eol = text->find('\n');
        text->erase(0, eol == std::string::npos ? text->size() : eol + 1);
    }
    return std::move(*text);
}

} // namespace

LogFile::Writer::Writer(std::optional<fs::path> directory) : directory_(std::move(directory)) {}

LogFile::Writer::~Writer() {
    close();
}

void LogFile::Writer::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void LogFile::Writer::setDirectory(std::optional<fs::path> directory) {
    close();
    directory_ = std::move(directory);
    tornLine_ = false;
    failureReported_ = false;
    rotationNoted_ = false;
    if (directory_) {
        // First creations of a log file that a crash interrupted.
        fileio::removeStaleTemporaryFiles(*directory_);
    }
}

void LogFile::Writer::failed(const std::string& why) {
    if (failureReported_) {
        return;
    }
    failureReported_ = true;
    if (reporter) {
        const fs::path current = *directory_ / currentFileName;
        reporter("The log file " + current.string() + " could not be written (" + why +
                 "); log lines are lost until it can.");
    }
}

bool LogFile::Writer::rotate() {
    std::error_code error;
    fs::remove(*directory_ / previousFileName, error);
    fs::rename(*directory_ / currentFileName, *directory_ / previousFileName, error);
    return !error;
}

bool LogFile::Writer::openCurrent(const std::string& firstLine, bool& lineWritten) {
    lineWritten = false;
    const fs::path current = *directory_ / currentFileName;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Non-blocking: a FIFO in the file's place must never stall the
        // writer (and with it the process at exit).
        fd_ = ::open(current.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) {
            break;
        }
        struct stat attributes {};
        if (::fstat(fd_, &attributes) != 0 || !S_ISREG(attributes.st_mode)) {
            close();
            failed("it is not a regular file");
            return false;
        }
        size_ = attributes.st_size;
        if (size_ < maxBytes) {
            // A line cut short earlier (a full disk, a crash) gets its end,
            // so that the next line starts on a line of its own.
            if (size_ > 0) {
                const int reader = ::open(current.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                char last = '\n';
                if (reader >= 0 && ::pread(reader, &last, 1, size_ - 1) == 1 && last != '\n') {
                    tornLine_ = true;
                }
                if (reader >= 0) {
                    ::close(reader);
                }
            }
            return true;
        }
        close();
        if (attempt == 0 && rotate()) {
            rotationNoted_ = false;
            continue;
        }
        // Rotation is impossible (".1" is a folder, say). The log must not
        // grow without bound: one line says so, then lines are dropped.
        failed("it cannot be rotated");
        if (!rotationNoted_) {
            rotationNoted_ = true;
            fd_ = ::open(current.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
            if (fd_ >= 0) {
                const std::string note = formatLine(
                    std::chrono::system_clock::now(), LogLevel::error, "logging",
                    "The log file cannot be rotated; later lines are dropped until it can.");
                fileio::writeAll(fd_, note.data(), note.size());
                close();
            }
        }
        return false;
    }
    if (errno != ENOENT) {
        failed(std::strerror(errno));
        return false;
    }
    // No current file: the folder may be missing too (first line ever, or
    // removed by the user); creating it again is harmless. The first line
    // arrives whole or not at all.
    std::error_code error;
    fs::create_directories(*directory_, error);
    if (!fileio::writeFileAtomically(current, firstLine, error)) {
        failed(error.message());
        return false;
    }
    lineWritten = true;
    tornLine_ = false;
    size_ = static_cast<std::int64_t>(firstLine.size());
    fd_ = ::open(current.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
    return true;
}

void LogFile::Writer::write(const std::string& line) {
    if (!directory_) {
        return;
    }
    if (fd_ >= 0 && size_ >= maxBytes) {
        close(); // reopening rotates
    }
    if (fd_ < 0) {
        bool lineWritten = false;
        if (!openCurrent(line, lineWritten)) {
            return;
        }
        if (lineWritten) {
            succeeded();
            return;
        }
    }
    // Whole lines or nothing: a line the disk could only take part of is
    // cut off again, so no reader ever sees half a line.
    const char* data = line.data();
    std::size_t size = line.size();
    std::string mended;
    if (tornLine_) {
        mended.reserve(line.size() + 1);
        mended += '\n';
        mended += line;
        data = mended.data();
        size = mended.size();
    }
    if (fileio::writeAll(fd_, data, size)) {
        size_ += static_cast<std::int64_t>(size);
        tornLine_ = false;
        succeeded();
        return;
    }
    const std::string why = std::strerror(errno);
    if (::ftruncate(fd_, size_) != 0) {
        tornLine_ = true; // the next line starts with the missing newline
    }
    close();
    failed(why);
}

std::string LogFile::Writer::readAll() {
    if (!directory_) {
        return {};
    }
    return readTail(*directory_ / previousFileName) + readTail(*directory_ / currentFileName);
}

std::optional<fs::path> LogFile::Writer::currentFile() const {
    if (!directory_) {
        return std::nullopt;
    }
    fs::path current = *directory_ / currentFileName;
    std::error_code error;
    if (!fs::exists(current, error)) {
        return std::nullopt;
    }
    return current;
}

} // namespace chordwell::logging
