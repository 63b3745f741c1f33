// The engine in the unkind modes of the simulated world (posting that comes
// back on a later turn, HID values that trail their tap events), and in
// situations an observer or a mapping file can create.
#include "engine_fixture.hpp"

#include "storage/settings.hpp"

#include <algorithm>

namespace chordwell::testing {
namespace {

using platform::sim::DeliveryOrder;
using platform::sim::PostingMode;

class UnkindWorldTest : public EngineTest, public ::testing::WithParamInterface<WorldMode> {
protected:
    std::shared_ptr<SimKeyboard> listenedKeyboard(std::vector<KeyMapping> mappings) {
        addRecord(std::move(mappings));
        auto kb = attach();
        intercept(listed(kb));
        world_->setPostingMode(GetParam().posting);
        world_->setDeliveryOrder(GetParam().order, 7);
        return kb;
    }
    std::size_t downsAtApplication(std::int64_t keyCode) const {
        return static_cast<std::size_t>(std::count_if(
            world_->appEvents().begin(), world_->appEvents().end(), [&](const AppEvent& e) {
                return e.type == platform::EventType::keyDown && e.keyCode == keyCode;
            }));
    }
};

TEST_P(UnkindWorldTest, ControlAToCopyNeverLetsTheAThrough) {
    setPreference(settings::kKeyRepeatEnabled, false);
    auto kb = listenedKeyboard({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    for (int i = 0; i < 5; ++i) {
        world_->keyDown(*kb, 0xE0);
        world_->keyDown(*kb, 0x04);
        world_->keyUp(*kb, 0x04);
        world_->keyUp(*kb, 0xE0);
    }
    EXPECT_EQ(downsAtApplication(0), 0u); // A
    EXPECT_EQ(postedDowns(), std::vector<std::int64_t>(5, 8));
    EXPECT_EQ(world_->keysDownAtApplication(), 0u);
}

TEST_P(UnkindWorldTest, AFortyKeySequenceArrivesWhole) {
    std::vector<MacKeySignature> keys;
    std::vector<std::int64_t> codes;
    for (int i = 0; i < 40; ++i) {
        keys.push_back(MacKeySignature{i % 30, kMaskCommand});
        codes.push_back(i % 30);
    }
    setPreference(settings::kKeyRepeatEnabled, false);
    auto kb = listenedKeyboard(
        {makeMapping({0xE2, 0x05}, OutputBehavior::customKeySequence("forty", keys))});
    world_->keyDown(*kb, 0xE2);
    world_->keyDown(*kb, 0x05);
    EXPECT_EQ(postedDowns(), codes);
    world_->keyUp(*kb, 0x05);
    world_->keyUp(*kb, 0xE2);
    const auto physical = physicalDowns();
    EXPECT_EQ(std::count(physical.begin(), physical.end(), 11), 0); // B
    EXPECT_TRUE(engine().tapBlockerListener()->forceLetItPassKeys().empty());
    EXPECT_EQ(world_->keysDownAtApplication(), 0u);
}

TEST_P(UnkindWorldTest, AHeldRepeatArrivesAndStopsWithTheKey) {
    auto kb = listenedKeyboard({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    world_->advance(milliseconds(750));
    EXPECT_EQ(postedDowns().size(), 4u); // at 0, 500, 600, 700 ms
    world_->keyUp(*kb, 0x04);
    world_->advance(milliseconds(1000));
    EXPECT_EQ(postedDowns().size(), 4u);
    EXPECT_FALSE(engine().isRepeating());
    world_->keyUp(*kb, 0xE0);
    EXPECT_EQ(downsAtApplication(0), 0u);
    EXPECT_EQ(world_->keysDownAtApplication(), 0u);
}

TEST_P(UnkindWorldTest, AKeyAfterALateKeyUpStillPasses) {
    setPreference(settings::kKeyRepeatEnabled, false);
    auto kb = listenedKeyboard({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    world_->setRunMainQueueAfterSteps(false);
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    world_->runMainQueue();
    // A comes up and B goes down in one turn: A's HID value may trail B's
    // tap event.
    world_->keyUp(*kb, 0x04);
    world_->keyDown(*kb, 0x05);
    world_->runMainQueue();
    world_->keyUp(*kb, 0x05);
    world_->keyUp(*kb, 0xE0);
    world_->runMainQueue();
    world_->deliverQueuedInput();          // what a random order sends later, too
    EXPECT_EQ(downsAtApplication(11), 1u); // B, once
    EXPECT_EQ(downsAtApplication(0), 0u);
    EXPECT_EQ(world_->keysDownAtApplication(), 0u);
}

TEST_P(UnkindWorldTest, KeysOfAnotherKeyboardPassUnlessAMappingIsHeld) {
    setPreference(settings::kKeyRepeatEnabled, false);
    auto kb = listenedKeyboard({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    auto other = attach("Other", 1, 2, 9);
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*other, 0x04); // would complete the mapping on the listened one
    world_->keyUp(*other, 0x04);
    // Late perhaps (it waits for a HID value that never comes), but once.
    world_->advance(TapBlockerListener::kHidValueDeadline);
    EXPECT_EQ(downsAtApplication(0), 1u);
    EXPECT_EQ(downsAtApplication(8), 0u); // no Copy
    world_->keyUp(*kb, 0xE0);
    EXPECT_EQ(world_->keysDownAtApplication(), 0u);
}

TEST_P(UnkindWorldTest, AnOutputThatLooksLikeItsOwnKeyStillArrives) {
    // Space becomes Space: the posted key and the user's look alike, and
    // with posting on a later turn the user's comes back first.
    setPreference(settings::kKeyRepeatEnabled, false);
    auto kb = listenedKeyboard({makeMapping({0x2C}, keyOutput(49))});
    world_->keyDown(*kb, 0x2C);
    world_->keyUp(*kb, 0x2C);
    world_->keyDown(*kb, 0x2C);
    world_->keyUp(*kb, 0x2C);
    EXPECT_EQ(postedDowns(), (std::vector<std::int64_t>{49, 49}));
    EXPECT_TRUE(physicalDowns().empty());
    EXPECT_EQ(world_->keysDownAtApplication(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, UnkindWorldTest, ::testing::ValuesIn(kEveryWorldMode));

TEST_F(EngineTest, AMappingWithoutInputKeysNeverMatches) {
    addRecord({makeMapping({}, OutputBehavior::copyOperation(), "empty"),
               makeMapping({0x04}, keyOutput(100))});
    auto kb = attach();
    auto other = attach("Other", 1, 2, 9);
    intercept(listed(kb));
    tap(*other, 0x05);
    tap(*kb, 0x06);
    tap(*kb, 0x04);
    EXPECT_EQ(physicalDowns(), (std::vector<std::int64_t>{11, 8}));
    EXPECT_EQ(postedDowns(), std::vector<std::int64_t>{100});
    ASSERT_EQ(engine().allDeviceMappings().size(), 1u);
    EXPECT_EQ(engine().allDeviceMappings()[0].mappings.size(), 2u); // kept as it is
}

TEST_F(EngineTest, AnObserverStoppingInterceptionMidMatchLeavesNoRepeat) {
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0xE0);
    bool armed = true;
    auto subscription = engine().subscribeWillChange([&] {
        if (armed && engine().isIntercepting() && engine().tapBlockerListener() != nullptr &&
            !engine().tapBlockerListener()->forceLetItPassKeys().empty()) {
            armed = false;
            engine().stopIntercepting();
        }
    });
    world_->keyDown(*kb, 0x04);
    EXPECT_FALSE(armed);
    EXPECT_FALSE(engine().isIntercepting());
    EXPECT_FALSE(engine().isRepeating());
    const auto posted = world_->postedEventCount();
    world_->advance(milliseconds(2000));
    EXPECT_EQ(world_->postedEventCount(), posted);
}

TEST_F(EngineTest, AnObserverStoppingListeningWhileTheTapRecordsIsSafe) {
    auto kb = attach();
    engine().setIsForceBlockTap(true);
    engine().startListening(listed(kb));
    bool armed = true;
    auto subscription = engine().subscribeWillChange([&] {
        if (armed && engine().tapBlockerListener() != nullptr) {
            armed = false;
            (void)engine().stopListening();
        }
    });
    world_->keyDown(*kb, 0x06); // the tap records C and announces it
    EXPECT_FALSE(armed);
    EXPECT_EQ(engine().tapBlockerListener(), nullptr);
    world_->keyUp(*kb, 0x06);
}

TEST_F(EngineTest, AbsurdRepeatTimesNeitherOverflowNorSpin) {
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    setPreference(settings::kKeyRepeatInitialDelay, 0.5);
    setPreference(settings::kKeyRepeatInterval, 1e300);
    auto kb = attach();
    intercept(listed(kb));
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    world_->advance(milliseconds(2000));
    EXPECT_EQ(postedDowns().size(), 2u); // at the key-down and at 500 ms
    world_->keyUp(*kb, 0x04);
}

} // namespace
} // namespace chordwell::testing
