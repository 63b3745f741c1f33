// The keyboard layout read with libxkbcommon, from explicit names (no X
// server needed): the tables agree with the simulated world's hand-written
// ones, and built-ins and catalog shortcuts resolve to the same keys.
#include "platform/linux/key_tables.hpp"
#include "platform/linux/xkb_layout.hpp"

#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/sim/sim_layouts.hpp"
#include "storage/shortcuts.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <cstdlib>
#include <filesystem>

namespace chordwell::platform::lnx {
namespace {

using Level = KeyLayout::Level;

struct Named {
    const char* sim;
    XkbNames names;
};

const Named kLayouts[] = {
    {"us", {"", "", "us", "", ""}}, {"fr", {"", "", "fr", "", ""}},
    {"de", {"", "", "de", "", ""}}, {"dvorak", {"", "", "us", "dvorak", ""}},
    {"ru", {"", "", "ru", "", ""}},
};

std::shared_ptr<const KeyLayout> compiled(const XkbNames& names) {
    std::string error;
    auto layout = keyLayoutFromNames(names, error);
    EXPECT_TRUE(layout) << error;
    return layout;
}

// The keys of the four rows and the space bar: what the simulated world
// writes out.
bool inSimulatedRows(std::int64_t code) {
    return isCharacterKeyCode(code) && code != 10 && code < 51;
}

TEST(XkbLayout, TablesAgreeWithTheSimulatedWorld) {
    for (const Named& named : kLayouts) {
        SCOPED_TRACE(named.sim);
        const auto xkb = compiled(named.names);
        ASSERT_TRUE(xkb);
        const auto sim = sim::simLayout(named.sim);
        for (std::int64_t code = 0; code < 128; ++code) {
            if (!inSimulatedRows(code)) {
                continue;
            }
            for (auto level : {Level::plain, Level::shift, Level::command}) {
                EXPECT_EQ(xkb->character(0, code, level), sim->character(0, code, level))
                    << "key " << code << " level " << static_cast<int>(level);
            }
        }
    }
}

TEST(XkbLayout, BuiltInsAndTheCatalogResolveAsInTheSimulatedWorld) {
    std::vector<MacKeySignature> keys = {
        {49, kMaskCommand},
        {8, kMaskCommand},
        {9, kMaskCommand}, // the macOS built-ins
        {55, 0},
        {8, kMaskControl},
        {9, kMaskControl}, // the Linux ones
    };
    const std::filesystem::path resources(CHORDWELL_TEST_RESOURCES_DIR);
    for (const auto& path :
         {resources / "shortcuts.json", resources / "linux" / "shortcuts.json"}) {
        for (const ShortcutGroup& group : ShortcutsLoader(path).load()) {
            for (const ShortcutItem& item : group.items) {
                const auto signatures = item.signatures();
                keys.insert(keys.end(), signatures.begin(), signatures.end());
            }
        }
    }
    ASSERT_GT(keys.size(), 150u);
    for (const Named& named : kLayouts) {
        SCOPED_TRACE(named.sim);
        const auto xkb = compiled(named.names);
        ASSERT_TRUE(xkb);
        const auto sim = sim::simLayout(named.sim);
        for (const MacKeySignature& key : keys) {
            EXPECT_EQ(resolvedForLayout(*xkb, key), resolvedForLayout(*sim, key))
                << key.keyCode << " " << key.modifiers;
        }
    }
}

// What the virtual keyboard presses for Select All, Copy and Paste.
TEST(XkbLayout, ShortcutsBecomeTheEvdevKeysOfTheLayout) {
    struct Case {
        XkbNames names;
        std::int64_t usKey;
        std::uint16_t evdev;
    };
    const Case cases[] = {
        {{"", "", "fr", "", ""}, 0, KEY_Q},         // a, Select All
        {{"", "", "us", "dvorak", ""}, 8, KEY_I},   // c, Copy
        {{"", "", "us", "dvorak", ""}, 9, KEY_DOT}, // v, Paste
        {{"", "", "de", "", ""}, 6, KEY_Y},         // z, Undo
        {{"", "", "ru", "", ""}, 8, KEY_C},         // no c: the US key
        {{"", "", "ru,fr", "", ""}, 0, KEY_Q},      // a in the second group
        {{"", "", "fr,us", "", ""}, 0, KEY_Q},      // the active group first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.layout);
        const auto layout = compiled(c.names);
        ASSERT_TRUE(layout);
        const MacKeySignature key = resolvedForLayout(*layout, {c.usKey, kMaskControl});
        EXPECT_EQ(key.modifiers, kMaskControl);
        EXPECT_EQ(evdevCodeForTapKeyCode(key.keyCode), c.evdev);
    }
}

TEST(XkbLayout, ReadsTheDefaultKeyboardFile) {
    const XkbNames names = parseDefaultKeyboardFile("# KEYBOARD CONFIGURATION FILE\n"
                                                    "XKBMODEL=\"pc105\"\n"
                                                    "  export XKBLAYOUT='fr,us'\r\n"
                                                    "XKBVARIANT=oss # the variant\n"
                                                    "XKBOPTIONS=\"\"\n"
                                                    "BACKSPACE=\"guess\"\n"
                                                    "XKBRULES\n");
    EXPECT_EQ(names, (XkbNames{"", "pc105", "fr,us", "oss", ""}));
    EXPECT_EQ(parseDefaultKeyboardFile(""), XkbNames{});
}

class ConfiguredLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        logging::configure(log_, std::nullopt);
        for (const char* name : kVariables) {
            if (const char* value = std::getenv(name)) {
                saved_.emplace_back(name, value);
            }
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (const char* name : kVariables) {
            unsetenv(name);
        }
        for (const auto& [name, value] : saved_) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        logging::configure(std::make_shared<NullSystemLog>(), std::nullopt);
    }
    static constexpr const char* kVariables[] = {"XKB_DEFAULT_RULES", "XKB_DEFAULT_MODEL",
                                                 "XKB_DEFAULT_LAYOUT", "XKB_DEFAULT_VARIANT",
                                                 "XKB_DEFAULT_OPTIONS"};
    std::vector<std::pair<std::string, std::string>> saved_;
    std::shared_ptr<CapturingSystemLog> log_ = std::make_shared<CapturingSystemLog>();
    testing::TempDir dir_;
};

TEST_F(ConfiguredLayoutTest, TheEnvironmentComesFirstThenTheFile) {
    const auto file = dir_.path() / "keyboard";
    testing::writeText(file, "XKBLAYOUT=\"de\"\n");
    EXPECT_EQ(configuredLayout(file, false)->names.layout, "de");
    EXPECT_EQ(configuredLayout(file, false)->source, file.string());

    setenv("XKB_DEFAULT_LAYOUT", "us", 1);
    setenv("XKB_DEFAULT_VARIANT", "dvorak", 1);
    const auto configured = configuredLayout(file, false);
    EXPECT_EQ(configured->names, (XkbNames{"", "", "us", "dvorak", ""}));
    EXPECT_EQ(configured->source, "XKB_DEFAULT_LAYOUT");
    const auto layout = XkbKeyboardLayout::fromConfiguration(file, false);
    EXPECT_EQ(layout->activeLayout()->name(), "us(dvorak)");
    EXPECT_EQ(layout->keyTyping(U'c', true), (MacKeySignature{34, 0}));

    unsetenv("XKB_DEFAULT_LAYOUT");
    unsetenv("XKB_DEFAULT_VARIANT");
    testing::writeText(file, "XKBMODEL=pc105\n");
    EXPECT_FALSE(configuredLayout(file, false));
    EXPECT_FALSE(configuredLayout(dir_.path() / "missing", false));
    EXPECT_FALSE(configuredLayout(dir_.path(), false)); // a folder is no file
}

TEST_F(ConfiguredLayoutTest, AnUnknownLayoutFallsBackToUsWithAWarning) {
    setenv("XKB_DEFAULT_LAYOUT", "no-such-layout", 1);
    const auto layout = XkbKeyboardLayout::fromConfiguration(dir_.path() / "missing", false);
    EXPECT_EQ(*layout->activeLayout(), usLayout());
    bool warned = false;
    for (const auto& entry : log_->entries()) {
        warned = warned || entry.level == LogLevel::warning;
    }
    EXPECT_TRUE(warned);

    std::string error;
    EXPECT_FALSE(keyLayoutFromNames({"", "", "no-such-layout", "", ""}, error));
    EXPECT_NE(error.find("no-such-layout"), std::string::npos);
}

} // namespace
} // namespace chordwell::platform::lnx
