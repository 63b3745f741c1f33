// The macOS adapter's own classes on the model of the frameworks: HID
// registration and its undoing, the stand-in location, the tap's refusals,
// the poster's refusals and flags, the run-loop scheduler, the user
// defaults, and the permission requests. Every test ends with the model's
// accounting: nothing over-released, used after release, or left alive.
#include "apple_model.hpp"

#include "platform/macos/event_tap.hpp"
#include "platform/macos/hid_manager.hpp"
#include "platform/macos/keyboard_report.hpp"
#include "platform/macos/mac_platform.hpp"
#include "platform/macos/mac_preferences.hpp"
#include "platform/macos/run_loop_scheduler.hpp"
#include "platform/macos/tap_events.hpp"
#include "platform/memory/memory_ports.hpp"

#include <ApplicationServices/ApplicationServices.h>
#include <IOKit/hidsystem/IOHIDLib.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace chordwell::platform::mac {
namespace {

using applemodel::CallbackSetLookup;
using std::chrono::milliseconds;

class AdapterTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(system.finish(), std::vector<std::string>{}); }
    applemodel::System system;
};

struct Seen {
    std::vector<HidDeviceRef> matched;
    std::vector<HidDeviceRef> removed;
    std::vector<std::uint32_t> usages;
    HidDevice* stopOn = nullptr; // unregisters itself at its first value
};

void onMatched(void* context, int, const HidDeviceRef& device) {
    static_cast<Seen*>(context)->matched.push_back(device);
}
void onRemoved(void* context, int, const HidDeviceRef& device) {
    static_cast<Seen*>(context)->removed.push_back(device);
}
void onValue(void* context, const HidDevice& sender, const HidInputValue& value) {
    auto* seen = static_cast<Seen*>(context);
    seen->usages.push_back(value.usage);
    if (seen->stopOn == &sender) {
        seen->stopOn->registerInputValueCallback(nullptr, nullptr);
    }
}

std::unique_ptr<MacHidManager> keyboardManager(Seen& seen) {
    auto manager = std::make_unique<MacHidManager>();
    manager->setDeviceMatching(1, 6);
    manager->registerDeviceMatchingCallback(&onMatched, &seen);
    manager->registerDeviceRemovalCallback(&onRemoved, &seen);
    EXPECT_EQ(manager->open(), 0);
    manager->scheduleWithRunLoop();
    return manager;
}

class InputValueRegistration : public AdapterTest,
                               public ::testing::WithParamInterface<CallbackSetLookup> {};

// However IOHIDDevice's set answers a removal, no value reaches the engine
// after it unregistered or after its wrapper is gone, and the wrapper leaves
// no entry behind where the set finds it.
TEST_P(InputValueRegistration, NoValueArrivesAfterUnregisteringAndNoneReachesAGoneWrapper) {
    system.setCallbackSetLookup(GetParam());
    const bool removalFinds = GetParam() == CallbackSetLookup::byContext;
    Seen seen;
    const auto kb = system.attach({"Keyboard", 0x05AC, 0x024F, 1});
    auto manager = keyboardManager(seen);
    system.runUntilIdle();
    ASSERT_EQ(seen.matched.size(), 1u);
    HidDeviceRef device = seen.matched[0];

    device->registerInputValueCallback(&onValue, &seen);
    device->scheduleWithRunLoop();
    system.key(kb, 0x04, true);
    system.runUntilIdle();
    EXPECT_EQ(seen.usages, std::vector<std::uint32_t>{0x04});

    // Stopping and starting again (interception off and on) adds nothing.
    device->registerInputValueCallback(nullptr, nullptr);
    EXPECT_EQ(system.inputValueRegistrations(kb), removalFinds ? 0u : 1u);
    device->registerInputValueCallback(&onValue, &seen);
    device->registerInputValueCallback(&onValue, &seen);
    EXPECT_EQ(system.inputValueRegistrations(kb), 1u);

    // Unregistered from inside its own callback while the drain has more
    // values: the rest of the drain calls the old entry, which finds no one.
    seen.stopOn = device.get();
    system.key(kb, 0x05, true, {true, 0, {}});
    system.inputValue(kb, 7, 0x06, 1);
    system.runUntilIdle();
    EXPECT_EQ(seen.usages, (std::vector<std::uint32_t>{0x04, 0x05}));

    // The wrapper goes (the engine dropped the keyboard) while IOKit may
    // still hold its entry: a later value calls nothing that is gone.
    device->registerInputValueCallback(&onValue, &seen);
    seen.stopOn = nullptr;
    seen.matched.clear();
    device.reset();
    system.key(kb, 0x07, true);
    system.runUntilIdle();
    EXPECT_EQ(seen.usages.size(), 2u);
    EXPECT_EQ(system.inputValueRegistrations(kb), removalFinds ? 0u : 1u);
    manager.reset();
}

INSTANTIATE_TEST_SUITE_P(Lookups, InputValueRegistration,
                         ::testing::Values(CallbackSetLookup::byContext,
                                           CallbackSetLookup::wholeRecord));

TEST_F(AdapterTest, RemovalReachesTheWrapperOfTheMatchAndKeyboardsWithoutLocationStayApart) {
    Seen seen;
    auto manager = keyboardManager(seen);
    const auto first = system.attach({"Virtual", 1, 2, std::nullopt});
    const auto second = system.attach({"Virtual", 1, 2, std::nullopt});
    (void)system.attach({"Located", 1, 2, 0x14200000});
    system.runUntilIdle();
    ASSERT_EQ(seen.matched.size(), 3u);
    const auto a = seen.matched[0]->integerProperty("LocationID");
    const auto b = seen.matched[1]->integerProperty("LocationID");
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    EXPECT_GT(*a, std::int64_t{0xFFFFFFFF}); // never a real location
    EXPECT_EQ(seen.matched[2]->integerProperty("LocationID"), 0x14200000);
    EXPECT_EQ(seen.matched[0]->stringProperty("Product"), "Virtual");

    system.detach(second);
    system.runUntilIdle();
    ASSERT_EQ(seen.removed.size(), 1u);
    EXPECT_EQ(seen.removed[0].get(), seen.matched[1].get());
    (void)first;
    seen.matched.clear();
    seen.removed.clear();
    manager.reset();
}

struct TapSeen {
    std::vector<KeyEvent> events;
};

TapDecision recordTap(void* info, const KeyEvent& event) {
    static_cast<TapSeen*>(info)->events.push_back(event);
    return TapDecision::pass;
}

TEST_F(AdapterTest, WithoutAccessibilityNoTapIsMadeRatherThanOneThatSeesNoKeys) {
    TapSeen seen;
    system.setAccessibility(false);
    EXPECT_EQ(MacEventTap::create(&recordTap, &seen), nullptr);
    EXPECT_EQ(system.tapCount(), 0u);
    system.setAccessibility(true);
    auto tap = MacEventTap::create(&recordTap, &seen);
    ASSERT_NE(tap, nullptr);
    EXPECT_EQ(system.tapMasks(), std::vector<std::uint64_t>{kKeyboardTapEventMask});
    tap.reset();
    EXPECT_EQ(system.tapCount(), 0u);
}

// The keys whose events carry function and keypad bits keep them when
// posted: what the application sees of a posted key is what it sees of the
// same key typed (modifiers aside).
TEST_F(AdapterTest, APostedKeyCarriesTheFlagsOfTheSameKeyTyped) {
    const auto kb = system.attach({"Keyboard", 1, 2, 3});
    MacEventPoster poster;
    // Right arrow, F5, Home, keypad 1, A.
    const std::vector<std::pair<std::uint16_t, std::int64_t>> keys = {
        {0x4F, 124}, {0x3E, 96}, {0x4A, 115}, {0x59, 83}, {0x04, 0}};
    for (const auto& [usage, code] : keys) {
        system.clearAppEvents();
        system.key(kb, usage, true);
        system.runUntilIdle();
        ASSERT_TRUE(poster.postKeyEvent(code, kMaskCommand, true));
        system.runUntilIdle();
        const auto& events = system.appEvents();
        ASSERT_EQ(events.size(), 2u);
        constexpr std::uint64_t kSystemBits = kNumericPadFlag | kSecondaryFnFlag;
        EXPECT_EQ(events[1].flags & kSystemBits, events[0].flags & kSystemBits) << code;
        EXPECT_EQ(events[1].flags & ~kSystemBits, kMaskCommand);
        EXPECT_TRUE(events[1].posted);
        system.key(kb, usage, false);
        ASSERT_TRUE(poster.postKeyEvent(code, kMaskCommand, false));
        system.runUntilIdle();
    }
}

TEST_F(AdapterTest, ThePosterRefusesWhileSecureInputIsOnOrPostingIsNotAllowed) {
    MacEventPoster poster;
    system.setSecureEventInput(true);
    EXPECT_FALSE(poster.postKeyEvent(8, kMaskCommand, true));
    system.setSecureEventInput(false);
    system.setPostAccess(kIOHIDAccessTypeDenied);
    EXPECT_FALSE(poster.postKeyEvent(8, kMaskCommand, true));
    // Asked again once a second: a permission granted meanwhile is seen.
    system.setPostAccess(kIOHIDAccessTypeGranted);
    system.advance(milliseconds(1000));
    EXPECT_TRUE(poster.postKeyEvent(8, kMaskCommand, true));
    system.runUntilIdle();
    EXPECT_EQ(system.appEvents().size(), 1u);
    EXPECT_EQ(system.statistics().postsDropped, 0u);
}

TEST_F(AdapterTest, TheRunLoopSchedulerPostsBeforeTheNextMessageAndFiresTimersOnTime) {
    std::vector<std::string> trace;
    {
        RunLoopScheduler scheduler;
        const auto kb = system.attach({"Keyboard", 1, 2, 3});
        TapSeen seen;
        auto tap = MacEventTap::create(
            [](void* info, const KeyEvent& e) {
                static_cast<std::vector<std::string>*>(info)->push_back("tap " +
                                                                        std::to_string(e.keyCode));
                return TapDecision::pass;
            },
            &trace);
        ASSERT_TRUE(tap->addToRunLoop());
        system.key(kb, 0x04, true, {false, 0, {}}); // the tap event first
        scheduler.postToMain([&] { trace.push_back("posted"); });
        const auto start = scheduler.now();
        scheduler.scheduleOnce(milliseconds(30), [&] {
            trace.push_back("timer at " +
                            std::to_string((scheduler.now() - start) / milliseconds(1)));
        });
        const auto cancelled =
            scheduler.scheduleOnce(milliseconds(20), [&] { trace.push_back("x"); });
        scheduler.cancel(cancelled);
        system.advance(milliseconds(40));
        EXPECT_EQ(trace, (std::vector<std::string>{"posted", "tap 0", "timer at 30"}));
        scheduler.scheduleRepeating(milliseconds(5), milliseconds(5), [] {});
        (void)seen;
    }
    // The scheduler took its source and timers out of the run loop.
    EXPECT_EQ(system.sourcesInRunLoop(), 0u);
    EXPECT_EQ(system.timersInRunLoop(), 0u);
}

TEST_F(AdapterTest, UserDefaultsRoundTripAndAnOutsideChangeShowsWithinASecond) {
    MacPreferences preferences{std::string(kApplicationDefaultsDomain)};
    MacPreferences otherDomain("com.example.other");
    preferences.setValue("key_repeat_enabled", false);
    preferences.setValue("key_repeat_interval", 0.05);
    preferences.setValue("name", std::string("value"));
    EXPECT_EQ(preferences.value("key_repeat_enabled"), PreferenceValue(false));
    EXPECT_EQ(preferences.value("key_repeat_interval"), PreferenceValue(0.05));
    EXPECT_EQ(preferences.value("name"), PreferenceValue(std::string("value")));
    EXPECT_EQ(otherDomain.value("name"), std::nullopt);
    // Another process (the app's settings window) writes the domain.
    const double interval = 0.2;
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &interval);
    CFPreferencesSetAppValue(CFSTR("key_repeat_interval"), number, CFSTR("com.palvane.Chordwell"));
    CFRelease(number);
    EXPECT_EQ(preferences.value("key_repeat_interval"), PreferenceValue(0.05));
    system.advance(milliseconds(1000));
    EXPECT_EQ(preferences.value("key_repeat_interval"), PreferenceValue(0.2));
}

TEST_F(AdapterTest, TheBannerAsksTheSystemOnceAndThenLeavesItToThePane) {
    MacPlatformOptions options;
    options.scheduler = std::make_shared<RunLoopScheduler>();
    options.preferences = std::make_shared<MemoryPreferences>();
    options.paths = std::make_shared<FolderPaths>();
    options.systemLog = std::make_shared<NullSystemLog>();
    auto platform = makeMacPlatform(std::move(options));

    system.setListenAccess(kIOHIDAccessTypeUnknown);
    system.setPostAccess(kIOHIDAccessTypeDenied);
    system.setAccessibility(false);
    auto notices = platform->notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].requestKey, kListenPermission);
    EXPECT_EQ(notices[1].requestKey, kPostPermission);
    EXPECT_NE(notices[1].message.find("type their outputs"), std::string::npos);

    EXPECT_TRUE(platform->requestPermission(kListenPermission));
    EXPECT_FALSE(platform->requestPermission(kListenPermission)); // answered: the pane
    EXPECT_EQ(system.statistics().listenPrompts, 1u);
    EXPECT_TRUE(platform->requestPermission(kPostPermission));
    EXPECT_FALSE(platform->requestPermission(kPostPermission));
    EXPECT_FALSE(platform->requestPermission("something else"));

    system.setListenAccess(kIOHIDAccessTypeGranted);
    system.setPostAccess(kIOHIDAccessTypeGranted);
    system.setAccessibility(true);
    system.setSecureEventInput(true);
    notices = platform->notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].message, kSecureInputNotice);
}

std::string quote(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// chordwellctl keyboards: what is attached, whether each can be read, and
// the permissions, through the adapter and a turn of the run loop.
TEST_F(AdapterTest, TheKeyboardReportListsWhatIsAttachedAndWhatIsMissing) {
    (void)system.attach({"Magic Keyboard", 0x05AC, 0x024F, 0x14200000});
    (void)system.attach({std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    (void)system.attach({"Mouse", 1, 2, 3, 1, 2});
    system.setListenAccess(kIOHIDAccessTypeDenied);
    system.setSecureEventInput(true);
    const MacKeyboardReport report = reportKeyboards();
    ASSERT_EQ(report.keyboards.size(), 2u);
    EXPECT_EQ(report.keyboards[0].product, "Magic Keyboard");
    EXPECT_EQ(report.keyboards[0].locationID, 0x14200000);
    EXPECT_FALSE(report.keyboards[0].readable);
    EXPECT_EQ(report.keyboards[1].product, "Unknown");
    const std::string text = formatKeyboardReport(report, &quote);
    EXPECT_NE(text.find("Keyboards: 2\n  1. \"Magic Keyboard\"\n    vendor 0x05AC, product 0x024F, "
                        "location 0x14200000\n    NOT readable"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Input Monitoring: NOT allowed"), std::string::npos);
    EXPECT_NE(text.find("Secure Event Input: on"), std::string::npos);
    system.setListenAccess(kIOHIDAccessTypeUnknown);
    EXPECT_NE(formatKeyboardReport(reportKeyboards(), &quote).find("not asked yet"),
              std::string::npos);
}

} // namespace
} // namespace chordwell::platform::mac
