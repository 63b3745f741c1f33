#include "logging/log_file.hpp"
#include <algorithm>

#include "model/display_text.hpp"
#include "support/file_size_limit.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <random>
#include <regex>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace chordwell::logging {
namespace {

namespace fs = std::filesystem;
using chordwell::testing::FileSizeLimit;
using chordwell::testing::readText;
using chordwell::testing::TempDir;
using chordwell::testing::writeText;
using std::chrono::system_clock;

// 2026-03-05T14:07:09.123Z
system_clock::time_point sampleTime() {
    using namespace std::chrono;
    return sys_days{year{2026} / March / 5} + hours{14} + minutes{7} + seconds{9} +
           milliseconds{123};
}

LogFile::Clock fixedClock() {
    return [] {
        return sampleTime();
    };
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Holds the writer inside a task until released (or destroyed).
class WriterStall {
public:
    explicit WriterStall(LogFile& file)
        : thread_([this, &file] {
              try {
                  file.runOnWriter([this] {
                      std::unique_lock lock(mutex_);
                      entered_ = true;
                      changed_.notify_all();
                      changed_.wait(lock, [this] { return released_; });
                  });
              } catch (...) {
              }
          }) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return entered_; });
    }
    ~WriterStall() { release(); }
    WriterStall(const WriterStall&) = delete;
    WriterStall& operator=(const WriterStall&) = delete;

    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool released_ = false;
    std::thread thread_;
};

TEST(TimestampTest, FormatsUtcWithAndWithoutMilliseconds) {
    using namespace std::chrono;
    struct Case {
        system_clock::time_point time;
        const char* withFraction;
        const char* withoutFraction;
    };
    const Case cases[] = {
        {sampleTime(), "2026-03-05T14:07:09.123Z", "2026-03-05T14:07:09Z"},
        {system_clock::time_point{}, "1970-01-01T00:00:00.000Z", "1970-01-01T00:00:00Z"},
        {sys_days{year{2024} / February / 29} + hours{23} + minutes{59} + seconds{59} +
             milliseconds{999},
         "2024-02-29T23:59:59.999Z", "2024-02-29T23:59:59Z"},
        // Sub-millisecond parts are cut, never rounded up into the next second.
        {sys_days{year{2025} / December / 31} + hours{23} + minutes{59} + seconds{59} +
             microseconds{999999},
         "2025-12-31T23:59:59.999Z", "2025-12-31T23:59:59Z"},
        {sys_days{year{2026} / January / 1} + milliseconds{7}, "2026-01-01T00:00:00.007Z",
         "2026-01-01T00:00:00Z"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatTimestamp(c.time, true), c.withFraction);
        EXPECT_EQ(formatTimestamp(c.time, false), c.withoutFraction);
    }
}

TEST(LogFileLineTest, FormatsLevelCategoryAndMessage) {
    struct Case {
        LogLevel level;
        const char* expected;
    };
    const Case cases[] = {
        {LogLevel::info, "2026-03-05T14:07:09.123Z [INFO] (keyboard) Event tap enabled\n"},
        {LogLevel::warning, "2026-03-05T14:07:09.123Z [WARN] (keyboard) Event tap enabled\n"},
        {LogLevel::error, "2026-03-05T14:07:09.123Z [ERROR] (keyboard) Event tap enabled\n"},
        {static_cast<LogLevel>(7),
         "2026-03-05T14:07:09.123Z [ERROR] (keyboard) Event tap enabled\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LogFile::formatLine(sampleTime(), c.level, "keyboard", "Event tap enabled"),
                  c.expected);
    }
}

TEST(LogFileTest, WritesLinesInCallOrderAndCreatesTheFolder) {
    TempDir temp;
    const fs::path folder = temp.path() / "Chordwell" / "Logs";
    LogFile file(folder, fixedClock());
    EXPECT_FALSE(file.currentLogFileURL().has_value());

    file.append(LogLevel::info, "storage", "one");
    file.append(LogLevel::warning, "ui", "two");
    file.append(LogLevel::error, "io", "three");

    EXPECT_EQ(file.readAll(), "2026-03-05T14:07:09.123Z [INFO] (storage) one\n"
                              "2026-03-05T14:07:09.123Z [WARN] (ui) two\n"
                              "2026-03-05T14:07:09.123Z [ERROR] (io) three\n");
    ASSERT_TRUE(file.currentLogFileURL().has_value());
    EXPECT_EQ(*file.currentLogFileURL(), folder / "chordwell.log");
}

TEST(LogFileTest, AppendsToAnExistingFile) {
    TempDir temp;
    writeText(temp.path() / "chordwell.log", "earlier session\n");
    LogFile file(temp.path(), fixedClock());
    file.append(LogLevel::info, "keyboard", "next");
    EXPECT_EQ(file.readAll(), "earlier session\n"
                              "2026-03-05T14:07:09.123Z [INFO] (keyboard) next\n");
}

TEST(LogFileTest, RotatesOnlyOnceTheFileHasReachedTheThreshold) {
    const std::string line = "2026-03-05T14:07:09.123Z [INFO] (storage) after\n";
    struct Case {
        std::size_t existingSize;
        bool rotates;
    };
    const Case cases[] = {{999999, false}, {1000000, true}, {1000001, true}, {0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.existingSize);
        TempDir temp;
        // Whole lines, as the log writes them.
        const std::string existing =
            c.existingSize == 0 ? std::string() : std::string(c.existingSize - 1, 'x') + "\n";
        writeText(temp.path() / "chordwell.log", existing);
        writeText(temp.path() / "chordwell.log.1", "older rotation\n");
        {
            LogFile file(temp.path(), fixedClock());
            file.append(LogLevel::info, "storage", "after");
            file.flush();
        }
        if (c.rotates) {
            EXPECT_EQ(readText(temp.path() / "chordwell.log.1"), existing);
            EXPECT_EQ(readText(temp.path() / "chordwell.log"), line);
        } else {
            EXPECT_EQ(readText(temp.path() / "chordwell.log.1"), "older rotation\n");
            EXPECT_EQ(readText(temp.path() / "chordwell.log"), existing + line);
        }
    }
}

TEST(LogFileTest, RotatesWhileWritingAndReadAllSpansBothFiles) {
    TempDir temp;
    LogFile file(temp.path(), fixedClock());
    const std::string message(200, 'm');
    const std::string line = LogFile::formatLine(sampleTime(), LogLevel::info, "ui", message);
    // Enough lines to pass the threshold once, plus a few in the new file.
    const std::size_t linesToThreshold = (1000000 + line.size() - 1) / line.size();
    const std::size_t total = linesToThreshold + 5;
    for (std::size_t i = 0; i < total; ++i) {
        file.append(LogLevel::info, "ui", message);
    }
    const std::string all = file.readAll();

    const auto previousSize = fs::file_size(temp.path() / "chordwell.log.1");
    EXPECT_GE(previousSize, 1000000u);
    EXPECT_LT(previousSize, 1000000u + line.size());
    EXPECT_EQ(readText(temp.path() / "chordwell.log").size(),
              (total - linesToThreshold) * line.size());
    EXPECT_EQ(all.size(), total * line.size());
    EXPECT_EQ(all,
              readText(temp.path() / "chordwell.log.1") + readText(temp.path() / "chordwell.log"));
}

TEST(LogFileTest, ReadAllAfterRotationReturnsOldThenNewText) {
    TempDir temp;
    writeText(temp.path() / "chordwell.log", std::string(1000000, 'a'));
    LogFile file(temp.path(), fixedClock());
    file.append(LogLevel::warning, "keyboard", "fresh");
    EXPECT_EQ(file.readAll(),
              std::string(1000000, 'a') + "2026-03-05T14:07:09.123Z [WARN] (keyboard) fresh\n");
}

TEST(LogFileTest, ReadAllWithMissingFiles) {
    TempDir temp;
    LogFile file(temp.path(), fixedClock());
    EXPECT_EQ(file.readAll(), "");
    writeText(temp.path() / "chordwell.log.1", "only the old one\n");
    EXPECT_EQ(file.readAll(), "only the old one\n");
}

TEST(LogFileTest, LinesWithoutAUsableFolderAreDroppedQuietly) {
    TempDir temp;
    writeText(temp.path() / "not-a-folder", "plain file");
    const std::optional<fs::path> folders[] = {std::nullopt, temp.path() / "not-a-folder" / "Logs"};
    for (const auto& folder : folders) {
        LogFile file(folder, fixedClock());
        for (int i = 0; i < 100; ++i) {
            file.append(LogLevel::error, "storage", "lost");
        }
        EXPECT_EQ(file.readAll(), "");
        EXPECT_FALSE(file.currentLogFileURL().has_value());
    }
    EXPECT_EQ(readText(temp.path() / "not-a-folder"), "plain file");
}

TEST(LogFileTest, RecreatesAFolderRemovedWhileRunning) {
    TempDir temp;
    const fs::path folder = temp.path() / "Logs";
    LogFile file(folder, fixedClock());
    file.append(LogLevel::info, "ui", "first");
    file.flush();
    fs::remove_all(folder);
    file.append(LogLevel::info, "ui", "second");
    EXPECT_EQ(file.readAll(), "2026-03-05T14:07:09.123Z [INFO] (ui) second\n");
}

TEST(LogFileTest, ConcurrentWritersNeverInterleaveAndKeepTheirOrder) {
    TempDir temp;
    LogFile file(temp.path());
    constexpr int threads = 8;
    constexpr int perThread = 400;
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&file, &go, t] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            for (int i = 0; i < perThread; ++i) {
                file.append(LogLevel::info, "keyboard",
                            "thread " + std::to_string(t) + " line " + std::to_string(i) +
                                " padding padding padding padding");
            }
        });
    }
    go = true;
    for (auto& worker : workers) {
        worker.join();
    }
    const auto lines = splitLines(file.readAll());
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(threads * perThread));

    const std::regex shape(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \[INFO\] \(keyboard\) )"
                           R"(thread (\d) line (\d+) padding padding padding padding$)");
    std::vector<int> next(threads, 0);
    for (const auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        const int t = std::stoi(match[1]);
        const int i = std::stoi(match[2]);
        EXPECT_EQ(i, next[t]) << "thread " << t;
        next[t] = i + 1;
    }
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(next[t], perThread);
    }
}

TEST(LogFileTest, AStalledWriterDropsLinesBeyondTheLimitAndSaysSo) {
    TempDir temp;
    constexpr std::size_t limit = 50;
    constexpr std::size_t total = 2 * limit + 10;
    LogFile file(temp.path(), fixedClock(), limit);
    // A task that waits for us stalls the writer.
    WriterStall stall(file);
    for (std::size_t i = 0; i < total; ++i) {
        file.append(LogLevel::info, "io", "line " + std::to_string(i));
    }
    // However the writer's first batch and the appends interleave, the
    // writer holds at most one batch and the queue at most `limit` lines.
    const auto dropped = file.droppedLineCount();
    EXPECT_GE(dropped, total - 2 * limit);
    EXPECT_LT(dropped, total);

    const std::string prefix = "2026-03-05T14:07:09.123Z [INFO] (io) line ";
    const std::string warningPrefix =
        "2026-03-05T14:07:09.123Z [WARN] (logging) Log writer fell behind; dropped ";
    // Lines kept, and lines reported lost by the warnings so far.
    auto tally = [&](const std::vector<std::string>& got) {
        std::pair<std::size_t, std::size_t> counts{0, 0};
        for (const auto& line : got) {
            if (line.rfind(warningPrefix, 0) == 0) {
                counts.second += std::stoul(line.substr(warningPrefix.size()));
            } else {
                ++counts.first;
            }
        }
        return counts;
    };
    stall.release();
    const auto lines = splitLines(file.readAll());

    // Every line that was kept arrives whole and in order, and the lost ones
    // are all accounted for by warning lines (one per stall).
    const auto [kept, reported] = tally(lines);
    EXPECT_EQ(kept, total - dropped);
    EXPECT_EQ(reported, dropped);
    long previous = -1;
    for (const auto& line : lines) {
        if (line.rfind(warningPrefix, 0) == 0) {
            EXPECT_TRUE(line.ends_with(" lines")) << line;
            continue;
        }
        ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
        const long index = std::stol(line.substr(prefix.size()));
        EXPECT_GT(index, previous) << line;
        EXPECT_LT(index, static_cast<long>(total));
        previous = index;
    }
    EXPECT_EQ(lines.front(), prefix + "0");
}

TEST(LogFileTest, DestructionWritesEveryQueuedLine) {
    TempDir temp;
    {
        LogFile file(temp.path(), fixedClock());
        for (int i = 0; i < 2000; ++i) {
            file.append(LogLevel::info, "io", "line " + std::to_string(i));
        }
    }
    const auto lines = splitLines(readText(temp.path() / "chordwell.log"));
    ASSERT_EQ(lines.size(), 2000u);
    EXPECT_EQ(lines.back(), "2026-03-05T14:07:09.123Z [INFO] (io) line 1999");
}

TEST(LogFileTest, AfterShutdownLinesAreWrittenByTheCaller) {
    TempDir temp;
    LogFile file(temp.path(), fixedClock());
    file.append(LogLevel::info, "ui", "before");
    file.shutdown();
    file.append(LogLevel::error, "ui", "after");
    EXPECT_EQ(readText(temp.path() / "chordwell.log"),
              "2026-03-05T14:07:09.123Z [INFO] (ui) before\n"
              "2026-03-05T14:07:09.123Z [ERROR] (ui) after\n");
    EXPECT_EQ(file.readAll(), readText(temp.path() / "chordwell.log"));
}

TEST(LogFileTest, ChangingTheFolderKeepsEarlierLinesInTheOldOne) {
    TempDir first;
    TempDir second;
    LogFile file(first.path(), fixedClock());
    file.append(LogLevel::info, "ui", "old");
    file.setDirectory(second.path());
    file.append(LogLevel::info, "ui", "new");
    file.flush();
    EXPECT_EQ(file.directory(), second.path());
    EXPECT_EQ(readText(first.path() / "chordwell.log"),
              "2026-03-05T14:07:09.123Z [INFO] (ui) old\n");
    EXPECT_EQ(readText(second.path() / "chordwell.log"),
              "2026-03-05T14:07:09.123Z [INFO] (ui) new\n");
}

TEST(LogFileTest, WhatATaskThrowsReachesItsCaller) {
    TempDir temp;
    LogFile file(temp.path(), fixedClock());
    EXPECT_THROW(file.runOnWriter([] { throw std::bad_alloc(); }), std::bad_alloc);
    // The writer carries on.
    file.append(LogLevel::info, "ui", "still here");
    EXPECT_EQ(file.readAll(), "2026-03-05T14:07:09.123Z [INFO] (ui) still here\n");
}

TEST(LogFileTest, ShutdownGivesUpOnAStuckWriterInBoundedTime) {
    TempDir temp;
    LogFile file(temp.path(), fixedClock());
    WriterStall stall(file);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(file.shutdown(std::chrono::milliseconds(100)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    file.append(LogLevel::error, "ui", "dropped, not waited for");
    stall.release();
}

TEST(LogFileTest, ANonRegularLogFileIsNeverOpenedForWriting) {
    // A FIFO without a reader, one with a reader, a folder: the writer never
    // blocks, never writes into them and says so once.
    enum class Kind { fifo, fifoWithReader, folder };
    for (const Kind kind : {Kind::fifo, Kind::fifoWithReader, Kind::folder}) {
        SCOPED_TRACE(static_cast<int>(kind));
        TempDir temp;
        const fs::path current = temp.path() / "chordwell.log";
        if (kind == Kind::folder) {
            fs::create_directory(current);
        } else {
            ASSERT_EQ(::mkfifo(current.c_str(), 0600), 0);
        }
        const int reader =
            kind == Kind::fifoWithReader ? ::open(current.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        std::vector<std::string> reports;
        {
            LogFile file(temp.path(), fixedClock());
            file.setFailureReporter([&](std::string_view m) { reports.emplace_back(m); });
            for (int i = 0; i < 3; ++i) {
                file.append(LogLevel::info, "ui", "line");
            }
            EXPECT_EQ(file.readAll(), "");
            EXPECT_TRUE(file.shutdown());
        }
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].find(current.string()), std::string::npos) << reports[0];
        if (reader >= 0) {
            char buffer[16];
            EXPECT_LE(::read(reader, buffer, sizeof buffer), 0);
            ::close(reader);
        }
    }
}

TEST(LogFileTest, MessagesCannotForgeLinesAndAreCapped) {
    struct Case {
        std::string message;
        std::string shown;
    };
    const Case cases[] = {
        {"USB Keyboard\n2026-03-05T14:07:09.123Z [ERROR] (keyboard) forged",
         "USB Keyboard\\n2026-03-05T14:07:09.123Z [ERROR] (keyboard) forged"},
        {"tab\there\r", "tab\\there\\r"},
        {"\x1B]0;title\x07", "\\u001B]0;title\\u0007"},
        {"del\x7F", "del\\u007F"},
        {"csi \xC2\x9B nel \xC2\x85", "csi \\u009B nel \\u0085"},
        {"rlo \xE2\x80\xAE isolate \xE2\x81\xA6", "rlo \\u202E isolate \\u2066"},
        {"caf\xC3\xA9 \xE2\x80\x9CK2\xE2\x80\x9D \xC2\xA0",
         "caf\xC3\xA9 \xE2\x80\x9CK2\xE2\x80\x9D \xC2\xA0"},
        // Not UTF-8: the 8-bit CSI as a raw byte, an overlong ESC, a cut
        // sequence at the end.
        {"raw \x9B[2J, \xC0\x9B, \xE2\x80", "raw \\x9B[2J, \\xC0\\x9B, \\xE2\\x80"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LogFile::formatLine(sampleTime(), LogLevel::info, "keyboard", c.message),
                  "2026-03-05T14:07:09.123Z [INFO] (keyboard) " + c.shown + "\n");
    }
}

TEST(LogFileTest, AnyMessageBecomesOneBoundedLine) {
    // Random messages of controls, multi-byte characters and plain text:
    // the line is always one line, at most the cap plus the marker, and a
    // cut never splits a character.
    std::mt19937 random(20261207);
    const std::vector<std::string> pieces = {
        "a",    "Z",        " ",        "\n",           "\r",           "\x1B",
        "\x7F", "\xC2\x9B", "\xC3\xA9", "\xE2\x80\xAE", "\xE2\x80\x9C", "\xF0\x9F\x98\x80",
        "\\",   "[ERROR]",  "\x9B",     "\xE2\x80",     "\xFF"};
    const std::string prefix = "2026-03-05T14:07:09.123Z [WARN] (storage) ";
    for (int round = 0; round < 300; ++round) {
        std::string message;
        const std::size_t length = random() % 3 == 0 ? 6000 + random() % 4000 : random() % 200;
        while (message.size() < length) {
            message += pieces[random() % pieces.size()];
        }
        const std::string line =
            LogFile::formatLine(sampleTime(), LogLevel::warning, "storage", message);
        ASSERT_EQ(line.rfind(prefix, 0), 0u);
        ASSERT_EQ(line.find('\n'), line.size() - 1);
        const std::string shown = line.substr(prefix.size(), line.size() - prefix.size() - 1);
        for (const char ch : shown) {
            EXPECT_GE(static_cast<unsigned char>(ch), 0x20);
            EXPECT_NE(ch, '\x7F');
        }
        EXPECT_EQ(shown.find("\xC2\x9B"), std::string::npos);
        // Well-formed UTF-8 throughout: no raw byte a terminal could take
        // for a control of its own.
        for (std::size_t i = 0; i < shown.size();) {
            char32_t codePoint = 0;
            const std::size_t sequence = decodeUtf8(shown, i, codePoint);
            ASSERT_NE(sequence, 0u) << "byte " << i << " of a line";
            i += sequence;
        }
        EXPECT_EQ(shown.find("\xE2\x80\xAE"), std::string::npos);
        const std::string marker = " [cut, " + std::to_string(message.size()) + " bytes in all]";
        const bool cut = shown.ends_with(marker);
        EXPECT_EQ(cut, message.size() > kMaxMessageBytes || shown.size() > kMaxMessageBytes + 60);
        if (cut) {
            const std::string kept = shown.substr(0, shown.size() - marker.size() - 3);
            EXPECT_LE(kept.size(), kMaxMessageBytes);
            // The kept part ends on a character boundary: the ellipsis
            // follows a complete sequence.
            EXPECT_EQ(shown.substr(kept.size(), 3), "\xE2\x80\xA6");
            std::size_t i = kept.size();
            while (i > 0 && (static_cast<unsigned char>(kept[i - 1]) & 0xC0u) == 0x80u) {
                --i;
            }
            if (i > 0 && i < kept.size()) {
                const auto lead = static_cast<unsigned char>(kept[i - 1]);
                const std::size_t expected = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
                EXPECT_EQ(kept.size() - i + 1, expected);
            }
        }
    }
}

TEST(LogFileTest, AFullDiskLosesWholeLinesAndSaysSoOnce) {
    TempDir temp;
    const fs::path current = temp.path() / "chordwell.log";
    std::vector<std::string> reports;
    LogFile file(temp.path(), fixedClock());
    file.setFailureReporter([&](std::string_view m) { reports.emplace_back(m); });
    file.append(LogLevel::info, "keyboard", "before");
    file.flush();
    const auto before = fs::file_size(current);
    {
        FileSizeLimit full(before + 20); // room for part of one line only
        for (int i = 0; i < 5; ++i) {
            file.append(LogLevel::info, "keyboard", "In startIntercepting(...)...");
        }
        file.flush();
    }
    file.append(LogLevel::info, "keyboard", "after");
    file.flush();
    EXPECT_EQ(readText(current), "2026-03-05T14:07:09.123Z [INFO] (keyboard) before\n"
                                 "2026-03-05T14:07:09.123Z [INFO] (keyboard) after\n");
    EXPECT_EQ(reports.size(), 1u);
}

TEST(LogFileTest, ALineCutShortEarlierIsEndedBeforeTheNextOne) {
    TempDir temp;
    writeText(temp.path() / "chordwell.log",
              "2026-03-05T14:07:08.000Z [INFO] (keyboard) In startInterceptin");
    LogFile file(temp.path(), fixedClock());
    file.append(LogLevel::info, "keyboard", "next run");
    EXPECT_EQ(file.readAll(), "2026-03-05T14:07:08.000Z [INFO] (keyboard) In startInterceptin\n"
                              "2026-03-05T14:07:09.123Z [INFO] (keyboard) next run\n");
}

TEST(LogFileTest, ALogThatCannotRotateStopsGrowingAndReadAllStaysBounded) {
    TempDir temp;
    // ".1" is a folder with something in it: rotation fails for good.
    fs::create_directories(temp.path() / "chordwell.log.1" / "keep");
    const std::string full = std::string(LogFile::maxBytes - 1, 'x') + "\n";
    writeText(temp.path() / "chordwell.log", full);
    std::vector<std::string> reports;
    {
        LogFile file(temp.path(), fixedClock());
        file.setFailureReporter([&](std::string_view m) { reports.emplace_back(m); });
        for (int i = 0; i < 200; ++i) {
            file.append(LogLevel::info, "ui", std::string(1000, 'm'));
        }
        const std::string all = file.readAll();
        EXPECT_LE(all.size(), LogFile::maxReadBytes);
    }
    const std::string text = readText(temp.path() / "chordwell.log");
    EXPECT_LT(text.size(), full.size() + 200);
    EXPECT_EQ(text.rfind(full, 0), 0u);
    EXPECT_NE(text.find("cannot be rotated"), std::string::npos);
    EXPECT_EQ(reports.size(), 1u);

    // A file grown huge by other means is read only by its end, from a
    // line boundary on.
    TempDir big;
    std::string lines;
    for (int i = 0; i < 30000; ++i) {
        lines += "line " + std::to_string(i) + " " + std::string(60, 'p') + "\n";
    }
    writeText(big.path() / "chordwell.log", lines);
    LogFile file(big.path(), fixedClock());
    const std::string all = file.readAll();
    EXPECT_LE(all.size(), LogFile::maxReadBytes);
    EXPECT_TRUE(all.ends_with("line 29999 " + std::string(60, 'p') + "\n"));
    EXPECT_EQ(all.rfind("line ", 0), 0u);
}

} // namespace
} // namespace chordwell::logging
