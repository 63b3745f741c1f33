#include "platform/sim/sim_world.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace chordwell::platform::sim {
namespace {

// Records everything that happens, in order, as text.
struct Trace {
    std::vector<std::string> lines;
    TapDecision decision = TapDecision::pass;
};

void onValue(void* context, const HidDevice&, const HidInputValue& value) {
    static_cast<Trace*>(context)->lines.push_back("hid " + std::to_string(value.usage) + "=" +
                                                  std::to_string(value.integerValue));
}

TapDecision onEvent(void* context, const KeyEvent& event) {
    auto* trace = static_cast<Trace*>(context);
    trace->lines.push_back("tap " + std::to_string(static_cast<std::uint32_t>(event.type)) + " " +
                           std::to_string(event.keyCode));
    return trace->decision;
}

class SimWorldTest : public ::testing::Test {
protected:
    SimWorld world;
    Trace trace;

    std::shared_ptr<SimKeyboard> listenedKeyboard() {
        auto kb = world.attachKeyboard({});
        kb->registerInputValueCallback(&onValue, &trace);
        kb->scheduleWithRunLoop();
        return kb;
    }
    std::unique_ptr<EventTap> liveTap(Trace& t) {
        auto tap = world.createKeyboardEventTap(&onEvent, &t);
        EXPECT_TRUE(tap->addToRunLoop());
        tap->enable(true);
        return tap;
    }
};

TEST_F(SimWorldTest, RawValueFirstThenTheSystemEventThenTheApplication) {
    auto kb = listenedKeyboard();
    auto tap = liveTap(trace);
    world.setAppEventSink(
        [&](const AppEvent& e) { trace.lines.push_back("app " + std::to_string(e.keyCode)); });
    world.keyDown(*kb, 0x04);
    world.keyUp(*kb, 0x04);
    EXPECT_EQ(trace.lines, (std::vector<std::string>{"hid 4=1", "tap 10 0", "app 0", "hid 4=0",
                                                     "tap 11 0", "app 0"}));
}

struct KeyCase {
    HidUsage usage;
    std::optional<std::int64_t> keyCode;
    EventType downType;
    EventFlags flagsWhileDown;
};

// Test names print a short description rather than raw bytes.
[[maybe_unused]] void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << "usage " << c.usage;
}

class SimKeyCodeTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(SimKeyCodeTest, PhysicalKeysProduceTheSystemsEvents) {
    const KeyCase& c = GetParam();
    SimWorld world;
    auto kb = world.attachKeyboard({});
    world.keyDown(*kb, c.usage);
    world.keyUp(*kb, c.usage);
    if (!c.keyCode) {
        EXPECT_TRUE(world.appEvents().empty());
        return;
    }
    ASSERT_EQ(world.appEvents().size(), 2u);
    const AppEvent& down = world.appEvents()[0];
    const AppEvent& up = world.appEvents()[1];
    EXPECT_EQ(down.keyCode, *c.keyCode);
    EXPECT_EQ(down.type, c.downType);
    EXPECT_EQ(down.flags, c.flagsWhileDown);
    EXPECT_EQ(up.type,
              c.downType == EventType::keyDown ? EventType::keyUp : EventType::flagsChanged);
    EXPECT_EQ(up.flags, 0u);
    EXPECT_FALSE(down.synthetic);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SimKeyCodeTest,
    ::testing::Values(KeyCase{0x04, 0x00, EventType::keyDown, 0},
                      KeyCase{0x28, 0x24, EventType::keyDown, 0},
                      KeyCase{0xE0, 59, EventType::flagsChanged, kMaskControl},
                      KeyCase{0xE1, 56, EventType::flagsChanged, kMaskShift},
                      KeyCase{0xE2, 58, EventType::flagsChanged, kMaskAlternate},
                      KeyCase{0xE3, 55, EventType::flagsChanged, kMaskCommand},
                      KeyCase{0xE4, 62, EventType::flagsChanged, kMaskControl},
                      KeyCase{0xE5, 60, EventType::flagsChanged, kMaskShift},
                      KeyCase{0xE6, 61, EventType::flagsChanged, kMaskAlternate},
                      KeyCase{0xE7, 54, EventType::flagsChanged, kMaskCommand},
                      KeyCase{0x46, std::nullopt, EventType::keyDown, 0},
                      KeyCase{0x64, std::nullopt, EventType::keyDown, 0}));

TEST_F(SimWorldTest, TheFlagWordCarriesModifiersHeldOnAnyKeyboard) {
    auto a = world.attachKeyboard({});
    auto b = world.attachKeyboard({});
    world.keyDown(*a, 0xE1); // Shift on one keyboard
    world.keyDown(*b, 0xE7); // right Command on the other
    world.keyDown(*b, 0x04);
    EXPECT_EQ(world.appEvents().back().flags, kMaskShift | kMaskCommand);
    world.detachKeyboard(a); // its Shift goes with it, and the system says so
    EXPECT_EQ(world.modifierFlags(), kMaskCommand);
    ASSERT_EQ(world.appEvents().size(), 4u);
    EXPECT_EQ(world.appEvents().back(),
              (AppEvent{Scheduler::Duration{0}, EventType::flagsChanged, 56, kMaskCommand}));
    world.keyDown(*a, 0x05); // a detached keyboard sends nothing
    EXPECT_EQ(world.appEvents().size(), 4u);
    world.detachKeyboard(b); // a held key comes up at the application
    EXPECT_EQ(world.keysDownAtApplication(), 0u);
}

TEST_F(SimWorldTest, TapsRunNewestFirstAndASwallowEndsTheRoad) {
    Trace older;
    Trace newer;
    auto tap1 = liveTap(older);
    auto tap2 = liveTap(newer);
    auto kb = world.attachKeyboard({});
    newer.decision = TapDecision::swallow;
    world.keyDown(*kb, 0x04);
    EXPECT_EQ(newer.lines.size(), 1u);
    EXPECT_TRUE(older.lines.empty());
    EXPECT_TRUE(world.appEvents().empty());

    tap2->enable(false); // a disabled tap is skipped
    world.keyDown(*kb, 0x04);
    EXPECT_EQ(older.lines.size(), 1u);
    EXPECT_EQ(world.appEvents().size(), 1u);
    tap2.reset(); // and a destroyed one forgotten
    EXPECT_EQ(world.tapCount(), 1u);
}

TEST_F(SimWorldTest, PostedEventsArriveBeforeThePostReturns) {
    auto tap = liveTap(trace);
    EXPECT_TRUE(world.eventPoster().postKeyEvent(8, kMaskCommand, true));
    EXPECT_EQ(trace.lines, std::vector<std::string>{"tap 10 8"});
    ASSERT_EQ(world.appEvents().size(), 1u);
    EXPECT_EQ(world.appEvents()[0],
              (AppEvent{Scheduler::Duration{0}, EventType::keyDown, 8, kMaskCommand, true}));
    world.setPostingFails(true);
    EXPECT_FALSE(world.eventPoster().postKeyEvent(8, kMaskCommand, false));
    EXPECT_EQ(world.appEvents().size(), 1u);
}

struct ModeCase {
    const char* name;
    DeliveryOrder order;
    bool oneTurn; // both key events in one turn of the main queue
    std::vector<std::string> expected;
};

[[maybe_unused]] void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.name;
}

class SimDeliveryOrderTest : public SimWorldTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(SimDeliveryOrderTest, TheHidValueAndTheTapEventArriveInTheChosenOrder) {
    auto kb = listenedKeyboard();
    auto tap = liveTap(trace);
    world.setAppEventSink(
        [&](const AppEvent& e) { trace.lines.push_back("app " + std::to_string(e.keyCode)); });
    world.setDeliveryOrder(GetParam().order);
    world.setRunMainQueueAfterSteps(!GetParam().oneTurn);
    world.keyDown(*kb, 0x04);
    world.keyUp(*kb, 0x04);
    world.runMainQueue();
    EXPECT_EQ(trace.lines, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SimDeliveryOrderTest,
    ::testing::Values(ModeCase{"hid first",
                               DeliveryOrder::hidFirst,
                               false,
                               {"hid 4=1", "tap 10 0", "app 0", "hid 4=0", "tap 11 0", "app 0"}},
                      ModeCase{"tap first",
                               DeliveryOrder::tapFirst,
                               false,
                               {"tap 10 0", "app 0", "hid 4=1", "tap 11 0", "app 0", "hid 4=0"}},
                      // Both keys sent before the loop turns: one message a turn, in
                      // the order each was sent.
                      ModeCase{"tap first, one turn",
                               DeliveryOrder::tapFirst,
                               true,
                               {"tap 10 0", "app 0", "hid 4=1", "tap 11 0", "app 0", "hid 4=0"}},
                      ModeCase{"hid first, one turn",
                               DeliveryOrder::hidFirst,
                               true,
                               {"hid 4=1", "tap 10 0", "app 0", "hid 4=0", "tap 11 0", "app 0"}}));

TEST_F(SimWorldTest, RandomOrderIsRepeatableAndKeepsEachSourceInOrder) {
    auto run = [](std::uint64_t seed) {
        SimWorld w;
        Trace t;
        auto kb = w.attachKeyboard({});
        kb->registerInputValueCallback(&onValue, &t);
        kb->scheduleWithRunLoop();
        auto tp = w.createKeyboardEventTap(&onEvent, &t);
        tp->addToRunLoop();
        tp->enable(true);
        w.setDeliveryOrder(DeliveryOrder::random, seed);
        w.setRunMainQueueAfterSteps(false);
        for (int i = 0; i < 32; ++i) {
            w.keyDown(*kb, static_cast<HidUsage>(0x04 + i % 4));
            w.keyUp(*kb, static_cast<HidUsage>(0x04 + i % 4));
            if (i % 3 == 0) {
                w.runMainQueue();
            }
        }
        w.deliverQueuedInput(); // what is due later, too
        return t.lines;
    };
    const auto a = run(7);
    EXPECT_EQ(a, run(7));
    EXPECT_NE(a, run(8));
    // Each source alone keeps the order of the keys, and the HID value of a
    // key is never lost.
    std::vector<std::string> hid;
    std::vector<std::string> taps;
    std::size_t tapBeforeItsValue = 0;
    for (const auto& line : a) {
        (line.rfind("hid", 0) == 0 ? hid : taps).push_back(line);
        if (line.rfind("tap", 0) == 0 && taps.size() > hid.size()) {
            ++tapBeforeItsValue;
        }
    }
    ASSERT_EQ(hid.size(), 64u);
    ASSERT_EQ(taps.size(), 64u);
    for (std::size_t i = 0; i < hid.size(); ++i) {
        const int usage = 4 + static_cast<int>(i / 2) % 4;
        EXPECT_EQ(hid[i], "hid " + std::to_string(usage) + (i % 2 == 0 ? "=1" : "=0"));
        EXPECT_EQ(taps[i], std::string("tap ") + (i % 2 == 0 ? "10 " : "11 ") +
                               std::to_string(i / 2 % 4 == 0   ? 0
                                              : i / 2 % 4 == 1 ? 11
                                              : i / 2 % 4 == 2 ? 8
                                                               : 2));
    }
    EXPECT_GT(tapBeforeItsValue, 0u); // both orders happen
}

TEST_F(SimWorldTest, AsyncPostingDeliversOnTheNextTurnInPostingOrder) {
    auto tap = liveTap(trace);
    world.setPostingMode(PostingMode::async);
    EXPECT_TRUE(world.eventPoster().postKeyEvent(8, kMaskCommand, true));
    EXPECT_TRUE(world.eventPoster().postKeyEvent(8, kMaskCommand, false));
    EXPECT_TRUE(trace.lines.empty());
    EXPECT_TRUE(world.appEvents().empty());
    EXPECT_EQ(world.pendingPostedEventCount(), 2u);
    world.runMainQueue();
    EXPECT_EQ(trace.lines, (std::vector<std::string>{"tap 10 8", "tap 11 8"}));
    EXPECT_EQ(world.appEvents().size(), 2u);
    EXPECT_EQ(world.postedEventCount(), 2u);

    // Back to sync: what is still pending goes first.
    world.eventPoster().postKeyEvent(9, 0, true);
    world.setPostingMode(PostingMode::sync);
    world.eventPoster().postKeyEvent(9, 0, false);
    EXPECT_EQ(trace.lines.back(), "tap 11 9");
    EXPECT_EQ(trace.lines[trace.lines.size() - 2], "tap 10 9");
}

TEST_F(SimWorldTest, TheApplicationKeepsRecentEventsAndKnowsWhichKeysAreDown) {
    auto kb = world.attachKeyboard({});
    world.setAppEventLimit(10);
    for (int i = 0; i < 12; ++i) {
        world.keyDown(*kb, 0x04);
        world.keyUp(*kb, 0x04);
    }
    world.keyDown(*kb, 0x05);
    EXPECT_EQ(world.appEventCount(), 25u);
    EXPECT_LE(world.appEvents().size(), 10u);
    EXPECT_GE(world.appEvents().size(), 5u);
    EXPECT_EQ(world.appEvents().back().keyCode, 11); // the newest is kept
    EXPECT_TRUE(world.isDownAtApplication(11));
    EXPECT_FALSE(world.isDownAtApplication(0));
    EXPECT_EQ(world.keysDownAtApplication(), 1u);
    world.keyUp(*kb, 0x05);
    EXPECT_EQ(world.keysDownAtApplication(), 0u);
    world.setAppEventLimit(0);
    EXPECT_TRUE(world.appEvents().empty());
    world.keyDown(*kb, 0x05);
    EXPECT_TRUE(world.appEvents().empty());
    EXPECT_EQ(world.keysDownAtApplication(), 1u);
}

TEST_F(SimWorldTest, TapCreationAndRunLoopSourcesCanFail) {
    world.setTapCreationFails(true);
    EXPECT_EQ(world.createKeyboardEventTap(&onEvent, &trace), nullptr);
    world.setTapCreationFails(false);
    world.setRunLoopSourceFails(true);
    auto tap = world.createKeyboardEventTap(&onEvent, &trace);
    ASSERT_NE(tap, nullptr);
    EXPECT_FALSE(tap->addToRunLoop());
    tap->enable(true);
    EXPECT_EQ(world.activeTapCount(), 0u);
}

TEST_F(SimWorldTest, TheSystemDisablesTapsAndTellsThem) {
    auto tap = liveTap(trace);
    world.disableTapsBySystem(EventType::tapDisabledByUserInput);
    EXPECT_FALSE(tap->isEnabled());
    EXPECT_EQ(trace.lines, std::vector<std::string>{"tap 4294967295 0"});
}

void onDevice(void* context, int, const HidDeviceRef& device) {
    static_cast<std::vector<std::string>*>(context)->push_back(
        device->stringProperty("Product").value_or("?"));
}

TEST_F(SimWorldTest, TheHidManagerReportsKeyboardsOnceScheduled) {
    SimKeyboardProperties early;
    early.product = "Early";
    world.attachKeyboard(early);
    SimKeyboardProperties mouse;
    mouse.product = "Mouse";
    mouse.deviceUsage = 2;
    world.attachKeyboard(mouse);

    std::vector<std::string> matched;
    std::vector<std::string> removed;
    auto manager = world.createHidManager();
    manager->setDeviceMatching(1, 6);
    manager->registerDeviceMatchingCallback(&onDevice, &matched);
    manager->registerDeviceRemovalCallback(&onDevice, &removed);
    EXPECT_EQ(manager->open(), 0);
    EXPECT_TRUE(matched.empty());
    manager->scheduleWithRunLoop();
    EXPECT_EQ(matched, std::vector<std::string>{"Early"});

    SimKeyboardProperties late;
    late.product = "Late";
    auto kb = world.attachKeyboard(late);
    world.detachKeyboard(kb);
    EXPECT_EQ(matched, (std::vector<std::string>{"Early", "Late"}));
    EXPECT_EQ(removed, std::vector<std::string>{"Late"});

    manager->registerDeviceMatchingCallback(nullptr, nullptr);
    world.attachKeyboard(late);
    EXPECT_EQ(matched.size(), 2u);
}

TEST_F(SimWorldTest, KeyboardPropertiesAreAbsentUnlessGiven) {
    SimKeyboardProperties properties;
    properties.vendorID = 0x05AC;
    auto kb = world.attachKeyboard(properties);
    EXPECT_EQ(kb->integerProperty("VendorID"), 0x05AC);
    EXPECT_EQ(kb->integerProperty("ProductID"), std::nullopt);
    EXPECT_EQ(kb->integerProperty("LocationID"), std::nullopt);
    EXPECT_EQ(kb->stringProperty("Product"), std::nullopt);
    EXPECT_TRUE(kb->sameDevice(*kb));
    auto twin = world.attachKeyboard(properties);
    EXPECT_FALSE(kb->sameDevice(*twin));
}

TEST(SimWorldPaths, ReportsTheGivenApplicationSupportFolderOrNone) {
    std::error_code error;
    SimWorld none;
    EXPECT_EQ(none.paths().applicationSupportDirectory(error), std::nullopt);
    const auto folder = std::filesystem::temp_directory_path() / "chordwell-sim-paths-test";
    SimWorld given(folder);
    EXPECT_EQ(given.paths().applicationSupportDirectory(error), folder);
    std::filesystem::remove_all(folder, error);
}

} // namespace
} // namespace chordwell::platform::sim
