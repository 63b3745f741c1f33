// Commands of chordwellctl, the command-line companion of the app.
//
// Every command is one CliCommand object. Besides the built-in file commands,
// each file src/cli/<name>_command.cpp is compiled in automatically and must
// define, in namespace chordwell::cli,
//
//     extern const CliCommand <name>Command;   // e.g. simulateCommand
//
// (the build generates the registry from the file names).
#pragma once

#include <istream>
#include <ostream>
#include <string_view>
#include <vector>

namespace chordwell::cli {

struct CliCommand {
    /// What the user types after "chordwellctl".
    const char* name;
    /// The synopsis after "chordwellctl", e.g. "validate FILE...".
    const char* usage;
    /// argv[0] is the command name, argv[1..argc-1] its arguments. Returns
    /// the process exit status: 0 success, 1 failure, 2 usage error (after
    /// printing the command's usage to `err`, see printCommandUsage).
    int (*run)(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err);
    /// What the command does, in a few words; shown beside the usage.
    const char* summary = nullptr;
};

/// Every command, in the order the usage text lists them.
const std::vector<CliCommand>& cliCommands();

/// The command called `name`, or null.
const CliCommand* findCliCommand(std::string_view name);

/// The full usage text (synopsis and one line per command).
void printUsage(std::ostream& out);

/// "usage: chordwellctl <usage line>" for one command.
void printCommandUsage(const CliCommand& command, std::ostream& out);

/// Runs the tool as main() would: argv[0] is the program name. Never throws.
int runCli(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err);

/// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

} // namespace chordwell::cli
