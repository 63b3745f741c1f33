#include "logging/log.hpp"

#include "logging/log_file.hpp"
#include "platform/memory/memory_ports.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <regex>

namespace chordwell {
namespace {

using chordwell::testing::TempDir;
using platform::CapturedLogEntry;
using platform::CapturingSystemLog;

// Counts the handles it hands out, to show that the logger caches them.
class CountingSystemLog : public CapturingSystemLog {
public:
    std::shared_ptr<platform::SystemLogHandle> makeHandle(std::string_view subsystem,
                                                          std::string_view category) override {
        ++made[std::string(category)];
        return CapturingSystemLog::makeHandle(subsystem, category);
    }
    std::map<std::string, int> made;
};

class LogTest : public ::testing::Test {
protected:
    void TearDown() override {
        logging::flush();
        logging::configure(nullptr, std::nullopt);
    }
    TempDir temp;
};

// The file part of a line, without its time stamp.
std::string withoutTimestamps(const std::string& text) {
    static const std::regex stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )");
    return std::regex_replace(text, stamp, "");
}

TEST_F(LogTest, EveryLevelReachesTheSystemLogButDebugNeverTheFile) {
    auto systemLog = std::make_shared<CapturingSystemLog>();
    logging::configure(systemLog, temp.path());

    log(LogLevel::debug, "Checking device list", "keyboard");
    log(LogLevel::info, "Loaded 2 mappings", "storage");
    log(LogLevel::warning, "Event tap disabled by timeout", "keyboard");
    log(LogLevel::error, "Failed to save", "storage");
    log(std::uint8_t{7}, "Level seven", "ui");
    logging::flush();

    const std::vector<CapturedLogEntry> expected = {
        {LogLevel::debug, "com.palvane.Chordwell", "keyboard", "Checking device list"},
        {LogLevel::info, "com.palvane.Chordwell", "storage", "Loaded 2 mappings"},
        {LogLevel::warning, "com.palvane.Chordwell", "keyboard", "Event tap disabled by timeout"},
        {LogLevel::error, "com.palvane.Chordwell", "storage", "Failed to save"},
        {LogLevel::error, "com.palvane.Chordwell", "ui", "Level seven"},
    };
    EXPECT_EQ(systemLog->entries(), expected);
    EXPECT_EQ(withoutTimestamps(logging::LogFile::shared().readAll()),
              "[INFO] (storage) Loaded 2 mappings\n"
              "[WARN] (keyboard) Event tap disabled by timeout\n"
              "[ERROR] (storage) Failed to save\n"
              "[ERROR] (ui) Level seven\n");
}

TEST_F(LogTest, HandlesAreMadeOncePerCategoryAndDroppedOnReconfigure) {
    auto first = std::make_shared<CountingSystemLog>();
    logging::configure(first, std::nullopt, "org.example.Custom");
    for (int i = 0; i < 3; ++i) {
        log(LogLevel::info, "a", "storage");
        log(LogLevel::debug, "b", "keyboard");
    }
    EXPECT_EQ(first->made, (std::map<std::string, int>{{"keyboard", 1}, {"storage", 1}}));
    ASSERT_FALSE(first->entries().empty());
    EXPECT_EQ(first->entries().front().subsystem, "org.example.Custom");

    auto second = std::make_shared<CountingSystemLog>();
    logging::configure(second, std::nullopt);
    log(LogLevel::info, "c", "storage");
    EXPECT_EQ(second->made, (std::map<std::string, int>{{"storage", 1}}));
    EXPECT_EQ(second->messages(), std::vector<std::string>{"c"});
    EXPECT_EQ(first->entries().size(), 6u);
}

TEST_F(LogTest, WithoutAFolderNothingIsWritten) {
    auto systemLog = std::make_shared<CapturingSystemLog>();
    logging::configure(systemLog, std::nullopt);
    log(LogLevel::error, "Nowhere to go", "io");
    EXPECT_EQ(logging::LogFile::shared().readAll(), "");
    EXPECT_EQ(systemLog->messages(), std::vector<std::string>{"Nowhere to go"});
}

TEST(LogLevelTest, ValuesAboveWarningCountAsError) {
    struct Case {
        std::uint8_t raw;
        LogLevel expected;
    };
    const Case cases[] = {{0, LogLevel::debug},  {1, LogLevel::info},  {2, LogLevel::warning},
                          {3, LogLevel::error},  {4, LogLevel::error}, {7, LogLevel::error},
                          {255, LogLevel::error}};
    for (const Case& c : cases) {
        EXPECT_EQ(logging::normalizedLevel(static_cast<LogLevel>(c.raw)), c.expected) << int{c.raw};
    }
}

} // namespace
} // namespace chordwell
