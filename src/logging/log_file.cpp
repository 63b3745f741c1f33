#include "logging/log_file.hpp"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace chordwell::logging {
namespace fs = std::filesystem;

namespace {

void putDigits(char* out, unsigned value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// Writes the whole buffer, retrying after signals and short writes.
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

std::string readFileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return in.bad() ? std::string() : std::move(text).str();
}

// A brand-new current file is written whole under a temporary name and then
// renamed, so that no half-written first line is ever visible.
bool createFileAtomically(const fs::path& target, const std::string& content) {
    static std::atomic<std::uint64_t> counter{0};
    fs::path temporary = target;
    temporary += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = writeAll(fd, content.data(), content.size());
    const bool closed = ::close(fd) == 0;
    std::error_code error;
    if (written && closed) {
        fs::rename(temporary, target, error);
        if (!error) {
            return true;
        }
    }
    fs::remove(temporary, error);
    return false;
}

} // namespace

std::string formatTimestamp(std::chrono::system_clock::time_point time, bool fractionalSeconds) {
    using namespace std::chrono;
    const auto milliseconds = floor<std::chrono::milliseconds>(time);
    const auto day = floor<days>(milliseconds);
    const year_month_day date{day};
    const hh_mm_ss<std::chrono::milliseconds> clock{milliseconds - day};

    // "YYYY-MM-DDTHH:MM:SS.mmmZ"
    std::array<char, 24> buffer{};
    const int yearValue = static_cast<int>(date.year());
    putDigits(buffer.data(), static_cast<unsigned>(yearValue < 0 ? 0 : yearValue), 4);
    buffer[4] = '-';
    putDigits(buffer.data() + 5, static_cast<unsigned>(date.month()), 2);
    buffer[7] = '-';
    putDigits(buffer.data() + 8, static_cast<unsigned>(date.day()), 2);
    buffer[10] = 'T';
    putDigits(buffer.data() + 11, static_cast<unsigned>(clock.hours().count()), 2);
    buffer[13] = ':';
    putDigits(buffer.data() + 14, static_cast<unsigned>(clock.minutes().count()), 2);
    buffer[16] = ':';
    putDigits(buffer.data() + 17, static_cast<unsigned>(clock.seconds().count()), 2);
    std::size_t length = 19;
    if (fractionalSeconds) {
        buffer[19] = '.';
        putDigits(buffer.data() + 20, static_cast<unsigned>(clock.subseconds().count()), 3);
        length = 23;
    }
    buffer[length++] = 'Z';
    return std::string(buffer.data(), length);
}

std::string_view fileLevelLabel(LogLevel level) {
    return logLevelLabel(level);
}

// ------------------------------------------------------------------ LogFile

LogFile& LogFile::shared() {
    // Never destroyed: objects torn down during static destruction may still
    // log. The writer is drained at exit instead, so no queued line is lost.
    static LogFile* instance = [] {
        auto* file = new LogFile(std::nullopt);
        std::atexit([] { LogFile::shared().shutdown(); });
        return file;
    }();
    return *instance;
}

LogFile::LogFile(std::optional<fs::path> directory, Clock clock, std::size_t maxPending)
    : clock_(std::move(clock)), maxPending_(maxPending), writer_(directory),
      configuredDirectory_(std::move(directory)) {
    if (!clock_) {
        clock_ = [] {
            return std::chrono::system_clock::now();
        };
    }
    thread_ = std::thread([this] { run(); });
}

LogFile::~LogFile() {
    shutdown();
}

std::string LogFile::formatLine(std::chrono::system_clock::time_point time, LogLevel level,
                                std::string_view category, std::string_view message) {
    const std::string_view label = fileLevelLabel(level);
    std::string line;
    line.reserve(24 + label.size() + category.size() + message.size() + 7);
    line += formatTimestamp(time, true);
    line += " [";
    line += label;
    line += "] (";
    line += category;
    line += ") ";
    line += message;
    line += '\n';
    return line;
}

void LogFile::append(LogLevel level, std::string_view category, std::string_view message) {
    try {
        Item item;
        item.text = formatLine(clock_(), level, category, message);
        std::unique_lock lock(mutex_);
        if (stopped_) {
            lock.unlock();
            std::lock_guard sync(syncMutex_);
            writer_.write(item.text);
            writer_.close();
            return;
        }
        if (queue_.size() >= maxPending_) {
            ++droppedSinceReport_;
            ++droppedTotal_;
            return;
        }
        queue_.push_back(std::move(item));
        // Waking the writer costs a system call; skip it while it is busy.
        if (writerWaiting_) {
            lock.unlock();
            wake_.notify_one();
        }
    } catch (...) {
        // Logging never fails its caller; the line is lost.
    }
}

void LogFile::setDirectory(std::optional<fs::path> directory) {
    try {
        Item item;
        item.kind = Item::Kind::directory;
        item.directory = directory;
        std::unique_lock lock(mutex_);
        configuredDirectory_ = std::move(directory);
        if (stopped_) {
            lock.unlock();
            std::lock_guard sync(syncMutex_);
            writer_.setDirectory(std::move(item.directory));
            return;
        }
        queue_.push_back(std::move(item));
        lock.unlock();
        wake_.notify_one();
    } catch (...) {
    }
}

std::optional<fs::path> LogFile::directory() const {
    std::lock_guard lock(mutex_);
    return configuredDirectory_;
}

void LogFile::runTask(const std::function<void()>& task) {
    std::unique_lock lock(mutex_);
    if (stopped_) {
        lock.unlock();
        std::lock_guard sync(syncMutex_);
        task();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    Item item;
    item.kind = Item::Kind::task;
    item.task = [&task, &done] {
        task();
        done.set_value();
    };
    queue_.push_back(std::move(item));
    lock.unlock();
    wake_.notify_one();
    finished.wait();
}

std::string LogFile::readAll() {
    std::string text;
    try {
        runTask([this, &text] { text = writer_.readAll(); });
    } catch (...) {
        text.clear();
    }
    return text;
}

std::optional<fs::path> LogFile::currentLogFileURL() {
    std::optional<fs::path> result;
    try {
        runTask([this, &result] { result = writer_.currentFile(); });
    } catch (...) {
        result.reset();
    }
    return result;
}

void LogFile::flush() {
    try {
        runTask([] {});
    } catch (...) {
    }
}

void LogFile::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::uint64_t LogFile::droppedLineCount() const {
    std::lock_guard lock(mutex_);
    return droppedTotal_;
}

void LogFile::process(Item& item) {
    switch (item.kind) {
    case Item::Kind::line:
        writer_.write(item.text);
        break;
    case Item::Kind::directory:
        writer_.setDirectory(std::move(item.directory));
        break;
    case Item::Kind::task:
        // Tasks read the files: close first so that they see what exists.
        writer_.close();
        item.task();
        break;
    }
}

void LogFile::run() {
    std::deque<Item> batch;
    for (;;) {
        std::uint64_t dropped = 0;
        {
            std::unique_lock lock(mutex_);
            writerWaiting_ = true;
            wake_.wait(lock, [this] { return !queue_.empty() || stopping_; });
            writerWaiting_ = false;
            if (queue_.empty()) {
                // Stopping, and everything is written (the file was closed
                // after the last batch). From here on callers write
                // themselves, under syncMutex_.
                stopped_ = true;
                break;
            }
            batch.swap(queue_);
            dropped = std::exchange(droppedSinceReport_, 0);
        }
        for (Item& item : batch) {
            try {
                process(item);
            } catch (...) {
                // A failed line or task is dropped; the writer carries on.
            }
        }
        batch.clear();
        if (dropped > 0) {
            try {
                writer_.write(formatLine(clock_(), LogLevel::warning, "logging",
                                         "Log writer fell behind; dropped " +
                                             std::to_string(dropped) + " lines"));
            } catch (...) {
            }
        }
        // The file stays closed between bursts, so that rotation by another
        // instance or removal of the folder is noticed on the next line.
        writer_.close();
    }
}

// -------------------------------------------------------------- LogFile::Writer

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
}

void LogFile::Writer::rotate() {
    std::error_code error;
    fs::remove(*directory_ / previousFileName, error);
    fs::rename(*directory_ / currentFileName, *directory_ / previousFileName, error);
}

bool LogFile::Writer::openCurrent(const std::string& firstLine, bool& lineWritten) {
    lineWritten = false;
    const fs::path current = *directory_ / currentFileName;
    struct stat attributes {};
    if (::stat(current.c_str(), &attributes) == 0 && attributes.st_size >= maxBytes) {
        rotate();
    }
    if (::stat(current.c_str(), &attributes) == 0) {
        fd_ = ::open(current.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd_ < 0) {
            return false;
        }
        size_ = attributes.st_size;
        return true;
    }
    // No current file: the folder may be missing too (first line ever, or
    // removed by the user); creating it again is harmless.
    std::error_code error;
    fs::create_directories(*directory_, error);
    if (!createFileAtomically(current, firstLine)) {
        return false;
    }
    lineWritten = true;
    fd_ = ::open(current.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    size_ = static_cast<std::int64_t>(firstLine.size());
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
        if (!openCurrent(line, lineWritten) || lineWritten) {
            return;
        }
    }
    if (writeAll(fd_, line.data(), line.size())) {
        size_ += static_cast<std::int64_t>(line.size());
    } else {
        close();
    }
}

std::string LogFile::Writer::readAll() {
    if (!directory_) {
        return {};
    }
    return readFileText(*directory_ / previousFileName) +
           readFileText(*directory_ / currentFileName);
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
