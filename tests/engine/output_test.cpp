#include "engine_fixture.hpp"

#include "storage/settings.hpp"

namespace chordwell::testing {
namespace {

using platform::EventType;

struct Posted {
    EventType type;
    std::int64_t keyCode;
    EventFlags flags;
    friend bool operator==(const Posted&, const Posted&) = default;
};

std::vector<Posted> synthetic(const std::vector<AppEvent>& events) {
    std::vector<Posted> out;
    for (const AppEvent& e : events) {
        if (e.synthetic) {
            out.push_back({e.type, e.keyCode, e.flags});
        }
    }
    return out;
}

struct OutputCase {
    const char* name;
    OutputBehavior behavior;
    std::vector<Posted> expected;
};

// Test names print the case name rather than raw bytes.
[[maybe_unused]] void PrintTo(const OutputCase& c, std::ostream* os) {
    *os << c.name;
}

class TriggerOutputTest : public EngineTest, public ::testing::WithParamInterface<OutputCase> {};

// The held keys match the mapping, so each posted key-down passes only
// through its own pass-through entry.
TEST_P(TriggerOutputTest, PostsTheBehaviourThroughItsPassThroughs) {
    const OutputCase& c = GetParam();
    addRecord({makeMapping({0xE0, 0x04}, c.behavior)});
    setPreference(settings::kKeyRepeatEnabled, false);
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    EXPECT_EQ(synthetic(world_->appEvents()), c.expected);
    EXPECT_TRUE(engine().tapBlockerListener()->forceLetItPassKeys().empty());
    EXPECT_FALSE(engine().isRepeating());
}

constexpr EventFlags kCmd = kMaskCommand;
INSTANTIATE_TEST_SUITE_P(
    Output, TriggerOutputTest,
    ::testing::Values(
        OutputCase{"None", OutputBehavior::none(), {}},
        OutputCase{"Copy",
                   OutputBehavior::copyOperation(),
                   {{EventType::keyDown, 8, kCmd}, {EventType::keyUp, 8, kCmd}}},
        OutputCase{"Paste",
                   OutputBehavior::pasteOperation(),
                   {{EventType::keyDown, 9, kCmd}, {EventType::keyUp, 9, kCmd}}},
        OutputCase{"OpenSearch",
                   OutputBehavior::openSearchBar(),
                   {{EventType::keyDown, 49, kCmd}, {EventType::keyUp, 49, kCmd}}},
        OutputCase{"CustomSequenceInOrderWithFullFlags",
                   OutputBehavior::customKeySequence("", {{0x00, kCmd},
                                                          {0x09, kCmd | kMaskShift | 0x10000}}),
                   {{EventType::keyDown, 0x00, kCmd},
                    {EventType::keyUp, 0x00, kCmd},
                    {EventType::keyDown, 0x09, kCmd | kMaskShift | 0x10000},
                    {EventType::keyUp, 0x09, kCmd | kMaskShift | 0x10000}}},
        OutputCase{"EmptyCustomSequence", OutputBehavior::customKeySequence("x", {}), {}},
        OutputCase{"OutOfRangeKeysAreSkipped",
                   OutputBehavior::customKeySequence("x", {{-1, 0}, {0x0B, 0}, {70000, 0}}),
                   {{EventType::keyDown, 0x0B, 0}, {EventType::keyUp, 0x0B, 0}}}),
    [](const ::testing::TestParamInfo<OutputCase>& p) { return std::string(p.param.name); });

TEST_F(EngineTest, OutOfRangeKeyCodesAreReportedOncePerMatch) {
    addRecord(
        {makeMapping({0x04}, OutputBehavior::customKeySequence("x", {{-5, 0}, {1 << 20, 0}}))});
    auto kb = attach();
    intercept(listed(kb));
    clearLog();
    world_->keyDown(*kb, 0x04);
    world_->advance(milliseconds(1000)); // repeats do not log again
    EXPECT_EQ(countLogged("Skipped 2 key code(s) outside 0 to 65535 in a custom key sequence."),
              1u);
    EXPECT_EQ(world_->postedEventCount(), 0u);
}

TEST_F(EngineTest, PassThroughsAreRegisteredBeforeEachKeyDown) {
    auto kb = attach();
    intercept(listed(kb));
    // Posted events come back on the next turn: the entries wait till then.
    world_->setPostingMode(platform::sim::PostingMode::async);
    engine().triggerOutput(OutputBehavior::customKeySequence(
        "", {{0x00, kMaskCommand | 0x100}, {0x09, kMaskCommand | kMaskShift}}));
    const auto entries = engine().tapBlockerListener()->forceLetItPassKeys();
    EXPECT_EQ(entries, (std::vector<KeyComboSignature>{
                           KeyComboSignature::passThrough(0x00, kMaskCommand),
                           KeyComboSignature::passThrough(0x09, kMaskCommand | kMaskShift)}));
    world_->runMainQueue();
    EXPECT_EQ(postedDowns(), (std::vector<std::int64_t>{0x00, 0x09}));
    EXPECT_TRUE(engine().tapBlockerListener()->forceLetItPassKeys().empty());
}

TEST_F(EngineTest, WithoutABlockerNothingIsRegistered) {
    auto kb = attach();
    engine().startListening(listed(kb));
    EXPECT_FALSE(engine().allowThrough(8, kMaskCommand));
    engine().triggerOutput(OutputBehavior::copyOperation());
    EXPECT_EQ(postedDowns(), std::vector<std::int64_t>{8});
}

TEST_F(EngineTest, PassThroughsNeedALiveTap) {
    world_->setTapCreationFails(true);
    auto kb = attach();
    intercept(listed(kb));
    ASSERT_NE(engine().tapBlockerListener(), nullptr);
    EXPECT_FALSE(engine().tapBlockerListener()->hasLiveTap());
    for (int i = 0; i < 10; ++i) {
        engine().triggerOutput(OutputBehavior::copyOperation());
    }
    EXPECT_TRUE(engine().tapBlockerListener()->forceLetItPassKeys().empty());
    EXPECT_EQ(postedDowns().size(), 10u);
}

TEST_F(EngineTest, AStoppedTapTakesNoPassThroughs) {
    TapBlockerListener blocker(engine());
    blocker.start();
    EXPECT_TRUE(blocker.addPassThrough(KeyComboSignature::passThrough(8, kMaskCommand)));
    blocker.stop();
    EXPECT_FALSE(blocker.addPassThrough(KeyComboSignature::passThrough(9, kMaskCommand)));
    EXPECT_EQ(blocker.forceLetItPassKeys(),
              std::vector<KeyComboSignature>{KeyComboSignature::passThrough(8, kMaskCommand)});
}

TEST_F(EngineTest, AFailedPostLeavesNoPassThrough) {
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    auto kb = attach();
    intercept(listed(kb));
    world_->setPostingFails(true);
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    world_->advance(milliseconds(1000));
    EXPECT_TRUE(engine().tapBlockerListener()->forceLetItPassKeys().empty());
    EXPECT_TRUE(postedDowns().empty());
}

TEST_F(EngineTest, APassThroughLeavesWithItsOwnEventAndOlderLostOnesWithIt) {
    auto kb = attach();
    intercept(listed(kb));
    world_->setPostingMode(platform::sim::PostingMode::async);
    // Far more in flight at once than any fixed small bound would keep.
    std::vector<MacKeySignature> keys;
    for (int i = 0; i < 100; ++i) {
        keys.push_back(MacKeySignature{i % 50, kMaskCommand});
    }
    engine().triggerOutput(OutputBehavior::customKeySequence("", keys));
    EXPECT_EQ(engine().tapBlockerListener()->forceLetItPassKeys().size(), 100u);
    world_->runMainQueue();
    EXPECT_TRUE(engine().tapBlockerListener()->forceLetItPassKeys().empty());
    EXPECT_EQ(postedDowns().size(), 100u);

    // Posted events come back in order: when C comes back, the entry of a
    // V whose event the system lost can never be consumed, and goes too.
    EXPECT_TRUE(engine().allowThrough(9, kMaskCommand));
    EXPECT_TRUE(engine().allowThrough(8, kMaskCommand));
    EXPECT_TRUE(engine().allowThrough(7, 0));
    world_->post(8, kMaskCommand, true);
    world_->runMainQueue();
    EXPECT_EQ(engine().tapBlockerListener()->forceLetItPassKeys(),
              std::vector<KeyComboSignature>{KeyComboSignature::passThrough(7, 0)});
}

// Times (ms) at which the held Control+A produced output, until `until`.
class RepeatTest : public EngineTest {
protected:
    std::vector<std::int64_t> outputTimes(std::int64_t holdMs) {
        addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
        auto kb = attach();
        intercept(listed(kb));
        world_->keyDown(*kb, 0xE0);
        world_->keyDown(*kb, 0x04);
        world_->advance(milliseconds(holdMs));
        world_->keyUp(*kb, 0x04);
        world_->advance(milliseconds(1000));
        std::vector<std::int64_t> times;
        for (const AppEvent& e : world_->appEvents()) {
            if (e.synthetic && e.type == EventType::keyDown) {
                times.push_back(std::chrono::duration_cast<milliseconds>(e.time).count());
            }
        }
        return times;
    }
};

struct RepeatCase {
    const char* name;
    std::vector<std::pair<const char*, platform::PreferenceValue>> preferences;
    std::int64_t holdMs;
    std::vector<std::int64_t> expected;
};

// Test names print the case name rather than raw bytes.
[[maybe_unused]] void PrintTo(const RepeatCase& c, std::ostream* os) {
    *os << c.name;
}

class RepeatTimingTest : public RepeatTest, public ::testing::WithParamInterface<RepeatCase> {};

TEST_P(RepeatTimingTest, RepeatsWhileHeld) {
    for (const auto& [key, value] : GetParam().preferences) {
        setPreference(key, value);
    }
    EXPECT_EQ(outputTimes(GetParam().holdMs), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Repeat, RepeatTimingTest,
    ::testing::Values(
        RepeatCase{"Defaults", {}, 850, {0, 500, 600, 700, 800}},
        RepeatCase{"ReleasedBeforeTheFirstRepeat", {}, 499, {0}},
        RepeatCase{"Disabled", {{settings::kKeyRepeatEnabled, false}}, 2000, {0}},
        RepeatCase{"NotABooleanCountsAsOn",
                   {{settings::kKeyRepeatEnabled, std::string("no")}},
                   650,
                   {0, 500, 600}},
        RepeatCase{"StoredTimings",
                   {{settings::kKeyRepeatInitialDelay, 0.25}, {settings::kKeyRepeatInterval, 0.2}},
                   700,
                   {0, 250, 450, 650}},
        RepeatCase{"NonPositiveTimingsFallBack",
                   {{settings::kKeyRepeatInitialDelay, 0.0}, {settings::kKeyRepeatInterval, -1.0}},
                   650,
                   {0, 500, 600}}),
    [](const ::testing::TestParamInfo<RepeatCase>& p) { return std::string(p.param.name); });

TEST_F(EngineTest, RepeatTimingIsReadAtEachStart) {
    addRecord({makeMapping({0x04}, keyOutput(100))});
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0x04);
    setPreference(settings::kKeyRepeatInitialDelay, 0.1); // too late for this repeat
    world_->advance(milliseconds(499));
    EXPECT_EQ(postedDowns().size(), 1u);
    world_->keyUp(*kb, 0x04);
    world_->keyDown(*kb, 0x04);
    world_->advance(milliseconds(100));
    EXPECT_EQ(postedDowns().size(), 3u);
}

TEST_F(EngineTest, OnlyKeysOfTheCombinationStopTheRepeat) {
    addRecord({makeMapping({0xE0, 0x04}, keyOutput(100))});
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0x05);
    world_->keyUp(*kb, 0x05);
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    world_->keyDown(*kb, 0x06); // held set no longer matches; repeat continues
    world_->keyUp(*kb, 0x06);
    EXPECT_TRUE(engine().isRepeating());
    world_->keyUp(*kb, 0xE0);
    EXPECT_FALSE(engine().isRepeating());
    EXPECT_EQ(engine().repeatingCombo(), std::nullopt);
}

TEST_F(EngineTest, AMappingToNoneLeavesTheRunningRepeat) {
    addRecord({makeMapping({0xE0, 0x04}, keyOutput(100)),
               makeMapping({0xE0, 0x04, 0x05}, OutputBehavior::none())});
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    world_->keyDown(*kb, 0x05);
    EXPECT_EQ(postedDowns().size(), 1u);
    EXPECT_EQ(engine().repeatingCombo(), (std::vector<HidUsage>{0x04, 0xE0}));
    world_->advance(milliseconds(600));
    EXPECT_EQ(postedDowns(), (std::vector<std::int64_t>{100, 100, 100}));
}

TEST_F(EngineTest, ANewMatchReplacesTheRunningRepeat) {
    addRecord({makeMapping({0xE0, 0x04}, keyOutput(100)),
               makeMapping({0xE0, 0x04, 0x05}, keyOutput(101))});
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    world_->advance(milliseconds(300));
    world_->keyDown(*kb, 0x05);
    world_->advance(milliseconds(500));
    EXPECT_EQ(postedDowns(), (std::vector<std::int64_t>{100, 101, 101}));
    EXPECT_EQ(world_->virtualScheduler()->activeTimerCount(), 1u);
}

TEST_F(EngineTest, StopListeningAloneDoesNotEndTheRepeat) {
    addRecord({makeMapping({0x04}, keyOutput(100))});
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0x04);
    (void)engine().stopListening();
    EXPECT_TRUE(engine().isRepeating());
    engine().stopIntercepting();
    EXPECT_FALSE(engine().isRepeating());
    EXPECT_EQ(world_->virtualScheduler()->activeTimerCount(), 0u);
}

} // namespace
} // namespace chordwell::testing
