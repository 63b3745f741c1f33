#include "engine_fixture.hpp"

#include <random>

namespace chordwell::testing {
namespace {

TEST_F(EngineTest, KeyboardsAttachedBeforeConstructionAreListedWithTheirProperties) {
    attach("Magic Keyboard", kVendor, kProduct, 0x14100000);
    auto& e = engine();
    ASSERT_EQ(e.discoveredKeyboards().size(), 1u);
    const KeyboardDevice& k = e.discoveredKeyboards()[0];
    EXPECT_EQ(k.productName, "Magic Keyboard");
    EXPECT_EQ(k.vendorID, kVendor);
    EXPECT_EQ(k.productID, kProduct);
    EXPECT_TRUE(logged("Matched Device: Magic Keyboard, productID=591, vendorID=1452 "
                       "(locID=336592896)"));
    EXPECT_TRUE(logged("Calling IOHIDManagerScheduleWithRunLoop(...)..."));
}

TEST_F(EngineTest, TheListChangesOnlyWhenTheQueuedWorkRuns) {
    auto& e = engine();
    world_->setRunMainQueueAfterSteps(false);
    auto kb = attach();
    EXPECT_TRUE(e.discoveredKeyboards().empty());
    EXPECT_EQ(e.seenKeyboardLocationIDs().count(1), 1u); // checked in the callback
    world_->runMainQueue();
    EXPECT_EQ(e.discoveredKeyboards().size(), 1u);

    world_->detachKeyboard(kb);
    EXPECT_EQ(e.seenKeyboardLocationIDs().count(1), 0u); // forgotten in the callback too
    EXPECT_EQ(e.discoveredKeyboards().size(), 1u);
    world_->runMainQueue();
    EXPECT_TRUE(e.discoveredKeyboards().empty());
    EXPECT_TRUE(e.seenKeyboardLocationIDs().empty());
}

TEST_F(EngineTest, OneEntryPerLocation) {
    auto& e = engine();
    auto first = attach("Two Faced", 1, 2, 7);
    auto second = attach("Two Faced", 1, 2, 7); // a second keyboard interface
    ASSERT_EQ(e.discoveredKeyboards().size(), 1u);
    EXPECT_EQ(e.discoveredKeyboards()[0].deviceRef.get(), first.get());

    // Removing the ignored interface forgets the location but keeps the entry.
    world_->detachKeyboard(second);
    EXPECT_EQ(e.discoveredKeyboards().size(), 1u);
    EXPECT_EQ(e.seenKeyboardLocationIDs().count(7), 0u);
    // ... so a later arrival there is listed again.
    attach("Another", 3, 4, 7);
    EXPECT_EQ(e.discoveredKeyboards().size(), 2u);
}

TEST_F(EngineTest, KeyboardsWithoutLocationShareOneSlot) {
    auto& e = engine();
    auto first = attach("First", 1, 1, std::nullopt);
    attach("Second", 2, 2, std::nullopt);
    ASSERT_EQ(e.discoveredKeyboards().size(), 1u);
    EXPECT_EQ(e.discoveredKeyboards()[0].productName, "First");
    EXPECT_TRUE(logged("Matched Device: First, productID=1, vendorID=1 (locID=-1)"));

    world_->detachKeyboard(first);
    EXPECT_TRUE(e.discoveredKeyboards().empty());
    attach("Second again", 2, 2, std::nullopt);
    ASSERT_EQ(e.discoveredKeyboards().size(), 1u);
    EXPECT_EQ(e.discoveredKeyboards()[0].productName, "Second again");
}

TEST_F(EngineTest, MissingPropertiesBecomeUnknownAndMinusOne) {
    auto& e = engine();
    auto kb = attach(std::nullopt, std::nullopt, std::nullopt, 9);
    ASSERT_EQ(e.discoveredKeyboards().size(), 1u);
    EXPECT_EQ(e.discoveredKeyboards()[0].productName, "Unknown");
    EXPECT_EQ(e.discoveredKeyboards()[0].vendorID, -1);
    EXPECT_EQ(e.discoveredKeyboards()[0].productID, -1);
    EXPECT_TRUE(logged("Matched Device: Unknown, productID=-1, vendorID=-1 (locID=9)"));
    world_->detachKeyboard(kb);
    EXPECT_TRUE(logged("Removed Device: Unknown, vendorID=-1"));
}

TEST_F(EngineTest, ReplugYieldsANewValueAtTheEnd) {
    auto& e = engine();
    auto a = attach("A", 1, 1, 1);
    attach("B", 2, 2, 2);
    const Uuid oldId = e.discoveredKeyboards()[0].id;
    world_->detachKeyboard(a);
    attach("A", 1, 1, 1);
    ASSERT_EQ(e.discoveredKeyboards().size(), 2u);
    EXPECT_EQ(e.discoveredKeyboards()[0].productName, "B");
    EXPECT_EQ(e.discoveredKeyboards()[1].productName, "A");
    EXPECT_NE(e.discoveredKeyboards()[1].id, oldId);
    EXPECT_TRUE(logged("Removed Device: A, vendorID=1"));
}

// Keyboards plugged and unplugged at random, with the queued work running
// only now and then (udev hands over a removal and an arrival in one batch
// when a keyboard is re-plugged quickly): once the work has run, exactly the
// attached keyboards are listed.
TEST_F(EngineTest, TheListFollowsPlugsAndUnplugsInAnyBatching) {
    auto& e = engine();
    world_->setRunMainQueueAfterSteps(false);
    std::mt19937 random(20261207);
    constexpr std::int64_t kLocations = 3;
    std::vector<std::shared_ptr<SimKeyboard>> at(kLocations); // the keyboard at each location
    for (int step = 0; step < 2000; ++step) {
        const auto location = static_cast<std::size_t>(random() % kLocations);
        if (at[location]) {
            world_->detachKeyboard(at[location]);
            at[location].reset();
        } else {
            at[location] = attach("K", 1, 1, static_cast<std::int64_t>(location));
        }
        if (random() % 4 != 0) {
            continue; // more callbacks in the same batch
        }
        world_->runMainQueue();
        std::vector<const platform::HidDevice*> attached;
        for (const auto& kb : at) {
            if (kb) {
                attached.push_back(kb.get());
            }
        }
        std::vector<const platform::HidDevice*> listedDevices;
        for (const KeyboardDevice& k : e.discoveredKeyboards()) {
            listedDevices.push_back(k.deviceRef.get());
        }
        std::sort(attached.begin(), attached.end());
        std::sort(listedDevices.begin(), listedDevices.end());
        ASSERT_EQ(listedDevices, attached) << "after step " << step;
    }
}

TEST_F(EngineTest, OnlyKeyboardInterfacesAreListed) {
    SimKeyboardProperties mouse;
    mouse.product = "Mouse";
    mouse.locationID = 3;
    mouse.deviceUsage = 2;
    world_->attachKeyboard(mouse);
    EXPECT_TRUE(engine().discoveredKeyboards().empty());
}

TEST_F(EngineTest, RemovingTheInterceptedKeyboardPausesInterception) {
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    auto kb = attach();
    auto other = attach("Other", 9, 9, 2);
    const KeyboardDevice device = listed(kb);
    intercept(device);
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    ASSERT_TRUE(engine().isRepeating());

    // Another keyboard going away changes nothing.
    world_->detachKeyboard(other);
    EXPECT_TRUE(engine().isIntercepting());
    EXPECT_TRUE(engine().isRepeating());
    EXPECT_EQ(engine().currentPressedCodes().size(), 2u);
    EXPECT_FALSE(engine().awaitedKeyboard().has_value());

    world_->detachKeyboard(kb);
    // Paused, not ended: the user never turned it off.
    EXPECT_TRUE(engine().isIntercepting());
    EXPECT_FALSE(engine().isRepeating());
    EXPECT_FALSE(engine().isCapturingInput());
    EXPECT_EQ(engine().tapBlockerListener(), nullptr);
    EXPECT_EQ(engine().selectedDeviceIOHIDDevice(), nullptr);
    EXPECT_TRUE(engine().currentPressedCodes().empty());
    EXPECT_EQ(world_->activeTapCount(), 0u);
    EXPECT_EQ(world_->keysDownAtApplication(), 0u);
    // It waits for the keyboard, which stays selected (same id, no device).
    ASSERT_TRUE(engine().awaitedKeyboard().has_value());
    EXPECT_EQ(*engine().awaitedKeyboard(),
              (KeyboardIdentity{kVendor, kProduct, "Magic Keyboard", 1}));
    ASSERT_TRUE(engine().selectedDevice().has_value());
    EXPECT_EQ(engine().selectedDevice()->id, device.id);
    EXPECT_EQ(engine().selectedDevice()->deviceRef, nullptr);
    // No repeat keeps firing afterwards.
    const auto posted = world_->postedEventCount();
    world_->advance(milliseconds(2000));
    EXPECT_EQ(world_->postedEventCount(), posted);
}

TEST_F(EngineTest, TheEngineUnregistersItselfWhenDestroyed) {
    auto kb = attach();
    intercept(listed(kb));
    ASSERT_EQ(world_->activeTapCount(), 1u);
    engine_.reset();
    EXPECT_EQ(world_->activeTapCount(), 0u);
    EXPECT_FALSE(kb->hasListener());
    // Later events reach nobody and do not crash.
    attach("Late", 1, 1, 5);
    world_->keyDown(*kb, 0x04);
    EXPECT_EQ(world_->appEvents().size(), 1u);
}

TEST_F(EngineTest, QueuedDiscoveryWorkIsDroppedWhenTheEngineIsGone) {
    engine();
    world_->setRunMainQueueAfterSteps(false);
    attach();
    engine_.reset();
    ASSERT_TRUE(world_->virtualScheduler()->hasQueuedWork());
    world_->runMainQueue(); // must not touch the destroyed engine (ASan checks)
    EXPECT_FALSE(world_->virtualScheduler()->hasQueuedWork());
}

} // namespace
} // namespace chordwell::testing
