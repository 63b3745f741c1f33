#include "logging/log_file.hpp"
#include <algorithm>

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

namespace chordwell::logging {
namespace {

namespace fs = std::filesystem;
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
        const std::string existing(c.existingSize, 'x');
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

// Reads a FIFO until its writer closes it.
// Reads whole lines from the FIFO until `done` says enough has arrived. The
// FIFO is opened for reading and writing so that it always has a writer:
// reads then block instead of seeing end-of-file between the log writer's
// batches, and the log writer never meets a FIFO without a reader (which
// would raise SIGPIPE).
template <typename Done>
std::vector<std::string> readFifoLinesUntil(const fs::path& fifo, Done done) {
    const int fd = ::open(fifo.c_str(), O_RDWR);
    std::string text;
    std::vector<std::string> lines;
    char buffer[4096];
    while (fd >= 0 && !done(lines)) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        for (auto eol = text.find('\n'); eol != std::string::npos; eol = text.find('\n')) {
            lines.push_back(text.substr(0, eol));
            text.erase(0, eol + 1);
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return lines;
}

TEST(LogFileTest, AStalledWriterDropsLinesBeyondTheLimitAndSaysSo) {
    TempDir temp;
    // A FIFO as the current file: the writer's open blocks until we read,
    // which stalls it.
    const fs::path fifo = temp.path() / "chordwell.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    constexpr std::size_t limit = 50;
    constexpr std::size_t total = 2 * limit + 10;
    LogFile file(temp.path(), fixedClock(), limit);
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
    const auto lines = readFifoLinesUntil(fifo, [&](const std::vector<std::string>& got) {
        const auto [kept, reported] = tally(got);
        return kept == total - dropped && reported == dropped;
    });
    fs::remove(fifo); // lets the destructor's writer finish without a reader

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

} // namespace
} // namespace chordwell::logging
