// chordwellctl simulate, run in-process with string streams.
#include "cli/commands.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace chordwell::cli {
namespace {

namespace fs = std::filesystem;

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result simulate(std::vector<std::string> args, const std::string& input) {
    args.insert(args.begin(), {"chordwellctl", "simulate"});
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const int status = runCli(static_cast<int>(argv.size()), argv.data(), in, out, err);
    return {status, out.str(), err.str()};
}

class SimulateCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Parameterised test names hold a "/", which must not make a nested
        // folder that TearDown would only partly remove.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        folder = fs::temp_directory_path() /
                 ("chordwell-simulate-test-" +
                  std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + name);
        fs::create_directories(folder);
    }
    void TearDown() override {
        const fs::path temp = fs::temp_directory_path();
        const fs::path top = temp / *fs::relative(folder, temp).begin();
        fs::remove_all(folder);
        EXPECT_FALSE(fs::exists(top)) << top << " was left behind";
    }

    std::string write(const std::string& name, const std::string& text) {
        const fs::path p = folder / name;
        std::ofstream(p) << text;
        return p.string();
    }

    fs::path folder;
};

const char* const kCopyRecord =
    R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","productName":"Magic Keyboard",)"
    R"("productID":591,"vendorID":1452,"mappings":[{"id":"A621E1F8-C36C-495A-93FC-0C247A3E6E5F",)"
    R"("name":"Copy","inputKeyCodes":[224,4],"outputBehavior":{"kind":"copyOperation"}}]})";

const char* const kCopyScript = "keyboard kb vendor=0x05AC product=0x024F name=\"Magic Keyboard\"\n"
                                "select kb\nintercept\ndown kb 0xE0\ndown kb 0x04\nwait 20\n"
                                "up kb 0x04\nup kb 0xE0\n";

const char* const kCopyOutput = "0 flagsChanged ⌃ keyCode=59 flags=0x40000\n"
                                "0 keyDown C keyCode=8 flags=0x100000\n"
                                "0 keyUp C keyCode=8 flags=0x100000\n"
                                "20 keyUp A keyCode=0 flags=0x40000\n"
                                "20 flagsChanged ⌃ keyCode=59 flags=0x0\n";

TEST_F(SimulateCommandTest, AMappingFileTakesEffect) {
    const auto mappings = write("copy.json", kCopyRecord);
    const auto script = write("copy.txt", kCopyScript);
    const Result r = simulate({"--mappings", mappings, script}, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kCopyOutput);
    EXPECT_EQ(r.err, "");
}

TEST_F(SimulateCommandTest, WithoutMappingsTheKeysPassUnchanged) {
    const Result r = simulate({"-"}, kCopyScript);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0 flagsChanged ⌃ keyCode=59 flags=0x40000\n"
                     "0 keyDown A keyCode=0 flags=0x40000\n"
                     "20 keyUp A keyCode=0 flags=0x40000\n"
                     "20 flagsChanged ⌃ keyCode=59 flags=0x0\n");
}

TEST_F(SimulateCommandTest, WithoutAccessibilityTheOriginalKeyAlsoArrives) {
    const auto mappings = write("copy.json", kCopyRecord);
    const Result r = simulate({"--mappings", mappings, "--no-accessibility"}, kCopyScript);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0 flagsChanged ⌃ keyCode=59 flags=0x40000\n"
                     "0 keyDown C keyCode=8 flags=0x100000\n"
                     "0 keyUp C keyCode=8 flags=0x100000\n"
                     "0 keyDown A keyCode=0 flags=0x40000\n"
                     "20 keyUp A keyCode=0 flags=0x40000\n"
                     "20 flagsChanged ⌃ keyCode=59 flags=0x0\n");
}

TEST_F(SimulateCommandTest, PreferencesShapeTheRepeat) {
    const auto mappings = write("copy.json", kCopyRecord);
    const std::string script = "keyboard kb vendor=0x05AC product=0x024F\nselect kb\nintercept\n"
                               "down kb 0xE0\ndown kb 0x04\nwait 350\nup kb 0x04\n";
    auto countCopies = [](const std::string& out) {
        std::size_t n = 0;
        for (std::size_t p = out.find("keyDown C"); p != std::string::npos;
             p = out.find("keyDown C", p + 1)) {
            ++n;
        }
        return n;
    };
    const Result fast = simulate({"--mappings", mappings, "--set", "key_repeat_initial_delay=0.2",
                                  "--set", "key_repeat_interval=0.05"},
                                 script);
    EXPECT_EQ(fast.status, 0) << fast.err;
    EXPECT_EQ(countCopies(fast.out), 5u); // 0, 200, 250, 300, 350
    const Result off =
        simulate({"--mappings", mappings, "--set", "key_repeat_enabled=false"}, script);
    EXPECT_EQ(countCopies(off.out), 1u);
}

struct FailureCase {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string errStart;
};

// Test names print the expected message rather than raw bytes.
[[maybe_unused]] void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.errStart;
}

class SimulateFailureTest : public SimulateCommandTest,
                            public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SimulateFailureTest, FailsWithAMessageOnStandardError) {
    const FailureCase& c = GetParam();
    const Result r = simulate(c.args, c.input);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, SimulateFailureTest,
    ::testing::Values(
        FailureCase{{}, "keyboard kb\nfrobnicate\n", 2, "line 2: unknown command \"frobnicate\""},
        FailureCase{{}, "keyboard kb\ndown other 4\n", 2, "line 2: unknown keyboard \"other\""},
        FailureCase{{}, "wait 1x\n", 2, "line 1: bad number \"1x\""},
        FailureCase{{"--bogus"}, "", 2, "chordwellctl simulate: unknown option --bogus"},
        FailureCase{{"--set", "novalue"}, "", 2, "chordwellctl simulate: --set expects KEY=VALUE"},
        FailureCase{{"--mappings"}, "", 2, "chordwellctl simulate: --mappings needs a value"},
        FailureCase{{"a", "b"}, "", 2, "chordwellctl simulate: only one script may be given"},
        FailureCase{{"/nonexistent/script"}, "", 1, "chordwellctl simulate: /nonexistent/script"},
        FailureCase{{"/"}, "", 2, "chordwellctl simulate: /: is a folder, not a file"},
        FailureCase{{"/dev/zero"}, "", 2, "chordwellctl simulate: /dev/zero: not a regular file"},
        FailureCase{{"--mappings", "/dev/zero"},
                    "",
                    2,
                    "chordwellctl simulate: /dev/zero: not a regular file"},
        FailureCase{{"--mappings", "/nonexistent.json"},
                    "",
                    1,
                    "chordwellctl simulate: /nonexistent.json"}));

TEST_F(SimulateCommandTest, ABadMappingFileIsRefused) {
    const auto bad = write("bad.json", "{\"id\": 1}");
    const Result r = simulate({"--mappings", bad}, "list\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("bad.json"), std::string::npos);
}

TEST_F(SimulateCommandTest, OutputBeforeAScriptErrorIsKept) {
    const Result r = simulate({}, "keyboard kb name=\"K\"\nlist\nup nobody 4\nlist\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "0 keyboard \"K\" vendor=-1 product=-1\n");
    EXPECT_EQ(r.err, "line 3: unknown keyboard \"nobody\"\n");
}

// The script runs as it is read: what comes before a faulty line has run
// and printed, and the message quotes only the start of a huge line.
TEST_F(SimulateCommandTest, AScriptRunsUpToItsFirstFaultyLine) {
    const std::string huge(6'000'000, '[');
    for (const std::string& fault : {std::string("frobnicate"), huge}) {
        const Result r = simulate({}, "keyboard kb name=\"K\"\nlist\n" + fault + "\nlist\n");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "0 keyboard \"K\" vendor=-1 product=-1\n");
        EXPECT_EQ(r.err.rfind("line 3: ", 0), 0u) << r.err.substr(0, 200);
        EXPECT_LT(r.err.size(), 200u);
    }
}

// Names come from scripts and devices; none may drive or reorder the terminal.
TEST_F(SimulateCommandTest, NamesAreEscapedOnTheTerminal) {
    const Result r =
        simulate({}, "keyboard kb name=\"K\x1b]0;T\x07\xc2\x9b\xe2\x80\xae\xe2\x81\xa6\"\nlist\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "0 keyboard \"K\\u001b]0;T\\u0007\\u009b\\u202e\\u2066\" vendor=-1 product=-1\n");
}

} // namespace
} // namespace chordwell::cli
