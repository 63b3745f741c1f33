#include "cli/commands.hpp"

#include <exception>
#include <iomanip>
#include <string>
#include <string_view>

namespace chordwell::cli {

const CliCommand* findCliCommand(std::string_view name) {
    for (const CliCommand& command : cliCommands()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

namespace {

/// One entry of the command list: the synopsis, then the summary aligned in a
/// column (on the next line when the synopsis is too long for it).
void printCommandLine(std::ostream& out, std::string_view usage, const char* summary) {
    constexpr std::size_t kColumn = 20;
    out << "  " << usage;
    if (summary) {
        if (usage.size() < kColumn) {
            out << std::string(kColumn - usage.size(), ' ');
        } else {
            out << '\n' << std::string(kColumn + 2, ' ');
        }
        out << summary;
    }
    out << '\n';
}

} // namespace

void printUsage(std::ostream& out) {
    out << "usage: chordwellctl COMMAND [ARGUMENTS...]\n"
           "\n"
           "Commands:\n";
    for (const CliCommand& command : cliCommands()) {
        printCommandLine(out, command.usage, command.summary);
    }
    printCommandLine(out, "help", "print this help");
    out << "\n"
           "FILE may be - for standard input.\n"
           "Exit status: 0 success, 1 failure, 2 usage error.\n";
}

void printCommandUsage(const CliCommand& command, std::ostream& out) {
    out << "usage: chordwellctl " << command.usage << '\n';
}

int runCli(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
    try {
        if (argc < 2) {
            printUsage(err);
            return kExitUsage;
        }
        const std::string_view name = argv[1];
        if (name == "help" || name == "--help" || name == "-h") {
            printUsage(out);
            return kExitOk;
        }
        const CliCommand* command = findCliCommand(name);
        if (!command) {
            err << "chordwellctl: unknown command " << std::quoted(std::string(name)) << "\n\n";
            printUsage(err);
            return kExitUsage;
        }
        return command->run(argc - 1, argv + 1, in, out, err);
    } catch (const std::exception& e) {
        err << "chordwellctl: internal error: " << e.what() << '\n';
    } catch (...) {
        err << "chordwellctl: internal error\n";
    }
    return kExitFailure;
}

} // namespace chordwell::cli
