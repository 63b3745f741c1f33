#include "script/script.hpp"

#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace chordwell::script {

using namespace chordwell::platform;
using namespace chordwell::platform::sim;
namespace {

struct ParseErrorCase {
    const char* script;
    std::string expected;
};

// Test names print a short description rather than raw bytes.
[[maybe_unused]] void PrintTo(const ParseErrorCase& c, std::ostream* os) {
    *os << c.expected;
}

class ScriptParseErrorTest : public ::testing::TestWithParam<ParseErrorCase> {};

TEST_P(ScriptParseErrorTest, ReportsTheLineAndTheFault) {
    const ParsedScript parsed = parseScript(GetParam().script);
    ASSERT_TRUE(parsed.error.has_value());
    EXPECT_EQ(parsed.error->text(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Script, ScriptParseErrorTest,
    ::testing::Values(
        ParseErrorCase{"press kb 4", "line 1: unknown command \"press\""},
        ParseErrorCase{"# comment\n\nwait 0x1G", "line 3: bad number \"0x1G\""},
        ParseErrorCase{"wait", "line 1: missing milliseconds"},
        ParseErrorCase{"wait -5", "line 1: negative wait \"-5\""},
        ParseErrorCase{"down kb", "line 1: missing usage"},
        ParseErrorCase{"down", "line 1: missing keyboard name"},
        ParseErrorCase{"up kb 0x10000", "line 1: usage out of range \"0x10000\""},
        ParseErrorCase{"down kb four", "line 1: bad number \"four\""},
        ParseErrorCase{"list now", "line 1: too many arguments for list"},
        ParseErrorCase{"keyboard kb color=1", "line 1: unknown property \"color\""},
        ParseErrorCase{"keyboard kb vendor=", "line 1: bad number \"\""},
        ParseErrorCase{"keyboard kb vendor", "line 1: expected KEY=VALUE, got \"vendor\""},
        ParseErrorCase{"keyboard kb name=\"Open", "line 1: unterminated string"},
        ParseErrorCase{"wait 99999999999999999999", "line 1: bad number \"99999999999999999999\""},
        ParseErrorCase{"posting", "line 1: missing mode (sync or async)"},
        ParseErrorCase{"posting later", "line 1: unknown posting mode \"later\""},
        ParseErrorCase{"posting async now", "line 1: too many arguments for posting"},
        ParseErrorCase{"order", "line 1: missing order (hid-first, tap-first or "
                                "random SEED)"},
        ParseErrorCase{"order random", "line 1: missing seed"},
        ParseErrorCase{"order random -1", "line 1: bad seed \"-1\""},
        ParseErrorCase{"order tap-first 3", "line 1: too many arguments for order"},
        ParseErrorCase{"order hid-last", "line 1: unknown order \"hid-last\""},
        ParseErrorCase{"layout", "line 1: missing layout (us, fr, de, dvorak, ru)"},
        ParseErrorCase{"layout azerty",
                       "line 1: unknown layout \"azerty\" (us, fr, de, dvorak, ru)"},
        ParseErrorCase{"layout fr de", "line 1: too many arguments for layout"}));

TEST(ScriptParse, ReadsTheModesOfTheWorld) {
    const ParsedScript parsed =
        parseScript("posting async\nposting sync\norder tap-first\norder hid-first\n"
                    "order random 0x2A\n");
    ASSERT_FALSE(parsed.error.has_value()) << parsed.error->text();
    ASSERT_EQ(parsed.commands.size(), 5u);
    EXPECT_EQ(parsed.commands[0].posting, PostingMode::async);
    EXPECT_EQ(parsed.commands[1].posting, PostingMode::sync);
    EXPECT_EQ(parsed.commands[2].order, DeliveryOrder::tapFirst);
    EXPECT_EQ(parsed.commands[3].order, DeliveryOrder::hidFirst);
    EXPECT_EQ(parsed.commands[4].order, DeliveryOrder::random);
    EXPECT_EQ(parsed.commands[4].seed, 42u);
}

TEST(ScriptParse, ReadsEveryCommandWithItsArguments) {
    const ParsedScript parsed = parseScript(
        "keyboard kb vendor=0x05AC product=591 location=-1 name=\"Magic \\\"K\\\" #1\" # note\r\n"
        "  select kb\n"
        "intercept\n"
        "down kb 0xE0\n"
        "up kb 4\n"
        "wait 20\n"
        "list\n"
        "status\n"
        "remove kb\n"
        "keyboard bare\n");
    ASSERT_FALSE(parsed.error.has_value()) << parsed.error->text();
    ASSERT_EQ(parsed.commands.size(), 10u);
    const ScriptCommand& kb = parsed.commands[0];
    EXPECT_EQ(kb.kind, ScriptCommand::Kind::keyboard);
    EXPECT_EQ(kb.name, "kb");
    EXPECT_EQ(kb.vendor, 0x05AC);
    EXPECT_EQ(kb.product, 591);
    EXPECT_EQ(kb.location, -1);
    EXPECT_EQ(kb.productName, "Magic \"K\" #1");
    EXPECT_EQ(parsed.commands[1].kind, ScriptCommand::Kind::select);
    EXPECT_EQ(parsed.commands[1].line, 2);
    EXPECT_EQ(parsed.commands[3].usage, 0xE0);
    EXPECT_EQ(parsed.commands[4].kind, ScriptCommand::Kind::up);
    EXPECT_EQ(parsed.commands[4].usage, 4);
    EXPECT_EQ(parsed.commands[5].milliseconds, 20);
    EXPECT_EQ(parsed.commands[8].kind, ScriptCommand::Kind::remove);
    const ScriptCommand& bare = parsed.commands[9];
    EXPECT_FALSE(bare.vendor || bare.product || bare.location || bare.productName);
}

TEST(ScriptFormat, EventLinesUseLabelsDecimalCodesAndUpperCaseFlags) {
    const auto origin = std::chrono::milliseconds(1000);
    EXPECT_EQ(formatAppEvent(
                  {std::chrono::milliseconds(1020), EventType::keyDown, 8, 0x100000, true}, origin),
              "20 keyDown C keyCode=8 flags=0x100000");
    EXPECT_EQ(
        formatAppEvent({std::chrono::microseconds(1000999), EventType::flagsChanged, 59, 0, false},
                       origin),
        "0 flagsChanged ⌃ keyCode=59 flags=0x0");
    EXPECT_EQ(formatAppEvent({origin, EventType::keyUp, 54, 0x1A0100, false}, origin),
              "0 keyUp 0x36 keyCode=54 flags=0x1A0100");
}

class ScriptRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        logging::configure(std::make_shared<NullSystemLog>(), std::nullopt);
        world = std::make_shared<SimWorld>();
        engine = std::make_unique<RawKeyboardListener>(world);
        runner = std::make_unique<ScriptRunner>(
            *world, *engine, [this](const std::string& line) { output.push_back(line); });
    }

    std::optional<ScriptError> run(const char* script) {
        const ParsedScript parsed = parseScript(script);
        EXPECT_FALSE(parsed.error.has_value());
        return runner->run(parsed.commands);
    }

    void addCopyMapping() {
        engine->mutateAllDeviceMappings([](std::vector<DeviceMapping>& records) {
            DeviceMapping r;
            r.productName = "Magic Keyboard";
            r.vendorID = 0x05AC;
            r.productID = 0x024F;
            KeyMapping m;
            m.inputKeyCodes = {0xE0, 0x04};
            m.outputBehavior = OutputBehavior::copyOperation();
            r.mappings.push_back(m);
            records.push_back(r);
        });
    }

    std::shared_ptr<SimWorld> world;
    std::unique_ptr<RawKeyboardListener> engine;
    std::unique_ptr<ScriptRunner> runner;
    std::vector<std::string> output;
};

TEST_F(ScriptRunTest, ControlAWithACopyMapping) {
    // Without storage, loading keeps the record already in memory.
    addCopyMapping();
    EXPECT_FALSE(run("keyboard kb vendor=0x05AC product=0x024F name=\"Magic Keyboard\"\n"
                     "select kb\nintercept\ndown kb 0xE0\ndown kb 0x04\nwait 20\n"
                     "up kb 0x04\nup kb 0xE0\nstatus\n"));
    EXPECT_EQ(output, (std::vector<std::string>{
                          "0 flagsChanged ⌃ keyCode=59 flags=0x40000",
                          "0 keyDown C keyCode=8 flags=0x100000",
                          "0 keyUp C keyCode=8 flags=0x100000",
                          "20 keyUp A keyCode=0 flags=0x40000",
                          "20 flagsChanged ⌃ keyCode=59 flags=0x0",
                          "20 status intercepting=true selected=\"Magic Keyboard\"",
                      }));
}

// The layout decides which key Copy posts and how the application names
// the keys it gets; back on us everything is as before.
TEST_F(ScriptRunTest, TheLayoutResolvesCopyAndNamesTheKeys) {
    addCopyMapping();
    EXPECT_FALSE(run("keyboard kb vendor=0x05AC product=0x024F name=\"Magic Keyboard\"\n"
                     "select kb\nintercept\nlayout dvorak\ndown kb 0xE0\ndown kb 0x04\n"
                     "up kb 0x04\nup kb 0xE0\nlayout fr\ndown kb 0x14\nup kb 0x14\n"
                     "layout ru\ndown kb 0xE0\ndown kb 0x04\nlayout us\ndown kb 0x14\n"));
    EXPECT_EQ(output, (std::vector<std::string>{
                          "0 flagsChanged ⌃ keyCode=59 flags=0x40000",
                          "0 keyDown C keyCode=34 flags=0x100000",
                          "0 keyUp C keyCode=34 flags=0x100000",
                          "0 keyUp A keyCode=0 flags=0x40000",
                          "0 flagsChanged ⌃ keyCode=59 flags=0x0",
                          "0 keyDown A keyCode=12 flags=0x0",
                          "0 keyUp A keyCode=12 flags=0x0",
                          "0 flagsChanged ⌃ keyCode=59 flags=0x40000",
                          "0 keyDown C keyCode=8 flags=0x100000",
                          "0 keyUp C keyCode=8 flags=0x100000",
                          "0 keyDown Q keyCode=12 flags=0x40000",
                      }));
    EXPECT_EQ(formatCommand(parseScript("layout dvorak").commands.at(0)), "layout dvorak");
}

TEST_F(ScriptRunTest, ListAndStatusFollowTheKeyboards) {
    EXPECT_FALSE(run("status\nkeyboard a vendor=1 product=2 location=1 name=\"A\"\n"
                     "keyboard b location=2\nlist\nselect b\nintercept\nwait 5\nstatus\n"
                     "remove b\nstatus\nlist\nintercept\nstatus\n"));
    // The intercepted keyboard that goes away stays selected, waited for,
    // until interception is turned off.
    EXPECT_EQ(output, (std::vector<std::string>{
                          "0 status intercepting=false selected=none",
                          "0 keyboard \"A\" vendor=1 product=2",
                          "0 keyboard \"Unknown\" vendor=-1 product=-1",
                          "5 status intercepting=true selected=\"Unknown\"",
                          "5 status intercepting=true selected=\"Unknown\"",
                          "5 keyboard \"A\" vendor=1 product=2",
                          "5 status intercepting=false selected=none",
                      }));
}

struct RunErrorCase {
    const char* script;
    std::string expected;
};

// Test names print a short description rather than raw bytes.
[[maybe_unused]] void PrintTo(const RunErrorCase& c, std::ostream* os) {
    *os << c.expected;
}

class ScriptRunErrorTest : public ScriptRunTest,
                           public ::testing::WithParamInterface<RunErrorCase> {};

TEST_P(ScriptRunErrorTest, StopsAtTheFirstError) {
    const auto error = run(GetParam().script);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->text(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Script, ScriptRunErrorTest,
    ::testing::Values(
        RunErrorCase{"down kb 4", "line 1: unknown keyboard \"kb\""},
        RunErrorCase{"keyboard kb\nremove kb\nselect kb", "line 3: unknown keyboard \"kb\""},
        RunErrorCase{"keyboard kb\nkeyboard kb", "line 2: keyboard \"kb\" already exists"},
        RunErrorCase{"keyboard a location=4\nkeyboard b location=4\nselect b",
                     "line 3: keyboard \"b\" is not listed"}));

TEST_F(ScriptRunTest, ModesReachTheWorld) {
    EXPECT_FALSE(run("posting async\norder random 5\n"));
    EXPECT_EQ(world->postingMode(), PostingMode::async);
    EXPECT_EQ(world->deliveryOrder(), DeliveryOrder::random);
    EXPECT_FALSE(run("posting sync\norder tap-first\n"));
    EXPECT_EQ(world->postingMode(), PostingMode::sync);
    EXPECT_EQ(world->deliveryOrder(), DeliveryOrder::tapFirst);
}

TEST_F(ScriptRunTest, AWaitBeyondTheClocksRangeLastsToItsEnd) {
    // 9.3e12 ms does not fit the clock's nanoseconds.
    EXPECT_FALSE(run("wait 9300000000000\nstatus\n"));
    EXPECT_EQ(runner->elapsedMilliseconds(), 9223372036854);
}

TEST_F(ScriptRunTest, ARepeatOverALongWaitKeepsBoundedMemory) {
    addCopyMapping();
    engine->platform().preferences().setValue("key_repeat_interval", 0.000000001);
    EXPECT_FALSE(run("keyboard kb vendor=0x05AC product=0x024F\nselect kb\nintercept\n"
                     "down kb 0xE0\ndown kb 0x04\nwait 1000\nup kb 0x04\n"));
    // A repeat every millisecond from 500 ms on (the floor of the clock),
    // each a key-down and a key-up, all printed; only the newest are kept.
    EXPECT_EQ(std::count(output.begin(), output.end(), "1000 keyDown C keyCode=8 flags=0x100000"),
              1);
    EXPECT_EQ(output.size(), 1u + 2u * 502u + 1u);
    EXPECT_LE(world->appEvents().size(), SimWorld::kDefaultAppEventLimit);
}

TEST_F(ScriptRunTest, WaitingCanBeDelegated) {
    std::vector<std::int64_t> waits;
    ScriptRunner delegated(
        *world, *engine, [](const std::string&) {},
        [&](std::chrono::milliseconds ms) { waits.push_back(ms.count()); });
    const ParsedScript parsed = parseScript("wait 5\nwait 0x10\n");
    EXPECT_FALSE(delegated.run(parsed.commands));
    EXPECT_EQ(waits, (std::vector<std::int64_t>{5, 16}));
    EXPECT_EQ(delegated.elapsedMilliseconds(), 0);
}

} // namespace
} // namespace chordwell::script
