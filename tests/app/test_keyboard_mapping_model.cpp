// The main window's model: keyboard list, selection, interception, the
// mapping pane, and the merge of a recording's two sources.
#include "app_test_support.hpp"

#include "model/key_labels.hpp"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using chordwell::HidUsage;
using chordwell::KeyboardDevice;
using chordwell::MacKeySignature;
using chordwell::app::Conventions;
using chordwell::app::defaultModifierKeyCodes;
using chordwell::app::MappingPaneState;
using chordwell::app::mergeCapturedSignatures;
using chordwell::app::sortedKeyboards;
using chordwell::app::UiPlatform;
using chordwell::app::testing::makeMapping;
using chordwell::app::testing::makeRecord;
using chordwell::app::testing::ModelWorld;

namespace {

constexpr chordwell::EventFlags kCmd = chordwell::kMaskCommand;

} // namespace

TEST(MergeCapturedSignatures, CombinesUsagesAndTapSignatures) {
    struct Case {
        const char* what;
        std::vector<HidUsage> codes;
        std::vector<MacKeySignature> taps;
        std::vector<MacKeySignature> expected;
    };
    const std::vector<Case> cases = {
        {"left Command with C: modifier from the usage, C from the tap, flags dropped",
         {0xE3, 0x06},
         {{8, kCmd}},
         {{55, 0}, {8, 0}}},
        {"the tap's key code wins over the table's (another layout)", {0x04}, {{12, 0}}, {{12, 0}}},
        {"a usage without key code still takes the next tap",
         {0x46, 0x04},
         {{105, 0}, {0, 0}},
         {{105, 0}, {0, 0}}},
        {"a usage without key code and no tap left contributes nothing",
         {0x04, 0x46},
         {{0, 0}},
         {{0, 0}}},
        {"no taps at all: key codes from the table", {0xE0, 0x04}, {}, {{59, 0}, {0, 0}}},
        {"left-over taps are appended, without duplicates by key code",
         {0x04},
         {{0, 0}, {11, kCmd}, {11, 0}, {0, 0}},
         {{0, 0}, {11, 0}}},
        {"a tap whose key code is already in the result is used up but not added",
         {0x04, 0x05},
         {{0, 0}, {0, kCmd}},
         {{0, 0}}},
        {"modifier keys are never checked for duplicates", {0xE0, 0xE0}, {}, {{59, 0}, {59, 0}}},
        {"nothing recorded", {}, {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mergeCapturedSignatures(c.codes, c.taps, defaultModifierKeyCodes()), c.expected)
            << c.what;
    }
}

TEST(MergeCapturedSignatures, TheCommandCExampleReadsAsGlyphs) {
    const auto merged =
        mergeCapturedSignatures({0xE3, 0x06}, {{8, kCmd}}, defaultModifierKeyCodes());
    EXPECT_EQ(chordwell::signatureText(merged), "⌘ C");
}

TEST(SortedKeyboards, LocalisedCaseInsensitiveAndStable) {
    auto kb = [](std::string name, std::int64_t product) {
        KeyboardDevice k;
        k.productName = std::move(name);
        k.productID = product;
        return k;
    };
    const std::vector<KeyboardDevice> discovered = {
        kb("magic Keyboard", 1), kb("Apple Internal", 2), kb("Magic keyboard", 3),
        kb("Zeta", 4),           kb("Ergo", 5),           kb("apple internal", 6)};
    std::vector<std::int64_t> order;
    for (const KeyboardDevice& k : sortedKeyboards(discovered)) {
        order.push_back(k.productID);
    }
    // Names differing only in case sort together, in discovery order.
    EXPECT_EQ(order, (std::vector<std::int64_t>{2, 6, 5, 1, 3, 4}));
}

TEST(KeyboardMappingModel, RowsShowTheSortedListWithTheCheckmarkOnTheSelectedKeyboard) {
    // Identifiers in decimal on macOS, as lsusb writes them on Linux.
    const struct {
        UiPlatform platform;
        std::string vendor, product;
    } cases[] = {{UiPlatform::macOS, "Vendor: 30", "Product: 40"},
                 {UiPlatform::linuxDesktop, "Vendor: 001e", "Product: 0028"}};
    for (const auto& c : cases) {
        ModelWorld w({}, true, Conventions::of(c.platform));
        auto zeta = w.attach("Zeta", 10, 20, 1);
        auto alpha = w.attach("alpha", 30, 40, 2);
        w.model->selectKeyboard(w.device(zeta));
        const auto rows = w.model->keyboardRows();
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].title, "alpha");
        EXPECT_FALSE(rows[0].isSelected);
        EXPECT_EQ(rows[0].vendorText, c.vendor);
        EXPECT_EQ(rows[0].productText, c.product);
        EXPECT_EQ(rows[1].title, "Zeta");
        EXPECT_TRUE(rows[1].isSelected);
        (void)alpha;
    }
}

TEST(KeyboardMappingModel, SelectingAKeyboardLoadsItsMappingsAndLeavesABreadcrumb) {
    ModelWorld w;
    w.writeMappingFile(
        0x05AC, 0x024F,
        makeRecord("Magic Keyboard", 0x05AC, 0x024F, {makeMapping("Copy", {0xE0, 0x04})}));
    auto kb = w.attach("Magic Keyboard", 0x05AC, 0x024F, 7);
    EXPECT_EQ(w.model->mappingPaneState(), MappingPaneState::noDevice);

    w.model->selectKeyboard(w.device(kb));
    ASSERT_TRUE(w.engine->selectedDevice());
    EXPECT_EQ(w.engine->selectedDevice()->id, w.device(kb).id);
    EXPECT_EQ(w.model->mappingPaneState(), MappingPaneState::mappings);
    EXPECT_EQ(w.model->mappingsTitle(), "Mappings (1)");
    ASSERT_EQ(w.breadcrumbs.size(), 1u);
    EXPECT_EQ(w.breadcrumbs[0], "Keyboard selected: Magic Keyboard (vendor 1452, product 591)");

    // Selecting nothing changes nothing.
    w.model->selectKeyboard(std::nullopt);
    EXPECT_TRUE(w.engine->selectedDevice());
}

TEST(KeyboardMappingModel, MappingPaneStates) {
    ModelWorld w;
    w.writeMappingFile(1, 2, makeRecord("Empty", 1, 2, {}));
    auto empty = w.attach("Empty", 1, 2, 1);
    auto none = w.attach("No File", 3, 4, 2);
    w.model->selectKeyboard(w.device(empty));
    EXPECT_EQ(w.model->mappingPaneState(), MappingPaneState::noMappings)
        << "record without mappings";
    w.model->selectKeyboard(w.device(none));
    // Loading an absent file makes an empty record.
    EXPECT_EQ(w.model->mappingPaneState(), MappingPaneState::noMappings);
    EXPECT_EQ(w.model->mappingsTitle(), "Mappings (0)");
}

TEST(KeyboardMappingModel, ModelsWithTheSameNameAndVendorEachShowTheirOwnRecord) {
    ModelWorld w;
    w.writeMappingFile(9, 100, makeRecord("Twin", 9, 100, {makeMapping("One", {0x04})}));
    auto first = w.attach("Twin", 9, 100, 1);
    auto second = w.attach("Twin", 9, 200, 2);
    w.model->selectKeyboard(w.device(first));
    w.model->selectKeyboard(w.device(second));
    // The second model's record (by product id) is the one matching uses.
    EXPECT_EQ(w.engine->allDeviceMappings().size(), 2u);
    EXPECT_TRUE(w.model->mappingRows().empty());
    w.model->selectKeyboard(w.device(first));
    const auto rows = w.model->mappingRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "One");
}

TEST(KeyboardMappingModel, TableRowsShowInputSignaturesUsagesAndOutput) {
    const struct {
        UiPlatform platform;
        std::string tappedInput, copyKeys, derivedInput, undoKeys;
    } cases[] = {
        {UiPlatform::macOS, "⌘ C", "", "⌃ A", "⌘Z, ⇧⌘Z"},
        // This desktop's words, and what Copy types here.
        {UiPlatform::linuxDesktop, "Super+C",
         chordwell::app::builtInKeysText(chordwell::OutputBehavior::Kind::copyOperation,
                                         chordwell::KeyNames::pcWords),
         "Ctrl+A", "Super+Z, Shift+Super+Z"},
    };
    for (const auto& c : cases) {
        ModelWorld w({}, true, Conventions::of(c.platform));
        auto withTaps = makeMapping("Tapped", {0xE3, 0x06});
        withTaps.inputTapCodes = std::vector<MacKeySignature>{{55, 0}, {8, 0}};
        auto derived = makeMapping("Derived", {0xE0, 0x04, 0x04},
                                   chordwell::OutputBehavior::customKeySequence(
                                       "Undo", {{6, kCmd}, {6, kCmd | chordwell::kMaskShift}}));
        w.writeMappingFile(1, 1, makeRecord("Board", 1, 1, {withTaps, derived}));
        auto kb = w.attach("Board", 1, 1, 1);
        w.model->selectKeyboard(w.device(kb));
        const auto rows = w.model->mappingRows();
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].inputText, c.tappedInput);
        EXPECT_EQ(rows[0].inputCodesText, "227, 6");
        EXPECT_EQ(rows[0].outputText, "Copy");
        EXPECT_EQ(rows[0].outputDetail, c.copyKeys);
        // Derived from the usages, a usage twice gives one signature.
        EXPECT_EQ(rows[1].inputText, c.derivedInput);
        EXPECT_EQ(rows[1].inputCodesText, "224, 4, 4");
        EXPECT_EQ(rows[1].outputText, "Undo");
        EXPECT_EQ(rows[1].outputDetail, c.undoKeys);
    }
}

TEST(KeyboardMappingModel, ToggleInterceptionFollowsTheWishedStateAndToggles) {
    ModelWorld w;
    auto kb = w.attach("Board", 1, 1, 1);

    w.model->toggleInterception(true); // nothing selected: nothing happens
    EXPECT_FALSE(w.engine->isIntercepting());
    EXPECT_FALSE(w.logged("In startIntercepting(...)..."));

    w.model->selectKeyboard(w.device(kb));
    struct Step {
        bool wished;
        bool expectedAfter;
    };
    const std::vector<Step> steps = {
        {false, false}, // off while off: stays off
        {true, true},   // on
        {true, false},  // on while on: the routine toggles
        {true, true},   {false, false},
    };
    for (const Step& s : steps) {
        w.model->toggleInterception(s.wished);
        w.settle();
        EXPECT_EQ(w.engine->isIntercepting(), s.expectedAfter) << "wished " << s.wished;
        EXPECT_EQ(kb->hasListener(), s.expectedAfter);
    }
    EXPECT_TRUE(w.logged("In startIntercepting(...)..."));
    EXPECT_FALSE(w.model->controlsEnabled() && w.engine->isIntercepting());
}

TEST(KeyboardMappingModel, StartingInterceptionEndsARecordingFirst) {
    ModelWorld w;
    auto kb = w.attach("Board", 1, 1, 1);
    w.model->selectKeyboard(w.device(kb));
    w.model->toggleCaptureFrom();
    w.world->keyDown(*kb, 0x04);
    w.settle();
    ASSERT_TRUE(w.engine->isForceBlockTap());

    w.model->toggleInterception(true);
    w.settle();
    EXPECT_TRUE(w.engine->isIntercepting());
    // Interception must not inherit the recording's block-everything tap.
    EXPECT_FALSE(w.engine->isForceBlockTap());
    EXPECT_FALSE(w.model->isCapturingFrom);
    EXPECT_EQ(w.model->capturedInputCodesFrom, (std::vector<HidUsage>{0x04}));

    // An unmapped key reaches the application while intercepting.
    w.world->clearAppEvents();
    w.world->keyDown(*kb, 0x05);
    w.settle();
    ASSERT_FALSE(w.world->appEvents().empty());
    EXPECT_EQ(w.world->appEvents().back().keyCode, 11);
}

TEST(KeyboardMappingModel, SelectingAnotherKeyboardEndsTheRecordingKeepingItsKeys) {
    ModelWorld w;
    auto first = w.attach("First", 1, 1, 1);
    auto second = w.attach("Second", 2, 2, 2);
    w.model->selectKeyboard(w.device(first));
    w.model->toggleCaptureFrom();
    w.press(first, {0xE0, 0x04});
    ASSERT_TRUE(w.model->isCapturingFrom);

    w.model->selectKeyboard(w.device(second));
    EXPECT_FALSE(w.model->isCapturingFrom);
    EXPECT_FALSE(w.engine->isCapturingInput());
    EXPECT_FALSE(w.engine->isForceBlockTap());
    EXPECT_EQ(w.model->capturedInputCodesFrom, (std::vector<HidUsage>{0xE0, 0x04}));
    EXPECT_EQ(w.engine->selectedDevice()->id, w.device(second).id);
}

TEST(KeyboardMappingModel, UnpluggingTheInterceptedKeyboardWaitsForItWithItsSelection) {
    ModelWorld w;
    auto kb = w.attach("Board", 1, 1, 1);
    auto other = w.attach("Other", 2, 2, 2);
    w.model->selectKeyboard(w.device(kb));
    w.model->toggleInterception(true);
    w.settle();
    ASSERT_TRUE(w.engine->isIntercepting());

    w.world->detachKeyboard(other); // another keyboard: nothing changes
    w.settle();
    EXPECT_TRUE(w.engine->isIntercepting());
    EXPECT_TRUE(w.engine->selectedDevice());
    EXPECT_EQ(w.model->waitingText(), "");

    const KeyboardDevice selected = w.device(kb);
    w.world->detachKeyboard(kb);
    w.settle();
    // Paused, not ended: the keyboard stays selected (its mappings shown,
    // the switch on) and the window says what it waits for.
    EXPECT_TRUE(w.engine->isIntercepting());
    ASSERT_TRUE(w.engine->selectedDevice());
    EXPECT_EQ(w.engine->selectedDevice()->id, selected.id);
    EXPECT_NE(w.model->mappingPaneState(), MappingPaneState::noDevice);
    EXPECT_TRUE(w.model->keyboardRows().empty());
    EXPECT_EQ(w.model->waitingText(), "Waiting for Board to come back\u2026");

    // Back: selected again (a new keyboard value) and intercepted.
    kb = w.attach("Board", 1, 1, 1);
    EXPECT_TRUE(w.engine->isIntercepting());
    EXPECT_EQ(w.model->waitingText(), "");
    ASSERT_TRUE(w.engine->selectedDevice());
    EXPECT_EQ(w.engine->selectedDevice()->id, w.device(kb).id);
    EXPECT_EQ(w.engine->selectedDeviceIOHIDDevice().get(), kb.get());

    // Gone again and turned off: the selection of the absent keyboard goes,
    // as for any keyboard that left.
    w.world->detachKeyboard(kb);
    w.settle();
    w.model->toggleInterception(false);
    w.settle();
    EXPECT_FALSE(w.engine->isIntercepting());
    EXPECT_FALSE(w.engine->selectedDevice());
    EXPECT_EQ(w.model->waitingText(), "");
    EXPECT_EQ(w.model->mappingPaneState(), MappingPaneState::noDevice);
}

TEST(KeyboardMappingModel, KeyboardsOfOneNameAreListedApart) {
    ModelWorld w;
    w.attach("Twin", 1, 1, 1);
    w.attach("Twin", 1, 1, 2);
    w.attach("Single", 2, 2, 3);
    std::vector<std::string> titles;
    for (const chordwell::app::KeyboardRow& row : w.model->keyboardRows()) {
        titles.push_back(row.title);
    }
    // The simulated keyboards report no place: their order tells them apart.
    EXPECT_EQ(titles,
              (std::vector<std::string>{"Single", "Twin (keyboard 1)", "Twin (keyboard 2)"}));
}

TEST(KeyboardMappingModel, UnpluggingDuringARecordingKeepsWhatWasRecorded) {
    ModelWorld w;
    auto kb = w.attach("Board", 1, 1, 1);
    w.model->selectKeyboard(w.device(kb));
    w.model->toggleCaptureFrom();
    w.world->keyDown(*kb, 0x04);
    w.settle();
    w.world->detachKeyboard(kb);
    w.settle();
    // The engine stopped listening on its own; ending the recording must not
    // start a new one on the unplugged keyboard (the tap would then swallow
    // every key-down of every keyboard).
    EXPECT_FALSE(w.model->isCapturingFrom);
    EXPECT_FALSE(w.engine->isCapturingInput());
    EXPECT_FALSE(w.engine->isForceBlockTap());
    EXPECT_EQ(w.engine->tapBlockerListener(), nullptr);
    EXPECT_FALSE(w.engine->selectedDevice());
}

TEST(KeyboardMappingModel, EndingAStaleRecordingNeverStopsInterception) {
    ModelWorld w;
    auto kb = w.attach("Board", 1, 1, 1);
    w.model->selectKeyboard(w.device(kb));
    w.model->toggleCaptureFrom();
    // The engine's capture ends behind the field's back.
    w.engine->setIsCapturingInput(false);
    w.engine->setIsForceBlockTap(false);
    ASSERT_TRUE(w.model->isCapturingFrom);
    chordwell::toggleInterception(*w.engine); // as the status menu's routine would elsewhere
    w.settle();
    ASSERT_TRUE(w.engine->isIntercepting());
    w.model->applicationResignedActive();
    EXPECT_FALSE(w.model->isCapturingFrom);
    EXPECT_TRUE(w.engine->isIntercepting());
    EXPECT_TRUE(w.engine->isCapturingInput()) << "still listening to the keyboard";
    EXPECT_TRUE(kb->hasListener());
}

TEST(KeyboardMappingModel, RunStopButtonStopsOnlyWithASelectedKeyboard) {
    ModelWorld w;
    EXPECT_FALSE(w.model->runStopEnabled());
    w.model->stopInterceptingFromButton();
    EXPECT_FALSE(w.logged("In stopIntercepting()..."));
    auto kb = w.attach("Board", 1, 1, 1);
    w.model->selectKeyboard(w.device(kb));
    EXPECT_TRUE(w.model->runStopEnabled());
    w.model->toggleInterception(true);
    w.model->stopInterceptingFromButton();
    EXPECT_FALSE(w.engine->isIntercepting());
}
