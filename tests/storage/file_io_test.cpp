#include "fileio/file_io.hpp"
#include "storage/storage_manager.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <thread>

namespace chordwell::fileio {
namespace {

namespace fs = std::filesystem;
using chordwell::testing::readText;
using chordwell::testing::TempDir;
using chordwell::testing::writeText;

mode_t modeOf(const fs::path& path) {
    struct stat attributes {};
    EXPECT_EQ(::stat(path.c_str(), &attributes), 0) << path;
    return attributes.st_mode & 07777;
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// A process id that certainly belonged to a process that has ended.
long deadProcessId() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<long>(child);
}

class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
    ~UmaskScope() { ::umask(previous_); }
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;

private:
    mode_t previous_;
};

TEST(GuardedReadTest, OnlyRegularFilesWithinTheLimitAreRead) {
    TempDir temp;
    const fs::path small = temp.path() / "small.json";
    const fs::path large = temp.path() / "large.json";
    const fs::path fifo = temp.path() / "fifo.json";
    const fs::path folder = temp.path() / "folder.json";
    const fs::path toDevice = temp.path() / "zero.json";
    const fs::path toSmall = temp.path() / "link.json";
    writeText(small, "{\"a\":1}");
    writeText(large, std::string(101, 'x'));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(folder);
    fs::create_symlink("/dev/zero", toDevice);
    fs::create_symlink(small, toSmall);

    struct Case {
        fs::path path;
        std::optional<std::string> bytes;
        std::error_code error;
    };
    const Case cases[] = {
        {small, "{\"a\":1}", {}},
        {toSmall, "{\"a\":1}", {}},
        {large, std::nullopt, FileError::tooLarge},
        // Neither blocks nor reads for ever.
        {fifo, std::nullopt, FileError::notRegularFile},
        {toDevice, std::nullopt, FileError::notRegularFile},
        {folder, std::nullopt, FileError::notRegularFile},
        {temp.path() / "missing.json", std::nullopt,
         std::make_error_code(std::errc::no_such_file_or_directory)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.filename().string());
        std::error_code error;
        EXPECT_EQ(readRegularFile(c.path, 100, error), c.bytes);
        EXPECT_EQ(error, c.error);
    }
}

TEST(GuardedReadTest, TailKeepsTheEndOfALargeFile) {
    TempDir temp;
    const fs::path file = temp.path() / "log";
    writeText(file, "0123456789");
    struct Case {
        std::uintmax_t limit;
        std::string tail;
        bool truncated;
    };
    for (const Case& c :
         {Case{4, "6789", true}, Case{10, "0123456789", false}, Case{50, "0123456789", false}}) {
        bool truncated = false;
        std::error_code error;
        EXPECT_EQ(readRegularFileTail(file, c.limit, truncated, error), c.tail);
        EXPECT_EQ(truncated, c.truncated);
    }
}

TEST(AtomicWriteTest, PermissionsOfTheReplacedFileSurviveAndNewFilesFollowTheUmask) {
    struct Case {
        const char* name;
        std::optional<mode_t> existingMode; // nothing: no file yet
        mode_t umask;
        std::optional<fs::perms> forced;
        mode_t expected;
    };
    const Case cases[] = {
        {"kept private", 0600, 022, std::nullopt, 0600},
        {"kept group-readable", 0640, 077, std::nullopt, 0640},
        {"new, usual umask", std::nullopt, 022, std::nullopt, 0644},
        {"new, strict umask", std::nullopt, 077, std::nullopt, 0600},
        {"forced over a public file", 0644, 022, fs::perms::owner_read | fs::perms::owner_write,
         0600},
        {"forced for a new file", std::nullopt, 0, fs::perms::owner_read | fs::perms::owner_write,
         0600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const fs::path file = temp.path() / "05AC-024F.json";
        if (c.existingMode) {
            writeText(file, "old");
            ASSERT_EQ(::chmod(file.c_str(), *c.existingMode), 0);
        }
        UmaskScope mask(c.umask);
        std::error_code error;
        ASSERT_TRUE(writeFileAtomically(file, "new", error, c.forced)) << error.message();
        EXPECT_EQ(readText(file), "new");
        EXPECT_EQ(modeOf(file), c.expected);
        EXPECT_EQ(namesIn(temp.path()), std::set<std::string>{"05AC-024F.json"});
    }
}

TEST(AtomicWriteTest, ConcurrentWritersNeverMixTheirContent) {
    // Two writers of one file (two instances of a tool saving preferences)
    // must each produce a whole file: temporary names are never shared.
    TempDir temp;
    const fs::path file = temp.path() / "preferences.json";
    const std::string a(64 * 1024, 'a');
    const std::string b(48 * 1024, 'b');
    std::atomic<int> failures{0};
    auto writer = [&](const std::string& content) {
        for (int i = 0; i < 30; ++i) {
            std::error_code error;
            if (!writeFileAtomically(file, content, error)) {
                ++failures;
            }
        }
    };
    std::thread first(writer, a);
    std::thread second(writer, b);
    for (int i = 0; i < 200; ++i) {
        const std::string seen = readText(file);
        EXPECT_TRUE(seen.empty() || seen == a || seen == b) << seen.size();
    }
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0);
    const std::string last = readText(file);
    EXPECT_TRUE(last == a || last == b);
    EXPECT_EQ(namesIn(temp.path()), std::set<std::string>{"preferences.json"});
}

TEST(AtomicWriteTest, ALinkToARegularFileIsFollowedElseReplaced) {
    TempDir temp;
    const fs::path real = temp.path() / "dotfiles.json";
    const fs::path link = temp.path() / "linked.json";
    writeText(real, "old");
    fs::create_symlink(real, link);
    std::error_code error;
    ASSERT_TRUE(writeFileAtomically(link, "new", error));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readText(real), "new");

    // A link to a file not there yet creates that file.
    const fs::path later = temp.path() / "later.json";
    const fs::path toLater = temp.path() / "to-later.json";
    fs::create_symlink(later, toLater);
    ASSERT_TRUE(writeFileAtomically(toLater, "created", error));
    EXPECT_TRUE(fs::is_symlink(toLater));
    EXPECT_EQ(readText(later), "created");

    // A link to a device is not followed: the link itself is replaced.
    const fs::path toDevice = temp.path() / "device.json";
    fs::create_symlink("/dev/null", toDevice);
    ASSERT_TRUE(writeFileAtomically(toDevice, "mine", error));
    EXPECT_FALSE(fs::is_symlink(toDevice));
    EXPECT_EQ(readText(toDevice), "mine");
}

TEST(MoveAsideTest, NeverReplacesAnEarlierCopy) {
    TempDir temp;
    const fs::path file = temp.path() / "preferences.json";
    for (int round = 1; round <= 4; ++round) {
        writeText(file, "bad " + std::to_string(round));
        std::error_code error;
        const auto moved = moveAside(file, ".unreadable", error);
        ASSERT_TRUE(moved) << error.message();
        EXPECT_FALSE(fs::exists(file));
        EXPECT_EQ(readText(*moved), "bad " + std::to_string(round));
    }
    EXPECT_EQ(
        namesIn(temp.path()),
        (std::set<std::string>{"preferences.json.unreadable", "preferences.json.unreadable-2",
                               "preferences.json.unreadable-3", "preferences.json.unreadable-4"}));
    for (int round = 1; round <= 4; ++round) {
        const std::string suffix = round == 1 ? "" : "-" + std::to_string(round);
        EXPECT_EQ(readText(temp.path() / ("preferences.json.unreadable" + suffix)),
                  "bad " + std::to_string(round));
    }
}

TEST(MoveAsideTest, ReportsTheRealCauseAndFollowsLinksToRegularFiles) {
    TempDir temp;
    // The folder is a file: every name in it is inaccessible, not "taken".
    writeText(temp.path() / "Mappings", "");
    std::error_code error;
    EXPECT_FALSE(moveAside(temp.path() / "Mappings" / "05AC-024F.json", ".bad", error));
    EXPECT_EQ(error, std::make_error_code(std::errc::not_a_directory));

    EXPECT_FALSE(moveAside(temp.path() / "missing.json", ".bad", error));
    EXPECT_EQ(error, std::make_error_code(std::errc::no_such_file_or_directory));

    const fs::path real = temp.path() / "real.json";
    const fs::path link = temp.path() / "link.json";
    writeText(real, "broken");
    fs::create_symlink(real, link);
    const auto moved = moveAside(link, ".bad", error);
    ASSERT_TRUE(moved);
    EXPECT_EQ(*moved, temp.path() / "real.json.bad");
    EXPECT_EQ(readText(*moved), "broken");
    EXPECT_TRUE(fs::is_symlink(link)); // the link stays; it dangles until the next save
}

TEST(TemporaryFilesTest, NamesAreRecognisedExactly) {
    struct Case {
        const char* name;
        std::optional<long> owner;
    };
    const Case cases[] = {
        {".05AC-024F.json.tmp-4242-123456-7", 4242},
        {".chordwell.log.tmp-1-0-1", 1},
        {".a.tmp-b.tmp-77-1-2", 77},
        {"05AC-024F.json.tmp-4242-1-2", std::nullopt}, // no leading dot
        {".05AC-024F.json.tmp-4242-1", std::nullopt},
        {".05AC-024F.json.tmp-42x2-1-2", std::nullopt},
        {".05AC-024F.json.tmp-4242-1-2~", std::nullopt},
        {".tmp-4242-1-2", std::nullopt},
        {".x.tmp-12345678901-1-2", std::nullopt},
        {"preferences.json.tmp", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(temporaryFileOwner(c.name), c.owner) << c.name;
    }
}

TEST(TemporaryFilesTest, OnlyOurOwnFilesOfEndedProcessesAreRemoved) {
    TempDir temp;
    const std::string dead = std::to_string(deadProcessId());
    const std::string alive = std::to_string(::getppid());
    const std::string self = std::to_string(::getpid());
    const std::set<std::string> removed = {
        ".05AC-024F.json.tmp-" + dead + "-1-1",
        ".chordwell.log.tmp-" + dead + "-99-3",
    };
    const std::set<std::string> kept = {
        ".05AC-024F.json.tmp-" + alive + "-1-1",
        ".05AC-024F.json.tmp-" + self + "-1-2",
        "05AC-024F.json",
        "05AC-024F.json.unreadable-20261207T101500Z",
        "05AC-024F.json.tmp-" + dead + "-1-1",
        ".hidden-notes.txt",
    };
    for (const auto& name : removed) {
        writeText(temp.path() / name, "partial");
    }
    for (const auto& name : kept) {
        writeText(temp.path() / name, "keep");
    }
    // Named like ours but not a regular file: not ours to judge.
    fs::create_directory(temp.path() / (".folder.tmp-" + dead + "-1-1"));
    fs::create_symlink(temp.path() / "05AC-024F.json",
                       temp.path() / (".link.tmp-" + dead + "-1-1"));
    fs::create_directory(temp.path() / "below");
    writeText(temp.path() / "below" / (".x.tmp-" + dead + "-1-1"), "deeper");

    EXPECT_EQ(removeStaleTemporaryFiles(temp.path()), removed.size());
    std::set<std::string> expected = kept;
    expected.insert(".folder.tmp-" + dead + "-1-1");
    expected.insert(".link.tmp-" + dead + "-1-1");
    expected.insert("below");
    EXPECT_EQ(namesIn(temp.path()), expected);
    EXPECT_TRUE(fs::exists(temp.path() / "below" / (".x.tmp-" + dead + "-1-1")));
    EXPECT_EQ(removeStaleTemporaryFiles(temp.path() / "missing"), 0u);
}

// A mapping file that is a link is saved beside the file it names: a crash
// there leaves that file's temporaries in a folder that is not ours. The
// next start removes those (same rule: ours, process gone) and nothing else
// of that folder.
TEST(TemporaryFilesTest, StaleFilesBesideALinkedMappingFileGoAtTheNextStart) {
    TempDir temp;
    const std::string dead = std::to_string(deadProcessId());
    const std::string alive = std::to_string(::getppid());
    const fs::path elsewhere = temp.path() / "dotfiles";
    fs::create_directories(elsewhere);
    fs::create_directories(temp.path() / "Mappings");
    writeText(elsewhere / "keyboard.json", "{}");
    fs::create_symlink(elsewhere / "keyboard.json", temp.path() / "Mappings" / "05AC-024F.json");
    const std::string gone = ".keyboard.json.tmp-" + dead + "-1-1";
    const std::set<std::string> kept = {
        "keyboard.json",
        ".keyboard.json.tmp-" + alive + "-1-1", // its writer is still at work
        ".notes.txt.tmp-" + dead + "-1-1",      // some other program's
    };
    writeText(elsewhere / gone, "partial");
    for (const auto& name : kept) {
        if (name != "keyboard.json") {
            writeText(elsewhere / name, "keep");
        }
    }
    std::error_code error;
    ASSERT_TRUE(StorageManager::createAt(temp.path() / "Mappings", error)) << error.message();
    EXPECT_EQ(namesIn(elsewhere), kept);
}

} // namespace
} // namespace chordwell::fileio
