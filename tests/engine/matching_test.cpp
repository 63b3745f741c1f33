#include "engine_fixture.hpp"

#include "storage/settings.hpp"

namespace chordwell::testing {
namespace {

// One step of a key script: a key of the listened keyboard goes down or up.
struct KeyStep {
    bool down;
    HidUsage usage;
};
KeyStep D(HidUsage u) {
    return {true, u};
}
KeyStep U(HidUsage u) {
    return {false, u};
}

struct MatchCase {
    const char* name;
    // Mappings of the listened model, each with a distinct output key code.
    std::vector<std::pair<std::vector<HidUsage>, std::int64_t>> mappings;
    std::vector<KeyStep> steps;
    std::vector<std::int64_t> expectedOutputs;
};

// Test names print the case name rather than raw bytes.
[[maybe_unused]] void PrintTo(const MatchCase& c, std::ostream* os) {
    *os << c.name;
}

class MatchingTest : public EngineTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(MatchingTest, FiresExactlyTheExpectedMappings) {
    const MatchCase& c = GetParam();
    std::vector<KeyMapping> mappings;
    for (const auto& [keys, output] : c.mappings) {
        mappings.push_back(makeMapping(keys, keyOutput(output)));
    }
    addRecord(mappings);
    setPreference(settings::kKeyRepeatEnabled, false);
    auto kb = attach();
    intercept(listed(kb));
    for (const KeyStep& s : c.steps) {
        if (s.down) {
            world_->keyDown(*kb, s.usage);
        } else {
            world_->keyUp(*kb, s.usage);
        }
    }
    EXPECT_EQ(postedDowns(), c.expectedOutputs);
}

INSTANTIATE_TEST_SUITE_P(
    Matching, MatchingTest,
    ::testing::Values(
        MatchCase{"ControlThenA", {{{0xE0, 0x04}, 100}}, {D(0xE0), D(0x04)}, {100}},
        MatchCase{"AThenControl", {{{0xE0, 0x04}, 100}}, {D(0x04), D(0xE0)}, {100}},
        MatchCase{"ReleaseAndPressAgainFiresAgain",
                  {{{0xE0, 0x04}, 100}},
                  {D(0xE0), D(0x04), U(0x04), D(0x04)},
                  {100, 100}},
        MatchCase{"OnlyTheExactSetFires",
                  {{{0xE0, 0x04}, 100}, {{0xE0, 0xE1, 0x04}, 101}},
                  {D(0xE0), D(0xE1), D(0x04)},
                  {101}},
        MatchCase{"ASupersetDoesNotFire", {{{0xE0, 0x04}, 100}}, {D(0xE0), D(0xE1), D(0x04)}, {}},
        MatchCase{"ASubsetDoesNotFire", {{{0xE0, 0xE1, 0x04}, 100}}, {D(0xE0), D(0x04)}, {}},
        MatchCase{"FirstOfEqualSetsWins",
                  {{{0x04, 0xE0}, 100}, {{0xE0, 0x04}, 101}},
                  {D(0xE0), D(0x04), U(0x04), D(0x04)},
                  {100, 100}},
        MatchCase{"RightControlIsNotLeftControl", {{{0xE0, 0x04}, 100}}, {D(0xE4), D(0x04)}, {}},
        MatchCase{"SingleKeyMapping", {{{0x3A}, 100}}, {D(0x3A), U(0x3A), D(0x3A)}, {100, 100}},
        MatchCase{"ReleasedKeysLeaveTheSet",
                  {{{0x04}, 100}, {{0xE0, 0x04}, 101}},
                  {D(0xE0), U(0xE0), D(0x04)},
                  {100}},
        MatchCase{"KeyUpOfAKeyNotHeldChangesNothing",
                  {{{0xE0, 0x04}, 100}},
                  {U(0x05), D(0xE0), U(0x06), D(0x04)},
                  {100}}),
    [](const ::testing::TestParamInfo<MatchCase>& p) { return std::string(p.param.name); });

TEST_F(EngineTest, TheFirstRecordOfTheModelWins) {
    addRecord({makeMapping({0xE0, 0x04}, keyOutput(100))}, kVendor, kProduct, "Old name");
    addRecord({makeMapping({0xE0, 0x04}, keyOutput(101))});
    setPreference(settings::kKeyRepeatEnabled, false);
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    EXPECT_EQ(postedDowns(), std::vector<std::int64_t>{100});
}

TEST_F(EngineTest, MappingsOfAnotherModelNeverFire) {
    addRecord({makeMapping({0xE0, 0x04}, keyOutput(100))}, kVendor, kProduct + 1);
    addRecord({makeMapping({0xE0, 0x04}, keyOutput(101))}, kVendor + 1, kProduct);
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    EXPECT_TRUE(postedDowns().empty());
    EXPECT_EQ(physicalDowns(), std::vector<std::int64_t>{0x00}); // A reached the application
}

TEST_F(EngineTest, InputOfAnotherKeyboardOfTheSameModelIsIgnored) {
    addRecord({makeMapping({0xE0, 0x04}, keyOutput(100))});
    auto kb = attach("Magic Keyboard", kVendor, kProduct, 1);
    auto twin = attach("Magic Keyboard", kVendor, kProduct, 2);
    intercept(listed(kb));
    world_->keyDown(*twin, 0xE0);
    world_->keyDown(*twin, 0x04);
    EXPECT_TRUE(postedDowns().empty());
    EXPECT_TRUE(engine().currentPressedCodes().empty());
    EXPECT_TRUE(engine().capturedInputCodes().empty());
}

TEST_F(EngineTest, OnlyKeyboardUsagesAreRead) {
    auto kb = attach();
    intercept(listed(kb));
    using platform::HidInputValue;
    for (const HidInputValue& v :
         {HidInputValue{12, 0xE9, 1}, HidInputValue{7, 1, 1}, HidInputValue{7, 0xFFFFFFFFu, 1},
          HidInputValue{7, 0x10004, 1}}) {
        world_->sendInputValue(*kb, v);
    }
    EXPECT_TRUE(engine().currentPressedCodes().empty());
    EXPECT_TRUE(engine().capturedInputCodes().empty());
    // Any value other than exactly 1 is a key-up.
    world_->sendInputValue(*kb, HidInputValue{7, 0x04, 1});
    world_->sendInputValue(*kb, HidInputValue{7, 0x04, 2});
    EXPECT_TRUE(engine().currentPressedCodes().empty());
    EXPECT_EQ(engine().capturedInputCodes(), std::vector<HidUsage>{0x04});
}

TEST_F(EngineTest, CaptureRecordsFirstPressesOnce) {
    auto kb = attach();
    auto& e = engine();
    e.startListening(listed(kb));
    EXPECT_TRUE(e.isCapturingInput());
    EXPECT_EQ(e.tapBlockerListener(), nullptr); // neither intercepting nor recording
    tap(*kb, 0x04);
    tap(*kb, 0x05);
    tap(*kb, 0x04);
    EXPECT_EQ(e.capturedInputCodes(), (std::vector<HidUsage>{0x04, 0x05}));
    EXPECT_TRUE(e.currentPressedCodes().empty()); // not intercepting
    const ListeningResult result = e.stopListening();
    EXPECT_EQ(result.codes, (std::vector<HidUsage>{0x04, 0x05}));
    EXPECT_TRUE(result.taps.empty());
    EXPECT_FALSE(e.isCapturingInput());
    EXPECT_TRUE(e.capturedInputCodes().empty());
    EXPECT_FALSE(kb->hasListener());
}

TEST_F(EngineTest, RecordingReturnsUsagesAndTheirSignatures) {
    auto kb = attach();
    auto& e = engine();
    e.setIsForceBlockTap(true);
    e.startListening(listed(kb));
    ASSERT_NE(e.tapBlockerListener(), nullptr);
    world_->keyDown(*kb, 0xE3); // Command
    world_->keyDown(*kb, 0x06); // C
    world_->keyUp(*kb, 0x06);
    world_->keyUp(*kb, 0xE3);
    const ListeningResult result = e.stopListening();
    e.setIsForceBlockTap(false);
    EXPECT_EQ(result.codes, (std::vector<HidUsage>{0xE3, 0x06}));
    EXPECT_EQ(result.taps, (std::vector<MacKeySignature>{{0x08, kMaskCommand}}));
    EXPECT_TRUE(physicalDowns().empty()); // the C was swallowed
    EXPECT_EQ(world_->activeTapCount(), 0u);
}

TEST_F(EngineTest, StopListeningKeepsInterceptionStateUntilStopIntercepting) {
    addRecord({makeMapping({0xE0, 0x04}, keyOutput(100))});
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0xE0);
    (void)engine().stopListening();
    EXPECT_TRUE(engine().isIntercepting());
    EXPECT_EQ(std::vector<HidUsage>(engine().currentPressedCodes().begin(),
                                    engine().currentPressedCodes().end()),
              std::vector<HidUsage>{0xE0});
    clearLog();
    engine().stopIntercepting();
    EXPECT_FALSE(engine().isIntercepting());
    EXPECT_TRUE(engine().currentPressedCodes().empty());
    EXPECT_TRUE(logged("In stopIntercepting()..."));
}

TEST_F(EngineTest, EveryListeningPeriodGetsAFreshBlocker) {
    auto kb = attach();
    auto& e = engine();
    clearLog();
    intercept(listed(kb));
    TapBlockerListener* first = e.tapBlockerListener();
    ASSERT_NE(first, nullptr);
    e.startListening(listed(kb));
    EXPECT_NE(e.tapBlockerListener(), nullptr);
    EXPECT_EQ(world_->tapCount(), 1u); // the old tap is gone
    EXPECT_EQ(countLogged("Initializing TAP Blocker..."), 2u);
    EXPECT_TRUE(logged("In startIntercepting(...)..."));
}

TEST_F(EngineTest, ToggleInterceptionNeedsASelectedKeyboard) {
    auto kb = attach();
    toggleInterception(engine());
    EXPECT_FALSE(engine().isIntercepting());
    EXPECT_EQ(engine().tapBlockerListener(), nullptr);

    engine().setSelectedDevice(listed(kb));
    toggleInterception(engine());
    EXPECT_TRUE(engine().isIntercepting());
    EXPECT_TRUE(kb->hasListener());
    toggleInterception(engine());
    EXPECT_FALSE(engine().isIntercepting());
    EXPECT_FALSE(kb->hasListener());
}

TEST_F(EngineTest, TheEmergencyExitEndsInterception) {
    auto kb = attach();
    intercept(listed(kb));
    world_->triggerEmergencyExit();
    EXPECT_FALSE(engine().isIntercepting());
    EXPECT_FALSE(kb->hasListener());
}

// The road of one key press with a Control+A mapping to "Copy".
TEST_F(EngineTest, TheRoadOfOneKeyPress) {
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation(), "Copy")});
    auto kb = attach();
    intercept(listed(kb));
    auto& e = engine();
    using platform::EventType;

    // 1. Left Control: held, no mapping for {0xE0}; its flags-changed passes.
    world_->keyDown(*kb, 0xE0);
    EXPECT_EQ(std::vector<HidUsage>(e.currentPressedCodes().begin(), e.currentPressedCodes().end()),
              std::vector<HidUsage>{0xE0});
    EXPECT_FALSE(e.isRepeating());
    ASSERT_EQ(world_->appEvents().size(), 1u);
    EXPECT_EQ(world_->appEvents()[0],
              (AppEvent{milliseconds(0), EventType::flagsChanged, 59, kMaskControl, false}));

    // 2 and 3. A: the mapping fires, C with Command is posted and passes, the
    // system's own A is swallowed, the repeat is armed.
    world_->keyDown(*kb, 0x04);
    ASSERT_EQ(world_->appEvents().size(), 3u);
    EXPECT_EQ(world_->appEvents()[1],
              (AppEvent{milliseconds(0), EventType::keyDown, 8, kMaskCommand, true}));
    EXPECT_EQ(world_->appEvents()[2],
              (AppEvent{milliseconds(0), EventType::keyUp, 8, kMaskCommand, true}));
    EXPECT_TRUE(e.tapBlockerListener()->forceLetItPassKeys().empty()); // consumed
    EXPECT_EQ(e.repeatingCombo(), (std::vector<HidUsage>{0x04, 0xE0}));

    // 4. Releasing A stops the repeat; its key-up passes.
    world_->advance(milliseconds(20));
    world_->keyUp(*kb, 0x04);
    EXPECT_FALSE(e.isRepeating());
    ASSERT_EQ(world_->appEvents().size(), 4u);
    EXPECT_EQ(world_->appEvents()[3],
              (AppEvent{milliseconds(20), EventType::keyUp, 0, kMaskControl, false}));
    world_->keyUp(*kb, 0xE0);
    EXPECT_EQ(world_->appEvents().back(),
              (AppEvent{milliseconds(20), EventType::flagsChanged, 59, 0, false}));
    EXPECT_TRUE(e.currentPressedCodes().empty());
}

TEST_F(EngineTest, ObserversMayDropTheRecordsWhileAMatchFires) {
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    auto kb = attach();
    intercept(listed(kb));
    auto& e = engine();
    bool dropped = false;
    auto subscription = e.subscribeWillChange([&] {
        // The announcement of the pass-through, once both keys are held.
        if (!dropped && e.currentPressedCodes().size() == 2) {
            dropped = true;
            e.setAllDeviceMappings({});
        }
    });
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    EXPECT_TRUE(dropped);
    EXPECT_EQ(postedDowns(), std::vector<std::int64_t>{8});
    EXPECT_TRUE(e.isRepeating()); // with its own copy of the behaviour
    world_->advance(milliseconds(500));
    EXPECT_EQ(postedDowns(), (std::vector<std::int64_t>{8, 8}));
}

TEST_F(EngineTest, PublishedChangesAreAnnouncedBeforeTheyTakeEffect) {
    auto& e = engine();
    std::vector<bool> seen;
    auto subscription = e.subscribeWillChange([&] { seen.push_back(e.isIntercepting()); });
    e.setIsIntercepting(true);
    e.setIsIntercepting(false);
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));

    // Held keys announce too, and the blocker's recording is forwarded.
    auto kb = attach();
    e.setIsForceBlockTap(true);
    e.startListening(listed(kb));
    std::size_t announcements = 0;
    std::size_t recordedWhenAnnounced = 99;
    subscription = e.subscribeWillChange([&] {
        ++announcements;
        recordedWhenAnnounced = e.tapBlockerListener()->persistentCapturedTapSignatures().size();
    });
    world_->keyDown(*kb, 0x04);
    EXPECT_GE(announcements, 2u); // captured code and recorded signature
    EXPECT_EQ(e.tapBlockerListener()->persistentCapturedTapSignatures().size(), 1u);
    EXPECT_EQ(recordedWhenAnnounced, 0u) << "announced after the change";
    subscription.cancel();
    const auto before = announcements;
    world_->keyDown(*kb, 0x05);
    EXPECT_EQ(announcements, before);
}

} // namespace
} // namespace chordwell::testing
