// The runner of simulate scripts: executes parsed commands against the
// simulated world and the engine, printing what reaches the application.
#include "script/script.hpp"
#include "script/script_detail.hpp"

#include "model/display_text.hpp"
#include "platform/sim/virtual_scheduler.hpp"

#include <algorithm>

namespace chordwell::script {

using detail::clockDuration;
using detail::quote;
using detail::wholeMilliseconds;
using platform::EventType;
using platform::Scheduler;
using platform::sim::AppEvent;
using platform::sim::SimKeyboard;
using platform::sim::SimKeyboardProperties;
using platform::sim::SimWorld;

namespace {

std::optional<ScriptError> errorAt(const ScriptCommand& command, std::string message) {
    return ScriptError{command.line, std::move(message)};
}

bool namesKeyboard(ScriptCommand::Kind kind) {
    using K = ScriptCommand::Kind;
    return kind == K::remove || kind == K::select || kind == K::down || kind == K::up;
}

} // namespace

ScriptRunner::ScriptRunner(SimWorld& world, RawKeyboardListener& engine, OutputLine output,
                           Wait wait)
    : world_(world), engine_(engine), output_(std::move(output)), wait_(std::move(wait)),
      origin_(world.scheduler().now()) {
    world_.setAppEventSink([this](const AppEvent& event) {
        if (output_) {
            output_(formatAppEvent(event, origin_, *world_.layout().activeLayout()));
        }
    });
    // Any change of the records but our own adds may rename, add or remove
    // mappings behind the name index.
    recordsWatch_ = engine_.subscribeChanges([this](const EngineChanges& changes) {
        if (!addingMapping_ && changes.contains(EngineChange::records)) {
            namedModel_.reset();
        }
    });
}

ScriptRunner::~ScriptRunner() {
    saveChanges();
    world_.setAppEventSink(nullptr);
}

void ScriptRunner::saveChanges() {
    if (unsaved_) {
        const KeyboardDevice keyboard = std::move(*unsaved_);
        unsaved_.reset();
        engine_.saveMappings(keyboard);
    }
}

std::int64_t ScriptRunner::elapsedMilliseconds() const {
    return wholeMilliseconds(world_.scheduler().now() - origin_);
}

std::shared_ptr<SimKeyboard> ScriptRunner::keyboardNamed(const std::string& name) const {
    auto it = keyboards_.find(name);
    return it == keyboards_.end() ? nullptr : it->second;
}

void ScriptRunner::followMainWindow() {
    // The main window forgets a selected keyboard that has gone away,
    // unless the engine waits for it to come back.
    const auto& selected = engine_.selectedDevice();
    if (!selected || engine_.awaitedKeyboard()) {
        return;
    }
    const auto& listed = engine_.discoveredKeyboards();
    const bool present = std::any_of(listed.begin(), listed.end(),
                                     [&](const KeyboardDevice& k) { return k.id == selected->id; });
    if (!present) {
        if (engine_.isIntercepting()) {
            engine_.stopIntercepting();
        }
        engine_.setSelectedDevice(std::nullopt);
    }
}

std::optional<ScriptError> ScriptRunner::execute(const ScriptCommand& command) {
    if (command.kind != ScriptCommand::Kind::map) {
        // Only a run of adds waits for its save; anything else may read the
        // file (select) or end the run.
        saveChanges();
    }
    std::shared_ptr<SimKeyboard> keyboard;
    if (namesKeyboard(command.kind)) {
        keyboard = keyboardNamed(command.name);
        if (!keyboard) {
            return errorAt(command, "unknown keyboard " + quote(command.name));
        }
    }
    if (auto error = dispatch(command, keyboard)) {
        return error;
    }
    world_.runMainQueue();
    followMainWindow();
    world_.runMainQueue();
    return std::nullopt;
}

std::optional<ScriptError> ScriptRunner::dispatch(const ScriptCommand& command,
                                                  const std::shared_ptr<SimKeyboard>& keyboard) {
    using K = ScriptCommand::Kind;
    switch (command.kind) {
    case K::keyboard:
        return attachKeyboard(command);
    case K::remove:
        keyboards_.erase(command.name);
        world_.detachKeyboard(keyboard);
        break;
    case K::select:
        return selectKeyboard(command, keyboard);
    case K::intercept:
        toggleInterception(engine_);
        break;
    case K::posting:
    case K::set:
    case K::order:
    case K::layout:
        changeWorld(command);
        break;
    case K::map:
    case K::unmap:
    case K::clear:
        return changeMappings(command);
    case K::down:
        world_.keyDown(*keyboard, command.usage);
        break;
    case K::up:
        world_.keyUp(*keyboard, command.usage);
        break;
    case K::wait:
        if (!wait_) {
            return waitOnVirtualClock(command);
        }
        wait_(std::chrono::milliseconds(command.milliseconds));
        break;
    case K::list:
    case K::status:
        report(command);
        break;
    }
    return std::nullopt;
}

std::optional<ScriptError> ScriptRunner::attachKeyboard(const ScriptCommand& command) {
    if (keyboardNamed(command.name)) {
        return errorAt(command, "keyboard " + quote(command.name) + " already exists");
    }
    SimKeyboardProperties properties;
    properties.product = command.productName;
    properties.vendorID = command.vendor;
    properties.productID = command.product;
    properties.locationID = command.location;
    keyboards_[command.name] = world_.attachKeyboard(std::move(properties));
    return std::nullopt;
}

std::optional<ScriptError>
ScriptRunner::selectKeyboard(const ScriptCommand& command,
                             const std::shared_ptr<SimKeyboard>& keyboard) {
    const auto& listed = engine_.discoveredKeyboards();
    auto it = std::find_if(listed.begin(), listed.end(), [&](const KeyboardDevice& k) {
        return platform::sameDevice(k.deviceRef, keyboard);
    });
    if (it == listed.end()) {
        return errorAt(command, "keyboard " + quote(command.name) + " is not listed");
    }
    const KeyboardDevice device = *it;
    engine_.setSelectedDevice(device);
    engine_.loadMappings(device);
    return std::nullopt;
}

// posting, set, order and layout: the world's settings.
void ScriptRunner::changeWorld(const ScriptCommand& command) {
    using K = ScriptCommand::Kind;
    if (command.kind == K::posting) {
        world_.setPostingMode(command.posting);
    } else if (command.kind == K::set) {
        world_.preferences().setValue(command.key, command.value);
    } else if (command.kind == K::order) {
        world_.setDeliveryOrder(command.order, command.seed);
    } else if (command.kind == K::layout) {
        world_.layout().select(command.name);
    }
}

// list and status: what the main window would show.
void ScriptRunner::report(const ScriptCommand& command) {
    const std::string time = std::to_string(elapsedMilliseconds());
    if (command.kind == ScriptCommand::Kind::list) {
        for (const KeyboardDevice& k : engine_.discoveredKeyboards()) {
            output_(time + " keyboard " + quotedForTerminal(k.productName) + " vendor=" +
                    std::to_string(k.vendorID) + " product=" + std::to_string(k.productID));
        }
        return;
    }
    const auto& selected = engine_.selectedDevice();
    output_(
        time + " status intercepting=" + (engine_.isIntercepting() ? "true" : "false") +
        " selected=" + (selected ? quotedForTerminal(selected->productName) : std::string("none")));
}

std::optional<ScriptError> ScriptRunner::changeMappings(const ScriptCommand& command) {
    using K = ScriptCommand::Kind;
    if (!engine_.selectedDevice()) {
        return errorAt(command, "no keyboard selected");
    }
    const KeyboardDevice keyboard = *engine_.selectedDevice();
    const KeyboardModelId model{keyboard.productID, keyboard.vendorID};
    const DeviceMapping* record = settledRecordOf(keyboard, model);
    const KeyMapping* existing = mappingNamed(command.name, record);
    switch (command.kind) {
    case K::map:
        if (existing != nullptr) {
            editMapping(command, keyboard, *record, *existing);
        } else {
            addMapping(command, keyboard, model);
        }
        break;
    case K::unmap: {
        if (existing == nullptr) {
            return errorAt(command, "unknown mapping " + quote(command.name));
        }
        // Copies: the engine changes the record they come from.
        const Uuid recordId = record->id;
        const KeyMapping gone = *existing;
        engine_.deleteMapping(keyboard, recordId, gone);
        break;
    }
    case K::clear:
        if (record != nullptr) {
            const Uuid recordId = record->id;
            engine_.clearAllMappings(keyboard, recordId);
        }
        break;
    default:
        break;
    }
    return std::nullopt;
}

// The keyboard's record once earlier changes have settled, with the index
// of its names up to date.
const DeviceMapping* ScriptRunner::settledRecordOf(const KeyboardDevice& keyboard,
                                                   const KeyboardModelId& model) {
    if (unsaved_ && !(KeyboardModelId{unsaved_->productID, unsaved_->vendorID} == model)) {
        saveChanges();
    }
    // The record is read to decide between adding and editing: it must not
    // be read between the two halves of an earlier edit, when it shows no
    // mappings.
    engine_.finishPendingEdits();
    const DeviceMapping* record = nullptr;
    for (const DeviceMapping& r : engine_.allDeviceMappings()) {
        if (r.productID == keyboard.productID && r.vendorID == keyboard.vendorID) {
            record = &r;
            break;
        }
    }
    learnNames(model, record);
    return record;
}

// Indexes the names of the model's record, unless the index is still true.
void ScriptRunner::learnNames(const KeyboardModelId& model, const DeviceMapping* record) {
    if (namedModel_ && *namedModel_ == model) {
        return;
    }
    namedIds_.clear();
    if (record != nullptr) {
        for (const KeyMapping& m : record->mappings) {
            namedIds_.emplace(m.name, m.id); // the first of a name wins
        }
    }
    namedModel_ = model;
}

// The mapping of that name, looked up by its id.
const KeyMapping* ScriptRunner::mappingNamed(const std::string& name,
                                             const DeviceMapping* record) const {
    const auto named = namedIds_.find(name);
    if (named == namedIds_.end() || record == nullptr) {
        return nullptr;
    }
    for (const KeyMapping& m : record->mappings) {
        if (m.id == named->second) {
            return &m;
        }
    }
    return nullptr;
}

// What the editor does when the user changes a mapping.
void ScriptRunner::editMapping(const ScriptCommand& command, const KeyboardDevice& keyboard,
                               const DeviceMapping& record, const KeyMapping& existing) {
    KeyMapping mapping;
    mapping.name = command.name;
    mapping.inputKeyCodes = command.usages;
    mapping.outputBehavior = command.output;
    saveChanges();
    mapping.id = existing.id;
    DeviceMapping templ; // the model's identifiers, not its mappings
    templ.productName = record.productName;
    templ.productID = record.productID;
    templ.vendorID = record.vendorID;
    engine_.editMapping(keyboard, templ, mapping);
}

// What the editor does for a new mapping: append (to a new record when the
// model has none), then save; the save waits while more adds follow.
void ScriptRunner::addMapping(const ScriptCommand& command, const KeyboardDevice& keyboard,
                              const KeyboardModelId& model) {
    KeyMapping mapping;
    mapping.name = command.name;
    mapping.inputKeyCodes = command.usages;
    mapping.outputBehavior = command.output;
    const Uuid id = mapping.id;
    addingMapping_ = true;
    engine_.mutateRecordsOfModel(model, [&](std::vector<DeviceMapping>& records) {
        for (DeviceMapping& r : records) {
            if (r.productID == keyboard.productID && r.vendorID == keyboard.vendorID) {
                r.mappings.push_back(std::move(mapping));
                return;
            }
        }
        DeviceMapping created;
        created.productName = keyboard.productName;
        created.productID = keyboard.productID;
        created.vendorID = keyboard.vendorID;
        created.mappings.push_back(std::move(mapping));
        records.push_back(std::move(created));
    });
    addingMapping_ = false;
    namedIds_.emplace(command.name, id);
    unsaved_ = keyboard;
    if (!batchedSaves_) {
        saveChanges();
    }
}

std::optional<ScriptError> ScriptRunner::waitOnVirtualClock(const ScriptCommand& command) {
    platform::sim::VirtualScheduler* clock = world_.virtualScheduler();
    if (clock == nullptr) {
        world_.advance(clockDuration(command.milliseconds));
        return std::nullopt;
    }
    world_.deliverQueuedInput();
    const Scheduler::Duration delta = clockDuration(command.milliseconds);
    const Scheduler::Duration now = clock->now();
    const Scheduler::Duration end =
        now > Scheduler::Duration::max() - delta ? Scheduler::Duration::max() : now + delta;
    // Timer by timer, so that a key held with repeat over a wait of years
    // is stopped after a bounded number of events instead of printing for
    // ever.
    const std::uint64_t before = world_.appEventCount();
    for (;;) {
        const auto next = clock->nextDue();
        if (!next || *next > end) {
            clock->advanceTo(end);
            return std::nullopt;
        }
        clock->advanceTo(*next);
        if (world_.appEventCount() - before > kMaxEventsPerWait) {
            return ScriptError{command.line,
                               "wait " + std::to_string(command.milliseconds) + ": more than " +
                                   std::to_string(kMaxEventsPerWait) +
                                   " events reached the application (a held key repeating?); "
                                   "stopped at " +
                                   std::to_string(elapsedMilliseconds()) + " ms"};
        }
    }
}

std::optional<ScriptError> ScriptRunner::run(const std::vector<ScriptCommand>& commands) {
    for (const ScriptCommand& command : commands) {
        if (auto error = execute(command)) {
            return error;
        }
    }
    saveChanges();
    return std::nullopt;
}

} // namespace chordwell::script
