#include "platform/memory/memory_ports.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace chordwell::platform {
namespace {

namespace fs = std::filesystem;
using chordwell::testing::TempDir;
using chordwell::testing::writeText;

TEST(MemoryPreferencesTest, StoresOverwritesAndForgetsValues) {
    MemoryPreferences prefs{{"a", PreferenceValue{true}}, {"b", PreferenceValue{2.5}}};
    EXPECT_EQ(prefs.value("a"), std::optional<PreferenceValue>(true));
    EXPECT_EQ(prefs.value("b"), std::optional<PreferenceValue>(2.5));
    EXPECT_FALSE(prefs.value("c").has_value());

    prefs.setValue("a", std::string("text"));
    EXPECT_EQ(prefs.value("a"), std::optional<PreferenceValue>(std::string("text")));
    prefs.removeValue("a");
    prefs.removeValue("never there");
    EXPECT_FALSE(prefs.value("a").has_value());
}

TEST(MemoryPreferencesTest, ConcurrentWritersAndReadersAgree) {
    MemoryPreferences prefs;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&prefs, t] {
            const std::string key = "key" + std::to_string(t);
            for (int i = 0; i < 1000; ++i) {
                prefs.setValue(key, static_cast<double>(i));
                (void)prefs.value("key0");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(prefs.value("key" + std::to_string(t)), std::optional<PreferenceValue>(999.0));
    }
}

TEST(FolderPathsTest, CreatesTheFolderOrReportsWhyNot) {
    TempDir temp;
    writeText(temp.path() / "file", "x");
    struct Case {
        std::optional<fs::path> folder;
        bool succeeds;
    };
    const Case cases[] = {
        {temp.path() / "a" / "b", true},
        {temp.path(), true},
        {std::nullopt, false},
        {temp.path() / "file", false},
        {temp.path() / "file" / "below", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder ? c.folder->string() : "no folder");
        const FolderPaths paths = c.folder ? FolderPaths(*c.folder) : FolderPaths();
        std::error_code error;
        const auto result = paths.applicationSupportDirectory(error);
        EXPECT_EQ(result.has_value(), c.succeeds);
        EXPECT_EQ(static_cast<bool>(error), !c.succeeds);
        if (c.succeeds) {
            EXPECT_EQ(*result, *c.folder);
            EXPECT_TRUE(fs::is_directory(*c.folder));
            EXPECT_EQ(paths.mappingsFolder(*result), *c.folder / "Mappings");
            EXPECT_EQ(paths.logsFolder(*result), *c.folder / "Chordwell" / "Logs");
        }
    }
}

TEST(SystemLogTest, CapturingLogRecordsEveryLineEvenAfterItIsGone) {
    std::shared_ptr<SystemLogHandle> handle;
    {
        CapturingSystemLog log;
        handle = log.makeHandle("com.example", "storage");
        EXPECT_TRUE(handle->isEnabled(LogLevel::debug));
        handle->emit(LogLevel::debug, "one");
        handle->emit(LogLevel::error, "two");
        const std::vector<CapturedLogEntry> expected = {
            {LogLevel::debug, "com.example", "storage", "one"},
            {LogLevel::error, "com.example", "storage", "two"},
        };
        EXPECT_EQ(log.entries(), expected);
        log.clear();
        EXPECT_TRUE(log.messages().empty());
    }
    handle->emit(LogLevel::info, "after the log is gone"); // must not crash
}

TEST(SystemLogTest, LevelsAndFilters) {
    struct Case {
        LogLevel level;
        const char* label;
        bool nullEnabled;
        bool stderrWarningEnabled;
    };
    const Case cases[] = {
        {LogLevel::debug, "DEBUG", false, false},         {LogLevel::info, "INFO", false, false},
        {LogLevel::warning, "WARN", false, true},         {LogLevel::error, "ERROR", false, true},
        {static_cast<LogLevel>(9), "ERROR", false, true},
    };
    NullSystemLog nullLog;
    StderrSystemLog stderrLog(LogLevel::warning);
    auto nullHandle = nullLog.makeHandle("s", "c");
    auto stderrHandle = stderrLog.makeHandle("s", "c");
    for (const Case& c : cases) {
        EXPECT_EQ(logLevelLabel(c.level), c.label);
        EXPECT_EQ(nullHandle->isEnabled(c.level), c.nullEnabled);
        EXPECT_EQ(stderrHandle->isEnabled(c.level), c.stderrWarningEnabled);
    }
    EXPECT_EQ(StderrSystemLog::formatLine(LogLevel::warning, "keyboard", "Tap disabled"),
              "[WARN] (keyboard) Tap disabled");
}

} // namespace
} // namespace chordwell::platform
