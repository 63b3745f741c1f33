#include "logging/log_file.hpp"

#include "fileio/file_io.hpp"
#include "model/display_text.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <stdexcept>
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

void appendEscape(std::string& out, std::uint32_t codePoint) {
    switch (codePoint) {
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        break;
    }
    static constexpr char hex[] = "0123456789ABCDEF";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += hex[(codePoint >> shift) & 0xFu];
    }
}

// A byte that is not part of well-formed UTF-8 (a raw 0x9B would be the
// 8-bit CSI to a terminal that reads Latin-1).
void appendByteEscape(std::string& out, unsigned char byte) {
    static constexpr char hex[] = "0123456789ABCDEF";
    out += "\\x";
    out += hex[byte >> 4];
    out += hex[byte & 0xFu];
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

bool needsSanitizing(std::string_view message) {
    if (message.size() > kMaxMessageBytes) {
        return true;
    }
    if (isPlainPrintableAscii(message)) {
        return false;
    }
    for (std::size_t i = 0; i < message.size();) {
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8(message, i, codePoint);
        if (length == 0 || isUnsafeForDisplay(codePoint)) {
            return true;
        }
        i += length;
    }
    return false;
}

std::string sanitizeMessage(std::string_view message) {
    std::string out;
    out.reserve(std::min(message.size(), kMaxMessageBytes) + 16);
    std::size_t i = 0;
    while (i < message.size() && out.size() <= kMaxMessageBytes) {
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8(message, i, codePoint);
        if (length == 0) {
            appendByteEscape(out, static_cast<unsigned char>(message[i]));
            ++i;
        } else if (isUnsafeForDisplay(codePoint)) {
            appendEscape(out, static_cast<std::uint32_t>(codePoint));
            i += length;
        } else {
            out.append(message.substr(i, length));
            i += length;
        }
    }
    if (i < message.size() || out.size() > kMaxMessageBytes) {
        // Cut on a character boundary: never leave half a UTF-8 sequence.
        std::size_t cut = std::min(out.size(), kMaxMessageBytes);
        while (cut > 0 && cut < out.size() &&
               (static_cast<unsigned char>(out[cut]) & 0xC0u) == 0x80u) {
            --cut;
        }
        out.resize(cut);
        out += "\u2026 [cut, " + std::to_string(message.size()) + " bytes in all]";
    }
    return out;
}

// ------------------------------------------------------------------ LogFile

LogFile& LogFile::shared() {
    // Never destroyed: objects torn down during static destruction may still
    // log. The writer is drained at exit instead, so no queued line is lost.
    static LogFile* instance = [] {
        auto* file = new LogFile(std::nullopt);
        file->processWide_ = true;
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
    // An instance of our own cannot outlive its thread: wait after all.
    if (thread_.joinable()) {
        thread_.join();
    }
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
    if (needsSanitizing(message)) {
        line += sanitizeMessage(message);
    } else {
        line += message;
    }
    line += '\n';
    return line;
}

void LogFile::append(LogLevel level, std::string_view category, std::string_view message) {
    try {
        Item item;
        item.text = formatLine(clock_(), level, category, message);
        std::unique_lock lock(mutex_);
        if (abandoned_) {
            return; // the writer is stuck in the file system; never join it there
        }
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
        if (abandoned_) {
            return;
        }
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

void LogFile::runOnWriter(const std::function<void()>& task) {
    std::unique_lock lock(mutex_);
    if (abandoned_) {
        throw std::runtime_error("the log writer is stuck");
    }
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
        // Whatever happens, the caller waiting below must be released.
        try {
            task();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    };
    queue_.push_back(std::move(item));
    lock.unlock();
    wake_.notify_one();
    finished.get();
}

void LogFile::setFailureReporter(FailureReporter reporter) {
    try {
        runOnWriter([this, &reporter] { writer_.reporter = std::move(reporter); });
    } catch (...) {
    }
}

std::string LogFile::readAll() {
    std::string text;
    try {
        runOnWriter([this, &text] { text = writer_.readAll(); });
    } catch (...) {
        text.clear();
    }
    return text;
}

std::optional<fs::path> LogFile::currentLogFileURL() {
    std::optional<fs::path> result;
    try {
        runOnWriter([this, &result] { result = writer_.currentFile(); });
    } catch (...) {
        result.reset();
    }
    return result;
}

void LogFile::flush() {
    try {
        runOnWriter([] {});
    } catch (...) {
    }
}

bool LogFile::shutdown(std::chrono::milliseconds maxWait) {
    {
        std::unique_lock lock(mutex_);
        if (stopping_) {
            return !abandoned_;
        }
        stopping_ = true;
        lock.unlock();
        wake_.notify_one();
        lock.lock();
        // A writer blocked in the file system (a hung network mount, say)
        // must not keep the process from ending.
        if (!finishedChanged_.wait_for(lock, maxWait, [this] { return finished_; })) {
            abandoned_ = true;
        }
    }
    if (abandoned_) {
        if (processWide_) {
            thread_.detach(); // never destroyed: the thread may finish later
        }
        return false;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    return true;
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
                finished_ = true;
                finishedChanged_.notify_all();
                break;
            }
            batch.swap(queue_);
            dropped = std::exchange(droppedSinceReport_, 0);
        }
        // The report of dropped lines follows the lines that were kept, and
        // comes before any task of the batch, so that a task reading the log
        // (the diagnostics report) sees it.
        auto reportDropped = [&] {
            if (dropped == 0) {
                return;
            }
            try {
                writer_.write(formatLine(clock_(), LogLevel::warning, "logging",
                                         "Log writer fell behind; dropped " +
                                             std::to_string(dropped) + " lines"));
            } catch (...) {
            }
            dropped = 0;
        };
        for (Item& item : batch) {
            if (item.kind == Item::Kind::task) {
                reportDropped();
            }
            try {
                process(item);
            } catch (...) {
                // A failed line or task is dropped; the writer carries on.
            }
        }
        batch.clear();
        reportDropped();
        // The file stays closed between bursts, so that rotation by another
        // instance or removal of the folder is noticed on the next line.
        writer_.close();
    }
}

} // namespace chordwell::logging
