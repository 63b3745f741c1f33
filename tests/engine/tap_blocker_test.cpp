#include "engine_fixture.hpp"

#include "storage/settings.hpp"

namespace chordwell::testing {
namespace {

using platform::EventType;
using platform::KeyEvent;
using platform::TapDecision;

// The blocker's decision for events while the listened keyboard holds a
// given set, with or without a mapping for it and with or without recording.
struct DecisionCase {
    const char* name;
    bool forceBlock;
    bool mapped; // the held keys match a mapping
    KeyEvent event;
    bool passRegistered; // a pass-through for the event's key is registered
    TapDecision expected;
    bool consumesEntry;
};

// Test names print the case name rather than raw bytes.
[[maybe_unused]] void PrintTo(const DecisionCase& c, std::ostream* os) {
    *os << c.name;
}

class TapDecisionTest : public EngineTest, public ::testing::WithParamInterface<DecisionCase> {};

TEST_P(TapDecisionTest, DecidesPassOrSwallow) {
    const DecisionCase& c = GetParam();
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::none())});
    auto kb = attach();
    auto& e = engine();
    e.setIsForceBlockTap(c.forceBlock);
    intercept(listed(kb));
    // Hold Control (and A when the case wants a match) on the listened keyboard.
    world_->keyDown(*kb, 0xE0);
    if (c.mapped) {
        world_->keyDown(*kb, 0x04);
    }
    TapBlockerListener* blocker = e.tapBlockerListener();
    ASSERT_NE(blocker, nullptr);
    if (c.passRegistered) {
        ASSERT_TRUE(blocker->addPassThrough(
            KeyComboSignature::passThrough(c.event.keyCode, c.event.flags)));
    }
    EXPECT_EQ(TapBlockerListener::handleTapEvent(blocker, c.event), c.expected);
    const bool entryLeft = !blocker->forceLetItPassKeys().empty();
    EXPECT_EQ(entryLeft, c.passRegistered && !c.consumesEntry);
}

constexpr EventFlags kCmd = kMaskCommand;
INSTANTIATE_TEST_SUITE_P(
    Blocker, TapDecisionTest,
    ::testing::Values(DecisionCase{"UnmappedKeyDownPasses",
                                   false,
                                   false,
                                   {EventType::keyDown, 11, 0},
                                   false,
                                   TapDecision::pass,
                                   false},
                      // A (code 0) would complete Control+A, and its HID value
                      // has not arrived: it waits, swallowed (posted again by
                      // the turn's end if it completes nothing).
                      DecisionCase{"AKeyAheadOfItsHidValueDecidesByItsKey",
                                   false,
                                   false,
                                   {EventType::keyDown, 0, 0},
                                   false,
                                   TapDecision::swallow,
                                   false},
                      DecisionCase{"MappedKeyDownIsSwallowed",
                                   false,
                                   true,
                                   {EventType::keyDown, 0, 0},
                                   false,
                                   TapDecision::swallow,
                                   false},
                      DecisionCase{"AnyKeyDownIsSwallowedWhileMapped",
                                   false,
                                   true,
                                   {EventType::keyDown, 0x2F, 0},
                                   false,
                                   TapDecision::swallow,
                                   false},
                      DecisionCase{"KeyUpOfMappedKeyPasses",
                                   false,
                                   true,
                                   {EventType::keyUp, 0, 0},
                                   false,
                                   TapDecision::pass,
                                   false},
                      DecisionCase{"FlagsChangedPasses",
                                   false,
                                   true,
                                   {EventType::flagsChanged, 59, 0x40000},
                                   false,
                                   TapDecision::pass,
                                   false},
                      DecisionCase{"RegisteredPassThroughPassesOnce",
                                   false,
                                   true,
                                   {EventType::keyDown, 8, kCmd, true},
                                   true,
                                   TapDecision::pass,
                                   true},
                      DecisionCase{"PassThroughComparesMaskedFlags",
                                   false,
                                   true,
                                   {EventType::keyDown, 8, kCmd | 0x10000 | 0x100, true},
                                   true,
                                   TapDecision::pass,
                                   true},
                      DecisionCase{"OtherModifiersDoNotMatchThePassThrough",
                                   false,
                                   true,
                                   {EventType::keyDown, 8, kCmd},
                                   false,
                                   TapDecision::swallow,
                                   false},
                      // The user's own Command+C (held on another keyboard)
                      // looks like the output in flight but is not it.
                      DecisionCase{"AUsersKeyNeverTakesAnOutputsPassThrough",
                                   false,
                                   true,
                                   {EventType::keyDown, 8, kCmd, false},
                                   true,
                                   TapDecision::swallow,
                                   false},
                      // The engine's own key coming back takes its entry with
                      // it, mapping held or not.
                      DecisionCase{"UnmappedPassThroughIsConsumed",
                                   false,
                                   false,
                                   {EventType::keyDown, 8, kCmd, true},
                                   true,
                                   TapDecision::pass,
                                   true},
                      DecisionCase{"ForceBlockSwallowsKeyDowns",
                                   true,
                                   false,
                                   {EventType::keyDown, 0, 0},
                                   false,
                                   TapDecision::swallow,
                                   false},
                      DecisionCase{"ForceBlockLetsKeyUpsPass",
                                   true,
                                   false,
                                   {EventType::keyUp, 0, 0},
                                   false,
                                   TapDecision::pass,
                                   false},
                      DecisionCase{"ForceBlockIgnoresPassThroughs",
                                   true,
                                   true,
                                   {EventType::keyDown, 8, kCmd},
                                   true,
                                   TapDecision::swallow,
                                   false}),
    [](const ::testing::TestParamInfo<DecisionCase>& p) { return std::string(p.param.name); });

TEST_F(EngineTest, ASecondIdenticalSyntheticKeyDownIsSwallowed) {
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    setPreference(settings::kKeyRepeatEnabled, false);
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    ASSERT_EQ(postedDowns(), std::vector<std::int64_t>{8});
    world_->post(8, kMaskCommand, true); // not registered
    EXPECT_EQ(postedDowns(), std::vector<std::int64_t>{8});
    EXPECT_TRUE(physicalDowns().empty()); // the A never reached the application
}

TEST_F(EngineTest, KeysOfOtherKeyboardsAreSwallowedWhileTheListenedOneMatches) {
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::none())});
    auto kb = attach();
    auto other = attach("Other", 1, 1, 2);
    intercept(listed(kb));
    world_->keyDown(*other, 0x05);
    world_->keyUp(*other, 0x05);
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    world_->keyDown(*other, 0x05);
    EXPECT_EQ(physicalDowns(), std::vector<std::int64_t>{0x0B});
}

TEST_F(EngineTest, WithoutAccessibilityMappedKeysStillReachApplications) {
    world_->setTapCreationFails(true);
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    auto kb = attach();
    clearLog();
    intercept(listed(kb));
    EXPECT_TRUE(logged("Failed to create event tap (check permissions in System Settings → "
                       "Privacy & Security → Accessibility)."));
    EXPECT_FALSE(logged("Event tap enabled for blocking OS shortcuts."));
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    EXPECT_EQ(postedDowns(), std::vector<std::int64_t>{8}); // matching still works
    EXPECT_EQ(physicalDowns(), std::vector<std::int64_t>{0x00});
}

TEST_F(EngineTest, ARunLoopSourceFailureLeavesTheTapUnused) {
    world_->setRunLoopSourceFails(true);
    addRecord({makeMapping({0x04}, OutputBehavior::none())});
    auto kb = attach();
    clearLog();
    intercept(listed(kb));
    EXPECT_FALSE(logged("Event tap enabled for blocking OS shortcuts."));
    EXPECT_FALSE(engine().tapBlockerListener()->hasLiveTap());
    world_->keyDown(*kb, 0x04);
    EXPECT_EQ(physicalDowns(), std::vector<std::int64_t>{0x00});
}

TEST_F(EngineTest, ATapDisabledByTheSystemIsEnabledAgain) {
    auto kb = attach();
    clearLog();
    intercept(listed(kb));
    EXPECT_TRUE(logged("Event tap enabled for blocking OS shortcuts."));
    for (EventType notice : {EventType::tapDisabledByTimeout, EventType::tapDisabledByUserInput}) {
        world_->disableTapsBySystem(notice);
        EXPECT_EQ(world_->activeTapCount(), 1u);
    }
    EXPECT_EQ(countLogged("Event tap was disabled by the system; re-enabled it."), 2u);
    // The notice itself goes nowhere.
    EXPECT_EQ(TapBlockerListener::handleTapEvent(engine().tapBlockerListener(),
                                                 {EventType::tapDisabledByTimeout, 0, 0}),
              TapDecision::swallow);
}

TEST_F(EngineTest, AStoppedBlockerIgnoresTheNoticeSilently) {
    TapBlockerListener blocker(engine());
    blocker.stop(); // never started: nothing happens
    clearLog();
    EXPECT_EQ(TapBlockerListener::handleTapEvent(&blocker, {EventType::tapDisabledByTimeout, 0, 0}),
              TapDecision::swallow);
    EXPECT_TRUE(logMessages().empty());
}

TEST_F(EngineTest, StartingTwiceKeepsOneTap) {
    TapBlockerListener blocker(engine());
    blocker.start();
    blocker.start();
    EXPECT_EQ(world_->tapCount(), 1u);
    EXPECT_TRUE(blocker.hasLiveTap());
}

class RecordingTest : public EngineTest {
protected:
    TapBlockerListener& startRecording(const std::shared_ptr<SimKeyboard>& kb) {
        engine().setIsForceBlockTap(true);
        engine().startListening(listed(kb));
        return *engine().tapBlockerListener();
    }
};

TEST_F(RecordingTest, CommandThenCRecordsOneSignature) {
    auto kb = attach();
    auto& blocker = startRecording(kb);
    world_->keyDown(*kb, 0xE3);
    EXPECT_TRUE(blocker.persistentCapturedTapSignatures().empty()); // flags-changed
    world_->keyDown(*kb, 0x06);
    world_->keyDown(*kb, 0x06); // auto-repeat of the same signature
    EXPECT_EQ(blocker.persistentCapturedTapSignatures(),
              (std::vector<MacKeySignature>{{0x08, kMaskCommand}}));
    EXPECT_EQ(blocker.allTapSignaturesIncludingNotCapturedByTap(),
              (std::vector<MacKeySignature>{{0x08, kMaskCommand}}));
}

TEST_F(RecordingTest, RegisteredSignaturesEnterWithTheNextNewSignature) {
    auto kb = attach();
    auto& blocker = startRecording(kb);
    const std::vector<MacKeySignature> registered = {{0x37, 0}, {0x37, 0}, {0x38, 0}};
    blocker.registerTapSignatures(registered);
    blocker.registerTapSignatures(registered); // drawn again: nothing new
    EXPECT_EQ(blocker.allTapSignaturesIncludingNotCapturedByTap(),
              (std::vector<MacKeySignature>{{0x37, 0}, {0x38, 0}}));
    EXPECT_TRUE(blocker.persistentCapturedTapSignatures().empty());
    world_->keyDown(*kb, 0x04);
    EXPECT_EQ(blocker.persistentCapturedTapSignatures(),
              (std::vector<MacKeySignature>{{0x37, 0}, {0x38, 0}, {0x00, 0}}));
}

TEST_F(RecordingTest, ARegisteredSignatureArrivingItselfIsAppendedTwice) {
    auto kb = attach();
    auto& blocker = startRecording(kb);
    blocker.registerTapSignatures(std::vector<MacKeySignature>{{0x00, 0}});
    world_->keyDown(*kb, 0x04);
    EXPECT_EQ(blocker.persistentCapturedTapSignatures(),
              (std::vector<MacKeySignature>{{0x00, 0}, {0x00, 0}}));
    EXPECT_EQ(blocker.allTapSignaturesIncludingNotCapturedByTap(),
              (std::vector<MacKeySignature>{{0x00, 0}, {0x00, 0}}));
}

TEST_F(EngineTest, WhileInterceptingOnlyAsManySignaturesAsCapturedCodesAreRecorded) {
    auto kb = attach();
    auto other = attach("Other", 1, 1, 2);
    intercept(listed(kb));
    TapBlockerListener* blocker = engine().tapBlockerListener();
    world_->keyDown(*other, 0x05); // not captured: not recorded
    EXPECT_TRUE(blocker->persistentCapturedTapSignatures().empty());
    world_->keyDown(*kb, 0x04); // captured first, then recorded
    EXPECT_EQ(blocker->persistentCapturedTapSignatures(),
              (std::vector<MacKeySignature>{{0x00, 0}}));
}

TEST_F(EngineTest, StartClearsTheRecordingButNotThePassThroughs) {
    TapBlockerListener blocker(engine());
    blocker.start();
    ASSERT_TRUE(blocker.addPassThrough(KeyComboSignature::passThrough(1, 0)));
    blocker.registerTapSignatures(std::vector<MacKeySignature>{{2, 0}});
    blocker.start();
    EXPECT_TRUE(blocker.allTapSignaturesIncludingNotCapturedByTap().empty());
    EXPECT_EQ(blocker.forceLetItPassKeys().size(), 1u);
}

} // namespace
} // namespace chordwell::testing
