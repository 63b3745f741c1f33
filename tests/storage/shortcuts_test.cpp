#include "storage/shortcuts.hpp"

#include "logging/log.hpp"
#include "model/key_labels.hpp"
#include "platform/memory/memory_ports.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <set>

namespace chordwell {
namespace {

namespace fs = std::filesystem;
using chordwell::testing::TempDir;
using chordwell::testing::writeText;
using platform::CapturingSystemLog;

class ShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override { logging::configure(systemLog, std::nullopt); }
    void TearDown() override { logging::configure(nullptr, std::nullopt); }

    std::vector<ShortcutGroup> loadText(const std::string& text) {
        writeText(temp.path() / "shortcuts.json", text);
        return ShortcutsLoader(temp.path() / "shortcuts.json").load();
    }

    std::shared_ptr<CapturingSystemLog> systemLog = std::make_shared<CapturingSystemLog>();
    TempDir temp;
};

TEST_F(ShortcutsTest, DecodesGroupsInFileOrderAndIgnoresUnknownKeys) {
    const auto groups = loadText(R"([
        {"groupName": "Editing", "icon": "pencil", "items": [
            {"name": "copy", "codes": [{"keyCode": 8, "modifiers": 1048576}]},
            {"name": "escape", "codes": [{"keyCode": 53}], "note": "plain key"},
            {"name": "no modifiers", "codes": [{"keyCode": 0, "modifiers": null}]}
        ]},
        {"groupName": "Empty", "items": []}
    ])");
    const std::vector<ShortcutGroup> expected = {
        {"Editing", {{"copy", {{8, 0x100000}}}, {"escape", {{53, 0}}}, {"no modifiers", {{0, 0}}}}},
        {"Empty", {}},
    };
    EXPECT_EQ(groups, expected);
    EXPECT_TRUE(systemLog->entries().empty());
}

TEST_F(ShortcutsTest, AnEmptyArrayIsAnEmptyCatalogWithoutMessages) {
    EXPECT_TRUE(loadText("[]").empty());
    EXPECT_TRUE(systemLog->entries().empty());
}

TEST_F(ShortcutsTest, AnyMalformedEntryEmptiesTheWholeCatalog) {
    struct Case {
        const char* text;
        const char* problem; // part of the logged description
    };
    const Case cases[] = {
        {"", "invalid JSON"},
        {"[{", "invalid JSON"},
        {R"({"groupName": "A", "items": []})", "expected an array"},
        {R"([{"items": []}])", "[0].groupName: missing"},
        {R"([{"groupName": 5, "items": []}])", "[0].groupName: expected a string"},
        {R"([{"groupName": "A"}])", "[0].items: missing"},
        {R"([{"groupName": "A", "items": [{"name": "x"}]}])", "[0].items[0].codes: missing"},
        {R"([{"groupName": "A", "items": [{"codes": []}]}])", "[0].items[0].name: missing"},
        {R"([{"groupName": "A", "items": [{"name": "x", "codes": [{}]}]}])",
         "[0].items[0].codes[0].keyCode: missing"},
        {R"([{"groupName": "A", "items": [{"name": "x", "codes": [{"keyCode": "8"}]}]}])",
         "[0].items[0].codes[0].keyCode: expected an integer"},
        {R"([{"groupName": "A", "items": [{"name": "x", "codes": [{"keyCode": 8.5}]}]}])",
         "[0].items[0].codes[0].keyCode: expected an integer"},
        {R"([{"groupName": "A", "items": [{"name": "x", "codes": [{"keyCode": -1}]}]}])",
         "[0].items[0].codes[0].keyCode: -1 is not a key code"},
        {R"([{"groupName": "A", "items": [{"name": "x", "codes": [{"keyCode": 65536}]}]}])",
         "[0].items[0].codes[0].keyCode: 65536 is not a key code"},
        {R"([{"groupName": "A", "items": [{"name": "x", "codes": [{"keyCode": 1,
              "modifiers": -1048576}]}]}])",
         "[0].items[0].codes[0].modifiers: must not be negative"},
        {R"([{"groupName": "A", "items": [{"name": "x", "codes": [{"keyCode": 1,
              "modifiers": "cmd"}]}]}])",
         "[0].items[0].codes[0].modifiers: expected an integer"},
        {R"([{"groupName": "A", "items": []}, {"groupName": "B", "items": [
              {"name": "ok", "codes": [{"keyCode": 1}]}, {"name": "bad", "codes": {}}]}])",
         "[1].items[1].codes: expected an array"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        systemLog->clear();
        EXPECT_TRUE(loadText(c.text).empty());
        const auto entries = systemLog->entries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].level, LogLevel::error);
        EXPECT_EQ(entries[0].category, "shortcuts");
        EXPECT_TRUE(entries[0].message.starts_with("Failed to decode shortcuts.json: "))
            << entries[0].message;
        EXPECT_NE(entries[0].message.find(c.problem), std::string::npos) << entries[0].message;
    }
}

TEST_F(ShortcutsTest, AMissingResourceIsReported) {
    const std::optional<fs::path> paths[] = {std::nullopt, temp.path() / "absent.json"};
    for (const auto& path : paths) {
        systemLog->clear();
        EXPECT_TRUE(ShortcutsLoader(path).load().empty());
        const std::vector<platform::CapturedLogEntry> expected = {
            {LogLevel::error, "com.palvane.Chordwell", "shortcuts",
             "shortcuts.json not found in bundle!"}};
        EXPECT_EQ(systemLog->entries(), expected);
    }
}

TEST(ShortcutItemTest, NamesAreCapitalisedWordByWord) {
    struct Case {
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {"copy to clipboard", "Copy To Clipboard"},
        {"macOS window", "Macos Window"},
        {"SAVE ALL", "Save All"},
        {"  two  spaces\tand tab", "  Two  Spaces\tAnd Tab"},
        {"f11 and 2nd", "F11 And 2nd"},
        {"\xC3\x89"
         "COLE",
         "\xC3\x89"
         "cole"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(capitalizedWords(c.name), c.expected);
        EXPECT_EQ((ShortcutItem{c.name, {}}).displayName(), c.expected);
    }
}

TEST(ShortcutItemTest, BecomesACustomKeySequenceWithSignatureModifiersOnly) {
    const ShortcutItem item{"paste and match style",
                            {
                                {9, 0x100000 | 0x80000 | 0x20000},
                                {53, 0},
                                {8, 0x100000 | 0x10000 | 0x800000}, // Caps Lock and Fn bits
                                {0, 0x40000 | 0x2},                 // device-dependent bit
                            }};
    const OutputBehavior behavior = item.outputBehavior();
    EXPECT_EQ(behavior.kind(), OutputBehavior::Kind::customKeySequence);
    EXPECT_EQ(behavior.name(), "Paste And Match Style");
    const std::vector<MacKeySignature> expected = {
        {9, kMaskCommand | kMaskAlternate | kMaskShift},
        {53, 0},
        {8, kMaskCommand},
        {0, kMaskControl},
    };
    EXPECT_EQ(behavior.signatures(), expected);
    EXPECT_EQ(item.signatures(), expected);
}

// The catalogs we ship must load whole and show every key with a real label.
TEST(ShippedCatalogTest, EveryEntryDecodesAndEveryKeyHasALabel) {
    const fs::path catalogs[] = {
        fs::path(CHORDWELL_TEST_RESOURCES_DIR) / "shortcuts.json",
        fs::path(CHORDWELL_TEST_RESOURCES_DIR) / "linux" / "shortcuts.json",
    };
    for (const fs::path& path : catalogs) {
        SCOPED_TRACE(path.string());
        auto systemLog = std::make_shared<CapturingSystemLog>();
        logging::configure(systemLog, std::nullopt);
        const auto groups = ShortcutsLoader(path).load();
        logging::configure(nullptr, std::nullopt);
        EXPECT_TRUE(systemLog->entries().empty());

        EXPECT_GE(groups.size(), 6u);
        std::size_t items = 0;
        std::set<std::string> groupNames;
        for (const ShortcutGroup& group : groups) {
            EXPECT_TRUE(groupNames.insert(group.groupName).second) << group.groupName;
            std::set<std::string> itemNames;
            for (const ShortcutItem& item : group.items) {
                ++items;
                EXPECT_TRUE(itemNames.insert(item.name).second) << item.name;
                EXPECT_FALSE(item.codes.empty()) << item.name;
                for (const KeyCodeEntry& entry : item.codes) {
                    EXPECT_FALSE(keyLabel(entry.keyCode).starts_with("0x"))
                        << item.name << ": key code " << entry.keyCode;
                    EXPECT_EQ(static_cast<EventFlags>(entry.modifiers) & ~kSignatureModifierMask,
                              0u)
                        << item.name;
                }
            }
        }
        EXPECT_GE(items, 40u);
    }
}

// Where the catalog is looked up: an installed program reads the installed
// folder beside its "bin" and nothing else; the development folder counts
// only when nothing is installed beside the program.
TEST(ResourceLookupTest, InstalledFolderFirstThenDevelopmentThenNothing) {
    struct Case {
        const char* what;
        bool installed;        // <prefix>/share/chordwell/shortcuts.json exists
        bool developmentGiven; // the program declared a development folder
        bool knowsExecutable;  // the adapter found the running program
        const char* expected;  // "installed", "development" or "" (none)
    };
    const Case cases[] = {
        {"installed only", true, false, true, "installed"},
        {"installed wins over the source tree", true, true, true, "installed"},
        {"build folder run uses the source tree", false, true, true, "development"},
        {"installed program without its catalog finds none", false, false, true, ""},
        {"unknown program location falls back", false, true, false, "development"},
        {"unknown program location, nothing declared", true, false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        const fs::path prefix = temp.path() / "root" / "usr";
        fs::create_directories(prefix / "bin");
        const fs::path installed = prefix / "share" / "chordwell";
        const fs::path development = temp.path() / "source" / "resources";
        fs::create_directories(development);
        writeText(development / "shortcuts.json", "[]");
        if (c.installed) {
            fs::create_directories(installed);
            writeText(installed / "shortcuts.json", "[]");
        }
        if (c.developmentGiven) {
            platform::setDevelopmentResourceDirectory(development);
        } else {
            platform::setDevelopmentResourceDirectory({});
        }
        const auto executable =
            c.knowsExecutable ? std::optional(prefix / "bin" / "chordwell") : std::nullopt;
        const auto directory = platform::resourceDirectoryBeside(executable);
        const platform::FolderPaths paths(temp.path() / "support", directory);
        const auto catalog = defaultShortcutsPath(paths);
        const std::string expected = c.expected;
        if (expected.empty()) {
            EXPECT_EQ(catalog, std::nullopt);
        } else {
            ASSERT_TRUE(catalog.has_value());
            EXPECT_EQ(*catalog,
                      ((expected == "installed" ? installed : development) / "shortcuts.json")
                          .lexically_normal());
        }
    }
    platform::setDevelopmentResourceDirectory({});
}

// Chords that destroy work at once, without the application or desktop
// asking first: the catalog must never offer them as an output.
TEST(ShippedCatalogTest, NoEntryDestroysWorkWithoutAsking) {
    struct Chord {
        std::int64_t keyCode;
        EventFlags modifiers;
        const char* why;
    };
    const Chord destructive[] = {
        // X server "zap": kills the session and every unsaved document.
        {51, kMaskControl | kMaskAlternate, "Control+Alt+Backspace"},
        // macOS: log out at once, no confirmation.
        {12, kMaskShift | kMaskAlternate | kMaskCommand, "Shift+Option+Command+Q"},
    };
    const fs::path catalogs[] = {
        fs::path(CHORDWELL_TEST_RESOURCES_DIR) / "shortcuts.json",
        fs::path(CHORDWELL_TEST_RESOURCES_DIR) / "linux" / "shortcuts.json",
    };
    for (const fs::path& path : catalogs) {
        for (const ShortcutGroup& group : ShortcutsLoader(path).load()) {
            for (const ShortcutItem& item : group.items) {
                for (const KeyCodeEntry& entry : item.codes) {
                    for (const Chord& chord : destructive) {
                        EXPECT_FALSE(entry.keyCode == chord.keyCode &&
                                     static_cast<EventFlags>(entry.modifiers) == chord.modifiers)
                            << path << ": " << item.name << " is " << chord.why;
                    }
                }
            }
        }
    }
}

} // namespace
} // namespace chordwell
