// The mapping editor: recording "From" and "To", the "To" menu, saving new
// and edited mappings, deleting with and without confirmation.
#include "app_test_support.hpp"

#include "storage/settings.hpp"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using chordwell::DeviceMapping;
using chordwell::HidUsage;
using chordwell::KeyMapping;
using chordwell::MacKeySignature;
using chordwell::OutputBehavior;
using chordwell::ShortcutGroup;
using chordwell::ShortcutItem;
using chordwell::app::Conventions;
using chordwell::app::UiPlatform;
using chordwell::app::testing::makeMapping;
using chordwell::app::testing::makeRecord;
using chordwell::app::testing::ModelWorld;

namespace {

constexpr chordwell::EventFlags kCmd = chordwell::kMaskCommand;
constexpr chordwell::EventFlags kShift = chordwell::kMaskShift;

std::vector<ShortcutGroup> catalog() {
    ShortcutItem copyLine{"copy to clipboard", {{8, static_cast<std::int64_t>(kCmd | 0x10000)}}};
    ShortcutItem undo{"undo", {{6, static_cast<std::int64_t>(kCmd)}}};
    ShortcutItem mac{"macOS window", {{13, static_cast<std::int64_t>(kCmd)}, {4, 0}}};
    return {ShortcutGroup{"Editing", {copyLine, undo}}, ShortcutGroup{"Windows", {mac}}};
}

// A world with one selected keyboard, vendor 1 / product 1. The editor
// follows the macOS conventions unless asked otherwise: they are the ones
// the behaviour is first written for; the Linux differences have tests of
// their own.
struct Editor {
    explicit Editor(std::vector<ShortcutGroup> groups = {},
                    Conventions conventions = Conventions::of(UiPlatform::macOS))
        : w(std::move(groups), true, conventions) {
        kb = w.attach("Board", 1, 1, 1);
        w.model->selectKeyboard(w.device(kb));
    }
    /// Records "From" with the keys held together.
    void recordFrom(std::vector<HidUsage> keys) {
        w.model->toggleCaptureFrom();
        w.press(kb, std::move(keys));
        w.model->toggleCaptureFrom();
    }
    const DeviceMapping* record() const { return w.model->selectedRecord(); }

    ModelWorld w;
    std::shared_ptr<chordwell::platform::sim::SimKeyboard> kb;
};

} // namespace

TEST(MappingEditor, RecordingFromGivesUsagesAndMergedSignatures) {
    Editor e;
    auto& m = *e.w.model;
    m.toggleCaptureFrom();
    EXPECT_TRUE(m.isCapturingFrom);
    EXPECT_TRUE(e.w.engine->isForceBlockTap());
    EXPECT_EQ(m.fromField().placeholder(), "Press keys…");
    EXPECT_TRUE(m.fromField().isRecording);

    e.w.world->clearAppEvents();
    e.w.world->keyDown(*e.kb, 0xE3);
    e.w.world->keyDown(*e.kb, 0x06);
    e.w.settle();
    // While recording, the keys reach no application.
    for (const auto& event : e.w.world->appEvents()) {
        EXPECT_NE(event.type, chordwell::platform::EventType::keyDown);
    }
    // Live text while the keys are held.
    const auto live = m.fromField();
    EXPECT_EQ(live.codesText, "227, 6");
    EXPECT_EQ(live.keysText, "⌘ C");
    ASSERT_NE(e.w.engine->tapBlockerListener(), nullptr);
    const auto& registered =
        e.w.engine->tapBlockerListener()->allTapSignaturesIncludingNotCapturedByTap();
    EXPECT_NE(std::find(registered.begin(), registered.end(), MacKeySignature{55, 0}),
              registered.end())
        << "the modifier key is registered with the blocker";
    e.w.world->keyUp(*e.kb, 0x06);
    e.w.world->keyUp(*e.kb, 0xE3);
    e.w.settle();

    m.toggleCaptureFrom();
    EXPECT_FALSE(m.isCapturingFrom);
    EXPECT_FALSE(e.w.engine->isForceBlockTap());
    EXPECT_EQ(m.capturedInputCodesFrom, (std::vector<HidUsage>{0xE3, 0x06}));
    EXPECT_EQ(m.capturedCustomCodesFrom, (std::vector<MacKeySignature>{{55, 0}, {8, 0}}));
    const auto shown = m.fromField();
    EXPECT_FALSE(shown.isRecording);
    EXPECT_EQ(shown.codesText, "227, 6");
    EXPECT_EQ(shown.keysText, "⌘ C");
}

TEST(MappingEditor, RecordingToKeepsTheSignaturesWithTheirFlags) {
    Editor e;
    auto& m = *e.w.model;
    m.chooseConstantBehavior(0); // Custom
    ASSERT_TRUE(m.toFieldVisible());
    m.toggleCaptureTo();
    e.w.press(e.kb, {0xE1, 0x1D}); // Shift+Z
    EXPECT_EQ(m.toField().keysText, "⇧Z");
    m.toggleCaptureTo();
    EXPECT_EQ(m.capturedCustomCodesTo, (std::vector<MacKeySignature>{{6, kShift}}));
    EXPECT_FALSE(m.isCapturingTo);
}

TEST(MappingEditor, ClickingFromWhileToRecordsEndsToFirst) {
    Editor e;
    auto& m = *e.w.model;
    m.chooseConstantBehavior(0);
    m.toggleCaptureTo();
    e.w.press(e.kb, {0x06});
    EXPECT_FALSE(m.fromField().isEnabled) << "the From field is disabled while To records";

    m.toggleCaptureFrom();
    EXPECT_FALSE(m.isCapturingTo);
    EXPECT_EQ(m.capturedCustomCodesTo, (std::vector<MacKeySignature>{{8, 0}}));
    EXPECT_TRUE(m.isCapturingFrom);
    EXPECT_TRUE(e.w.engine->isCapturingInput());
    EXPECT_FALSE(m.toField().isEnabled);
}

TEST(MappingEditor, NameFieldFocusEndsRecordings) {
    Editor e;
    auto& m = *e.w.model;
    m.toggleCaptureFrom();
    e.w.press(e.kb, {0x04});
    m.nameFieldFocused();
    EXPECT_FALSE(m.isCapturingFrom);
    EXPECT_EQ(m.capturedInputCodesFrom, (std::vector<HidUsage>{0x04}));
    m.toggleCaptureFrom();
    EXPECT_FALSE(m.isTextFieldFocused) << "starting a recording takes the focus away";
}

TEST(MappingEditor, ResignActiveEndsRecordings) {
    Editor e;
    e.w.model->toggleCaptureFrom();
    e.w.model->applicationResignedActive();
    EXPECT_FALSE(e.w.model->isCapturingFrom);
    EXPECT_FALSE(e.w.engine->isCapturingInput());
}

TEST(MappingEditor, SaveButtonEnabling) {
    Editor e;
    auto& m = *e.w.model;
    EXPECT_FALSE(m.saveButtonEnabled());
    m.setMappingName("Copy");
    EXPECT_FALSE(m.saveButtonEnabled()) << "no keys yet";
    m.toggleCaptureFrom();
    EXPECT_FALSE(m.saveButtonEnabled()) << "recording, nothing pressed";
    e.w.world->keyDown(*e.kb, 0x04);
    e.w.settle();
    EXPECT_TRUE(m.saveButtonEnabled()) << "a running recording has keys";
    e.w.world->keyUp(*e.kb, 0x04);
    m.toggleCaptureFrom();
    EXPECT_TRUE(m.saveButtonEnabled());
    m.setMappingName("");
    EXPECT_FALSE(m.saveButtonEnabled());
}

TEST(MappingEditor, SavingANewMappingStoresItAndKeepsNameAndOutput) {
    Editor e;
    auto& m = *e.w.model;
    m.setMappingName("Copy");
    m.selectedBehavior = OutputBehavior::copyOperation();
    e.recordFrom({0xE0, 0x04});
    m.saveMapping();
    e.w.settle();

    ASSERT_NE(e.record(), nullptr);
    ASSERT_EQ(e.record()->mappings.size(), 1u);
    const KeyMapping& saved = e.record()->mappings[0];
    EXPECT_EQ(saved.name, "Copy");
    EXPECT_EQ(saved.inputKeyCodes, (std::vector<HidUsage>{0xE0, 0x04}));
    EXPECT_EQ(saved.inputTapCodes, (std::vector<MacKeySignature>{{59, 0}, {0, 0}}));
    EXPECT_EQ(saved.outputBehavior, OutputBehavior::copyOperation());
    const auto file = e.w.readMappingFile(1, 1);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->mappings.size(), 1u);
    EXPECT_EQ(file->mappings[0], saved);

    // The form after saving.
    EXPECT_EQ(m.mappingName, "Copy");
    EXPECT_EQ(m.toMenuLabel(), "Copy");
    EXPECT_TRUE(m.capturedInputCodesFrom.empty());
    const auto from = m.fromField();
    EXPECT_TRUE(from.showsPlaceholder(true));
    EXPECT_EQ(from.placeholder(), "Click to capture");
    EXPECT_EQ(e.w.breadcrumbs.back(), "Mapping saved");
}

TEST(MappingEditor, SavingWithoutNameOrKeysStoresNothing) {
    struct Case {
        const char* what;
        std::string name;
        std::vector<HidUsage> keys;
    };
    const std::vector<Case> cases = {
        {"empty name", "", {0x04}},
        {"recording that received no keys", "Name", {}},
    };
    for (const Case& c : cases) {
        Editor e;
        auto& m = *e.w.model;
        m.setMappingName(c.name);
        m.toggleCaptureFrom();
        e.w.press(e.kb, c.keys);
        m.saveMapping();
        e.w.settle();
        const bool stored = e.record() != nullptr && !e.record()->mappings.empty();
        EXPECT_FALSE(stored) << c.what;
        EXPECT_FALSE(e.w.readMappingFile(1, 1) && !e.w.readMappingFile(1, 1)->mappings.empty())
            << c.what;
        EXPECT_EQ(m.mappingName, c.name) << c.what;
        if (!c.name.empty()) {
            // The recording has ended all the same.
            EXPECT_FALSE(m.isCapturingFrom) << c.what;
            EXPECT_FALSE(e.w.engine->isForceBlockTap()) << c.what;
        }
    }
}

TEST(MappingEditor, SavingWhileRecordingEndsTheRecordingFirst) {
    Editor e;
    auto& m = *e.w.model;
    m.setMappingName("Quick");
    m.toggleCaptureFrom();
    e.w.world->keyDown(*e.kb, 0x04);
    e.w.settle();
    m.saveMapping();
    e.w.world->keyUp(*e.kb, 0x04);
    e.w.settle();
    ASSERT_NE(e.record(), nullptr);
    ASSERT_EQ(e.record()->mappings.size(), 1u);
    EXPECT_EQ(e.record()->mappings[0].inputKeyCodes, (std::vector<HidUsage>{0x04}));
    EXPECT_FALSE(e.w.engine->isCapturingInput());
    EXPECT_FALSE(e.w.engine->isForceBlockTap());
}

TEST(MappingEditor, SavingForAnotherProductIdOfAKnownModelAppendsToItsOwnRecord) {
    ModelWorld w;
    w.writeMappingFile(9, 100, makeRecord("Twin", 9, 100, {makeMapping("One", {0x04})}));
    auto first = w.attach("Twin", 9, 100, 1);
    auto second = w.attach("Twin", 9, 200, 2);
    w.model->selectKeyboard(w.device(first));
    w.model->selectKeyboard(w.device(second));
    w.model->setMappingName("Two");
    w.model->toggleCaptureFrom();
    w.press(second, {0x05});
    w.model->saveMapping();
    // Saved where it is matched and loaded again after a restart.
    const auto& records = w.engine->allDeviceMappings();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].mappings.size(), 1u);
    EXPECT_EQ(records[1].productID, 200);
    ASSERT_EQ(records[1].mappings.size(), 1u);
    EXPECT_EQ(records[1].mappings[0].name, "Two");
    const auto file = w.readMappingFile(9, 200);
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(file->mappings.size(), 1u);
    EXPECT_EQ(file->mappings[0].name, "Two");
    EXPECT_EQ(w.readMappingFile(9, 100)->mappings.size(), 1u);
}

TEST(MappingEditor, CatalogItemsBecomeCustomSequencesWithCapitalisedNames) {
    Editor e(catalog());
    auto& m = *e.w.model;
    const auto groups = m.toMenuGroups();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].title, "Editing");
    EXPECT_EQ(groups[0].itemTitles, (std::vector<std::string>{"Copy To Clipboard", "Undo"}));
    EXPECT_EQ(groups[1].itemTitles, (std::vector<std::string>{"Macos Window"}));

    m.chooseCatalogItem(0, 0);
    EXPECT_EQ(m.toMenuLabel(), "Copy To Clipboard");
    // Caps Lock (0x10000) is not part of a signature.
    EXPECT_EQ(m.capturedCustomCodesTo, (std::vector<MacKeySignature>{{8, kCmd}}));
    EXPECT_TRUE(m.toFieldVisible());
    EXPECT_EQ(m.toField().keysText, "⌘C");

    m.chooseCatalogItem(5, 0); // out of range: nothing changes
    m.chooseCatalogItem(0, 9);
    EXPECT_EQ(m.toMenuLabel(), "Copy To Clipboard");
}

TEST(MappingEditor, RecordingToAfterACatalogItemReplacesItsKeysButKeepsItsName) {
    Editor e(catalog());
    auto& m = *e.w.model;
    m.chooseCatalogItem(0, 1); // Undo
    m.toggleCaptureTo();
    e.w.press(e.kb, {0xE3, 0x1B}); // Command+X
    m.toggleCaptureTo();
    m.setMappingName("Cut instead");
    e.recordFrom({0x05});
    m.saveMapping();
    ASSERT_NE(e.record(), nullptr);
    const OutputBehavior& out = e.record()->mappings.at(0).outputBehavior;
    ASSERT_TRUE(out.isCustomKeySequence());
    EXPECT_EQ(out.name(), "Undo");
    EXPECT_EQ(out.signatures(), (std::vector<MacKeySignature>{{7, kCmd}}));
}

TEST(MappingEditor, CustomAfterACatalogItemKeepsItsKeysUnderTheNameCustom) {
    Editor e(catalog());
    auto& m = *e.w.model;
    m.chooseCatalogItem(0, 1);
    m.chooseConstantBehavior(0);
    EXPECT_EQ(m.toMenuLabel(), "Custom");
    m.setMappingName("Mine");
    e.recordFrom({0x05});
    m.saveMapping();
    ASSERT_NE(e.record(), nullptr);
    const OutputBehavior& out = e.record()->mappings.at(0).outputBehavior;
    EXPECT_EQ(out, OutputBehavior::customKeySequence("Custom", {{6, kCmd}}));
}

TEST(MappingEditor, NoActionKeepsTheToKeysButSavesNone) {
    Editor e(catalog());
    auto& m = *e.w.model;
    m.chooseCatalogItem(0, 1);
    m.chooseConstantBehavior(1);
    EXPECT_EQ(m.toMenuLabel(), "No Action");
    EXPECT_FALSE(m.toFieldVisible());
    EXPECT_EQ(m.capturedCustomCodesTo.size(), 1u);
    EXPECT_EQ(m.currentOutputBehavior(), OutputBehavior::none());
}

TEST(MappingEditor, EditingReplacesTheMappingInPlaceAfterTheEnginesDelay) {
    Editor e;
    auto& m = *e.w.model;
    auto first = makeMapping("First", {0x04});
    auto second =
        makeMapping("Second", {0xE0, 0x05}, OutputBehavior::customKeySequence("Seq", {{1, kCmd}}));
    e.w.writeMappingFile(1, 1, makeRecord("Board", 1, 1, {first, second}));
    e.w.engine->loadMappings(e.w.device(e.kb));
    ASSERT_EQ(e.record()->mappings.size(), 2u);

    m.startEditing(e.record()->mappings[1]);
    EXPECT_TRUE(m.isEditingMode);
    EXPECT_EQ(m.saveButtonTitle(), "Edit Mapping");
    EXPECT_EQ(m.clearButtonTitle(), "Cancel");
    EXPECT_EQ(m.mappingName, "Second");
    EXPECT_EQ(m.toMenuLabel(), "Seq");
    EXPECT_EQ(m.capturedCustomCodesTo, (std::vector<MacKeySignature>{{1, kCmd}}));
    // Stored without tap codes: derived from the usages.
    EXPECT_EQ(m.capturedCustomCodesFrom, (std::vector<MacKeySignature>{{59, 0}, {11, 0}}));
    EXPECT_TRUE(m.mappingRows()[1].isBeingEdited);
    EXPECT_FALSE(m.mappingRows()[0].isBeingEdited);

    m.setMappingName("Renamed");
    m.saveMapping();
    EXPECT_FALSE(m.isEditingMode);
    EXPECT_TRUE(e.record()->mappings.empty()) << "the engine empties the list first";
    e.w.advance(100ms);
    ASSERT_EQ(e.record()->mappings.size(), 2u);
    const KeyMapping& edited = e.record()->mappings[1];
    EXPECT_EQ(edited.id, second.id);
    EXPECT_EQ(edited.name, "Renamed");
    // Derived signatures are written as the tap codes.
    EXPECT_EQ(edited.inputTapCodes, (std::vector<MacKeySignature>{{59, 0}, {11, 0}}));
    const auto file = e.w.readMappingFile(1, 1);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->mappings.at(1).name, "Renamed");
    EXPECT_EQ(e.w.breadcrumbs.back(), "Mapping edited");
}

TEST(MappingEditor, EditingModeWithoutAMappingWarnsAndChangesNothing) {
    Editor e;
    auto& m = *e.w.model;
    m.isEditingMode = true;
    m.setMappingName("X");
    e.recordFrom({0x04});
    m.saveMapping();
    EXPECT_TRUE(e.w.logged("saveMapping (editing): editingItemMapping not set"));
    EXPECT_TRUE(m.isEditingMode);
    EXPECT_EQ(m.capturedInputCodesFrom, (std::vector<HidUsage>{0x04}));
    EXPECT_TRUE(e.record() == nullptr || e.record()->mappings.empty());
}

TEST(MappingEditor, ClearOrCancelResetsTheFormAndLeavesEditing) {
    Editor e(catalog());
    auto& m = *e.w.model;
    m.startEditing(makeMapping("Old", {0x04}, OutputBehavior::pasteOperation()));
    m.chooseCatalogItem(0, 1);
    m.clearOrCancel();
    EXPECT_FALSE(m.isEditingMode);
    EXPECT_FALSE(m.editingItemMapping);
    EXPECT_EQ(m.mappingName, "");
    EXPECT_EQ(m.toMenuLabel(), "No Action");
    EXPECT_TRUE(m.capturedInputCodesFrom.empty());
    EXPECT_TRUE(m.capturedCustomCodesTo.empty());
    EXPECT_EQ(m.clearButtonTitle(), "Clear");
    EXPECT_EQ(m.saveButtonTitle(), "Save Mapping");
}

TEST(MappingEditor, DeleteAsksFirstAndDoNotAskAgainIsRemembered) {
    Editor e;
    auto& m = *e.w.model;
    e.w.writeMappingFile(
        1, 1,
        makeRecord("Board", 1, 1,
                   {makeMapping("A", {0x04}), makeMapping("B", {0x05}), makeMapping("C", {0x06})}));
    e.w.engine->loadMappings(e.w.device(e.kb));
    const auto recordId = e.record()->id;
    const auto keyboard = e.w.device(e.kb);

    // Cancel: nothing happens.
    m.requestDelete(e.record()->mappings[0], keyboard, recordId);
    ASSERT_TRUE(m.mappingToDelete);
    m.cancelDelete();
    EXPECT_FALSE(m.mappingToDelete);
    EXPECT_EQ(e.record()->mappings.size(), 3u);

    // Delete, asking again next time.
    m.requestDelete(e.record()->mappings[0], keyboard, recordId);
    m.confirmDelete();
    EXPECT_EQ(e.record()->mappings.size(), 2u);
    EXPECT_FALSE(m.suppressDeleteConfirmation());

    // Delete with "Do not ask again".
    m.requestDelete(e.record()->mappings[0], keyboard, recordId);
    EXPECT_FALSE(m.dontAskAgainDeleteConfirmation) << "the switch starts off each time";
    m.dontAskAgainDeleteConfirmation = true;
    m.confirmDelete();
    EXPECT_TRUE(m.suppressDeleteConfirmation());
    EXPECT_EQ(e.w.preferences.value(chordwell::settings::kSuppressDeleteConfirmation),
              chordwell::platform::PreferenceValue{true});
    ASSERT_EQ(e.record()->mappings.size(), 1u);

    // The next delete happens without the sheet.
    m.requestDelete(e.record()->mappings[0], keyboard, recordId);
    EXPECT_FALSE(m.mappingToDelete);
    EXPECT_TRUE(e.record()->mappings.empty());
    const auto file = e.w.readMappingFile(1, 1);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->mappings.empty());
    EXPECT_EQ(e.w.breadcrumbs.back(), "Mapping deleted");
}

TEST(MappingEditor, DeletingTheEditedMappingLeavesEditingMode) {
    for (bool confirm : {false, true}) {
        Editor e;
        auto& m = *e.w.model;
        m.setSuppressDeleteConfirmation(!confirm);
        e.w.writeMappingFile(1, 1, makeRecord("Board", 1, 1, {makeMapping("A", {0x04})}));
        e.w.engine->loadMappings(e.w.device(e.kb));
        const KeyMapping target = e.record()->mappings[0];
        m.startEditing(target);
        m.requestDelete(target, e.w.device(e.kb), e.record()->id);
        if (confirm) {
            EXPECT_TRUE(m.isEditingMode) << "still editing while the sheet is open";
            m.confirmDelete();
        }
        EXPECT_FALSE(m.isEditingMode) << "confirm " << confirm;
        EXPECT_FALSE(m.editingItemMapping);
    }
}

TEST(MappingEditor, ClickingFromAfterAClearedToRecordingStartsFromCleanly) {
    Editor e;
    auto& m = *e.w.model;
    m.chooseConstantBehavior(0);
    m.toggleCaptureTo();
    m.clearOrCancel(); // ends the recording, flag and all
    ASSERT_FALSE(m.isCapturingTo);
    m.toggleCaptureFrom();
    EXPECT_FALSE(m.isCapturingTo);
    EXPECT_TRUE(m.isCapturingFrom);
    EXPECT_TRUE(e.w.engine->isCapturingInput());
    EXPECT_TRUE(e.w.engine->isForceBlockTap());
    e.w.press(e.kb, {0x04});
    m.toggleCaptureFrom();
    EXPECT_EQ(m.capturedInputCodesFrom, (std::vector<HidUsage>{0x04}));
    EXPECT_FALSE(e.w.engine->isForceBlockTap());
}

TEST(MappingEditor, WithoutStorageMappingsStayInMemory) {
    ModelWorld w({}, false);
    ASSERT_FALSE(w.engine->hasStorage());
    auto kb = w.attach("Board", 1, 1, 1);
    w.model->selectKeyboard(w.device(kb));
    w.model->setMappingName("Kept");
    w.model->toggleCaptureFrom();
    w.press(kb, {0x04});
    w.model->saveMapping();
    ASSERT_NE(w.model->selectedRecord(), nullptr);
    EXPECT_EQ(w.model->mappingRows().at(0).name, "Kept");
    EXPECT_EQ(w.model->mappingPaneState(), chordwell::app::MappingPaneState::mappings);
}

TEST(MappingEditor, EditingShowsTheEditedMappingsOwnOutputLabel) {
    // Whatever the menu showed before, editing shows the edited output.
    struct Case {
        const char* what;
        OutputBehavior output;
        std::string label;
    };
    const std::vector<Case> cases = {
        {"paste", OutputBehavior::pasteOperation(), "Paste"},
        {"copy", OutputBehavior::copyOperation(), "Copy"},
        {"nothing", OutputBehavior::none(), "No Action"},
        {"custom sequence", OutputBehavior::customKeySequence("Undo", {{6, kCmd}}), "Undo"},
    };
    for (const Case& c : cases) {
        Editor e(catalog());
        auto& m = *e.w.model;
        m.chooseCatalogItem(0, 0); // "Copy To Clipboard" becomes the label
        ASSERT_EQ(m.toMenuLabel(), "Copy To Clipboard");
        m.startEditing(makeMapping("Edited", {0x04}, c.output));
        EXPECT_EQ(m.toMenuLabel(), c.label) << c.what;
        // Saving it back would keep the output it had.
        EXPECT_EQ(m.currentOutputBehavior(), c.output) << c.what;
    }
}

TEST(MappingEditor, ClearEndsARunningRecordingCleanly) {
    for (const bool from : {true, false}) {
        Editor e;
        auto& m = *e.w.model;
        m.setMappingName("Name");
        if (from) {
            m.toggleCaptureFrom();
        } else {
            m.chooseConstantBehavior(0); // Custom: the "To" field is shown
            m.toggleCaptureTo();
        }
        e.w.world->keyDown(*e.kb, 0x04);
        e.w.settle();
        m.clearOrCancel();
        e.w.settle();
        EXPECT_FALSE(m.isCapturingFrom) << from;
        EXPECT_FALSE(m.isCapturingTo) << from;
        EXPECT_FALSE(e.w.engine->isCapturingInput()) << from;
        EXPECT_FALSE(e.w.engine->isForceBlockTap()) << from;
        EXPECT_TRUE(m.fromField().isEnabled && m.toField().isEnabled) << from;
        EXPECT_FALSE(m.fromField().isRecording || m.toField().isRecording) << from;
        EXPECT_TRUE(m.capturedInputCodesFrom.empty()) << from;
        e.w.world->keyUp(*e.kb, 0x04);
        e.w.settle();
        // The next click starts a fresh recording rather than ending a stale one.
        m.toggleCaptureFrom();
        EXPECT_TRUE(m.isCapturingFrom && e.w.engine->isCapturingInput()) << from;
        m.toggleCaptureFrom();
    }
}
