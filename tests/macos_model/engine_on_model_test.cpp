// The engine on the real macOS adapter, on the model of the frameworks, in
// the run loop's real turn order: the table of behaviours in every delivery
// order and gap, the life of a listening period (start, stop, re-plug) with
// its registrations and objects, the missing permissions, Secure Event
// Input, and a tap the system disabled.
#include "mac_world.hpp"

#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"
#include "storage/settings.hpp"

#include <IOKit/hidsystem/IOHIDLib.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace chordwell::testing {
namespace {

// The adapter's and the engine's log lines are not what these tests check.
class QuietLog : public ::testing::Environment {
public:
    void SetUp() override {
        logging::configure(std::make_shared<platform::NullSystemLog>(), std::nullopt);
    }
};
[[maybe_unused]] const auto* const kQuietLog = ::testing::AddGlobalTestEnvironment(new QuietLog);

using applemodel::DeliveryPlan;
using applemodel::KeyboardId;
using std::chrono::milliseconds;

constexpr std::int64_t kVendor = 0x05AC;
constexpr std::int64_t kProduct = 0x024F;

KeyMapping mapping(std::vector<HidUsage> keys, OutputBehavior output) {
    KeyMapping m;
    m.name = "m";
    m.inputKeyCodes = std::move(keys);
    m.outputBehavior = std::move(output);
    return m;
}

void addRecord(RawKeyboardListener& engine, std::vector<KeyMapping> mappings) {
    engine.mutateAllDeviceMappings([&](std::vector<DeviceMapping>& records) {
        DeviceMapping r;
        r.productName = "Magic Keyboard";
        r.vendorID = kVendor;
        r.productID = kProduct;
        r.mappings = std::move(mappings);
        records.push_back(std::move(r));
    });
}

/// A key event as the application saw it: 'd' or 'u', key code, modifiers.
struct Seen {
    char type = 'd';
    std::int64_t keyCode = 0;
    EventFlags modifiers = 0;
    friend bool operator==(const Seen&, const Seen&) = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
    return os << s.type << s.keyCode << "/" << std::hex << s.modifiers << std::dec;
}

std::vector<Seen> keysAtApplication(const applemodel::System& system) {
    std::vector<Seen> seen;
    for (const auto& e : system.appEvents()) {
        if (e.type == 10 || e.type == 11) {
            seen.push_back(
                Seen{e.type == 10 ? 'd' : 'u', e.keyCode, e.flags & kSignatureModifierMask});
        }
    }
    return seen;
}

struct Behaviour {
    const char* name;
    std::function<void(RawKeyboardListener&)> mappings;
    /// Steps: "d:E0" / "u:E0" a key of the listened keyboard, "D:04" / "U:04"
    /// of another keyboard of the same model, "w:750" time passing.
    const char* steps;
    std::vector<Seen> expected;
    bool recording = false;
    std::function<void(MacWorld&, const ListeningResult&)> check = {};
};

struct Plan {
    const char* name;
    std::optional<DeliveryPlan> plan;
    std::optional<std::uint64_t> seed;
};

struct Case {
    Behaviour behaviour;
    Plan plan;
};

[[maybe_unused]] void PrintTo(const Case& c, std::ostream* os) {
    *os << c.behaviour.name << " / " << c.plan.name;
}

std::vector<Seen> repeated(std::vector<Seen> once, int times, std::vector<Seen> tail) {
    std::vector<Seen> all;
    for (int i = 0; i < times; ++i) {
        all.insert(all.end(), once.begin(), once.end());
    }
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

std::vector<MacKeySignature> fortyKeys() {
    std::vector<MacKeySignature> keys;
    for (int i = 0; i < 40; ++i) {
        keys.push_back(MacKeySignature{i % 30, i % 2 ? kMaskCommand : 0});
    }
    return keys;
}

std::vector<Seen> fortyKeysSeen() {
    std::vector<Seen> seen;
    for (const auto& k : fortyKeys()) {
        seen.push_back(Seen{'d', k.keyCode, k.modifiers});
        seen.push_back(Seen{'u', k.keyCode, k.modifiers});
    }
    seen.push_back(Seen{'u', 11, kMaskAlternate}); // B, up
    return seen;
}

const Seen kCopyDown{'d', 8, kMaskCommand};
const Seen kCopyUp{'u', 8, kMaskCommand};

const auto controlACopies = [](RawKeyboardListener& engine) {
    addRecord(engine, {mapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
};

std::vector<Behaviour> behaviours() {
    return {
        {"MappedCombinationSwallowedOutputDelivered",
         controlACopies,
         "d:E0 d:04 u:04 u:E0",
         {kCopyDown, kCopyUp, {'u', 0, kMaskControl}}},
        {"UnmappedKeysPass",
         controlACopies,
         "d:05 u:05 d:E0 d:06 u:06 u:E0",
         {{'d', 11, 0}, {'u', 11, 0}, {'d', 8, kMaskControl}, {'u', 8, kMaskControl}}},
        {"RepeatWhileHeld", controlACopies, "d:E0 d:04 w:750 u:04 u:E0",
         repeated({kCopyDown, kCopyUp}, 4, {{'u', 0, kMaskControl}})},
        {"LongSequenceArrivesWhole",
         [](RawKeyboardListener& engine) {
             addRecord(engine, {mapping({0xE2, 0x05},
                                        OutputBehavior::customKeySequence("forty", fortyKeys()))});
         },
         "d:E2 d:05 u:05 u:E2", fortyKeysSeen()},
        // Another keyboard's A passes; with the listened Control held it
        // would complete the mapping, so it waits for a HID value that never
        // comes, and is given back late but whole.
        {"AnotherKeyboardsKeysPass",
         controlACopies,
         "D:04 U:04 d:E0 D:04 U:04 w:150 u:E0",
         {{'d', 0, 0}, {'u', 0, 0}, {'d', 0, kMaskControl}, {'u', 0, kMaskControl}}},
        {"EmergencyChordEndsInterception",
         [](RawKeyboardListener& engine) {
             addRecord(engine, {mapping({0x04}, OutputBehavior::copyOperation())});
         },
         "d:2A d:29 d:28 u:28 u:29 u:2A d:04 u:04",
         {{'d', 51, 0},
          {'d', 53, 0},
          {'d', 36, 0},
          {'u', 36, 0},
          {'u', 53, 0},
          {'u', 51, 0},
          {'d', 0, 0},
          {'u', 0, 0}},
         false,
         [](MacWorld& world, const ListeningResult&) {
             EXPECT_FALSE(world.engine().isIntercepting());
         }},
        {"RecordingFrom",
         controlACopies,
         "d:E0 d:04 u:04 u:E0",
         {{'u', 0, kMaskControl}},
         true,
         [](MacWorld&, const ListeningResult& result) {
             EXPECT_EQ(result.codes, (std::vector<HidUsage>{0xE0, 0x04}));
             EXPECT_EQ(result.taps, (std::vector<MacKeySignature>{{0, kMaskControl}}));
         }},
        // "To" takes keys of any keyboard: the tap records them.
        {"RecordingTo",
         controlACopies,
         "D:E3 D:19 U:19 U:E3",
         {{'u', 9, kMaskCommand}},
         true,
         [](MacWorld&, const ListeningResult& result) {
             EXPECT_TRUE(result.codes.empty());
             EXPECT_EQ(result.taps, (std::vector<MacKeySignature>{{9, kMaskCommand}}));
         }},
    };
}

std::vector<Plan> plans() {
    using D = DeliveryPlan;
    return {
        {"HidFirst", D{true, 0, {}}, {}},
        {"TapFirst", D{false, 0, {}}, {}},
        {"HidFirstOneTurn", D{true, 1, {}}, {}},
        {"TapFirstOneTurn", D{false, 1, {}}, {}},
        {"TapFirstThreeTurns", D{false, 3, {}}, {}},
        {"HidFirst5ms", D{true, 0, milliseconds(5)}, {}},
        {"TapFirst5ms", D{false, 0, milliseconds(5)}, {}},
        {"HidFirst40ms", D{true, 2, milliseconds(40)}, {}},
        {"TapFirst40ms", D{false, 2, milliseconds(40)}, {}},
        {"Random1", std::nullopt, 1},
        {"Random2", std::nullopt, 2},
    };
}

std::vector<Case> cases() {
    std::vector<Case> all;
    for (const Behaviour& b : behaviours()) {
        for (const Plan& p : plans()) {
            all.push_back(Case{b, p});
        }
    }
    return all;
}

class BehaviourTable : public ::testing::TestWithParam<Case> {};

TEST_P(BehaviourTable, HoldsInThisOrderAndGap) {
    const Case& c = GetParam();
    MacWorld world;
    auto& system = world.system();
    if (c.plan.seed) {
        // Printed, so that a failure can be replayed.
        std::cout << "delivery seed " << *c.plan.seed << "\n";
        system.setRandomDelivery(applemodel::RandomDelivery{*c.plan.seed, 3, milliseconds(40)});
    } else {
        system.setDelivery(*c.plan.plan);
    }
    world.platform().preferences().setValue(settings::kKeyRepeatEnabled,
                                            std::string(c.behaviour.name) == "RepeatWhileHeld");
    const KeyboardId listened = world.attach({"Magic Keyboard", kVendor, kProduct, 1});
    const KeyboardId other = world.attach({"Magic Keyboard", kVendor, kProduct, 2});
    c.behaviour.mappings(world.engine());
    ASSERT_TRUE(world.listed(listened).has_value());
    if (c.behaviour.recording) {
        world.engine().setIsForceBlockTap(true);
        world.engine().startListening(*world.listed(listened));
    } else {
        world.intercept(listened);
        ASSERT_TRUE(world.engine().isIntercepting());
    }
    world.system().clearAppEvents();

    std::istringstream steps(c.behaviour.steps);
    std::string step;
    while (steps >> step) {
        const char kind = step[0];
        const auto value = std::stoul(step.substr(2), nullptr, kind == 'w' ? 10 : 16);
        if (kind == 'w') {
            world.wait(milliseconds(value));
            continue;
        }
        const KeyboardId keyboard = (kind == 'd' || kind == 'u') ? listened : other;
        world.key(keyboard, static_cast<std::uint16_t>(value), kind == 'd' || kind == 'D');
    }
    ListeningResult result;
    if (c.behaviour.recording) {
        result = world.engine().stopListening();
        world.engine().setIsForceBlockTap(false);
    }
    world.wait(milliseconds(200));
    EXPECT_EQ(keysAtApplication(system), c.behaviour.expected);
    EXPECT_EQ(system.keysDownAtApplication(), 0u);
    if (c.behaviour.check) {
        c.behaviour.check(world, result);
    }
    if (const auto* blocker = world.engine().tapBlockerListener()) {
        EXPECT_FALSE(blocker->isWaiting());
    }
    EXPECT_EQ(world.finish(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(EveryOrder, BehaviourTable, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return std::string(param.param.behaviour.name) + "_" +
                                    param.param.plan.name;
                         });

// The tap event of A comes first, and the run loop turns on (posted work
// first, as every turn begins) before A's HID value arrives, up to tens of
// milliseconds later: A never reaches the application, and Copy arrives
// once.
TEST(EngineOnModel, ATapFirstKeyThatCompletesAMappingNeverLeaks) {
    for (const int gap : {0, 1, 5, 20, 60, 90}) {
        for (const std::uint32_t turns : {0u, 1u, 4u}) {
            SCOPED_TRACE("gap " + std::to_string(gap) + " ms, " + std::to_string(turns) + " turns");
            MacWorld world;
            world.platform().preferences().setValue(settings::kKeyRepeatEnabled, false);
            const KeyboardId kb = world.attach({"Magic Keyboard", kVendor, kProduct, 1});
            controlACopies(world.engine());
            world.intercept(kb);
            world.system().clearAppEvents();
            world.system().setDelivery(DeliveryPlan{false, turns, milliseconds(gap)});
            world.key(kb, 0xE0, true);
            world.key(kb, 0x04, true);
            world.key(kb, 0x04, false);
            world.key(kb, 0xE0, false);
            EXPECT_EQ(keysAtApplication(world.system()),
                      (std::vector<Seen>{kCopyDown, kCopyUp, {'u', 0, kMaskControl}}));
            EXPECT_EQ(world.finish(), std::vector<std::string>{});
        }
    }
}

// Keys pressed while the deliveries of earlier ones are still on their way,
// in seeded random order and gaps: a mapped combination still never leaks,
// its output arrives, and nothing stays down.
TEST(EngineOnModel, OverlappingKeysInRandomOrderNeverLeakAMappedKey) {
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("delivery seed " + std::to_string(seed));
        MacWorld world;
        world.platform().preferences().setValue(settings::kKeyRepeatEnabled, false);
        const KeyboardId kb = world.attach({"Magic Keyboard", kVendor, kProduct, 1});
        controlACopies(world.engine());
        world.intercept(kb);
        world.system().clearAppEvents();
        world.system().setRandomDelivery(applemodel::RandomDelivery{seed, 3, milliseconds(30)});
        world.keyInFlight(kb, 0xE0, true);
        world.keyInFlight(kb, 0x04, true);
        world.settle();
        world.keyInFlight(kb, 0x04, false);
        world.keyInFlight(kb, 0x05, true); // B right after A comes up
        world.settle();
        world.keyInFlight(kb, 0x05, false);
        world.keyInFlight(kb, 0xE0, false);
        world.settle();
        world.wait(milliseconds(200));
        const auto seen = keysAtApplication(world.system());
        EXPECT_EQ(std::count(seen.begin(), seen.end(), kCopyDown), 1);
        EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                                [](const Seen& s) { return s.type == 'd' && s.keyCode == 0; }),
                  0);
        EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                                [](const Seen& s) { return s.type == 'd' && s.keyCode == 11; }),
                  1);
        EXPECT_EQ(world.system().keysDownAtApplication(), 0u);
        EXPECT_EQ(world.finish(), std::vector<std::string>{});
    }
}

// Interception on and off and the keyboard unplugged and plugged in again:
// the device keeps no registration of a listening period that ended, the
// run loop keeps no source of a tap that went, and every object made is
// released.
TEST(EngineOnModel, StartStopAndReplugLeaveNoRegistrationAndNoObject) {
    MacWorld world;
    const KeyboardId kb = world.attach({"Magic Keyboard", kVendor, kProduct, 1});
    controlACopies(world.engine());
    const std::size_t idleSources = world.system().sourcesInRunLoop();
    for (int round = 0; round < 3; ++round) {
        world.intercept(kb);
        EXPECT_EQ(world.system().inputValueRegistrations(kb), 1u);
        EXPECT_EQ(world.system().activeTapCount(), 1u);
        world.key(kb, 0xE0, true);
        world.key(kb, 0x04, true);
        world.key(kb, 0x04, false);
        world.key(kb, 0xE0, false);
        toggleInterception(world.engine()); // off
        world.system().runUntilIdle();
        EXPECT_EQ(world.system().inputValueRegistrations(kb), 0u);
        EXPECT_EQ(world.system().tapCount(), 0u);
        EXPECT_EQ(world.system().sourcesInRunLoop(), idleSources);
    }
    // Unplugged while intercepting (with a value still on its way, and a
    // key held): interception pauses with nothing left registered or
    // tapped, and nothing stays down; plugged in again, it resumes on the
    // new entry.
    world.intercept(kb);
    world.key(kb, 0xE0, true);
    world.system().key(kb, 0x04, true, DeliveryPlan{false, 0, milliseconds(20)});
    world.detach(kb);
    world.settle();
    EXPECT_TRUE(world.engine().awaitedKeyboard().has_value());
    EXPECT_TRUE(world.engine().discoveredKeyboards().empty());
    EXPECT_EQ(world.system().tapCount(), 0u);
    EXPECT_EQ(world.system().inputValueRegistrations(kb), 0u);
    EXPECT_EQ(world.system().keysDownAtApplication(), 0u);
    const KeyboardId again = world.attach({"Magic Keyboard", kVendor, kProduct, 1});
    ASSERT_TRUE(world.listed(again).has_value());
    EXPECT_TRUE(world.engine().isIntercepting());
    EXPECT_FALSE(world.engine().awaitedKeyboard().has_value());
    EXPECT_EQ(world.system().activeTapCount(), 1u);
    EXPECT_EQ(world.system().inputValueRegistrations(again), 1u);
    EXPECT_EQ(world.finish(), std::vector<std::string>{});
}

// Virtual keyboards that report no LocationID are each listed (they used to
// share the location -1, and only the first was).
TEST(EngineOnModel, KeyboardsWithoutALocationAreEachListed) {
    MacWorld world;
    const KeyboardId a = world.attach({"Virtual", 1, 2, std::nullopt});
    const KeyboardId b = world.attach({"Virtual", 1, 2, std::nullopt});
    EXPECT_EQ(world.engine().discoveredKeyboards().size(), 2u);
    world.detach(a);
    EXPECT_EQ(world.engine().discoveredKeyboards().size(), 1u);
    EXPECT_TRUE(world.listed(b).has_value());
    EXPECT_EQ(world.finish(), std::vector<std::string>{});
}

// Sleep and wake reach the engine through IOKit's power notifications on the
// run loop: before sleeping the repeat stops, the held keys are let go and
// the sleep is allowed; after waking the tap is on again and the mapping
// fires as before.
TEST(EngineOnModel, SleepAndWakeArriveThroughThePowerNotifications) {
    MacWorld world;
    const KeyboardId kb = world.attach({"Magic Keyboard", kVendor, kProduct, 1});
    controlACopies(world.engine());
    world.intercept(kb);
    EXPECT_EQ(world.system().powerRegistrations(), 1u);
    world.key(kb, 0xE0, true);
    world.key(kb, 0x04, true);
    EXPECT_TRUE(world.engine().isRepeating());
    world.system().systemWillSleep();
    world.settle();
    EXPECT_FALSE(world.engine().isRepeating());
    EXPECT_TRUE(world.engine().currentPressedCodes().empty());
    EXPECT_EQ(world.system().statistics().powerChangesAllowed, 1u);
    // Asleep, the keys come up; the system turned the tap off meanwhile.
    world.key(kb, 0x04, false);
    world.key(kb, 0xE0, false);
    world.system().disableTapsByUserInput();
    world.system().systemDidWake();
    world.settle();
    EXPECT_EQ(world.system().activeTapCount(), 1u);
    EXPECT_EQ(world.system().keysDownAtApplication(), 0u);
    world.system().clearAppEvents();
    world.key(kb, 0xE0, true);
    world.key(kb, 0x04, true);
    world.key(kb, 0x04, false);
    world.key(kb, 0xE0, false);
    const auto seen = keysAtApplication(world.system());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), kCopyDown), 1);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), Seen{'d', 0, kMaskControl}), 0);
    EXPECT_EQ(world.finish(), std::vector<std::string>{});
}

struct PermissionCase {
    const char* name;
    int listen;
    int post;
    bool accessibility;
    bool secureInput;
    // What the application gets of Control+A mapped to Copy.
    std::vector<Seen> expected;
    std::size_t notices;
};

[[maybe_unused]] void PrintTo(const PermissionCase& c, std::ostream* os) {
    *os << c.name;
}

class Permissions : public ::testing::TestWithParam<PermissionCase> {};

// Missing permissions and Secure Event Input: the keys reach the
// application as typed whenever nothing can be swallowed or posted, no
// output goes anywhere it should not, and the banner says why.
TEST_P(Permissions, KeysReachTheApplicationAsTypedAndTheBannerSaysWhy) {
    const PermissionCase& c = GetParam();
    MacWorld world;
    auto& system = world.system();
    system.setListenAccess(c.listen);
    system.setPostAccess(c.post);
    system.setAccessibility(c.accessibility);
    world.platform().preferences().setValue(settings::kKeyRepeatEnabled, false);
    const KeyboardId kb = world.attach({"Magic Keyboard", kVendor, kProduct, 1});
    controlACopies(world.engine());
    world.intercept(kb);
    system.setSecureEventInput(c.secureInput);
    system.clearAppEvents();
    world.key(kb, 0xE0, true);
    world.key(kb, 0x04, true);
    world.key(kb, 0x04, false);
    world.key(kb, 0xE0, false);
    world.wait(milliseconds(200));
    EXPECT_EQ(keysAtApplication(system), c.expected);
    EXPECT_EQ(system.statistics().postsDropped, 0u); // nothing posted into the void
    EXPECT_EQ(world.platform().notices().size(), c.notices);
    EXPECT_EQ(world.finish(), std::vector<std::string>{});
}

const std::vector<Seen> kTyped = {{'d', 0, kMaskControl}, {'u', 0, kMaskControl}};

INSTANTIATE_TEST_SUITE_P(
    States, Permissions,
    ::testing::Values(PermissionCase{"AllGranted",
                                     kIOHIDAccessTypeGranted,
                                     kIOHIDAccessTypeGranted,
                                     true,
                                     false,
                                     {kCopyDown, kCopyUp, {'u', 0, kMaskControl}},
                                     0},
                      PermissionCase{"NoInputMonitoring", kIOHIDAccessTypeDenied,
                                     kIOHIDAccessTypeGranted, true, false, kTyped, 1},
                      PermissionCase{"NoAccessibility", kIOHIDAccessTypeGranted,
                                     kIOHIDAccessTypeDenied, false, false, kTyped, 1},
                      PermissionCase{"NoPostAccess", kIOHIDAccessTypeGranted,
                                     kIOHIDAccessTypeDenied, true, false, kTyped, 1},
                      PermissionCase{"SecureEventInput", kIOHIDAccessTypeGranted,
                                     kIOHIDAccessTypeGranted, true, true, kTyped, 1}),
    [](const ::testing::TestParamInfo<PermissionCase>& param) { return param.param.name; });

// The system disables the tap (a callback too slow, or user input): the
// blocker enables it again, and the next mapped key is swallowed again.
TEST(EngineOnModel, ATapTheSystemDisabledIsEnabledAgain) {
    for (const bool timeout : {true, false}) {
        MacWorld world;
        world.platform().preferences().setValue(settings::kKeyRepeatEnabled, false);
        const KeyboardId kb = world.attach({"Magic Keyboard", kVendor, kProduct, 1});
        controlACopies(world.engine());
        world.intercept(kb);
        if (timeout) {
            world.system().timeOutTaps();
            world.key(kb, 0x05, true); // the slow one: B goes on regardless
            world.key(kb, 0x05, false);
        } else {
            world.system().disableTapsByUserInput();
            world.system().runUntilIdle();
        }
        EXPECT_EQ(world.system().activeTapCount(), 1u);
        world.system().clearAppEvents();
        world.key(kb, 0xE0, true);
        world.key(kb, 0x04, true);
        world.key(kb, 0x04, false);
        world.key(kb, 0xE0, false);
        EXPECT_EQ(keysAtApplication(world.system()),
                  (std::vector<Seen>{kCopyDown, kCopyUp, {'u', 0, kMaskControl}}));
        EXPECT_EQ(world.finish(), std::vector<std::string>{});
    }
}

// An observer ends interception from inside the tap's callback (told of the
// signature the tap records, it stops listening: the tap is disabled,
// invalidated and released while the system is calling it). Nothing is used
// after release, and the key goes on to the application.
TEST(EngineOnModel, StoppingInterceptionFromInsideTheTapCallbackIsSafe) {
    MacWorld world;
    const KeyboardId kb = world.attach({"Magic Keyboard", kVendor, kProduct, 1});
    controlACopies(world.engine());
    world.intercept(kb);
    bool armed = true;
    auto subscription = world.engine().subscribeChanges([&](const EngineChanges& changes) {
        if (armed && changes.contains(EngineChange::tapSignatures)) {
            armed = false;
            world.engine().stopIntercepting();
        }
    });
    world.system().clearAppEvents();
    world.key(kb, 0x05, true);
    world.key(kb, 0x05, false);
    EXPECT_FALSE(armed);
    EXPECT_FALSE(world.engine().isIntercepting());
    EXPECT_EQ(world.system().tapCount(), 0u);
    EXPECT_EQ(keysAtApplication(world.system()), (std::vector<Seen>{{'d', 11, 0}, {'u', 11, 0}}));
    subscription.cancel();
    EXPECT_EQ(world.finish(), std::vector<std::string>{});
}

} // namespace
} // namespace chordwell::testing
