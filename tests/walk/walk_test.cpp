#include "walk.hpp"

#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace chordwell::walk {
namespace {

class WalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        logging::configure(std::make_shared<platform::NullSystemLog>(), std::nullopt);
    }
};

// Fails with the shortest script found that shows the fault.
void expectWalkHolds(const std::vector<script::ScriptCommand>& commands,
                     WalkWorld world = WalkWorld::simulated) {
    if (auto failure = playWalk(commands, world)) {
        const auto shrunk = shrinkWalk(commands, 400, world);
        const auto again = playWalk(shrunk, world);
        ADD_FAILURE() << "step " << failure->step << ": " << failure->message << "\n"
                      << "shrunk to " << shrunk.size() << " commands ("
                      << (again ? again->message : std::string("no longer fails")) << "):\n"
                      << walkScript(shrunk);
    }
}

TEST_F(WalkTest, AFixedSeedWalkHoldsInTheDefaultMode) {
    // 4 walks of 50,000 steps, posting at once with the HID value first.
    for (std::uint64_t seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        expectWalkHolds(generateWalk(seed, 50'000, false));
    }
}

// Posting at once or on the next turn, HID values first, last or either way,
// and mappings without input keys now and then.
TEST_F(WalkTest, AFixedSeedWalkHoldsInEveryMode) {
    for (std::uint64_t seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        expectWalkHolds(generateWalk(seed, 50'000));
    }
}

// The same walks on the macOS adapter over the model of the Apple frameworks:
// a real run loop's turns, posted events always on a later turn, HID values
// and tap events in either order and up to 30 ms apart.
TEST_F(WalkTest, AFixedSeedWalkHoldsOnTheMacAdapter) {
    for (std::uint64_t seed : {5u, 6u, 7u, 8u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        expectWalkHolds(generateWalk(seed, 25'000), WalkWorld::macModel);
    }
}

struct ModeScript {
    const char* name;
    const char* modes;
};

[[maybe_unused]] void PrintTo(const ModeScript& c, std::ostream* os) {
    *os << c.name;
}

class WalkScenarioTest : public WalkTest, public ::testing::WithParamInterface<ModeScript> {};

// A Control+A copy mapping, a 40-key sequence and a held repeat, each checked
// by the walk's own rules (output arrives, the combination does not, other
// keys pass, nothing stays down).
TEST_P(WalkScenarioTest, MappingsBehaveInThisMode) {
    std::string fortyKeys;
    for (int i = 0; i < 40; ++i) {
        fortyKeys += (i == 0 ? "" : ",") + std::to_string(i % 30) + (i % 2 ? "/0x100000" : "");
    }
    const std::string text =
        std::string(GetParam().modes) +
        "keyboard k0 vendor=0x05AC product=0x024F location=1 name=\"Magic Keyboard\"\n"
        "keyboard k1 vendor=0x05AC product=0x024F location=2 name=\"Magic Keyboard\"\n"
        "select k0\n"
        "map copy 0xE0,0x04 copy\n"
        "map long 0xE2,0x05 " +
        fortyKeys +
        "\n"
        "intercept\n"
        "down k0 0xE0\ndown k0 0x04\nwait 750\ndown k1 0x06\nup k1 0x06\nup k0 0x04\n"
        "down k0 0x05\nup k0 0x05\nup k0 0xE0\n"
        "down k0 0xE2\ndown k0 0x05\nwait 620\nup k0 0x05\ndown k0 0x05\nup k0 0xE2\n"
        "up k0 0x05\ndown k0 0x04\nup k0 0x04\n";
    const auto parsed = script::parseScript(text);
    ASSERT_FALSE(parsed.error) << parsed.error->text();
    if (auto failure = playWalk(parsed.commands)) {
        ADD_FAILURE() << "step " << failure->step << ": " << failure->message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, WalkScenarioTest,
    ::testing::Values(ModeScript{"sync_hid_first", ""},
                      ModeScript{"sync_tap_first", "order tap-first\n"},
                      ModeScript{"async_hid_first", "posting async\n"},
                      ModeScript{"async_tap_first", "posting async\norder tap-first\n"},
                      ModeScript{"async_random", "posting async\norder random 11\n"}));

// Walks the soak found failing, shrunk, in random delivery order: keys of
// other keyboards that wait for a HID value that never comes.
struct FoundScript {
    const char* name;
    const char* text;
};

[[maybe_unused]] void PrintTo(const FoundScript& c, std::ostream* os) {
    *os << c.name;
}

const FoundScript kSoakScripts[] = {
    // Space of k2 waits while the listened k0 holds Command (Space+Command
    // is mapped) and is given back by its deadline while posting is
    // asynchronous: its key-up, typed meanwhile, must not pass ahead of the
    // given-back key-down and leave Space down at the application.
    {"key_up_ahead_of_a_key_down_given_back",
     R"(keyboard k0 vendor=1452 product=591 location=1 name="Magic Keyboard"
select k0
intercept
order random 426
up k0 0xE4
map m0 0x2C,0xE3 search
keyboard k2 vendor=1133 product=49948 location=3 name="Logi K120"
down k0 0xE3
down k2 0x2C
posting async
up k2 0x2C
down k2 0xE0
down k2 0x2C
up k2 0xE0
wait 9
up k0 0xE3
down k0 0x5
down k2 0xE3
up k2 0x2C
keyboard k1 vendor=1452 product=591 location=2 name="Magic Keyboard"
)"},
    // D (mapped alone on the listened k2) pressed on k1 waits; k2's own D
    // comes 90 ms later, its HID value first and its tap event after k1's
    // deadline: k1's D is still given back.
    {"tap_event_of_a_paired_value_after_the_first_deadline",
     R"(keyboard k2 vendor=1133 product=49948 location=3 name="Logi K120"
select k2
keyboard k1 vendor=1452 product=591 location=2 name="Magic Keyboard"
map m4 0x7 21/0x40000,39/0x120000,29,41/0x100000,15/0x120000,49,25/0x100000,43,16,3/0x100000,10/0x40000,14/0x120000,26/0x120000,11,23/0x100000,48,1/0x120000,37,40/0x100000,31/0x100000,5/0x100000,32/0x40000,14/0x40000,0/0x120000,13/0x120000,6/0x100000,47/0x40000,15/0x100000,43/0x40000,12/0x120000,32/0x120000,20,8,21/0x120000,27/0x100000,30,27/0x120000,34/0x100000,11/0x40000,23/0x40000,7/0x100000
intercept
order random 69
up k2 0x5
up k2 0x2C
up k2 0x6
down k1 0x7
up k1 0x4
wait 19
wait 3
down k2 0xE2
up k2 0xE2
down k2 0xE1
down k2 0xE2
up k2 0xE1
down k1 0xE2
down k1 0x2C
up k1 0x2C
up k2 0xE2
down k2 0x7
)"},
    // Space of k0 waits while the second half of an edit lands; k1 then
    // completes Space on its own: k0's Space given back then is no leak.
    {"key_given_back_while_the_mappings_changed",
     R"(keyboard k2 vendor=1133 product=49948 location=3 name="Logi K120"
keyboard k1 vendor=1452 product=591 location=2 name="Magic Keyboard"
select k1
intercept
order random 380
up k2 0xE3
down k1 0x4
up k1 0x4
up k1 0xE1
intercept
up k1 0x7
intercept
down k1 0xE3
map m1 0x2C 49/0x40000,34,35/0x100000,21/0x40000
map m2 0xE1,0x5,0x4 search
map m2 0x2C,0x6 search
wait 12
intercept
intercept
keyboard k0 vendor=1452 product=591 location=1 name="Magic Keyboard"
down k0 0x6
wait 8
up k0 0x6
down k1 0xE2
up k1 0xE2
down k0 0x4
down k0 0x5
down k0 0xE3
up k1 0xE3
down k0 0x2C
down k1 0x2C
)"},
};

class SoakScriptTest : public WalkTest, public ::testing::WithParamInterface<FoundScript> {};

TEST_P(SoakScriptTest, HoldsInEveryCheck) {
    const auto parsed = script::parseScript(GetParam().text);
    ASSERT_FALSE(parsed.error) << parsed.error->text();
    if (auto failure = playWalk(parsed.commands)) {
        ADD_FAILURE() << "step " << failure->step << ": " << failure->message;
    }
}

INSTANTIATE_TEST_SUITE_P(Found, SoakScriptTest, ::testing::ValuesIn(kSoakScripts),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(WalkTest, AFailingWalkShrinksToAScriptThatParsesBack) {
    // An empty walk cannot fail; a generated one round-trips through text.
    const auto commands = generateWalk(9, 300);
    const auto parsed = script::parseScript(walkScript(commands));
    ASSERT_FALSE(parsed.error) << parsed.error->text();
    ASSERT_EQ(parsed.commands.size(), commands.size());
    EXPECT_EQ(walkScript(parsed.commands), walkScript(commands));
}

} // namespace
} // namespace chordwell::walk
