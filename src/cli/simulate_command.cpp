// chordwellctl simulate: runs the engine on the simulated platform, driven by
// a script, and prints what reaches the focused application. Lets users try a
// mapping file before they activate it.
#include "cli/commands.hpp"
#include "cli/file_input.hpp"
#include "cli/signal_cleanup.hpp"
#include "cli/terminal_text.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "fileio/file_io.hpp"
#include "logging/log.hpp"
#include "model/json_codec.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/sim/sim_world.hpp"
#include "script/script.hpp"
#include "storage/storage_manager.hpp"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <locale>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <unistd.h>

namespace chordwell::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSimulateHelp =
    "\n"
    "Runs the keyboard engine on a simulated computer and prints, one line per\n"
    "event, what reaches the focused application:\n"
    "  <ms> <keyDown|keyUp|flagsChanged> <key> keyCode=<code> flags=0x<hex>\n"
    "\n"
    "Options:\n"
    "  --mappings FILE       a mapping file to install for the run (repeatable)\n"
    "  --set KEY=VALUE       a preference for the run, e.g. key_repeat_enabled=false\n"
    "  --no-accessibility    the event tap cannot be created\n"
    "  --verbose             log lines on standard error\n"
    "  SCRIPT|-              the script (default: standard input)\n"
    "\n"
    "Script commands (one a line, # starts a comment, numbers decimal or 0x hex):\n"
    "  keyboard NAME [vendor=N] [product=N] [location=N] [name=\"Product Name\"]\n"
    "  remove NAME           unplug the keyboard\n"
    "  select NAME           select it in the main window (loads its mappings)\n"
    "  intercept             start or stop interception on the selected keyboard\n"
    "  down NAME USAGE       a key goes down (HID usage, e.g. 0x04 A, 0xE0 left Control)\n"
    "  up NAME USAGE         a key goes up\n"
    "  wait MS               let MS milliseconds pass (key repeat runs meanwhile)\n"
    "  list                  print the keyboards the engine found\n"
    "  status                print whether interception is on, and the selection\n"
    "  posting sync|async    posted events pass the taps at once (default), or on\n"
    "                        the next turn of the main queue, as on macOS\n"
    "  order hid-first|tap-first|random SEED\n"
    "                        for each key, whether its raw HID value (default) or\n"
    "                        its event-tap event arrives first; the value that\n"
    "                        comes second arrives at the end of the command's turn\n"
    "  set KEY=VALUE         change a preference, as --set does\n"
    "  map NAME USAGES OUTPUT\n"
    "                        add, or edit by name, a mapping of the selected keyboard's\n"
    "                        model: USAGES comma-separated (e.g. 0xE0,0x04) or -, OUTPUT\n"
    "                        none, copy, paste, search or key codes CODE[/FLAGS],...\n"
    "  unmap NAME            delete that mapping\n"
    "  clear                 delete every mapping of the selected keyboard's model\n"
    "  layout NAME           the keyboard layout the user types with: us (default),\n"
    "                        fr (AZERTY), de (QWERTZ), dvorak or ru. Copy, Paste and\n"
    "                        Search post the key that types their character on it\n"
    "                        (c, v, space; US keys where it has none, as on ru), and\n"
    "                        each <key> printed is what its keycap says there\n";

struct SimulateOptions {
    std::vector<std::string> mappingFiles;
    std::vector<std::pair<std::string, platform::PreferenceValue>> preferences;
    bool noAccessibility = false;
    bool verbose = false;
    bool help = false;
    std::string script = "-";
};

// Parses the arguments; false on a usage error (message already in `error`).
bool parseOptions(int argc, char** argv, SimulateOptions& options, std::string& error) {
    bool haveScript = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto needValue = [&](std::string_view flag) -> const char* {
            if (i + 1 >= argc) {
                error = std::string(flag) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--mappings") {
            const char* value = needValue(arg);
            if (value == nullptr) {
                return false;
            }
            options.mappingFiles.emplace_back(value);
        } else if (arg == "--set") {
            const char* value = needValue(arg);
            if (value == nullptr) {
                return false;
            }
            const std::string_view pair = value;
            const auto eq = pair.find('=');
            if (eq == std::string_view::npos || eq == 0) {
                error = "--set expects KEY=VALUE";
                return false;
            }
            options.preferences.emplace_back(std::string(pair.substr(0, eq)),
                                             script::parsePreferenceValue(pair.substr(eq + 1)));
        } else if (arg == "--no-accessibility") {
            options.noAccessibility = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg.size() > 1 && arg.front() == '-') {
            error = "unknown option " + std::string(arg);
            return false;
        } else if (haveScript) {
            error = "only one script may be given";
            return false;
        } else {
            options.script = std::string(arg);
            haveScript = true;
        }
    }
    return true;
}

// A private data folder for the run, removed when the run ends. Its name
// carries our process id, so that a later run can tell the folder of a run
// that was killed (kill -9 leaves it) and remove it.
class TemporaryFolder {
public:
    static constexpr std::string_view kPrefix = "chordwell-simulate-";

    TemporaryFolder() {
        std::error_code ec;
        fs::path base = fs::temp_directory_path(ec);
        if (ec) {
            base = "/tmp";
        }
        fileio::removeStaleProcessFolders(base, kPrefix);
        std::string pattern =
            (base / (std::string(kPrefix) + std::to_string(::getpid()) + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TemporaryFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
        }
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    bool ok() const { return !path_.empty(); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Installs a mapping file as the stored file of its keyboard model.
bool installMappingFile(const std::string& file, std::istream& in, const fs::path& mappingsFolder,
                        InputFailure& error) {
    std::string text;
    if (!readInput(file, in, text, error)) {
        error.message = file + ": " + error.message;
        return false;
    }
    const auto record = decodeDeviceMappingText(text);
    if (!record) {
        error = {file + ": " + record.error(), kExitFailure};
        return false;
    }
    std::error_code ec;
    fs::create_directories(mappingsFolder, ec);
    const fs::path target =
        mappingsFolder /
        StorageManager::fileName(record->vendorID, record->productID, record->productName);
    std::ofstream outFile(target, std::ios::binary | std::ios::trunc);
    outFile << text;
    outFile.close();
    if (!outFile) {
        error = {file + ": cannot copy into the data folder", kExitFailure};
        return false;
    }
    return true;
}

// Log lines never reach standard output; with --verbose they go to
// standard error.
void routeLogs(bool verbose) {
    logging::configure(verbose ? std::shared_ptr<platform::SystemLog>(
                                     std::make_shared<platform::StderrSystemLog>(LogLevel::debug))
                               : std::make_shared<platform::NullSystemLog>(),
                       std::nullopt);
}

// Copies the user's mapping files into the data folder; false, with the
// message written, when one cannot be copied.
bool installMappingFiles(const SimulateOptions& options, std::istream& in,
                         const fs::path& mappingsFolder, std::ostream& err, InputFailure& failure) {
    for (const std::string& file : options.mappingFiles) {
        if (!installMappingFile(file, in, mappingsFolder, failure)) {
            err << "chordwellctl simulate: " << terminalSafe(failure.message) << "\n";
            return false;
        }
    }
    return true;
}

std::shared_ptr<platform::sim::SimWorld> makeWorld(const SimulateOptions& options,
                                                   const fs::path& dataFolder) {
    auto world = std::make_shared<platform::sim::SimWorld>(dataFolder);
    for (const auto& [key, value] : options.preferences) {
        world->preferences().setValue(key, value);
    }
    world->setTapCreationFails(options.noAccessibility);
    return world;
}

// Reads the script piece by piece and runs its commands; the exit status.
int feedScript(const SimulateOptions& options, InputPieces& scriptInput,
               script::ScriptRunner& runner, std::ostream& out, std::ostream& err) {
    script::ScriptReader reader;
    const auto execute = [&](const script::ScriptCommand& command) {
        return runner.execute(command);
    };
    const bool interactive = options.script == "-";
    for (;;) {
        if (interactive) {
            // Whoever types into the pipe sees what each line did before
            // the next one is read.
            out.flush();
        }
        std::string_view piece;
        InputFailure failure;
        if (!scriptInput.next(piece, failure)) {
            out.flush();
            err << "chordwellctl simulate: " << terminalSafe(options.script) << ": "
                << terminalSafe(failure.message) << "\n";
            return failure.status;
        }
        const auto scriptError =
            piece.empty() ? reader.finish(execute) : reader.feed(piece, execute);
        if (scriptError) {
            out.flush();
            err << terminalSafe(scriptError->text()) << "\n";
            return kExitUsage;
        }
        if (piece.empty()) {
            return kExitOk;
        }
    }
}

int runScript(const SimulateOptions& options, InputPieces& scriptInput, const fs::path& dataFolder,
              std::ostream& out, std::ostream& err) {
    auto world = makeWorld(options, dataFolder);
    int status = kExitOk;
    {
        RawKeyboardListener engine(world);
        world->runMainQueue();
        script::ScriptRunner runner(
            *world, engine, [&out](const std::string& line) { out << terminalSafe(line) << "\n"; });
        // The data folder holds scratch copies: a run of adds is saved once.
        runner.setBatchedSaves(true);
        status = feedScript(options, scriptInput, runner, out, err);
    }
    out.flush();
    return status;
}

int runSimulate(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
    SimulateOptions options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        err << "chordwellctl simulate: " << error << "\n";
        printCommandUsage(*findCliCommand("simulate"), err);
        return kExitUsage;
    }
    if (options.help) {
        printCommandUsage(*findCliCommand("simulate"), out);
        out << kSimulateHelp;
        return kExitOk;
    }
    routeLogs(options.verbose);

    // The script is read and run line by line: its length costs time, not
    // memory.
    InputPieces scriptInput;
    InputFailure failure;
    if (!scriptInput.open(options.script, in, failure)) {
        err << "chordwellctl simulate: " << terminalSafe(options.script) << ": "
            << terminalSafe(failure.message) << "\n";
        return failure.status;
    }
    TemporaryFolder data;
    if (!data.ok()) {
        err << "chordwellctl simulate: cannot create a temporary data folder\n";
        return kExitFailure;
    }
    // The folder holds copies of the user's mapping files: it goes away
    // also when the run is interrupted or its reader goes away.
    const RemoveFolderOnSignal removeOnSignal(data.path());
    if (!installMappingFiles(options, in, data.path() / "Mappings", err, failure)) {
        return failure.status;
    }
    return runScript(options, scriptInput, data.path(), out, err);
}

} // namespace

extern const CliCommand simulateCommand;
const CliCommand simulateCommand{
    "simulate",
    "simulate [--mappings FILE]... [--set KEY=VALUE]... [--no-accessibility] [--verbose] "
    "[--help] [SCRIPT|-]",
    runSimulate, "try mappings on simulated keyboards, driven by a script"};

} // namespace chordwell::cli
