// Scripts for the simulated world: attach keyboards, select one, turn
// interception on, press keys, let time pass, and see what reaches the
// focused application.
//
// A script is parsed completely first, then its commands are executed one by
// one through ScriptRunner. Waiting is delegated, so that the same commands
// can run on the virtual clock (chordwellctl simulate, tests) or in real time
// (the app's simulate mode).
//
//   keyboard NAME [vendor=N] [product=N] [location=N] [name="Product Name"]
//   remove NAME | select NAME | intercept
//   down NAME USAGE | up NAME USAGE | wait MS | list | status
//   posting sync|async
//   order hid-first|tap-first|random SEED
//   set KEY=VALUE                      a preference (true/false, number, text)
//   map NAME USAGES OUTPUT             add or edit (by name) a mapping of the
//                                      selected keyboard's model; USAGES:
//                                      comma-separated or "-"; OUTPUT: none,
//                                      copy, paste, search, or key codes
//                                      CODE[/FLAGS],...
//   unmap NAME | clear                 delete one / every mapping of the model
//
// One command a line; "#" starts a comment; numbers are decimal or 0x hex.
#pragma once

#include "engine/raw_keyboard_listener.hpp"
#include "platform/sim/sim_world.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chordwell::script {

using platform::Scheduler;
using platform::sim::AppEvent;
using platform::sim::SimKeyboard;
using platform::sim::SimWorld;

struct ScriptCommand {
    enum class Kind {
        keyboard,
        remove,
        select,
        intercept,
        down,
        up,
        wait,
        list,
        status,
        posting,
        order,
        set,
        map,
        unmap,
        clear
    };

    Kind kind = Kind::list;
    int line = 0;
    std::string name; // the keyboard's script name
    // keyboard
    std::optional<std::int64_t> vendor;
    std::optional<std::int64_t> product;
    std::optional<std::int64_t> location;
    std::optional<std::string> productName;
    // down / up
    HidUsage usage = 0;
    // wait
    std::int64_t milliseconds = 0;
    // posting
    platform::sim::PostingMode posting = platform::sim::PostingMode::sync;
    // order
    platform::sim::DeliveryOrder order = platform::sim::DeliveryOrder::hidFirst;
    std::uint64_t seed = 0;
    // set
    std::string key;
    platform::PreferenceValue value;
    // map / unmap (`name` is the mapping's name)
    std::vector<HidUsage> usages;
    OutputBehavior output;
};

/// A preference value as the command line and `set` read it: true / false
/// are Booleans, a whole-text number is a number, anything else is text.
platform::PreferenceValue parsePreferenceValue(std::string_view text);

/// The command as a script line that parses back to it.
std::string formatCommand(const ScriptCommand& command);

struct ScriptError {
    int line = 0;
    std::string message;

    /// "line N: MESSAGE"
    std::string text() const;
};

struct ParsedScript {
    std::vector<ScriptCommand> commands;
    std::optional<ScriptError> error; // the first error; commands are then incomplete
};

ParsedScript parseScript(std::string_view text);

/// "<T> keyDown C keyCode=8 flags=0x100000": one event that reached the
/// application, `<T>` in whole milliseconds since `origin`.
std::string formatAppEvent(const AppEvent& event, Scheduler::Duration origin);

class ScriptRunner {
public:
    using OutputLine = std::function<void(const std::string& line)>;
    using Wait = std::function<void(std::chrono::milliseconds)>;

    /// Prints every event that reaches the focused application through
    /// `output` for as long as the runner exists. `wait` lets time pass
    /// (default: the world's virtual clock).
    ScriptRunner(SimWorld& world, RawKeyboardListener& engine, OutputLine output,
                 Wait wait = nullptr);
    ~ScriptRunner();
    ScriptRunner(const ScriptRunner&) = delete;
    ScriptRunner& operator=(const ScriptRunner&) = delete;

    /// Executes one command; an error (unknown keyboard, ...) changes nothing.
    std::optional<ScriptError> execute(const ScriptCommand& command);
    /// Executes the commands in order, stopping at the first error.
    std::optional<ScriptError> run(const std::vector<ScriptCommand>& commands);

    /// Milliseconds since the runner was made, on the world's clock.
    std::int64_t elapsedMilliseconds() const;

private:
    std::shared_ptr<SimKeyboard> keyboardNamed(const std::string& name) const;
    std::optional<ScriptError> changeMappings(const ScriptCommand& command);
    void followMainWindow();

    SimWorld& world_;
    RawKeyboardListener& engine_;
    OutputLine output_;
    Wait wait_;
    Scheduler::Duration origin_;
    std::map<std::string, std::shared_ptr<SimKeyboard>, std::less<>> keyboards_;
};

} // namespace chordwell::script
