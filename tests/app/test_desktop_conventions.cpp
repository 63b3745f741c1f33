// What the editor and the list do where the desktops' conventions differ,
// the way out of a recording that swallows every key, the search over a long
// list, and what an import reports.
#include "app_test_support.hpp"

#include "app/mappings/mapping_table.hpp"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <random>

namespace chordwell::app {
namespace {

using testing::makeMapping;
using testing::makeRecord;
using testing::ModelWorld;

constexpr EventFlags kCmd = kMaskCommand;

// A world with "Board" selected, following `platform`'s conventions.
struct Desk {
    explicit Desk(UiPlatform platform, std::vector<ShortcutGroup> catalog = {})
        : w(std::move(catalog), true, Conventions::of(platform)) {
        kb = w.attach("Board", 1, 1, 1);
        w.model->selectKeyboard(w.device(kb));
    }
    void recordFrom(std::vector<HidUsage> keys) {
        w.model->toggleCaptureFrom();
        w.press(kb, std::move(keys));
        w.model->toggleCaptureFrom();
    }
    std::size_t stored() const {
        const DeviceMapping* r = w.model->selectedRecord();
        return r != nullptr ? r->mappings.size() : 0;
    }
    ModelWorld w;
    std::shared_ptr<platform::sim::SimKeyboard> kb;
};

} // namespace

TEST(DesktopConventions, AfterASaveTheFormClearsWhereTheDesktopExpectsIt) {
    for (const UiPlatform platform : {UiPlatform::macOS, UiPlatform::linuxDesktop}) {
        Desk d(platform);
        auto& m = *d.w.model;
        m.setMappingName("Copy");
        m.chooseConstantBehavior(1); // No Action
        d.recordFrom({0xE0, 0x04});
        m.saveMapping();
        ASSERT_EQ(d.stored(), 1u);
        const bool clears = platform == UiPlatform::linuxDesktop;
        EXPECT_EQ(m.mappingName, clears ? "" : "Copy");
        EXPECT_EQ(m.toMenuLabel(), clears ? "No Action" : "No Action");
        EXPECT_EQ(m.capturedCustomCodesFrom.empty(), clears);
        EXPECT_EQ(m.editorTitle(), "New Mapping");

        m.startEditing(m.selectedRecord()->mappings.front());
        EXPECT_EQ(m.editorTitle(), clears ? "Edit Mapping" : "New Mapping");
        EXPECT_EQ(m.saveButtonTitle(), "Edit Mapping");
    }
}

TEST(DesktopConventions, ReplacingOrClearingTheListDuringAnEditEndsTheEdit) {
    // Otherwise "Edit Mapping" would change a mapping that is gone, and the
    // change would be lost without a word.
    for (const bool replace : {true, false}) {
        Desk d(UiPlatform::linuxDesktop);
        auto& m = *d.w.model;
        m.setMappingName("One");
        d.recordFrom({0x04});
        m.saveMapping();
        m.startEditing(m.selectedRecord()->mappings.front());
        ASSERT_TRUE(m.isEditingMode);
        if (replace) {
            m.importMappings({makeMapping("Other", {0x05})}, false);
            m.replaceImportedMappings();
        } else {
            m.clearAllMappings();
        }
        EXPECT_FALSE(m.isEditingMode) << (replace ? "replace" : "clear");
        EXPECT_FALSE(m.editingItemMapping);
        EXPECT_EQ(m.mappingName, "");
        EXPECT_EQ(m.saveButtonTitle(), "Save Mapping");
    }
}

TEST(DesktopConventions, CatalogNamesInTitleCaseOnLinux) {
    const struct {
        const char* name;
        const char* mac;
        const char* linux;
    } cases[] = {
        {"workspace to the left", "Workspace To The Left", "Workspace to the Left"},
        {"app windows", "App Windows", "App Windows"},
        {"select to start of line", "Select To Start Of Line", "Select to Start of Line"},
        {"the end", "The End", "The End"}, // first and last words keep their capital
        {"zoom in", "Zoom In", "Zoom In"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(catalogTitle(c.name, Conventions::of(UiPlatform::macOS)), c.mac);
        EXPECT_EQ(catalogTitle(c.name, Conventions::of(UiPlatform::linuxDesktop)), c.linux);
    }
    ShortcutItem left{"workspace to the left", {{123, static_cast<std::int64_t>(kCmd)}}};
    Desk d(UiPlatform::linuxDesktop, {ShortcutGroup{"Desktop", {left}}});
    EXPECT_EQ(d.w.model->toMenuGroups().at(0).itemTitles.at(0), "Workspace to the Left");
    d.w.model->chooseCatalogItem(0, 0);
    EXPECT_EQ(d.w.model->toMenuLabel(), "Workspace to the Left");
    EXPECT_EQ(d.w.model->toField().keysText, "Super+Left");
}

TEST(DesktopConventions, CountsCarryThousandsSeparators) {
    // The user's locale decides the separator; from a thousand on, the
    // digits are grouped.
    for (const std::int64_t count : {0, 7, 999, 1000, 10000, 1234567}) {
        const QString shown = QString::fromStdString(countText(count));
        EXPECT_EQ(QString(shown).remove(QRegularExpression(QStringLiteral("[^0-9]"))),
                  QString::number(count));
        EXPECT_EQ(shown != QString::number(count), count >= 1000) << shown.toStdString();
    }
}

// ----------------------------------------------------------- the way out

TEST(RecordingWayOut, BackspaceEscapeAndEnterEndARecordingAndAreLeftOut) {
    for (const bool from : {true, false}) {
        Desk d(UiPlatform::linuxDesktop);
        auto& m = *d.w.model;
        m.chooseConstantBehavior(0); // Custom, so that "To" records too
        if (from) {
            m.toggleCaptureFrom();
        } else {
            m.toggleCaptureTo();
        }
        EXPECT_NE(m.recordingHint().find("Backspace+Esc+Enter together"), std::string::npos)
            << m.recordingHint();
        d.w.press(d.kb, {0xE0, 0x04}); // Ctrl+A, then the way out
        EXPECT_TRUE(m.isCapturingFrom || m.isCapturingTo);
        d.w.world->keyDown(*d.kb, 0x2A);
        d.w.world->keyDown(*d.kb, 0x29);
        d.w.settle();
        EXPECT_TRUE(m.isCapturingFrom || m.isCapturingTo) << "two of the three keys";
        d.w.world->keyDown(*d.kb, 0x28);
        d.w.settle();
        EXPECT_FALSE(m.isCapturingFrom || m.isCapturingTo) << "the third key ends it";
        EXPECT_FALSE(d.w.engine->isCapturingInput());
        EXPECT_FALSE(d.w.engine->isForceBlockTap()) << "the keyboard is free again";
        EXPECT_EQ(m.recordingHint(), "");
        for (HidUsage u : {0x2A, 0x29, 0x28}) {
            d.w.world->keyUp(*d.kb, static_cast<HidUsage>(u));
        }
        d.w.settle();
        if (from) {
            EXPECT_EQ(m.capturedInputCodesFrom, (std::vector<HidUsage>{0xE0, 0x04}));
            EXPECT_EQ(m.fromField().keysText, "Ctrl+A");
        } else {
            EXPECT_EQ(m.toField().keysText, "Ctrl+A");
        }
    }
}

TEST(RecordingWayOut, KeysHeldWhenTheFocusLeftAreNoPartOfTheRecording) {
    // Alt+Tab: Alt goes down where the keys are typed, Tab switches windows
    // and never arrives, the focus leaves with Alt held.
    Desk d(UiPlatform::linuxDesktop);
    auto& m = *d.w.model;
    m.toggleCaptureFrom();
    d.w.press(d.kb, {0xE0, 0x04});
    d.w.world->keyDown(*d.kb, 0xE2);
    d.w.settle();
    EXPECT_EQ(m.fromField().keysText, "Ctrl+Alt+A");
    m.withdrawFromRecording({0xE2});
    EXPECT_EQ(m.fromField().keysText, "Ctrl+A");
    d.w.world->keyUp(*d.kb, 0xE2);
    m.toggleCaptureFrom();
    EXPECT_EQ(m.capturedInputCodesFrom, (std::vector<HidUsage>{0xE0, 0x04}));
    // A key that reaches the taps (not a modifier) leaves its signature too.
    m.toggleCaptureFrom();
    d.w.press(d.kb, {0x05});
    d.w.world->keyDown(*d.kb, 0x06);
    d.w.settle();
    m.withdrawFromRecording({0x06});
    m.toggleCaptureFrom();
    EXPECT_EQ(m.capturedInputCodesFrom, (std::vector<HidUsage>{0x05}));
    EXPECT_EQ(m.capturedCustomCodesFrom, (std::vector<MacKeySignature>{{11, 0}}));
    // Outside a recording there is nothing to withdraw from.
    m.withdrawFromRecording({0x05});
    EXPECT_EQ(m.capturedInputCodesFrom, (std::vector<HidUsage>{0x05}));
}

// --------------------------------------------------------------- search

TEST(MappingSearch, FindsByNameAndByKeysAsABruteForceSearchWould) {
    // Random mappings and random queries: the table shows exactly the
    // mappings whose name, keys (in either form) or output contain the
    // query, separators and case aside, in record order.
    std::mt19937 random(26);
    const std::vector<std::string> names = {"Copy", "Paste", "Undo twice", "New tab", "Find"};
    std::vector<KeyMapping> mappings;
    for (int i = 0; i < 400; ++i) {
        std::vector<HidUsage> keys = {static_cast<HidUsage>(0xE0 + random() % 4),
                                      static_cast<HidUsage>(0x04 + random() % 26)};
        OutputBehavior output = random() % 3 == 0
                                    ? OutputBehavior::copyOperation()
                                    : OutputBehavior::customKeySequence(
                                          "Seq " + std::to_string(i),
                                          {{static_cast<std::int64_t>(random() % 40), kCmd}});
        mappings.push_back(
            makeMapping(names[random() % names.size()] + " " + std::to_string(i), keys, output));
    }
    MappingTableModel model;
    model.setMappings(mappings);
    const auto folded = [](std::string text) {
        std::string out;
        for (char c : text) {
            if (c != ' ' && c != '+' && c != ',') {
                out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
        }
        return out;
    };
    const Conventions& c = model.conventions();
    const std::vector<std::string> queries = {"copy",    "Ctrl+A", "ctrl a",      "SHIFT",
                                              "super+z", "tab",    "seq 1",       "12",
                                              "zzz",     "alt+",   "Undo twice 3"};
    for (const std::string& query : queries) {
        model.setFilter(QString::fromStdString(query));
        std::vector<Uuid> expected;
        for (const KeyMapping& m : mappings) {
            const std::string output = m.outputBehavior.isCustomKeySequence()
                                           ? m.outputBehavior.name()
                                           : m.outputBehavior.displayLabel();
            for (const std::string& field :
                 {m.name, mappingInputText(m, c.keyNames), mappingInputText(m, c.spokenKeyNames),
                  output, mappingOutputKeysText(m, c.keyNames, c.showBuiltInKeys)}) {
                if (folded(field).find(folded(query)) != std::string::npos) {
                    expected.push_back(m.id);
                    break;
                }
            }
        }
        std::vector<Uuid> shown;
        for (int row = 0; row < model.rowCount(); ++row) {
            shown.push_back(model.mappingAt(row)->id);
        }
        EXPECT_EQ(shown, expected) << query;
        EXPECT_EQ(model.totalCount(), 400);
    }
    // The row actions act on the mapping shown in the row.
    model.setFilter(QStringLiteral("Undo twice 3"));
    ASSERT_GT(model.rowCount(), 0);
    EXPECT_EQ(model.mappingAt(0)->name.rfind("Undo twice 3", 0), 0u);
    // Changes of the list while searching are searched too.
    std::vector<KeyMapping> more = mappings;
    more.push_back(makeMapping("Undo twice 3000", {0x04}));
    const int before = model.rowCount();
    model.setMappings(more);
    EXPECT_EQ(model.rowCount(), before + 1);
    model.setFilter(QString());
    EXPECT_EQ(model.rowCount(), 401);
}

// --------------------------------------------------------------- import

TEST(ImportReport, SaysHowManyCameAndHowManyRepeatAnEarlierCombination) {
    Desk d(UiPlatform::linuxDesktop);
    auto& m = *d.w.model;
    const std::vector<KeyMapping> file = {
        makeMapping("A", {0xE0, 0x04}), makeMapping("A again", {0x04, 0xE0}), // same keys
        makeMapping("B", {0xE0, 0x05}), makeMapping("B twice", {0xE0, 0x05, 0x05})};
    EXPECT_EQ(KeyboardMappingModel::repeatedCombinations(file), 2u);
    m.importMappings(file, true);
    ASSERT_TRUE(m.lastImport());
    EXPECT_EQ(m.lastImport()->inFile, 4u);
    EXPECT_EQ(m.lastImport()->added, 4u) << "accepted all the same";
    EXPECT_EQ(m.lastImport()->repeatedCombinations, 2u);
    // Appending the same file adds nothing new.
    m.importMappings(file, false);
    m.appendImportedMappings();
    EXPECT_EQ(m.lastImport()->added, 0u);
    EXPECT_EQ(d.stored(), 4u);
}

} // namespace chordwell::app
