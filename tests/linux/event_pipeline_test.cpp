#include "platform/linux/event_pipeline.hpp"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace chordwell::platform::lnx {
namespace {

struct Written {
    std::uint16_t code;
    std::int32_t value;
    friend bool operator==(const Written&, const Written&) = default;
};

std::ostream& operator<<(std::ostream& os, const Written& w) {
    return os << "{" << w.code << "," << w.value << "}";
}

class RecordingSink : public KeySink {
public:
    bool writeKey(std::uint16_t code, std::int32_t value) override {
        written.push_back({code, value});
        return true;
    }
    std::vector<Written> written;
};

// A tap whose decisions come from a function and that records what it saw.
struct ScriptedTap {
    std::function<TapDecision(const KeyEvent&)> decide = [](const KeyEvent&) {
        return TapDecision::pass;
    };
    std::vector<KeyEvent> seen;
    std::unique_ptr<LinuxEventTap> tap;

    static TapDecision callback(void* userInfo, const KeyEvent& event) {
        auto* self = static_cast<ScriptedTap*>(userInfo);
        self->seen.push_back(event);
        return self->decide(event);
    }
    void install(const std::shared_ptr<EventPipeline>& pipeline) {
        tap = std::make_unique<LinuxEventTap>(pipeline, &ScriptedTap::callback, this);
        tap->addToRunLoop();
        tap->enable(true);
    }
};

struct Fixture {
    RecordingSink sink;
    std::shared_ptr<EventPipeline> pipeline = std::make_shared<EventPipeline>(&sink);
};

constexpr EventPipeline::SourceId kKeyboard = 7;
constexpr EventPipeline::SourceId kOtherKeyboard = 8;
constexpr EventFlags kLeftControlFlags = kMaskControl | 0x1;
constexpr EventFlags kRightShiftFlags = kMaskShift | 0x4;

TEST(EventPipeline, PhysicalKeysBecomeTapEventsWithTrackedFlags) {
    Fixture f;
    ScriptedTap tap;
    tap.install(f.pipeline);

    f.pipeline->physicalKey(kKeyboard, KEY_LEFTCTRL, 1);
    f.pipeline->physicalKey(kKeyboard, KEY_RIGHTSHIFT, 1);
    f.pipeline->physicalKey(kKeyboard, KEY_A, 1);
    f.pipeline->physicalKey(kKeyboard, KEY_A, 0);
    f.pipeline->physicalKey(kKeyboard, KEY_RIGHTSHIFT, 0);
    f.pipeline->physicalKey(kKeyboard, KEY_LEFTCTRL, 0);
    f.pipeline->physicalKey(kKeyboard, KEY_CAPSLOCK, 1);

    struct Expected {
        EventType type;
        std::int64_t keyCode;
        EventFlags flags;
    };
    const Expected expected[] = {
        {EventType::flagsChanged, 0x3B, kLeftControlFlags},
        {EventType::flagsChanged, 60, kLeftControlFlags | kRightShiftFlags},
        {EventType::keyDown, 0x00, kLeftControlFlags | kRightShiftFlags},
        {EventType::keyUp, 0x00, kLeftControlFlags | kRightShiftFlags},
        {EventType::flagsChanged, 60, kLeftControlFlags},
        {EventType::flagsChanged, 0x3B, 0},
        {EventType::flagsChanged, 0x39, 0},
    };
    ASSERT_EQ(tap.seen.size(), std::size(expected));
    for (std::size_t i = 0; i < tap.seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tap.seen[i].type, expected[i].type);
        EXPECT_EQ(tap.seen[i].keyCode, expected[i].keyCode);
        EXPECT_EQ(tap.seen[i].flags, expected[i].flags);
    }
    const std::vector<Written> written = {
        {KEY_LEFTCTRL, 1},   {KEY_RIGHTSHIFT, 1}, {KEY_A, 1},        {KEY_A, 0},
        {KEY_RIGHTSHIFT, 0}, {KEY_LEFTCTRL, 0},   {KEY_CAPSLOCK, 1},
    };
    EXPECT_EQ(f.sink.written, written);
}

TEST(EventPipeline, KeysWithoutVirtualCodeUseThePrivateRange) {
    Fixture f;
    ScriptedTap tap;
    tap.install(f.pipeline);
    f.pipeline->physicalKey(kKeyboard, KEY_SYSRQ, 1);
    ASSERT_EQ(tap.seen.size(), 1u);
    EXPECT_EQ(tap.seen[0].keyCode, kPrivateKeyCodeBase + KEY_SYSRQ);
    EXPECT_EQ(tap.seen[0].type, EventType::keyDown);
}

struct SwallowCase {
    const char* name;
    std::function<TapDecision(const KeyEvent&)> decide;
    std::vector<std::pair<std::uint16_t, std::int32_t>> keys;
    std::vector<Written> written;
};

TEST(EventPipeline, WhatTheTapSwallowsNeverReachesTheVirtualKeyboard) {
    const auto swallowDownOfA = [](const KeyEvent& e) {
        return e.type == EventType::keyDown && e.keyCode == 0x00 ? TapDecision::swallow
                                                                 : TapDecision::pass;
    };
    const SwallowCase cases[] = {
        {"swallowed key-down: its key-up is not written either",
         swallowDownOfA,
         {{KEY_A, 1}, {KEY_A, 0}, {KEY_B, 1}, {KEY_B, 0}},
         {{KEY_B, 1}, {KEY_B, 0}}},
        {"auto-repeat of a swallowed key is dropped",
         swallowDownOfA,
         {{KEY_A, 1}, {KEY_A, 2}, {KEY_A, 2}, {KEY_A, 0}},
         {}},
        {"auto-repeat of a passed key is forwarded without asking the taps",
         [](const KeyEvent& e) {
             return e.type == EventType::keyDown && e.keyCode == 0x0B ? TapDecision::swallow
                                                                      : TapDecision::pass;
         },
         {{KEY_A, 1}, {KEY_A, 2}, {KEY_A, 0}},
         {{KEY_A, 1}, {KEY_A, 2}, {KEY_A, 0}}},
        {"swallowing everything leaves the virtual keyboard silent",
         [](const KeyEvent&) { return TapDecision::swallow; },
         {{KEY_LEFTCTRL, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTCTRL, 0}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        ScriptedTap tap;
        tap.decide = c.decide;
        tap.install(f.pipeline);
        for (const auto& [code, value] : c.keys) {
            f.pipeline->physicalKey(kKeyboard, code, value);
        }
        EXPECT_EQ(f.sink.written, c.written);
        EXPECT_FALSE(f.pipeline->anyVirtualKeyDown());
    }
}

TEST(EventPipeline, TapsRunInCreationOrderAndStopAtTheFirstSwallow) {
    Fixture f;
    std::vector<std::string> order;
    ScriptedTap first;
    ScriptedTap second;
    ScriptedTap third;
    first.decide = [&](const KeyEvent&) {
        order.push_back("first");
        return TapDecision::pass;
    };
    second.decide = [&](const KeyEvent&) {
        order.push_back("second");
        return TapDecision::swallow;
    };
    third.decide = [&](const KeyEvent&) {
        order.push_back("third");
        return TapDecision::pass;
    };
    first.install(f.pipeline);
    second.install(f.pipeline);
    third.install(f.pipeline);
    f.pipeline->physicalKey(kKeyboard, KEY_A, 1);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
    EXPECT_TRUE(f.sink.written.empty());
}

TEST(EventPipeline, OnlyAddedAndEnabledTapsTakePart) {
    struct Case {
        bool added;
        bool enabled;
        bool consulted;
    };
    const Case cases[] = {{true, true, true}, {true, false, false}, {false, true, false}};
    for (const auto& c : cases) {
        Fixture f;
        ScriptedTap tap;
        tap.decide = [](const KeyEvent&) {
            return TapDecision::swallow;
        };
        tap.tap = std::make_unique<LinuxEventTap>(f.pipeline, &ScriptedTap::callback, &tap);
        if (c.added) {
            tap.tap->addToRunLoop();
        }
        tap.tap->enable(c.enabled);
        EXPECT_EQ(f.pipeline->hasActiveTap(), c.consulted);
        f.pipeline->physicalKey(kKeyboard, KEY_A, 1);
        EXPECT_EQ(tap.seen.size(), c.consulted ? 1u : 0u);
        EXPECT_EQ(f.sink.written.size(), c.consulted ? 0u : 1u);
    }
}

TEST(EventPipeline, TapStateChangesAreReported) {
    Fixture f;
    std::vector<bool> states;
    f.pipeline->setTapStateObserver([&] { states.push_back(f.pipeline->hasActiveTap()); });
    ScriptedTap tap;
    tap.install(f.pipeline); // added (not yet enabled), then enabled
    tap.tap->enable(true);   // no change, no report
    tap.tap->enable(false);
    tap.tap->enable(true);
    tap.tap.reset();
    EXPECT_EQ(states, (std::vector<bool>{false, true, false, true, false}));
}

TEST(EventPipeline, ATapMayDestroyAnotherWhileAnEventTravels) {
    Fixture f;
    ScriptedTap killer;
    ScriptedTap victim;
    ScriptedTap last;
    killer.decide = [&](const KeyEvent&) {
        victim.tap.reset();
        return TapDecision::pass;
    };
    killer.install(f.pipeline);
    victim.install(f.pipeline);
    last.install(f.pipeline);
    f.pipeline->physicalKey(kKeyboard, KEY_A, 1);
    EXPECT_TRUE(victim.seen.empty());
    EXPECT_EQ(last.seen.size(), 1u);
    f.pipeline->physicalKey(kKeyboard, KEY_A, 0);
    EXPECT_EQ(last.seen.size(), 2u);
    EXPECT_EQ(f.sink.written, (std::vector<Written>{{KEY_A, 1}, {KEY_A, 0}}));
}

struct PostCase {
    const char* name;
    std::vector<std::uint16_t> physicalHeld; // pressed on kKeyboard first
    std::int64_t keyCode;
    EventFlags flags;
    std::vector<Written> written; // after the held keys were written
};

TEST(EventPipeline, PostedKeysGetExactlyTheirModifiers) {
    const PostCase cases[] = {
        {"Control+C with nothing held",
         {},
         8,
         kMaskControl,
         {{KEY_LEFTCTRL, 1}, {KEY_C, 1}, {KEY_C, 0}, {KEY_LEFTCTRL, 0}}},
        {"Control+C while Control is held physically",
         {KEY_LEFTCTRL},
         8,
         kMaskControl,
         {{KEY_C, 1}, {KEY_C, 0}}},
        {"Control+C while right Control is held",
         {KEY_RIGHTCTRL},
         8,
         kMaskControl,
         {{KEY_C, 1}, {KEY_C, 0}}},
        {"Super alone while Control is held: Control is lifted and restored",
         {KEY_LEFTCTRL, KEY_SPACE},
         55,
         0,
         {{KEY_LEFTCTRL, 0}, {KEY_LEFTMETA, 1}, {KEY_LEFTMETA, 0}, {KEY_LEFTCTRL, 1}}},
        {"Shift+B while Alt is held: Alt is up before Shift goes down (no layout switch)",
         {KEY_LEFTALT, KEY_X},
         11,
         kMaskShift,
         {{KEY_LEFTALT, 0},
          {KEY_LEFTSHIFT, 1},
          {KEY_B, 1},
          {KEY_B, 0},
          {KEY_LEFTSHIFT, 0},
          {KEY_LEFTALT, 1}}},
        {"Command+Shift+V with nothing held",
         {},
         9,
         kMaskCommand | kMaskShift,
         {{KEY_LEFTSHIFT, 1},
          {KEY_LEFTMETA, 1},
          {KEY_V, 1},
          {KEY_V, 0},
          {KEY_LEFTSHIFT, 0},
          {KEY_LEFTMETA, 0}}},
        {"the right-hand device bit picks the right-hand key",
         {},
         0,
         kRightShiftFlags,
         {{KEY_RIGHTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_RIGHTSHIFT, 0}}},
        {"Caps Lock and other bits outside the modifiers press nothing",
         {},
         0,
         0x10000 | 0x800000,
         {{KEY_A, 1}, {KEY_A, 0}}},
        {"a private key code posts its key",
         {},
         kPrivateKeyCodeBase + KEY_SYSRQ,
         0,
         {{KEY_SYSRQ, 1}, {KEY_SYSRQ, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        for (std::uint16_t code : c.physicalHeld) {
            f.pipeline->physicalKey(kKeyboard, code, 1);
        }
        f.sink.written.clear();
        EXPECT_TRUE(f.pipeline->postKey(c.keyCode, c.flags, true));
        EXPECT_TRUE(f.pipeline->postKey(c.keyCode, c.flags, false));
        EXPECT_EQ(f.sink.written, c.written);
        for (std::uint16_t code : c.physicalHeld) {
            EXPECT_TRUE(f.pipeline->isVirtuallyDown(code)) << "held key " << code;
        }
    }
}

TEST(EventPipeline, LiftedModifierReleasedMeanwhileIsNotRestored) {
    Fixture f;
    f.pipeline->physicalKey(kKeyboard, KEY_LEFTCTRL, 1);
    f.pipeline->postKey(55, 0, true);
    f.pipeline->physicalKey(kKeyboard, KEY_LEFTCTRL, 0);
    f.sink.written.clear();
    f.pipeline->postKey(55, 0, false);
    EXPECT_EQ(f.sink.written, (std::vector<Written>{{KEY_LEFTMETA, 0}}));
    EXPECT_FALSE(f.pipeline->anyVirtualKeyDown());
}

TEST(EventPipeline, PostedEventsPassTheTapsWithTheirFlags) {
    Fixture f;
    ScriptedTap tap;
    tap.decide = [](const KeyEvent& e) {
        return e.keyCode == 9 ? TapDecision::swallow : TapDecision::pass;
    };
    tap.install(f.pipeline);
    const EventFlags flags = kMaskCommand | 0x8 | 0x100;
    EXPECT_TRUE(f.pipeline->postKey(8, flags, true));
    EXPECT_TRUE(f.pipeline->postKey(8, flags, false));
    EXPECT_TRUE(f.pipeline->postKey(9, kMaskControl, true)); // swallowed: nothing written
    EXPECT_TRUE(f.pipeline->postKey(9, kMaskControl, false));
    ASSERT_EQ(tap.seen.size(), 4u);
    EXPECT_EQ(tap.seen[0].type, EventType::keyDown);
    EXPECT_EQ(tap.seen[0].flags, flags);
    EXPECT_EQ(tap.seen[1].type, EventType::keyUp);
    EXPECT_EQ(tap.seen[2].keyCode, 9);
    EXPECT_EQ(f.sink.written,
              (std::vector<Written>{{KEY_LEFTMETA, 1}, {KEY_C, 1}, {KEY_C, 0}, {KEY_LEFTMETA, 0}}));
}

TEST(EventPipeline, PostingFailsWithoutKeyOrWithoutVirtualKeyboard) {
    Fixture f;
    EXPECT_FALSE(f.pipeline->postKey(0x34, 0, true));
    EXPECT_FALSE(f.pipeline->postKey(-5, 0, true));
    EXPECT_TRUE(f.sink.written.empty());

    EventPipeline silent(nullptr);
    EXPECT_FALSE(silent.canWrite());
    EXPECT_FALSE(silent.postKey(8, kMaskControl, true));
    silent.physicalKey(kKeyboard, KEY_A, 1); // must not crash
    EXPECT_FALSE(silent.anyVirtualKeyDown());
}

TEST(EventPipeline, ReleasingASourceLiftsOnlyItsKeysAndFlags) {
    Fixture f;
    ScriptedTap tap;
    tap.install(f.pipeline);
    f.pipeline->physicalKey(kKeyboard, KEY_LEFTCTRL, 1);
    f.pipeline->physicalKey(kKeyboard, KEY_A, 1);
    f.pipeline->physicalKey(kOtherKeyboard, KEY_LEFTCTRL, 1); // already down: not written again
    f.pipeline->physicalKey(kOtherKeyboard, KEY_B, 1);
    f.sink.written.clear();

    f.pipeline->releaseSource(kKeyboard);
    EXPECT_EQ(f.sink.written, (std::vector<Written>{{KEY_LEFTCTRL, 0}, {KEY_A, 0}}));
    EXPECT_TRUE(f.pipeline->isVirtuallyDown(KEY_B));
    // The other keyboard still holds Control.
    EXPECT_EQ(f.pipeline->physicalFlags(), kLeftControlFlags);
    f.pipeline->physicalKey(kOtherKeyboard, KEY_LEFTCTRL, 0);
    EXPECT_EQ(f.pipeline->physicalFlags(), 0u);

    f.sink.written.clear();
    f.pipeline->releaseAll();
    EXPECT_EQ(f.sink.written, (std::vector<Written>{{KEY_B, 0}}));
    EXPECT_FALSE(f.pipeline->anyVirtualKeyDown());
}

TEST(EventPipeline, DestructionReleasesHeldKeys) {
    RecordingSink sink;
    {
        EventPipeline pipeline(&sink);
        pipeline.physicalKey(kKeyboard, KEY_LEFTSHIFT, 1);
        pipeline.postKey(0, kMaskShift, true);
    }
    EXPECT_EQ(sink.written, (std::vector<Written>{
                                {KEY_LEFTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTSHIFT, 0}}));
}

TEST(LinuxEventPoster, BuiltInShortcutsAreTheDesktopOnes) {
    struct Case {
        OutputBehavior::Kind kind;
        std::optional<KeyStroke> stroke;
    };
    const Case cases[] = {
        {OutputBehavior::Kind::openSearchBar, KeyStroke{55, 0}},
        {OutputBehavior::Kind::copyOperation, KeyStroke{8, kMaskControl}},
        {OutputBehavior::Kind::pasteOperation, KeyStroke{9, kMaskControl}},
        {OutputBehavior::Kind::none, std::nullopt},
        {OutputBehavior::Kind::customKeySequence, std::nullopt},
    };
    LinuxEventPoster poster(nullptr);
    for (const auto& c : cases) {
        const auto got = poster.builtInShortcut(c.kind);
        ASSERT_EQ(got.has_value(), c.stroke.has_value());
        if (got) {
            EXPECT_EQ(got->keyCode, c.stroke->keyCode);
            EXPECT_EQ(got->flags, c.stroke->flags);
        }
    }
    EXPECT_FALSE(poster.postKeyEvent(8, 0, true));
}

// A tap that swallows every key-down while `swallow` is set, as the blocker
// does for a matched combination or a recording.
struct SwallowingTap {
    bool swallow = false;
    ScriptedTap tap;
    void install(const std::shared_ptr<EventPipeline>& pipeline) {
        tap.decide = [this](const KeyEvent& e) {
            return swallow && e.type == EventType::keyDown ? TapDecision::swallow
                                                           : TapDecision::pass;
        };
        tap.install(pipeline);
    }
};

struct GuardStep {
    enum Kind { press, release, swallowOn, swallowOff, post } kind;
    std::uint16_t code = 0;   // press / release
    std::int64_t keyCode = 0; // post (down and up)
    EventFlags flags = 0;     // post
};

struct GuardCase {
    const char* name;
    std::vector<GuardStep> steps;
    std::vector<Written> written;
};

TEST(EventPipeline, ModifiersLeftAloneByChordwellNeverComeUpAsALoneTap) {
    using S = GuardStep;
    const Written n1{kNeutralKey, 1}, n0{kNeutralKey, 0};
    const GuardCase cases[] = {
        {"Super+X mapped to A: neutral key before both Super releases",
         {{S::press, KEY_LEFTMETA},
          {S::swallowOn},
          {S::press, KEY_X},
          {S::post, 0, 0, 0},
          {S::release, KEY_X},
          {S::swallowOff},
          {S::release, KEY_LEFTMETA}},
         {{KEY_LEFTMETA, 1},
          n1,
          n0,
          {KEY_LEFTMETA, 0},
          {KEY_A, 1},
          {KEY_A, 0},
          {KEY_LEFTMETA, 1},
          n1,
          n0,
          {KEY_LEFTMETA, 0}}},
        {"Super+X mapped to Control+C: Super is lifted before Control goes down, the restored "
         "Super is guarded",
         {{S::press, KEY_LEFTMETA},
          {S::swallowOn},
          {S::press, KEY_X},
          {S::post, 0, 8, kMaskControl},
          {S::release, KEY_X},
          {S::swallowOff},
          {S::release, KEY_LEFTMETA}},
         {{KEY_LEFTMETA, 1},
          n1,
          n0,
          {KEY_LEFTMETA, 0},
          {KEY_LEFTCTRL, 1},
          {KEY_C, 1},
          {KEY_C, 0},
          {KEY_LEFTCTRL, 0},
          {KEY_LEFTMETA, 1},
          n1,
          n0,
          {KEY_LEFTMETA, 0}}},
        {"a Super tap of the user's own reaches the desktop as it is",
         {{S::press, KEY_LEFTMETA}, {S::release, KEY_LEFTMETA}},
         {{KEY_LEFTMETA, 1}, {KEY_LEFTMETA, 0}}},
        {"a recording swallows Alt+A: Alt does not come up alone",
         {{S::swallowOn},
          {S::press, KEY_LEFTALT},
          {S::press, KEY_A},
          {S::release, KEY_A},
          {S::release, KEY_LEFTALT}},
         {{KEY_LEFTALT, 1}, n1, n0, {KEY_LEFTALT, 0}}},
        {"right-hand modifiers are guarded too",
         {{S::swallowOn},
          {S::press, KEY_RIGHTCTRL},
          {S::press, KEY_RIGHTALT},
          {S::press, KEY_Q},
          {S::release, KEY_RIGHTALT},
          {S::release, KEY_RIGHTCTRL}},
         {{KEY_RIGHTCTRL, 1}, {KEY_RIGHTALT, 1}, n1, n0, {KEY_RIGHTALT, 0}, {KEY_RIGHTCTRL, 0}}},
        {"an output that keeps the held modifier needs no neutral key",
         {{S::press, KEY_LEFTMETA},
          {S::swallowOn},
          {S::press, KEY_X},
          {S::post, 0, 16, kMaskCommand},
          {S::release, KEY_X},
          {S::release, KEY_LEFTMETA}},
         {{KEY_LEFTMETA, 1}, {KEY_Y, 1}, {KEY_Y, 0}, {KEY_LEFTMETA, 0}}},
        {"a modifier typed with an unmapped key needs none either",
         {{S::press, KEY_LEFTALT},
          {S::press, KEY_TAB},
          {S::release, KEY_TAB},
          {S::release, KEY_LEFTALT}},
         {{KEY_LEFTALT, 1}, {KEY_TAB, 1}, {KEY_TAB, 0}, {KEY_LEFTALT, 0}}},
        {"a modifier restored after an output is guarded",
         {{S::press, KEY_LEFTSHIFT},
          {S::press, KEY_LEFTCTRL},
          {S::post, 0, 8, kMaskControl},
          {S::release, KEY_LEFTCTRL},
          {S::release, KEY_LEFTSHIFT}},
         {{KEY_LEFTSHIFT, 1},
          {KEY_LEFTCTRL, 1},
          {KEY_LEFTSHIFT, 0},
          {KEY_C, 1},
          {KEY_C, 0},
          {KEY_LEFTSHIFT, 1},
          {KEY_LEFTCTRL, 0},
          n1,
          n0,
          {KEY_LEFTSHIFT, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        SwallowingTap tap;
        tap.install(f.pipeline);
        for (const GuardStep& step : c.steps) {
            switch (step.kind) {
            case S::press:
                f.pipeline->physicalKey(kKeyboard, step.code, 1);
                break;
            case S::release:
                f.pipeline->physicalKey(kKeyboard, step.code, 0);
                break;
            case S::swallowOn:
                tap.swallow = true;
                break;
            case S::swallowOff:
                tap.swallow = false;
                break;
            case S::post: {
                // Chordwell's own output passes the taps, as a registered
                // pass-through does.
                const bool was = tap.swallow;
                tap.swallow = false;
                EXPECT_TRUE(f.pipeline->postKey(step.keyCode, step.flags, true));
                EXPECT_TRUE(f.pipeline->postKey(step.keyCode, step.flags, false));
                tap.swallow = was;
                break;
            }
            }
        }
        EXPECT_EQ(f.sink.written, c.written);
    }
}

// Typing, swallowing and posting at random. Whatever happens, the desktop
// sees a posted key with exactly the modifiers it names; during a post no
// modifier goes down before every held one it does not name is up (the two
// together can switch the keyboard layout); and a modifier never goes down
// and up with nothing in between unless the user typed just that.
TEST(EventPipeline, RandomWalkKeepsModifiersExactOrderedAndNeverAlone) {
    struct Family {
        EventFlags flag;
        std::uint16_t left;
        std::uint16_t right;
    };
    const Family families[] = {{kMaskControl, KEY_LEFTCTRL, KEY_RIGHTCTRL},
                               {kMaskShift, KEY_LEFTSHIFT, KEY_RIGHTSHIFT},
                               {kMaskAlternate, KEY_LEFTALT, KEY_RIGHTALT},
                               {kMaskCommand, KEY_LEFTMETA, KEY_RIGHTMETA}};
    const auto isModifier = [&](std::uint16_t code) {
        return std::any_of(std::begin(families), std::end(families),
                           [&](const Family& f) { return code == f.left || code == f.right; });
    };
    const std::uint16_t physical[] = {KEY_LEFTCTRL,  KEY_RIGHTCTRL, KEY_LEFTSHIFT,
                                      KEY_LEFTALT,   KEY_RIGHTALT,  KEY_LEFTMETA,
                                      KEY_RIGHTMETA, KEY_X,         KEY_A};
    const std::int64_t posted[] = {0, 8, 11, 49}; // A, C, B, Space
    const EventFlags flagChoices[] = {0,
                                      kMaskControl,
                                      kMaskShift,
                                      kMaskControl | kMaskShift,
                                      kMaskCommand,
                                      kMaskAlternate | kMaskShift};
    for (unsigned seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE(seed);
        Fixture f;
        SwallowingTap tap;
        tap.install(f.pipeline);
        std::mt19937 random(seed);
        const auto pick = [&](const auto& range) {
            return range[std::uniform_int_distribution<std::size_t>(0,
                                                                    std::size(range) - 1)(random)];
        };
        const auto virtuallyDown = [&] {
            std::set<std::uint16_t> down;
            for (const Written& w : f.sink.written) {
                if (w.value == 1) {
                    down.insert(w.code);
                } else if (w.value == 0) {
                    down.erase(w.code);
                }
            }
            return down;
        };
        std::set<std::uint16_t> physicallyDown;
        // The key pressed last, while no other key was pressed and nothing
        // was posted since: released now, the user typed it alone.
        std::optional<std::uint16_t> alone;
        for (int step = 0; step < 400; ++step) {
            const std::size_t before = f.sink.written.size();
            const int action = std::uniform_int_distribution<int>(0, 9)(random);
            std::optional<std::uint16_t> typedAlone;
            if (action < 6) {
                const std::uint16_t code = pick(physical);
                const bool down = physicallyDown.count(code) == 0;
                if (down) {
                    physicallyDown.insert(code);
                    alone = code;
                } else {
                    physicallyDown.erase(code);
                    if (alone == code) {
                        typedAlone = code;
                        alone.reset();
                    }
                }
                f.pipeline->physicalKey(kKeyboard, code, down ? 1 : 0);
            } else if (action < 8) {
                tap.swallow = !tap.swallow; // a mapping matches, or no longer
            } else {
                const std::int64_t keyCode = pick(posted);
                const EventFlags flags = pick(flagChoices);
                const bool was = tap.swallow;
                tap.swallow = false; // Chordwell's own output passes
                ASSERT_TRUE(f.pipeline->postKey(keyCode, flags, true));
                const std::set<std::uint16_t> down = virtuallyDown();
                for (const Family& family : families) {
                    const bool held = down.count(family.left) != 0 || down.count(family.right) != 0;
                    EXPECT_EQ(held, (flags & family.flag) != 0)
                        << "family " << family.left << " for key " << keyCode << " at step "
                        << step;
                }
                std::ptrdiff_t lastUp = -1;
                std::ptrdiff_t firstDown = static_cast<std::ptrdiff_t>(f.sink.written.size());
                for (std::size_t i = before; i < f.sink.written.size(); ++i) {
                    const Written& w = f.sink.written[i];
                    const auto at = static_cast<std::ptrdiff_t>(i);
                    if (isModifier(w.code) && w.value == 0) {
                        lastUp = at;
                    } else if (isModifier(w.code) && w.value == 1 && firstDown > at) {
                        firstDown = at;
                    }
                }
                EXPECT_LT(lastUp, firstDown)
                    << "a modifier went down before a lifted one came up at step " << step;
                ASSERT_TRUE(f.pipeline->postKey(keyCode, flags, false));
                tap.swallow = was;
                alone.reset();
            }
            for (std::size_t i = std::max<std::size_t>(before, 1); i < f.sink.written.size(); ++i) {
                const Written& up = f.sink.written[i];
                if (isModifier(up.code) && up == Written{up.code, 0} &&
                    f.sink.written[i - 1] == Written{up.code, 1}) {
                    EXPECT_EQ(typedAlone, std::optional<std::uint16_t>(up.code))
                        << "lone tap of " << up.code << " at step " << step;
                }
            }
        }
    }
}

// A virtual keyboard whose writes fail at random; it keeps what a reader of
// the device would believe is down.
class FlakySink : public KeySink {
public:
    explicit FlakySink(unsigned seed) : random_(seed) {}
    bool writeKey(std::uint16_t code, std::int32_t value) override {
        if (failing && std::bernoulli_distribution(0.25)(random_)) {
            return false;
        }
        if (value == 1) {
            down[code] = true;
        } else if (value == 0) {
            down.erase(code);
        }
        return true;
    }
    bool failing = true;
    std::map<std::uint16_t, bool> down;

private:
    std::mt19937 random_;
};

TEST(EventPipeline, FailedWritesAreReportedAndTheDownKeysStayTrue) {
    const std::uint16_t physical[] = {KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_RIGHTALT, KEY_LEFTMETA,
                                      KEY_A,        KEY_X,         KEY_SPACE};
    const std::int64_t posted[] = {8, 9, 0, 55, 49};
    const EventFlags flags[] = {0, kMaskControl, kMaskShift | kMaskCommand, kRightShiftFlags};
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        FlakySink sink(seed);
        auto pipeline = std::make_shared<EventPipeline>(&sink);
        std::mt19937 random(seed * 7919);
        const auto pick = [&](auto& range) {
            return range[std::uniform_int_distribution<std::size_t>(0,
                                                                    std::size(range) - 1)(random)];
        };
        std::optional<std::pair<std::int64_t, EventFlags>> postedDown;
        for (int step = 0; step < 300; ++step) {
            if (std::bernoulli_distribution(0.6)(random)) {
                pipeline->physicalKey(kKeyboard, pick(physical),
                                      std::bernoulli_distribution(0.5)(random) ? 1 : 0);
            } else if (!postedDown) {
                const std::int64_t key = pick(posted);
                const EventFlags f = pick(flags);
                const auto code = evdevCodeForTapKeyCode(key);
                ASSERT_TRUE(code.has_value());
                const bool wasDown = sink.down.count(*code) != 0;
                const bool ok = pipeline->postKey(key, f, true);
                // A post reported as done put its key down; a failed one did not.
                EXPECT_EQ(ok || wasDown, sink.down.count(*code) != 0) << "post of " << key;
                if (ok) {
                    postedDown.emplace(key, f);
                }
            } else {
                const auto code = evdevCodeForTapKeyCode(postedDown->first);
                const bool ok = pipeline->postKey(postedDown->first, postedDown->second, false);
                if (ok) {
                    EXPECT_EQ(sink.down.count(*code), 0u);
                }
                postedDown.reset();
            }
            for (std::uint16_t code = 0; code <= kMaxEvdevKeyCode; ++code) {
                ASSERT_EQ(pipeline->isVirtuallyDown(code), sink.down.count(code) != 0)
                    << "key " << code << " at step " << step;
            }
        }
        sink.failing = false;
        pipeline->releaseAll();
        EXPECT_TRUE(sink.down.empty()) << "releasing everything leaves nothing down";
    }
}

TEST(LinuxEventPoster, AFailedWriteIsAFailedPost) {
    FlakySink sink(1);
    auto pipeline = std::make_shared<EventPipeline>(&sink);
    LinuxEventPoster poster(pipeline);
    sink.failing = false;
    EXPECT_TRUE(poster.postKeyEvent(8, kMaskControl, true));
    EXPECT_TRUE(poster.postKeyEvent(8, kMaskControl, false));
    struct AlwaysFails : KeySink {
        bool writeKey(std::uint16_t, std::int32_t) override { return false; }
    } broken;
    pipeline->setSink(&broken);
    EXPECT_FALSE(poster.postKeyEvent(8, kMaskControl, true));
    EXPECT_FALSE(pipeline->anyVirtualKeyDown());
    pipeline->setSink(nullptr);
}

} // namespace
} // namespace chordwell::platform::lnx
