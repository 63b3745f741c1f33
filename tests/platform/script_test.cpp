#include "platform/sim/script.hpp"

#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace chordwell::platform::sim {
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
    ::testing::Values(ParseErrorCase{"press kb 4", "line 1: unknown command \"press\""},
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
                      ParseErrorCase{"keyboard kb vendor",
                                     "line 1: expected KEY=VALUE, got \"vendor\""},
                      ParseErrorCase{"keyboard kb name=\"Open", "line 1: unterminated string"},
                      ParseErrorCase{"wait 99999999999999999999",
                                     "line 1: bad number \"99999999999999999999\""}));

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

TEST_F(ScriptRunTest, ListAndStatusFollowTheKeyboards) {
    EXPECT_FALSE(run("status\nkeyboard a vendor=1 product=2 location=1 name=\"A\"\n"
                     "keyboard b location=2\nlist\nselect b\nintercept\nwait 5\nstatus\n"
                     "remove b\nstatus\nlist\n"));
    EXPECT_EQ(output, (std::vector<std::string>{
                          "0 status intercepting=false selected=none",
                          "0 keyboard \"A\" vendor=1 product=2",
                          "0 keyboard \"Unknown\" vendor=-1 product=-1",
                          "5 status intercepting=true selected=\"Unknown\"",
                          "5 status intercepting=false selected=none",
                          "5 keyboard \"A\" vendor=1 product=2",
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
} // namespace chordwell::platform::sim
