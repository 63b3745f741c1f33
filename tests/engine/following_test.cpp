// The engine follows the keyboard it intercepts: unplugged, it pauses and
// waits; the same keyboard back (the same model at the same place, or the
// only keyboard of the model) resumes it; another model never does. The same
// waiting serves the application's restore at launch. Every case runs in
// every world mode, and ends by typing Control+A on each attached keyboard.
#include "engine_fixture.hpp"

#include "storage/settings.hpp"

#include <map>

namespace chordwell::testing {
namespace {

using platform::sim::DeliveryOrder;
using platform::sim::PostingMode;

struct Board {
    const char* key;
    const char* name;
    std::int64_t vendor;
    std::int64_t product;
    std::int64_t location;
};

// Two of one model at two places; another model of the same name; two
// keyboards without identifiers (as some Bluetooth ones report), told apart
// only by their names.
const Board M1{"M1", "Magic Keyboard", kVendor, kProduct, 1};
const Board M2{"M2", "Magic Keyboard", kVendor, kProduct, 2};
const Board M3{"M3", "Magic Keyboard", kVendor, kProduct, 3};
const Board N1{"N1", "Magic Keyboard", kVendor, 0x0267, 1};
const Board Z1{"Z1", "Keys-To-Go", 0, 0, 5};
const Board Y1{"Y1", "Other Keys", 0, 0, 5};

enum class Op {
    plug,
    unplug,
    intercept,         // select the board and turn interception on
    off,               // the interception switch, with whatever is selected
    select,            // choose the board in the list
    wait,              // ten minutes
    follow,            // the launch's restore of the board, intercepting
    followWithoutMaps, // the launch's restore of the board, not intercepting
};

struct Step {
    Op op;
    const Board* board = nullptr;
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    bool intercepting;
    bool waiting;
    const Board* listened; // nullptr: nothing listened to
    const Board* selected; // nullptr: nothing selected (or the absent one while waiting)
};

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"re-plugged at the same place",
         {{Op::plug, &M1}, {Op::intercept, &M1}, {Op::unplug, &M1}, {Op::plug, &M1}},
         true,
         false,
         &M1,
         &M1},
        {"re-plugged at another place, the only one of its model",
         {{Op::plug, &M1}, {Op::intercept, &M1}, {Op::unplug, &M1}, {Op::plug, &M2}},
         true,
         false,
         &M2,
         &M2},
        {"another model at its place is never taken",
         {{Op::plug, &M1}, {Op::intercept, &M1}, {Op::unplug, &M1}, {Op::plug, &N1}},
         true,
         true,
         nullptr,
         nullptr},
        {"a keyboard of its model already there is not taken",
         {{Op::plug, &M1}, {Op::plug, &M2}, {Op::intercept, &M1}, {Op::unplug, &M1}},
         true,
         true,
         nullptr,
         nullptr},
        {"back at its place beside another of its model",
         {{Op::plug, &M1},
          {Op::plug, &M2},
          {Op::intercept, &M1},
          {Op::unplug, &M1},
          {Op::plug, &M1}},
         true,
         false,
         &M1,
         &M1},
        {"one of two of its model at another place is ambiguous",
         {{Op::plug, &M1},
          {Op::plug, &M2},
          {Op::intercept, &M1},
          {Op::unplug, &M1},
          {Op::plug, &M3}},
         true,
         true,
         nullptr,
         nullptr},
        {"never comes back",
         {{Op::plug, &M1}, {Op::intercept, &M1}, {Op::unplug, &M1}, {Op::wait}},
         true,
         true,
         nullptr,
         nullptr},
        {"turned off while waiting",
         {{Op::plug, &M1}, {Op::intercept, &M1}, {Op::unplug, &M1}, {Op::off}, {Op::plug, &M1}},
         false,
         false,
         nullptr,
         nullptr},
        {"another keyboard chosen while waiting",
         {{Op::plug, &M1},
          {Op::plug, &Z1},
          {Op::intercept, &M1},
          {Op::unplug, &M1},
          {Op::select, &Z1},
          {Op::plug, &M2}},
         false,
         false,
         nullptr,
         &Z1},
        {"turned on again after it was turned off while waiting",
         {{Op::plug, &M1},
          {Op::intercept, &M1},
          {Op::unplug, &M1},
          {Op::off},
          {Op::off},
          {Op::plug, &M1}},
         true,
         false,
         &M1,
         &M1},
        {"keyboards without identifiers are told apart by name",
         {{Op::plug, &Z1}, {Op::intercept, &Z1}, {Op::unplug, &Z1}, {Op::plug, &Y1}},
         true,
         true,
         nullptr,
         nullptr},
        {"a keyboard without identifiers comes back",
         {{Op::plug, &Z1},
          {Op::intercept, &Z1},
          {Op::unplug, &Z1},
          {Op::plug, &Y1},
          {Op::unplug, &Y1},
          {Op::plug, &Z1}},
         true,
         false,
         &Z1,
         &Z1},
        {"restored at launch, present",
         {{Op::plug, &M1}, {Op::follow, &M1}},
         true,
         false,
         &M1,
         &M1},
        {"restored at launch, attached later",
         {{Op::follow, &M1}, {Op::plug, &N1}, {Op::unplug, &N1}, {Op::plug, &M1}},
         true,
         false,
         &M1,
         &M1},
        {"restored at launch, never attached",
         {{Op::plug, &M2}, {Op::plug, &M3}, {Op::follow, &M1}, {Op::wait}},
         true,
         true,
         nullptr,
         nullptr},
        {"restored at launch, turned off while waiting",
         {{Op::follow, &M1}, {Op::off}, {Op::plug, &M1}},
         false,
         false,
         nullptr,
         nullptr},
        {"restored at launch without interception",
         {{Op::followWithoutMaps, &M1}, {Op::plug, &M1}},
         false,
         false,
         nullptr,
         &M1},
    };
    return all;
}

KeyboardIdentity identityOfBoard(const Board& b) {
    return KeyboardIdentity{b.vendor, b.product, b.name, b.location};
}

class FollowingTest : public EngineTest, public ::testing::WithParamInterface<WorldMode> {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        setPreference(settings::kKeyRepeatEnabled, false);
        // Control+A: Copy on the first model and on the first keyboard without
        // identifiers, Paste on the other model of the same name.
        addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
        addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::pasteOperation())}, kVendor, 0x0267);
        addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())}, 0, 0, "Keys-To-Go");
        world_->setPostingMode(GetParam().posting);
        world_->setDeliveryOrder(GetParam().order, 11);
    }

    void run(const Step& step) {
        auto& e = engine();
        switch (step.op) {
        case Op::plug:
            attached_[step.board->key] = attach(step.board->name, step.board->vendor,
                                                step.board->product, step.board->location);
            break;
        case Op::unplug:
            world_->detachKeyboard(attached_.at(step.board->key));
            attached_.erase(step.board->key);
            break;
        case Op::intercept:
            intercept(listed(attached_.at(step.board->key)));
            break;
        case Op::off:
            toggleInterception(e);
            break;
        case Op::select:
            e.setSelectedDevice(listed(attached_.at(step.board->key)));
            break;
        case Op::wait:
            world_->advance(milliseconds(600'000));
            break;
        case Op::follow:
        case Op::followWithoutMaps:
            e.followKeyboard(identityOfBoard(*step.board), step.op == Op::follow);
            break;
        }
        world_->runMainQueue();
    }

    // Control+A typed on a keyboard: what reached the application.
    struct Typed {
        std::size_t copies = 0;
        std::size_t pastes = 0;
        std::size_t as = 0;
    };
    Typed typeControlA(SimKeyboard& kb) {
        world_->clearAppEvents();
        world_->keyDown(kb, 0xE0);
        world_->keyDown(kb, 0x04);
        world_->keyUp(kb, 0x04);
        world_->keyUp(kb, 0xE0);
        world_->runMainQueue();
        // Another keyboard's A with its own Control held would complete the
        // mapping were it the listened one's with the Control's value late:
        // it waits for a HID value until its deadline, then goes on.
        world_->advance(TapBlockerListener::kHidValueDeadline);
        Typed typed;
        for (const AppEvent& ev : world_->appEvents()) {
            if (ev.type != platform::EventType::keyDown) {
                continue;
            }
            typed.copies += ev.synthetic && ev.keyCode == 8 && ev.flags == kMaskCommand;
            typed.pastes += ev.synthetic && ev.keyCode == 9 && ev.flags == kMaskCommand;
            // Typed, or given back late by the tap (posted again).
            typed.as += ev.keyCode == 0;
        }
        return typed;
    }

    std::map<std::string, std::shared_ptr<SimKeyboard>> attached_;
};

TEST_P(FollowingTest, TheInterceptedKeyboardIsFollowed) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        attached_.clear();
        for (const Step& step : c.steps) {
            run(step);
        }
        auto& e = engine();
        EXPECT_EQ(e.isIntercepting(), c.intercepting);
        EXPECT_EQ(e.awaitedKeyboard().has_value(), c.waiting);
        const SimKeyboard* listenedDevice =
            c.listened != nullptr ? attached_.at(c.listened->key).get() : nullptr;
        EXPECT_EQ(e.selectedDeviceIOHIDDevice().get(), listenedDevice);
        EXPECT_EQ(world_->activeTapCount(), listenedDevice != nullptr ? 1u : 0u);
        EXPECT_FALSE(e.isRepeating());
        if (c.selected != nullptr) {
            ASSERT_TRUE(e.selectedDevice().has_value());
            EXPECT_EQ(e.selectedDevice()->deviceRef.get(), attached_.at(c.selected->key).get());
        } else if (c.waiting && c.intercepting) {
            // The absent keyboard stays selected, without a device.
            ASSERT_TRUE(e.selectedDevice().has_value());
            EXPECT_EQ(e.selectedDevice()->deviceRef, nullptr);
            EXPECT_EQ(e.selectedDevice()->productName, e.awaitedKeyboard()->productName);
        }
        if (c.waiting) {
            EXPECT_EQ(waitingForKeyboardText(*e.awaitedKeyboard()),
                      "Waiting for " + e.awaitedKeyboard()->productName + " to come back\u2026");
        }
        // Only the listened keyboard's Control+A is mapped, and its A never
        // reaches the application; every other keyboard's passes as typed.
        for (const auto& [key, kb] : attached_) {
            SCOPED_TRACE(key);
            const Typed typed = typeControlA(*kb);
            const bool mapped = kb.get() == listenedDevice;
            EXPECT_EQ(typed.copies, mapped ? 1u : 0u);
            EXPECT_EQ(typed.pastes, 0u);
            EXPECT_EQ(typed.as, mapped ? 0u : 1u);
            EXPECT_EQ(world_->keysDownAtApplication(), 0u);
        }
    }
}

TEST_P(FollowingTest, KeysHeldWhenItGoesAwayAreReleasedAndRepeatStops) {
    setPreference(settings::kKeyRepeatEnabled, true);
    auto kb = attach(M1.name, M1.vendor, M1.product, M1.location);
    intercept(listed(kb));
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04); // Control+A fires and repeats
    world_->keyDown(*kb, 0xE1); // Shift, which the application holds
    world_->runMainQueue();
    ASSERT_TRUE(engine().isRepeating());
    world_->detachKeyboard(kb);
    world_->runMainQueue();
    EXPECT_FALSE(engine().isRepeating());
    EXPECT_EQ(world_->keysDownAtApplication(), 0u);
    EXPECT_EQ(world_->modifierFlags(), 0u);
    const auto posted = world_->postedEventCount();
    world_->advance(milliseconds(5000));
    EXPECT_EQ(world_->postedEventCount(), posted);

    // Back, it maps again with nothing held over from before.
    kb = attach(M1.name, M1.vendor, M1.product, M1.location);
    world_->runMainQueue();
    EXPECT_TRUE(engine().currentPressedCodes().empty());
    setPreference(settings::kKeyRepeatEnabled, false);
    const Typed typed = typeControlA(*kb);
    EXPECT_EQ(typed.copies, 1u);
    EXPECT_EQ(typed.as, 0u);
}

TEST_P(FollowingTest, SleepStopsRepeatAndWakeTurnsTheTapBackOn) {
    setPreference(settings::kKeyRepeatEnabled, true);
    auto kb = attach(M1.name, M1.vendor, M1.product, M1.location);
    intercept(listed(kb));
    world_->keyDown(*kb, 0xE0);
    world_->keyDown(*kb, 0x04);
    world_->runMainQueue();
    ASSERT_TRUE(engine().isRepeating());

    world_->systemWillSleep();
    EXPECT_FALSE(engine().isRepeating());
    EXPECT_TRUE(engine().currentPressedCodes().empty());
    EXPECT_TRUE(engine().isIntercepting());
    const auto posted = world_->postedEventCount();
    world_->advance(milliseconds(5000));
    EXPECT_EQ(world_->postedEventCount(), posted);

    // The keys come up while it sleeps; the system turns the tap off.
    world_->keyUp(*kb, 0x04);
    world_->keyUp(*kb, 0xE0);
    world_->systemDidWake(true);
    EXPECT_EQ(world_->activeTapCount(), 1u);
    setPreference(settings::kKeyRepeatEnabled, false);
    const Typed typed = typeControlA(*kb);
    EXPECT_EQ(typed.copies, 1u);
    EXPECT_EQ(typed.as, 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, FollowingTest, ::testing::ValuesIn(kEveryWorldMode));

// What the views are told: a pause and a resume each announce the
// interception state with the selection, in the turn the keyboard goes or
// comes, and the waiting is visible at every announcement of the turn.
TEST_F(EngineTest, PauseAndResumeAnnounceTheSelectionWithTheWaiting) {
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    auto kb = attach();
    intercept(listed(kb));
    EngineChanges seen;
    bool waitingAtLastAnnouncement = false;
    const Subscription subscription = engine().subscribeChanges([&](const EngineChanges& c) {
        seen |= c;
        waitingAtLastAnnouncement = engine().awaitedKeyboard().has_value();
    });
    using C = EngineChange;
    world_->detachKeyboard(kb);
    world_->runMainQueue();
    EXPECT_EQ(seen, C::discoveredKeyboards | C::interception | C::selection | C::tapBlocker |
                        C::capture | EngineChanges(C::heldKeys));
    EXPECT_TRUE(waitingAtLastAnnouncement); // the selection change came after the waiting began
    seen = {};
    kb = attach();
    world_->runMainQueue();
    EXPECT_EQ(seen, C::discoveredKeyboards | C::interception | C::selection | C::tapBlocker |
                        C::capture | EngineChanges(C::tapSignatures));
    EXPECT_FALSE(engine().awaitedKeyboard().has_value());
    ASSERT_TRUE(engine().selectedDevice().has_value());
    EXPECT_EQ(engine().selectedDevice()->deviceRef.get(), kb.get());
}

} // namespace
} // namespace chordwell::testing
