// The rotating text log in the user's log folder: "chordwell.log" and, after
// a rotation, the previous "chordwell.log.1".
//
// Callers only build the line and queue it; one writer thread owns every file
// access, so lines land in call order and the caller never waits on the disk.
#pragma once

#include "ports/ports.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace chordwell::logging {

/// "2026-03-05T14:07:09.123Z" (UTC, milliseconds) or, without fractional
/// seconds, "2026-03-05T14:07:09Z".
std::string formatTimestamp(std::chrono::system_clock::time_point time, bool fractionalSeconds);

/// The label of a level in the file: INFO, WARN, ERROR (above warning is
/// ERROR); debug lines never reach the file, "DEBUG" only for completeness.
std::string_view fileLevelLabel(LogLevel level);

/// Messages longer than this (after escaping) are cut, with a marker saying
/// how long they were: one line stays readable and cannot blow the rotation
/// threshold.
inline constexpr std::size_t kMaxMessageBytes = 4096;

/// Whether sanitizeMessage would change `message`.
bool needsSanitizing(std::string_view message);

/// The message as the logs show it: control characters (C0, DEL, C1) and
/// bidirectional overrides are escaped ("\n", "\t", "\u001B", "\u202E"),
/// and so is every byte that is not part of well-formed UTF-8 ("\x9B"),
/// so that no text a device or a file supplies can start a forged line or
/// reorder what the reader sees; longer than kMaxMessageBytes, it is cut on
/// a character boundary and ends with "… [cut, N bytes in all]".
std::string sanitizeMessage(std::string_view message);

class LogFile {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    /// Rotation threshold: a file of this size or more is moved to ".1"
    /// before the next line is appended.
    static constexpr std::int64_t maxBytes = 1000000;
    /// Lines waiting for the writer beyond this are dropped (and counted), so
    /// that a runaway logger cannot eat the memory of the process.
    static constexpr std::size_t maxPendingLines = 20000;

    static constexpr const char* currentFileName = "chordwell.log";
    static constexpr const char* previousFileName = "chordwell.log.1";

    /// readAll takes at most this much of each file (its end): enough for a
    /// whole file between rotations, bounded when rotation has failed.
    static constexpr std::uintmax_t maxReadBytes = maxBytes + 64 * 1024;
    /// How long shutdown waits for a writer stuck in the file system.
    static constexpr std::chrono::milliseconds maxShutdownWait{2000};

    /// Receives, on the writer thread, the one message saying that the file
    /// can no longer be written (full disk, rotation impossible, not a
    /// regular file). Called once per failure streak; logging routes it to
    /// the system log, since the file itself is what failed.
    using FailureReporter = std::function<void(std::string_view message)>;

    /// The process-wide instance; it has no folder until logging::configure
    /// names one. It is drained and stopped at process exit.
    static LogFile& shared();

    /// A log writing into `directory` (created with the first line; nothing:
    /// lines are dropped). `clock` stamps the lines (default: system clock).
    /// At most `maxPending` lines wait for the writer.
    explicit LogFile(std::optional<std::filesystem::path> directory, Clock clock = {},
                     std::size_t maxPending = maxPendingLines);
    /// Writes every queued line, then stops the writer.
    ~LogFile();

    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    /// Builds the line now, on the caller's thread, and queues it.
    void append(LogLevel level, std::string_view category, std::string_view message);

    /// Lines queued before this call still go to the old folder; later ones
    /// to the new folder.
    void setDirectory(std::optional<std::filesystem::path> directory);
    std::optional<std::filesystem::path> directory() const;

    /// Text of "chordwell.log.1" followed by that of "chordwell.log", after
    /// every earlier line has been written; "" when neither exists.
    std::string readAll();
    /// "chordwell.log" inside the folder when the file exists (after every
    /// earlier line has been written).
    std::optional<std::filesystem::path> currentLogFileURL();
    /// Waits until every earlier line has been written or dropped.
    void flush();
    /// Runs `task` on the writer after every earlier line has been written
    /// and waits for it; what the task throws is rethrown here.
    void runOnWriter(const std::function<void()>& task);
    /// Writes the queue out and stops the writer; lines appended afterwards
    /// are written on the caller's thread. Called at process exit. Waits at
    /// most `maxWait` for a writer stuck in the file system; false when it
    /// gave up (later lines are then dropped).
    bool shutdown(std::chrono::milliseconds maxWait = maxShutdownWait);

    void setFailureReporter(FailureReporter reporter);

    /// Lines lost because the queue was full.
    std::uint64_t droppedLineCount() const;

    /// The exact line as written, newline included; the message sanitized.
    static std::string formatLine(std::chrono::system_clock::time_point time, LogLevel level,
                                  std::string_view category, std::string_view message);

private:
    struct Item {
        enum class Kind { line, directory, task };
        Kind kind = Kind::line;
        std::string text;
        std::optional<std::filesystem::path> directory;
        std::function<void()> task;
    };

    // State of the file side; touched only by the writer thread, or under
    // syncMutex_ once the writer has stopped.
    class Writer {
    public:
        explicit Writer(std::optional<std::filesystem::path> directory);
        FailureReporter reporter;
        ~Writer();
        Writer(const Writer&) = delete;
        Writer& operator=(const Writer&) = delete;

        void write(const std::string& line);
        void setDirectory(std::optional<std::filesystem::path> directory);
        std::string readAll();
        std::optional<std::filesystem::path> currentFile() const;
        /// Closes the open file; the next line reopens it.
        void close();

    private:
        bool openCurrent(const std::string& firstLine, bool& lineWritten);
        bool rotate();
        void failed(const std::string& why);
        void succeeded() { failureReported_ = false; }

        std::optional<std::filesystem::path> directory_;
        int fd_ = -1;
        std::int64_t size_ = 0;
        bool tornLine_ = false;        // the file ends inside a line
        bool failureReported_ = false; // the current failure streak is reported
        bool rotationNoted_ = false;   // the "cannot rotate" line is in the file
    };

    void run();
    void process(Item& item);

    Clock clock_;
    std::size_t maxPending_;
    Writer writer_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    bool stopping_ = false;
    bool stopped_ = false;
    bool abandoned_ = false;   // shutdown gave up on a stuck writer
    bool finished_ = false;    // the writer thread has left its loop
    bool processWide_ = false; // shared(): never destroyed, may leave its thread behind
    std::condition_variable finishedChanged_;
    bool writerWaiting_ = false;
    std::uint64_t droppedSinceReport_ = 0;
    std::uint64_t droppedTotal_ = 0;
    std::optional<std::filesystem::path> configuredDirectory_;

    std::mutex syncMutex_; // serialises file access after shutdown
    std::thread thread_;
};

} // namespace chordwell::logging
