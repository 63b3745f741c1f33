#include "cli/commands.hpp"
#include "model/display_text.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace chordwell::cli {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun run(std::vector<std::string> args, const std::string& input = "") {
    static char program[] = "chordwellctl";
    std::vector<char*> argv{program};
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const int status = runCli(static_cast<int>(argv.size() - 1), argv.data(), in, out, err);
    return {status, out.str(), err.str()};
}

const std::string kValid = std::string(CHORDWELL_CLI_TEST_DATA) + "/valid.json";
const std::string kInvalid = std::string(CHORDWELL_CLI_TEST_DATA) + "/invalid.json";
const std::string kInvalidMessage = "mappings[0].inputKeyCodes[1]: 70000 is outside 0-65535";

// A record exercising every way show renders a mapping: derived input, tap
// codes, an empty input, a named and an unnamed custom sequence, and names
// with quotes and control characters.
const std::string kRich =
    R"({"id":"0F7B1F6A-2B8C-4E4D-9C39-5D1B2A3C4D5E","productName":"Pro \"K\"\u001b[2J\u009b\u0085\u202e\u2067é",)"
    R"("productID":-1,"vendorID":1452,"mappings":[)"
    R"({"id":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEF1","name":"Copy","inputKeyCodes":[224,6],)"
    R"("outputBehavior":{"kind":"copyOperation"}},)"
    R"({"id":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEF2","name":"Undo\n","inputKeyCodes":[227,29],)"
    R"("inputTapCodes":[{"keyCode":55,"modifiers":1048576},{"keyCode":6,"modifiers":1048576}],)"
    R"("outputBehavior":{"kind":"customKeySequence","name":"","codes":[{"keyCode":6,"modifiers":1179648}]}},)"
    R"({"id":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEF3","name":"","inputKeyCodes":[],)"
    R"("outputBehavior":{"kind":"customKeySequence","codes":[]}},)"
    R"({"id":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEF4","name":"Seq","inputKeyCodes":[58],)"
    R"("outputBehavior":{"kind":"customKeySequence","name":"Two","codes":[{"keyCode":0,"modifiers":262144},{"keyCode":14,"modifiers":262144}]}},)"
    R"({"id":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEF5","name":"Search","inputKeyCodes":[41],"inputTapCodes":[],)"
    R"("outputBehavior":{"kind":"openSearchBar"}}]})";

const std::string kRichShown =
    "Product name: \"Pro \\\"K\\\"\\u001b[2J\\u009b\\u0085\\u202e\\u2067\u00e9\"\n"
    "Vendor ID: 1452 (0x05AC)\n"
    "Product ID: -1 (0xFFFFFFFFFFFFFFFF)\n"
    "Record ID: 0F7B1F6A-2B8C-4E4D-9C39-5D1B2A3C4D5E\n"
    "Mappings: 5\n"
    "1. \"Copy\": \u2303 C -> Copy\n"
    "2. \"Undo\\n\": \u2318\u2318 \u2318Z -> \"Custom\" \u21E7\u2318Z\n"
    "3. \"\": (no keys) -> \"Custom\" (no keys)\n"
    "4. \"Seq\": F1 -> \"Two\" \u2303A \u2303E\n"
    "5. \"Search\": (no keys) -> Open Search\n";

struct RunCase {
    const char* what;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out; // exact expected standard output
    std::string errContains;
    bool outIsPrefix = false; // for messages that quote the JSON library
};

TEST(Chordwellctl, CommandsStatusesAndOutput) {
    const std::string usageHead = "usage: chordwellctl COMMAND [ARGUMENTS...]\n";
    const RunCase cases[] = {
        {"no arguments", {}, "", 2, "", usageHead},
        {"unknown command", {"frobnicate"}, "", 2, "", "unknown command \"frobnicate\""},
        {"validate without files", {"validate"}, "", 2, "", "usage: chordwellctl validate FILE..."},
        {"show with two files",
         {"show", kValid, kValid},
         "",
         2,
         "",
         "usage: chordwellctl show FILE"},
        {"normalize without file", {"normalize"}, "", 2, "", "usage: chordwellctl normalize FILE"},
        {"validate one", {"validate", kValid}, "", 0, kValid + ": ok (1 mappings)\n", ""},
        {"validate mixed",
         {"validate", kValid, kInvalid, "-"},
         kRich,
         1,
         kValid + ": ok (1 mappings)\n" + kInvalid + ": error: " + kInvalidMessage +
             "\n-: ok (5 mappings)\n"
             "-: warning: mappings[2].inputKeyCodes: no input keys, the mapping never matches\n",
         ""},
        {"validate missing file",
         {"validate", "/nonexistent/x.json"},
         "",
         1,
         "/nonexistent/x.json: error: cannot open: No such file or directory\n",
         ""},
        {"validate a directory",
         {"validate", CHORDWELL_CLI_TEST_DATA},
         "",
         2,
         std::string(CHORDWELL_CLI_TEST_DATA) + ": error: is a folder, not a file\n",
         ""},
        {"validate a device and a valid file",
         {"validate", "/dev/zero", kValid},
         "",
         2,
         "/dev/zero: error: not a regular file\n" + kValid + ": ok (1 mappings)\n",
         ""},
        {"show a device", {"show", "/dev/null"}, "", 2, "", "/dev/null: error: not a regular file"},
        {"validate repeated keys",
         {"validate", "-"},
         R"({"id":"0F7B1F6A-2B8C-4E4D-9C39-5D1B2A3C4D5E","productName":"B","productName":"C",)"
         R"("productID":1,"vendorID":2,"mappings":[{"id":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEF1",)"
         R"("name":"a","name":"b","inputKeyCodes":[4],"outputBehavior":{"kind":"none"}}],)"
         R"("mappings":[]})",
         1,
         "-: error: productName: duplicate key\n-: error: mappings[0].name: duplicate key\n"
         "-: error: mappings: duplicate key\n",
         ""},
        {"validate bytes after the record",
         {"validate", "-"},
         std::string("{}\0GARBAGE", 10),
         1,
         "-: error: invalid JSON at line 1, column 3 (offset 2): a NUL byte after the JSON value\n",
         ""},
        {"validate bad stdin",
         {"validate", "-"},
         "{",
         1,
         "-: error: invalid JSON at line 1, column 2 (offset 1): ",
         "",
         true},
        {"show", {"show", "-"}, kRich, 0, kRichShown, ""},
        {"show invalid", {"show", kInvalid}, "", 1, "", kInvalid + ": error: " + kInvalidMessage},
        {"normalize invalid",
         {"normalize", kInvalid},
         "",
         1,
         "",
         kInvalid + ": error: " + kInvalidMessage},
        {"normalize",
         {"normalize", kValid},
         "",
         0,
         R"({"id":"0F7B1F6A-2B8C-4E4D-9C39-5D1B2A3C4D5E","productName":"Board","productID":591,)"
         R"("vendorID":1452,"mappings":[{"id":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF",)"
         R"("name":"Copy","inputKeyCodes":[224,6],"outputBehavior":{"kind":"copyOperation"}}]})"
         "\n",
         ""},
    };
    for (const RunCase& c : cases) {
        const CliRun r = run(c.args, c.input);
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.out << r.err;
        if (c.outIsPrefix) {
            EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << c.what << ": " << r.out;
        } else {
            EXPECT_EQ(r.out, c.out) << c.what;
        }
        if (c.errContains.empty()) {
            EXPECT_EQ(r.err, "") << c.what;
        } else {
            EXPECT_NE(r.err.find(c.errContains), std::string::npos) << c.what << ": " << r.err;
        }
    }
}

TEST(Chordwellctl, HelpGoesToStandardOutputAndListsEveryCommand) {
    for (const char* flag : {"help", "--help", "-h"}) {
        const CliRun r = run({flag});
        EXPECT_EQ(r.status, 0) << flag;
        EXPECT_EQ(r.err, "") << flag;
        for (const CliCommand& command : cliCommands()) {
            EXPECT_NE(r.out.find(std::string("  ") + command.usage), std::string::npos)
                << command.name;
        }
    }
    for (const char* name : {"validate", "show", "normalize"}) {
        ASSERT_NE(findCliCommand(name), nullptr) << name;
    }
    EXPECT_EQ(findCliCommand("help"), nullptr);
}

TEST(Chordwellctl, NormalizedOutputIsStableAndStillValid) {
    const CliRun first = run({"normalize", "-"}, kRich);
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(first.out.back(), '\n');
    EXPECT_EQ(first.out.find('\n'), first.out.size() - 1);
    // The name's ESC, CSI, NEL and RLO are escaped in the JSON, not printed.
    const std::string line = first.out.substr(0, first.out.size() - 1);
    EXPECT_EQ(terminalSafe(line), line);
    const CliRun second = run({"normalize", "-"}, first.out);
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(run({"show", "-"}, first.out).out, kRichShown);
}

TEST(Chordwellctl, FileLargerThanTheLimitIsRefused) {
    const fs::path path =
        fs::temp_directory_path() /
        ("chordwellctl-big-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         ".json");
    {
        std::ofstream file(path, std::ios::binary);
        file.seekp(65 * 1024 * 1024);
        file.put(' ');
    }
    const CliRun r = run({"validate", path.string()});
    fs::remove(path);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, path.string() + ": error: file is larger than 64 MiB\n");
}

// A FIFO without a writer would block a reader for ever.
TEST(Chordwellctl, FifoIsRefusedWithoutBlocking) {
    const fs::path path =
        fs::temp_directory_path() / ("chordwellctl-fifo-" + std::to_string(::getpid()) + ".json");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const CliRun validate = run({"validate", path.string()});
    const CliRun simulate = run({"simulate", path.string()});
    fs::remove(path);
    EXPECT_EQ(validate.status, 2);
    EXPECT_EQ(validate.out, path.string() + ": error: not a regular file\n");
    if (findCliCommand("simulate") != nullptr) {
        EXPECT_EQ(simulate.status, 2);
        EXPECT_NE(simulate.err.find("not a regular file"), std::string::npos) << simulate.err;
    }
}

} // namespace
} // namespace chordwell::cli
