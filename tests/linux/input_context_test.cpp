#include "platform/linux/input_context.hpp"

#include "logging/log.hpp"
#include "platform/linux/poll_loop.hpp"
#include "platform/memory/memory_ports.hpp"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace chordwell::platform::lnx {
namespace {

class RecordingSink : public KeySink {
public:
    bool writeKey(std::uint16_t code, std::int32_t value) override {
        written.emplace_back(code, value);
        return true;
    }
    std::vector<std::pair<std::uint16_t, std::int32_t>> written;
};

class FakeKeyboard : public GrabbableKeyboard {
public:
    explicit FakeKeyboard(EventPipeline::SourceId id) : id_(id) {}
    EventPipeline::SourceId sourceId() const override { return id_; }
    bool anyKeyDown() const override { return !down.empty(); }
    bool isKeyDown(std::uint16_t code) const override { return down.count(code) != 0; }
    bool setGrabbed(bool grabbed) override {
        if (grabbed && refuseGrab) {
            return false;
        }
        if (grabbed && pressDuringGrab != 0) {
            down.insert(pressDuringGrab); // a key the user pressed just then
            pressDuringGrab = 0;
        }
        grabCalls.push_back(grabbed);
        kernelGrabbed = grabbed;
        return true;
    }
    void setLed(std::uint16_t code, std::int32_t value) override { leds.emplace_back(code, value); }
    std::string displayName() const override { return "Fake"; }
    // Opening and closing the node as the evdev keyboard does for a
    // recording; `engineReads`: the engine keeps it open anyway.
    void setCovered(bool covered) override {
        if (covered && owner != nullptr) {
            owner->attach(*this);
        } else if (!covered && owner != nullptr && !engineReads) {
            owner->detach(*this);
        }
    }
    InputContext* owner = nullptr;
    bool engineReads = false;

    // Drives a key through the context the way the evdev reader does.
    void key(InputContext& context, std::uint16_t code, std::int32_t value) {
        if (value == 1) {
            down.insert(code);
        } else if (value == 0) {
            down.erase(code);
        }
        context.handleKey(*this, code, value);
        context.afterEvents(*this);
    }

    std::set<std::uint16_t> down;
    std::uint16_t pressDuringGrab = 0;
    bool refuseGrab = false;
    bool kernelGrabbed = false;
    std::vector<bool> grabCalls;
    std::vector<std::pair<std::uint16_t, std::int32_t>> leds;

private:
    EventPipeline::SourceId id_;
};

TapDecision passAll(void*, const KeyEvent&) {
    return TapDecision::pass;
}

struct Fixture {
    Fixture() { logging::configure(log, std::nullopt); }
    ~Fixture() { logging::configure(std::make_shared<NullSystemLog>(), std::nullopt); }

    std::unique_ptr<LinuxEventTap> activeTap() {
        auto tap = std::make_unique<LinuxEventTap>(pipeline, &passAll, nullptr);
        tap->addToRunLoop();
        tap->enable(true);
        return tap;
    }
    std::vector<std::string> errors() const {
        std::vector<std::string> result;
        for (const auto& e : log->entries()) {
            if (e.level == LogLevel::error) {
                result.push_back(e.message);
            }
        }
        return result;
    }

    std::shared_ptr<CapturingSystemLog> log = std::make_shared<CapturingSystemLog>();
    std::shared_ptr<PollLoop> loop = std::make_shared<PollLoop>();
    RecordingSink sink;
    std::shared_ptr<EventPipeline> pipeline = std::make_shared<EventPipeline>(&sink);
    InputContext context{loop, pipeline};
};

TEST(InputContext, GrabsOnlyWhileATapIsActive) {
    Fixture f;
    FakeKeyboard keyboard(1);
    f.context.attach(keyboard);
    EXPECT_FALSE(f.context.isGrabbed(keyboard));
    keyboard.key(f.context, KEY_A, 1); // not grabbed: the desktop reads it
    keyboard.key(f.context, KEY_A, 0);
    EXPECT_TRUE(f.sink.written.empty());

    auto tap = f.activeTap();
    EXPECT_TRUE(f.context.isGrabbed(keyboard));
    keyboard.key(f.context, KEY_LEFTCTRL, 1);
    EXPECT_TRUE(f.pipeline->isVirtuallyDown(KEY_LEFTCTRL));

    tap->enable(false); // grab ends; the held Control is released
    EXPECT_FALSE(f.context.isGrabbed(keyboard));
    EXPECT_EQ(keyboard.grabCalls, (std::vector<bool>{true, false}));
    EXPECT_FALSE(f.pipeline->isVirtuallyDown(KEY_LEFTCTRL));
}

TEST(InputContext, GrabWaitsUntilNoKeyIsDown) {
    struct Case {
        const char* name;
        bool attachFirst; // attach before the tap becomes active
    };
    for (const Case c : {Case{"tap after attach", true}, Case{"attach after tap", false}}) {
        SCOPED_TRACE(c.name);
        Fixture f;
        FakeKeyboard keyboard(1);
        keyboard.down = {KEY_ENTER, KEY_LEFTSHIFT};
        std::unique_ptr<LinuxEventTap> tap;
        if (c.attachFirst) {
            f.context.attach(keyboard);
            tap = f.activeTap();
        } else {
            tap = f.activeTap();
            f.context.attach(keyboard);
        }
        EXPECT_FALSE(f.context.isGrabbed(keyboard));
        keyboard.key(f.context, KEY_ENTER, 0);
        EXPECT_FALSE(f.context.isGrabbed(keyboard)) << "Shift is still down";
        // A key that goes down as the grab is made undoes the grab: its
        // release must reach the desktop, which saw it go down.
        keyboard.pressDuringGrab = KEY_A;
        keyboard.key(f.context, KEY_LEFTSHIFT, 0);
        EXPECT_FALSE(f.context.isGrabbed(keyboard));
        EXPECT_FALSE(keyboard.kernelGrabbed);
        keyboard.key(f.context, KEY_A, 0);
        EXPECT_TRUE(f.context.isGrabbed(keyboard));
        EXPECT_EQ(keyboard.grabCalls, (std::vector<bool>{true, false, true}));
        // Keys released before the grab never reach the virtual keyboard.
        EXPECT_TRUE(f.sink.written.empty());
        // The log says once why the grab waited, not at every key.
        std::size_t infoLines = 0;
        for (const auto& e : f.log->entries()) {
            infoLines += e.level == LogLevel::info && e.message.find("Fake") != std::string::npos &&
                         e.message.find("Grabbed") == std::string::npos;
        }
        EXPECT_EQ(infoLines, 1u);
    }
}

TEST(InputContext, NeverGrabsWithoutVirtualKeyboard) {
    Fixture f;
    auto pipeline = std::make_shared<EventPipeline>(nullptr);
    InputContext context(f.loop, pipeline);
    FakeKeyboard keyboard(1);
    context.attach(keyboard);
    LinuxEventTap tap(pipeline, &passAll, nullptr);
    tap.addToRunLoop();
    tap.enable(true);
    EXPECT_FALSE(context.isGrabbed(keyboard));
    EXPECT_TRUE(keyboard.grabCalls.empty());
}

TEST(InputContext, RefusedGrabLeavesTheKeyboardToTheDesktop) {
    Fixture f;
    FakeKeyboard keyboard(1);
    keyboard.refuseGrab = true;
    f.context.attach(keyboard);
    auto tap = f.activeTap();
    EXPECT_FALSE(f.context.isGrabbed(keyboard));
    keyboard.key(f.context, KEY_A, 1);
    EXPECT_TRUE(f.sink.written.empty());
}

TEST(InputContext, DetachReleasesOnlyThatKeyboardsKeys) {
    Fixture f;
    FakeKeyboard first(1);
    FakeKeyboard second(2);
    f.context.attach(first);
    f.context.attach(second);
    auto tap = f.activeTap();
    first.key(f.context, KEY_A, 1);
    second.key(f.context, KEY_B, 1);
    f.context.detach(first);
    EXPECT_FALSE(f.context.isAttached(first));
    EXPECT_FALSE(first.kernelGrabbed);
    EXPECT_FALSE(f.pipeline->isVirtuallyDown(KEY_A));
    EXPECT_TRUE(f.pipeline->isVirtuallyDown(KEY_B));
    EXPECT_TRUE(f.context.isGrabbed(second));
}

TEST(InputContext, EmergencyChordEndsEveryGrabAndCallsTheHandler) {
    Fixture f;
    int handlerCalls = 0;
    f.context.setEmergencyExitHandler([&] { ++handlerCalls; });
    FakeKeyboard keyboard(1);
    FakeKeyboard other(2);
    f.context.attach(keyboard);
    f.context.attach(other);
    auto tap = f.activeTap();

    keyboard.key(f.context, KEY_BACKSPACE, 1);
    keyboard.key(f.context, KEY_ESC, 1);
    EXPECT_TRUE(f.context.isGrabbed(keyboard));
    keyboard.key(f.context, KEY_ENTER, 1);
    EXPECT_FALSE(f.context.isGrabbed(keyboard));
    EXPECT_FALSE(f.context.isGrabbed(other));
    EXPECT_FALSE(f.pipeline->anyVirtualKeyDown());
    EXPECT_EQ(handlerCalls, 0) << "the handler runs from the main loop, not from the read";
    f.loop->runOnce(std::chrono::milliseconds(0));
    EXPECT_EQ(handlerCalls, 1);

    // Keys up again, the tap still active: no new grab until the taps go.
    for (auto code : {KEY_BACKSPACE, KEY_ESC, KEY_ENTER}) {
        keyboard.key(f.context, static_cast<std::uint16_t>(code), 0);
    }
    EXPECT_FALSE(f.context.isGrabbed(keyboard));
    tap.reset();
    tap = f.activeTap();
    EXPECT_TRUE(f.context.isGrabbed(keyboard));
    EXPECT_TRUE(f.context.isGrabbed(other));
}

TEST(InputContext, EmergencyChordCountsOnlyOnOneGrabbedKeyboard) {
    struct Case {
        const char* name;
        bool grabbed;
        bool splitAcrossKeyboards;
    };
    const Case cases[] = {{"not grabbed", false, false}, {"split", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        int handlerCalls = 0;
        f.context.setEmergencyExitHandler([&] { ++handlerCalls; });
        FakeKeyboard keyboard(1);
        FakeKeyboard other(2);
        f.context.attach(keyboard);
        f.context.attach(other);
        std::unique_ptr<LinuxEventTap> tap;
        if (c.grabbed) {
            tap = f.activeTap();
        }
        keyboard.key(f.context, KEY_BACKSPACE, 1);
        keyboard.key(f.context, KEY_ESC, 1);
        (c.splitAcrossKeyboards ? other : keyboard).key(f.context, KEY_ENTER, 1);
        f.loop->runOnce(std::chrono::milliseconds(0));
        EXPECT_EQ(handlerCalls, 0);
        EXPECT_FALSE(f.context.emergencyExitLatched());
    }
}

TEST(InputContext, LedsAreMirroredOnGrabbedKeyboardsOnly) {
    Fixture f;
    FakeKeyboard grabbed(1);
    FakeKeyboard waiting(2);
    waiting.down = {KEY_A};
    f.context.attach(grabbed);
    f.context.attach(waiting);
    auto tap = f.activeTap();
    f.context.mirrorLed(LED_CAPSL, 1);
    EXPECT_EQ(grabbed.leds, (std::vector<std::pair<std::uint16_t, std::int32_t>>{{LED_CAPSL, 1}}));
    EXPECT_TRUE(waiting.leds.empty());
}

TEST(InputContext, ProblemsAreLoggedOnceAndBecomeNotices) {
    Fixture f;
    EXPECT_TRUE(f.context.notices().empty());
    f.context.reportProblem(PlatformProblem::cannotReadKeyboards, "/dev/input/event3");
    f.context.reportProblem(PlatformProblem::cannotReadKeyboards, "/dev/input/event4");
    f.context.reportProblem(PlatformProblem::cannotCreateVirtualKeyboard, "/dev/uinput");
    ASSERT_EQ(f.errors().size(), 2u);
    EXPECT_NE(f.errors()[0].find("/dev/input/event3"), std::string::npos);
    EXPECT_NE(f.errors()[1].find("/dev/uinput"), std::string::npos);
    for (const auto& e : f.log->entries()) {
        EXPECT_EQ(e.category, "keyboard");
    }
    const auto notices = f.context.notices();
    ASSERT_EQ(notices.size(), 2u);
    for (const auto& notice : notices) {
        EXPECT_NE(notice.message.find("input group"), std::string::npos) << notice.message;
        EXPECT_NE(notice.message.find("sudo make install"), std::string::npos) << notice.message;
        EXPECT_NE(notice.message.find("log in again"), std::string::npos) << notice.message;
    }
    EXPECT_NE(noticeText(PlatformProblem::uinputMissing).find("modprobe uinput"),
              std::string::npos);
}

TEST(InputContext, ARecordingTakesEveryKeyboardAndGivesThemBackWhenItEnds) {
    enum class End { coverOff, tapDestroyed, tapDisabled, emergencyChord };
    struct Case {
        const char* name;
        End end;
        bool listenedStaysGrabbed;
    };
    const Case cases[] = {
        {"the recording ends, interception goes on", End::coverOff, true},
        {"the tap object goes without being stopped", End::tapDestroyed, false},
        {"the tap is disabled", End::tapDisabled, false},
        {"the emergency chord on the second keyboard", End::emergencyChord, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        int emergencies = 0;
        f.context.setEmergencyExitHandler([&] { ++emergencies; });
        FakeKeyboard listened(1), second(2), later(3);
        for (FakeKeyboard* k : {&listened, &second, &later}) {
            k->owner = &f.context;
        }
        listened.engineReads = true;
        f.context.registerKeyboard(listened);
        f.context.registerKeyboard(second);
        f.context.attach(listened);

        std::vector<KeyEvent> seen;
        auto tap = std::make_unique<LinuxEventTap>(
            f.pipeline,
            [](void* user, const KeyEvent& e) {
                static_cast<std::vector<KeyEvent>*>(user)->push_back(e);
                return TapDecision::swallow;
            },
            &seen);
        tap->addToRunLoop();
        tap->enable(true);
        EXPECT_TRUE(listened.kernelGrabbed);
        EXPECT_FALSE(second.kernelGrabbed) << "no recording: other keyboards stay the desktop's";

        tap->setCoversEveryKeyboard(true);
        EXPECT_TRUE(f.context.coversEveryKeyboard());
        EXPECT_TRUE(second.kernelGrabbed);
        f.context.registerKeyboard(later); // plugged in during the recording
        EXPECT_TRUE(later.kernelGrabbed);
        second.key(f.context, KEY_B, 1);
        second.key(f.context, KEY_B, 0);
        ASSERT_EQ(seen.size(), 2u) << "keys of the second keyboard reach the tap";
        EXPECT_EQ(seen[0].type, EventType::keyDown);
        EXPECT_TRUE(f.sink.written.empty()) << "and are blocked";

        switch (c.end) {
        case End::coverOff:
            tap->setCoversEveryKeyboard(false);
            break;
        case End::tapDestroyed:
            tap.reset();
            break;
        case End::tapDisabled:
            tap->enable(false);
            break;
        case End::emergencyChord:
            second.key(f.context, KEY_BACKSPACE, 1);
            second.key(f.context, KEY_ESC, 1);
            second.key(f.context, KEY_ENTER, 1);
            f.loop->runOnce(std::chrono::milliseconds(0));
            EXPECT_EQ(emergencies, 1);
            break;
        }
        EXPECT_FALSE(f.context.coversEveryKeyboard());
        EXPECT_FALSE(second.kernelGrabbed);
        EXPECT_FALSE(later.kernelGrabbed);
        EXPECT_FALSE(f.context.isAttached(second)) << "closed again";
        EXPECT_EQ(listened.kernelGrabbed, c.listenedStaysGrabbed);
        EXPECT_TRUE(f.context.isAttached(listened));
        f.context.unregisterKeyboard(later);
        f.context.unregisterKeyboard(second);
        f.context.unregisterKeyboard(listened);
    }
}

} // namespace
} // namespace chordwell::platform::lnx
