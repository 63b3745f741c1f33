#include "platform/linux/json_preferences.hpp"

#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace chordwell::platform::lnx {
namespace {

namespace fs = std::filesystem;

class JsonPreferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        logging::configure(std::make_shared<NullSystemLog>(), std::nullopt);
        char pattern[] = "/tmp/chordwell-prefs-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        file_ = dir_ / "Chordwell" / "preferences.json";
    }
    void TearDown() override { fs::remove_all(dir_); }

    void writeFile(const std::string& text) {
        fs::create_directories(file_.parent_path());
        std::ofstream(file_) << text;
    }
    std::string readFile(const fs::path& path) const {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path dir_;
    fs::path file_;
};

TEST_F(JsonPreferencesTest, ValuesSurviveAReload) {
    {
        JsonFilePreferences prefs(file_);
        EXPECT_FALSE(prefs.value("key_repeat_enabled").has_value());
        prefs.setValue("key_repeat_enabled", false);
        prefs.setValue("key_repeat_interval", 0.25);
        prefs.setValue("note", std::string("text"));
    }
    JsonFilePreferences again(file_);
    EXPECT_EQ(again.value("key_repeat_enabled"), PreferenceValue(false));
    EXPECT_EQ(again.value("key_repeat_interval"), PreferenceValue(0.25));
    EXPECT_EQ(again.value("note"), PreferenceValue(std::string("text")));
    EXPECT_FALSE(fs::exists(file_.string() + ".tmp"));
}

TEST_F(JsonPreferencesTest, StoredTypesAreReadBack) {
    writeFile(R"({"a": true, "b": 3, "c": -0.5, "d": "x", "e": [1, 2], "f": null})");
    JsonFilePreferences prefs(file_);
    EXPECT_EQ(prefs.value("a"), PreferenceValue(true));
    EXPECT_EQ(prefs.value("b"), PreferenceValue(3.0));
    EXPECT_EQ(prefs.value("c"), PreferenceValue(-0.5));
    EXPECT_EQ(prefs.value("d"), PreferenceValue(std::string("x")));
    EXPECT_EQ(prefs.value("e"), PreferenceValue(std::string("[1,2]")));
    EXPECT_EQ(prefs.value("f"), PreferenceValue(std::string("null")));
}

TEST_F(JsonPreferencesTest, UnreadableFileIsKeptAside) {
    const std::string deep = "{\"a\":" + std::string(100, '[') + std::string(100, ']') + "}";
    const std::string broken[] = {
        "{not json", "[1, 2, 3]", "\"just text\"", std::string("{}\0{\"a\":1}", 10), "{} {}", deep};
    for (const std::string& text : broken) {
        SCOPED_TRACE(text);
        fs::remove_all(file_.parent_path());
        writeFile(text);
        JsonFilePreferences prefs(file_);
        EXPECT_FALSE(prefs.value("anything").has_value());
        EXPECT_EQ(readFile(file_.string() + ".unreadable"), text);
        prefs.setValue("key_repeat_enabled", true);
        JsonFilePreferences again(file_);
        EXPECT_EQ(again.value("key_repeat_enabled"), PreferenceValue(true));
    }
}

TEST_F(JsonPreferencesTest, ChangesByAnotherWriterAreSeenAndABrokenFileChangesNothing) {
    JsonFilePreferences prefs(file_, std::chrono::milliseconds(0));
    prefs.setValue("key_repeat_interval", 0.2);
    struct Step {
        const char* written;
        std::optional<PreferenceValue> expected;
    };
    const std::vector<Step> steps = {
        {R"({"key_repeat_interval": 0.05})", PreferenceValue{0.05}},
        {R"({"key_repeat_interval": )", PreferenceValue{0.05}}, // half written: kept
        {R"({"other": true})", std::nullopt},
    };
    auto stamp = fs::last_write_time(file_);
    for (const Step& step : steps) {
        writeFile(step.written);
        stamp += std::chrono::seconds(1); // a later write, whatever the clock's grain
        fs::last_write_time(file_, stamp);
        EXPECT_EQ(prefs.value("key_repeat_interval"), step.expected) << step.written;
    }
    EXPECT_FALSE(fs::exists(file_.string() + ".unreadable")) << "a later file is never set aside";
}

TEST_F(JsonPreferencesTest, DefaultFileFollowsXdgConfigHome) {
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = oldConfig != nullptr ? oldConfig : "";
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(JsonFilePreferences::defaultFile(), fs::path("/cfg/Chordwell/preferences.json"));
    ::setenv("XDG_CONFIG_HOME", "relative", 1); // not absolute: ignored
    const auto fallback = JsonFilePreferences::defaultFile();
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        EXPECT_EQ(fallback, fs::path(home) / ".config/Chordwell/preferences.json");
    }
    if (oldConfig != nullptr) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

} // namespace
} // namespace chordwell::platform::lnx
