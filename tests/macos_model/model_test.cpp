// The model of the frameworks itself: the behaviours the adapter's tests rely
// on, each as Apple's sources and documentation describe it.
#include "apple_model.hpp"

#include <ApplicationServices/ApplicationServices.h>
#include <IOKit/hid/IOHIDManager.h>
#include <IOKit/hidsystem/IOHIDLib.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using applemodel::System;
using std::chrono::milliseconds;

std::vector<std::string>* gTrace = nullptr;

void performTraced(void* info) {
    gTrace->push_back(static_cast<const char*>(info));
}

class ModelTest : public ::testing::Test {
protected:
    void SetUp() override { gTrace = &trace; }
    void TearDown() override {
        gTrace = nullptr;
        if (!expectFaults) {
            EXPECT_EQ(system.finish(), std::vector<std::string>{});
        }
    }

    CFRunLoopSourceRef source(const char* name, CFIndex order) {
        CFRunLoopSourceContext context{};
        context.info = const_cast<char*>(name);
        context.perform = &performTraced;
        return CFRunLoopSourceCreate(kCFAllocatorDefault, order, &context);
    }

    System system;
    std::vector<std::string> trace;
    bool expectFaults = false;
};

TEST_F(ModelTest, VersionZeroSourcesRunInOrderAtTheTopOfEveryTurnBeforeOneMessage) {
    CFRunLoopSourceRef late = source("order 5", 5);
    CFRunLoopSourceRef early = source("order 1", 1);
    CFRunLoopAddSource(CFRunLoopGetMain(), late, kCFRunLoopCommonModes);
    CFRunLoopAddSource(CFRunLoopGetMain(), early, kCFRunLoopDefaultMode);
    CFRunLoopSourceSignal(late);
    CFRunLoopSourceSignal(early);
    EXPECT_TRUE(system.runTurn());
    EXPECT_EQ(trace, (std::vector<std::string>{"order 1", "order 5"}));
    // Signals are cleared before the perform: an idle loop runs nothing.
    EXPECT_FALSE(system.runTurn());
    // A source added to a named mode waits for that mode; the common modes
    // include event tracking.
    system.setRunLoopMode("NSEventTrackingRunLoopMode");
    CFRunLoopSourceSignal(late);
    CFRunLoopSourceSignal(early);
    system.runUntilIdle();
    EXPECT_EQ(trace.back(), "order 5");
    system.setRunLoopMode("kCFRunLoopDefaultMode");
    system.runUntilIdle();
    EXPECT_EQ(trace.back(), "order 1");
    CFRunLoopSourceInvalidate(late);
    CFRunLoopSourceInvalidate(early);
    CFRelease(late);
    CFRelease(early);
}

void timerTraced(CFRunLoopTimerRef, void* info) {
    gTrace->push_back(static_cast<const char*>(info));
}

TEST_F(ModelTest, TimersFireOnTheVirtualClockAndRepeatInPhase) {
    CFRunLoopTimerContext context{};
    context.info = const_cast<char*>("tick");
    CFRunLoopTimerRef timer = CFRunLoopTimerCreate(
        kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + 0.5, 0.1, 0, 0, &timerTraced, &context);
    CFRunLoopAddTimer(CFRunLoopGetMain(), timer, kCFRunLoopCommonModes);
    system.advance(milliseconds(499));
    EXPECT_TRUE(trace.empty());
    system.advance(milliseconds(251)); // 0.5, 0.6, 0.7
    EXPECT_EQ(trace.size(), 3u);
    CFRunLoopTimerInvalidate(timer);
    CFRelease(timer);
    system.advance(milliseconds(500));
    EXPECT_EQ(trace.size(), 3u);
}

TEST_F(ModelTest, TheAccountingCatchesOverReleaseUseAfterReleaseAndLeaks) {
    expectFaults = true;
    CFNumberRef leaked = nullptr;
    {
        const SInt32 seven = 7;
        CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &seven);
        CFRelease(number);
        CFRelease(number); // over-release
        SInt32 out = 0;
        EXPECT_FALSE(CFNumberGetValue(number, kCFNumberSInt32Type, &out)); // use after release
        leaked = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &seven);
    }
    const auto faults = system.finish();
    ASSERT_EQ(faults.size(), 3u);
    EXPECT_NE(faults[0].find("over-release"), std::string::npos);
    EXPECT_NE(faults[1].find("use after release"), std::string::npos);
    EXPECT_NE(faults[2].find("still alive"), std::string::npos);
    (void)leaked;
}

struct Registrations {
    int calls = 0;
};

void countValue(void* context, IOReturn, void*, IOHIDValueRef value) {
    static_cast<Registrations*>(context)->calls += IOHIDValueGetIntegerValue(value) == 1 ? 1 : 0;
}
void otherCallback(void* context, IOReturn result, void* sender, IOHIDValueRef value) {
    countValue(context, result, sender, value);
}

struct Found {
    std::vector<IOHIDDeviceRef> matched;
    std::vector<IOHIDDeviceRef> removed;
    IOHIDManagerRef manager = nullptr;
};

void onMatched(void* context, IOReturn, void*, IOHIDDeviceRef device) {
    static_cast<Found*>(context)->matched.push_back(device);
}

void onRemoved(void* context, IOReturn, void*, IOHIDDeviceRef device) {
    auto* found = static_cast<Found*>(context);
    found->removed.push_back(device);
    // Reported while the device is still the manager's: its properties read.
    EXPECT_NE(IOHIDDeviceGetProperty(device, CFSTR(kIOHIDProductKey)), nullptr);
}

TEST_F(ModelTest, AManagerReportsTheFirstMatchesThroughAVersionZeroSourceAndRemovalsBeforeTheyGo) {
    const auto first = system.attach({"First", 1, 2, 3});
    Found found;
    IOHIDManagerRef manager = IOHIDManagerCreate(kCFAllocatorDefault, kIOHIDOptionsTypeNone);
    CFMutableDictionaryRef matching = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    const SInt32 page = 1;
    const SInt32 usage = 6;
    CFNumberRef pageNumber = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &page);
    CFNumberRef usageNumber = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &usage);
    CFDictionarySetValue(matching, CFSTR(kIOHIDDeviceUsagePageKey), pageNumber);
    CFDictionarySetValue(matching, CFSTR(kIOHIDDeviceUsageKey), usageNumber);
    CFRelease(pageNumber);
    CFRelease(usageNumber);
    IOHIDManagerSetDeviceMatching(manager, matching);
    CFRelease(matching);
    IOHIDManagerRegisterDeviceMatchingCallback(manager, &onMatched, &found);
    IOHIDManagerRegisterDeviceRemovalCallback(manager, &onRemoved, &found);
    EXPECT_EQ(IOHIDManagerOpen(manager, kIOHIDOptionsTypeNone), kIOReturnSuccess);
    IOHIDManagerScheduleWithRunLoop(manager, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
    EXPECT_TRUE(found.matched.empty()); // nothing during the call
    EXPECT_TRUE(system.runTurn());
    ASSERT_EQ(found.matched.size(), 1u);

    // A mouse does not match; a second keyboard does, as a message.
    (void)system.attach({"Mouse", 1, 2, 4, 1, 2});
    const auto second = system.attach({"Second", 1, 2, 5});
    system.runUntilIdle();
    ASSERT_EQ(found.matched.size(), 2u);

    // Values reach every registration of the device: one set, keyed by the
    // context. Registering the same context again adds nothing.
    IOHIDDeviceRef device = found.matched[1];
    Registrations a;
    Registrations b;
    IOHIDDeviceRegisterInputValueCallback(device, &countValue, &a);
    IOHIDDeviceRegisterInputValueCallback(device, &countValue, &a);
    IOHIDDeviceRegisterInputValueCallback(device, &otherCallback, &b);
    EXPECT_EQ(system.inputValueRegistrations(second), 2u);
    system.key(second, 0x04, true);
    system.runUntilIdle();
    EXPECT_EQ(a.calls, 1);
    EXPECT_EQ(b.calls, 1);
    // A removal finds its entry by the context alone, or (where the whole
    // record's hash leads elsewhere) not at all.
    IOHIDDeviceRegisterInputValueCallback(device, nullptr, &a);
    EXPECT_EQ(system.inputValueRegistrations(second), 1u);
    system.setCallbackSetLookup(applemodel::CallbackSetLookup::wholeRecord);
    IOHIDDeviceRegisterInputValueCallback(device, nullptr, &b);
    EXPECT_EQ(system.inputValueRegistrations(second), 1u);

    system.detach(first);
    system.runUntilIdle();
    EXPECT_EQ(found.removed, std::vector<IOHIDDeviceRef>{found.matched[0]});
    IOHIDManagerRegisterDeviceMatchingCallback(manager, nullptr, nullptr);
    IOHIDManagerRegisterDeviceRemovalCallback(manager, nullptr, nullptr);
    IOHIDManagerClose(manager, kIOHIDOptionsTypeNone);
    CFRelease(manager);
}

struct TapLog {
    std::vector<std::pair<CGEventType, std::int64_t>> seen;
    bool swallow = false;
};

CGEventRef logTap(CGEventTapProxy, CGEventType type, CGEventRef event, void* info) {
    auto* log = static_cast<TapLog*>(info);
    log->seen.emplace_back(type, type == kCGEventTapDisabledByTimeout
                                     ? 0
                                     : CGEventGetIntegerValueField(event, kCGEventSourceUserData));
    return log->swallow ? nullptr : event;
}

TEST_F(ModelTest, TapsPostsAndPermissionsBehaveAsDocumented) {
    const auto kb = system.attach({"Keyboard", 1, 2, 3});
    TapLog log;
    CFMachPortRef tap = CGEventTapCreate(
        kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
        CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventFlagsChanged), &logTap, &log);
    ASSERT_NE(tap, nullptr);
    CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap, 0);
    CFRunLoopAddSource(CFRunLoopGetMain(), source, kCFRunLoopCommonModes);

    // A posted event comes back through the tap on a later turn, with the
    // user data of its source.
    CGEventSourceRef eventSource = CGEventSourceCreate(kCGEventSourceStateCombinedSessionState);
    CGEventSourceSetUserData(eventSource, 42);
    CGEventRef event = CGEventCreateKeyboardEvent(eventSource, 8, true);
    CGEventPost(kCGSessionEventTap, event);
    EXPECT_TRUE(log.seen.empty());
    system.runUntilIdle();
    ASSERT_EQ(log.seen.size(), 1u);
    EXPECT_EQ(log.seen[0].second, 42);
    ASSERT_EQ(system.appEvents().size(), 1u);
    EXPECT_TRUE(system.appEvents()[0].posted);

    // A tap that deletes an event ends its road; another application's tap
    // made later sees events first.
    log.swallow = true;
    system.key(kb, 0x04, true);
    system.runUntilIdle();
    EXPECT_EQ(system.appEvents().size(), 1u);
    int foreignSaw = 0;
    system.addForeignTap([&](const applemodel::AppEvent& e) {
        ++foreignSaw;
        return !e.posted;
    });
    system.key(kb, 0x04, false);
    system.key(kb, 0x05, true);
    system.runUntilIdle();
    EXPECT_EQ(foreignSaw, 2);
    EXPECT_EQ(log.seen.size(), 2u);

    // Without post access posts vanish; with Secure Event Input keys pass no
    // tap.
    system.setPostAccess(kIOHIDAccessTypeDenied);
    CGEventPost(kCGSessionEventTap, event);
    system.runUntilIdle();
    EXPECT_EQ(system.statistics().postsDropped, 1u);
    EXPECT_FALSE(CGPreflightPostEventAccess());
    system.setSecureEventInput(true);
    system.key(kb, 0x06, true);
    system.runUntilIdle();
    EXPECT_EQ(foreignSaw, 2);
    EXPECT_EQ(system.appEvents().back().keyCode, 8); // C, past every tap
    system.setSecureEventInput(false);

    // A slow callback: the event goes on, the tap is disabled and told.
    system.timeOutTaps();
    system.setPostAccess(kIOHIDAccessTypeGranted);
    log.swallow = true;
    CGEventPost(kCGSessionEventTap, event);
    system.runUntilIdle();
    EXPECT_FALSE(CGEventTapIsEnabled(tap));
    EXPECT_EQ(log.seen.back().first, kCGEventTapDisabledByTimeout);

    // Without Accessibility an active tap loses its key bits: a tap for
    // flag changes alone is made, one for key-downs alone is not.
    system.setAccessibility(false);
    EXPECT_EQ(CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                               CGEventMaskBit(kCGEventKeyDown), &logTap, &log),
              nullptr);
    CFMachPortRef keyless = CGEventTapCreate(
        kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
        CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventFlagsChanged), &logTap, &log);
    ASSERT_NE(keyless, nullptr);
    EXPECT_EQ(system.tapMasks().front(), CGEventMaskBit(kCGEventFlagsChanged));
    CFMachPortInvalidate(keyless);
    CFRelease(keyless);

    CFRelease(event);
    CFRelease(eventSource);
    CFRunLoopRemoveSource(CFRunLoopGetMain(), source, kCFRunLoopCommonModes);
    CFRelease(source);
    CFMachPortInvalidate(tap);
    CFRelease(tap);
}

} // namespace
