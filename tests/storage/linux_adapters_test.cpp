#include "platform/linux/journal_log.hpp"
#include "platform/linux/xdg_paths.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace chordwell::platform {
namespace {

namespace fs = std::filesystem;
using chordwell::testing::readText;
using chordwell::testing::TempDir;
using chordwell::testing::writeText;

TEST(XdgPathsTest, ChoosesTheDataHomeByTheXdgRules) {
    struct Case {
        std::optional<std::string> xdgDataHome;
        std::optional<std::string> home;
        std::optional<fs::path> expected;
    };
    const Case cases[] = {
        {"/data/home", "/home/ada", fs::path("/data/home")},
        {std::nullopt, "/home/ada", fs::path("/home/ada/.local/share")},
        {"", "/home/ada", fs::path("/home/ada/.local/share")},
        {"relative/dir", "/home/ada", fs::path("/home/ada/.local/share")},
        {"/data/home/", std::nullopt, fs::path("/data/home/")},
        {std::nullopt, std::nullopt, std::nullopt},
        {std::nullopt, "not/absolute", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(XdgPaths(c.xdgDataHome, c.home).dataHome(), c.expected)
            << c.xdgDataHome.value_or("(unset)") << " / " << c.home.value_or("(unset)");
    }
}

TEST(XdgPathsTest, CreatesMissingFoldersPrivatelyAndNestsChordwellFolders) {
    TempDir temp;
    const XdgPaths paths(std::nullopt, temp.path().string());
    std::error_code error;
    const auto support = paths.applicationSupportDirectory(error);
    ASSERT_TRUE(support.has_value()) << error.message();
    EXPECT_EQ(*support, temp.path() / ".local" / "share");
    struct stat attributes {};
    ASSERT_EQ(::stat(support->c_str(), &attributes), 0);
    EXPECT_EQ(attributes.st_mode & 0777, 0700u);
    EXPECT_EQ(paths.mappingsFolder(*support), *support / "Chordwell" / "Mappings");
    EXPECT_EQ(paths.logsFolder(*support), *support / "Chordwell" / "Logs");
}

TEST(XdgPathsTest, ReportsAnErrorWhenNoFolderCanBeHad) {
    TempDir temp;
    writeText(temp.path() / "file", "x");
    const XdgPaths cases[] = {
        XdgPaths(std::nullopt, std::nullopt),
        XdgPaths((temp.path() / "file" / "share").string(), std::nullopt),
        XdgPaths((temp.path() / "file").string(), std::nullopt),
    };
    for (const XdgPaths& paths : cases) {
        std::error_code error;
        EXPECT_FALSE(paths.applicationSupportDirectory(error).has_value());
        EXPECT_TRUE(error);
    }
}

std::vector<std::string> lastFields;
int recordingSender(const std::vector<std::string>& fields) {
    lastFields = fields;
    return 0;
}
int failingSender(const std::vector<std::string>&) {
    return -2;
}

TEST(JournalLogTest, SendsMessagePriorityAndCategoryFields) {
    struct Case {
        LogLevel level;
        const char* priority;
    };
    const Case cases[] = {{LogLevel::info, "PRIORITY=6"},
                          {LogLevel::warning, "PRIORITY=4"},
                          {LogLevel::error, "PRIORITY=3"},
                          {static_cast<LogLevel>(5), "PRIORITY=3"}};
    JournalSystemLog journal(LogLevel::info, &recordingSender, nullptr);
    auto handle = journal.makeHandle("com.palvane.Chordwell", "storage");
    for (const Case& c : cases) {
        lastFields.clear();
        handle->emit(c.level, "Loaded 3 mappings");
        const std::vector<std::string> expected = {
            "MESSAGE=Loaded 3 mappings", c.priority, "SYSLOG_IDENTIFIER=chordwell",
            "CHORDWELL_SUBSYSTEM=com.palvane.Chordwell", "CHORDWELL_CATEGORY=storage"};
        EXPECT_EQ(lastFields, expected);
    }
    lastFields.clear();
    EXPECT_FALSE(handle->isEnabled(LogLevel::debug));
    handle->emit(LogLevel::debug, "below the minimum");
    EXPECT_TRUE(lastFields.empty());
}

TEST(JournalLogTest, FallsBackToTheStreamWhenTheJournalIsUnreachable) {
    TempDir temp;
    const fs::path file = temp.path() / "fallback.txt";
    std::FILE* stream = std::fopen(file.c_str(), "w");
    ASSERT_NE(stream, nullptr);
    {
        JournalSystemLog journal(LogLevel::debug, &failingSender, stream);
        auto handle = journal.makeHandle("com.palvane.Chordwell", "keyboard");
        EXPECT_TRUE(handle->isEnabled(LogLevel::debug));
        handle->emit(LogLevel::warning, "Event tap disabled");
    }
    std::fclose(stream);
    EXPECT_EQ(readText(file), "[WARN] (keyboard) Event tap disabled\n");
}

TEST(JournalLogTest, PrioritiesFollowSyslog) {
    EXPECT_EQ(journalPriority(LogLevel::debug), 7);
    EXPECT_EQ(journalPriority(LogLevel::info), 6);
    EXPECT_EQ(journalPriority(LogLevel::warning), 4);
    EXPECT_EQ(journalPriority(LogLevel::error), 3);
}

} // namespace
} // namespace chordwell::platform
