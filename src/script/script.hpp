// Scripts for the simulated world: attach keyboards, select one, turn
// interception on, press keys, let time pass, and see what reaches the
// focused application.
//
// A script is read line by line (ScriptReader): each line becomes a command
// as soon as it is whole, and ScriptRunner executes the commands one by one,
// so a script of any length runs in the same memory. parseScript() reads a
// whole text at once for callers that want the list. Waiting is delegated,
// so that the same commands can run on the virtual clock (chordwellctl
// simulate, tests) or in real time (the app's simulate mode).
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
//   layout NAME                        the keyboard layout the user types with
//                                      (us, fr, de, dvorak, ru): what built-in
//                                      outputs resolve to, and how the
//                                      application reads and labels keys
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
#include <unordered_map>
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
        clear,
        layout
    };

    Kind kind = Kind::list;
    int line = 0;
    std::string name; // the keyboard's script name (layout: the layout's)
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

/// Reads a script piece by piece. Lines are parsed as soon as they are
/// whole, so that memory does not grow with the script: only the line being
/// read is kept.
class ScriptReader {
public:
    /// A script line is one short command; a longer line is refused without
    /// being kept (or quoted).
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    /// Receives each command; an error it returns stops the reading.
    using OnCommand = std::function<std::optional<ScriptError>(const ScriptCommand&)>;

    /// Parses the lines `bytes` completes (with what earlier pieces left)
    /// and hands their commands to `onCommand`, in order. Returns the first
    /// error, the reader's own or `onCommand`'s; nothing more is read then.
    std::optional<ScriptError> feed(std::string_view bytes, const OnCommand& onCommand);
    /// The end of the script: a last line without a newline is parsed too.
    std::optional<ScriptError> finish(const OnCommand& onCommand);
    /// Lines read so far.
    int lineCount() const { return lineNumber_; }

private:
    std::optional<ScriptError> line(std::string_view text, const OnCommand& onCommand);

    std::string partial_;
    int lineNumber_ = 0;
    std::optional<ScriptError> failed_;
    std::vector<std::string> tokens_;
};

/// The whole of `text` as a list of commands (ScriptReader, collected).
ParsedScript parseScript(std::string_view text);

/// "<T> keyDown C keyCode=8 flags=0x100000": one event that reached the
/// application, `<T>` in whole milliseconds since `origin`; the key is named
/// as its keycap on `layout` reads.
std::string formatAppEvent(const AppEvent& event, Scheduler::Duration origin,
                           const KeyLayout& layout = usLayout());

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

    /// On the virtual clock, one `wait` stops with an error once more events
    /// than this reached the application: a held key that repeats would
    /// otherwise print without end during a very long wait.
    static constexpr std::uint64_t kMaxEventsPerWait = 100'000;

    /// Executes one command; an error (unknown keyboard, ...) changes nothing.
    std::optional<ScriptError> execute(const ScriptCommand& command);
    /// Executes the commands in order, stopping at the first error.
    std::optional<ScriptError> run(const std::vector<ScriptCommand>& commands);

    /// Milliseconds since the runner was made, on the world's clock.
    std::int64_t elapsedMilliseconds() const;

    /// With batched saves, a run of `map` commands that add is saved once,
    /// when the next other command runs or the runner ends (saveChanges), so
    /// that each one costs the mapping it adds and not a write of the whole
    /// record. Off by default: every change is saved at once, as the editor
    /// does. For runs whose files are scratch copies (chordwellctl simulate).
    void setBatchedSaves(bool on) { batchedSaves_ = on; }
    /// Whether mappings the script added are not saved yet.
    bool hasUnsavedChanges() const { return unsaved_.has_value(); }
    /// Saves what hasUnsavedChanges() says is waiting.
    void saveChanges();

private:
    std::shared_ptr<SimKeyboard> keyboardNamed(const std::string& name) const;
    // The steps of execute().
    std::optional<ScriptError> dispatch(const ScriptCommand& command,
                                        const std::shared_ptr<SimKeyboard>& keyboard);
    std::optional<ScriptError> attachKeyboard(const ScriptCommand& command);
    std::optional<ScriptError> selectKeyboard(const ScriptCommand& command,
                                              const std::shared_ptr<SimKeyboard>& keyboard);
    void changeWorld(const ScriptCommand& command);
    void report(const ScriptCommand& command);
    // map, unmap and clear, and their steps.
    std::optional<ScriptError> changeMappings(const ScriptCommand& command);
    const DeviceMapping* settledRecordOf(const KeyboardDevice& keyboard,
                                         const KeyboardModelId& model);
    void learnNames(const KeyboardModelId& model, const DeviceMapping* record);
    const KeyMapping* mappingNamed(const std::string& name, const DeviceMapping* record) const;
    void editMapping(const ScriptCommand& command, const KeyboardDevice& keyboard,
                     const DeviceMapping& record, const KeyMapping& existing);
    void addMapping(const ScriptCommand& command, const KeyboardDevice& keyboard,
                    const KeyboardModelId& model);
    std::optional<ScriptError> waitOnVirtualClock(const ScriptCommand& command);
    void followMainWindow();

    SimWorld& world_;
    RawKeyboardListener& engine_;
    OutputLine output_;
    Wait wait_;
    Scheduler::Duration origin_;
    std::map<std::string, std::shared_ptr<SimKeyboard>, std::less<>> keyboards_;
    // The keyboard whose record holds added mappings not saved yet.
    std::optional<KeyboardDevice> unsaved_;
    // Mapping names of one model's record and their ids (the first mapping
    // of each name), kept while only this runner's adds change the record:
    // deciding between add and edit must not walk a record of thousands.
    std::optional<KeyboardModelId> namedModel_;
    std::unordered_map<std::string, Uuid> namedIds_;
    bool addingMapping_ = false;
    bool batchedSaves_ = false;
    Subscription recordsWatch_;
};

} // namespace chordwell::script
