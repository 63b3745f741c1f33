// The runner of simulate scripts: executes parsed commands against the
// simulated world and the engine, printing what reaches the application.
#include "script/script.hpp"
#include "script/script_detail.hpp"

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

ScriptRunner::ScriptRunner(SimWorld& world, RawKeyboardListener& engine, OutputLine output,
                           Wait wait)
    : world_(world), engine_(engine), output_(std::move(output)), wait_(std::move(wait)),
      origin_(world.scheduler().now()) {
    world_.setAppEventSink([this](const AppEvent& event) {
        if (output_) {
            output_(formatAppEvent(event, origin_));
        }
    });
}

ScriptRunner::~ScriptRunner() {
    world_.setAppEventSink(nullptr);
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
    using K = ScriptCommand::Kind;
    auto fail = [&](std::string message) {
        return std::optional<ScriptError>(ScriptError{command.line, std::move(message)});
    };

    std::shared_ptr<SimKeyboard> keyboard;
    if (command.kind == K::remove || command.kind == K::select || command.kind == K::down ||
        command.kind == K::up) {
        keyboard = keyboardNamed(command.name);
        if (!keyboard) {
            return fail("unknown keyboard " + quote(command.name));
        }
    }

    switch (command.kind) {
    case K::keyboard: {
        if (keyboardNamed(command.name)) {
            return fail("keyboard " + quote(command.name) + " already exists");
        }
        SimKeyboardProperties properties;
        properties.product = command.productName;
        properties.vendorID = command.vendor;
        properties.productID = command.product;
        properties.locationID = command.location;
        keyboards_[command.name] = world_.attachKeyboard(std::move(properties));
        break;
    }
    case K::remove:
        keyboards_.erase(command.name);
        world_.detachKeyboard(keyboard);
        break;
    case K::select: {
        const auto& listed = engine_.discoveredKeyboards();
        auto it = std::find_if(listed.begin(), listed.end(), [&](const KeyboardDevice& k) {
            return platform::sameDevice(k.deviceRef, keyboard);
        });
        if (it == listed.end()) {
            return fail("keyboard " + quote(command.name) + " is not listed");
        }
        const KeyboardDevice device = *it;
        engine_.setSelectedDevice(device);
        engine_.loadMappings(device);
        break;
    }
    case K::intercept:
        toggleInterception(engine_);
        break;
    case K::posting:
        world_.setPostingMode(command.posting);
        break;
    case K::set:
        world_.preferences().setValue(command.key, command.value);
        break;
    case K::map:
    case K::unmap:
    case K::clear:
        if (auto error = changeMappings(command)) {
            return error;
        }
        break;
    case K::order:
        world_.setDeliveryOrder(command.order, command.seed);
        break;
    case K::down:
        world_.keyDown(*keyboard, command.usage);
        break;
    case K::up:
        world_.keyUp(*keyboard, command.usage);
        break;
    case K::wait:
        if (wait_) {
            wait_(std::chrono::milliseconds(command.milliseconds));
        } else {
            world_.advance(clockDuration(command.milliseconds));
        }
        break;
    case K::list: {
        const std::string time = std::to_string(elapsedMilliseconds());
        for (const KeyboardDevice& k : engine_.discoveredKeyboards()) {
            output_(time + " keyboard " + quote(k.productName) + " vendor=" +
                    std::to_string(k.vendorID) + " product=" + std::to_string(k.productID));
        }
        break;
    }
    case K::status: {
        const auto& selected = engine_.selectedDevice();
        output_(std::to_string(elapsedMilliseconds()) +
                " status intercepting=" + (engine_.isIntercepting() ? "true" : "false") +
                " selected=" + (selected ? quote(selected->productName) : std::string("none")));
        break;
    }
    }
    world_.runMainQueue();
    followMainWindow();
    world_.runMainQueue();
    return std::nullopt;
}

std::optional<ScriptError> ScriptRunner::changeMappings(const ScriptCommand& command) {
    using K = ScriptCommand::Kind;
    auto fail = [&](std::string message) {
        return std::optional<ScriptError>(ScriptError{command.line, std::move(message)});
    };
    if (!engine_.selectedDevice()) {
        return fail("no keyboard selected");
    }
    const KeyboardDevice keyboard = *engine_.selectedDevice();
    // The record is read to decide between adding and editing: it must not
    // be read between the two halves of an earlier edit, when it shows no
    // mappings.
    engine_.finishPendingEdits();
    auto findRecord = [&]() -> const DeviceMapping* {
        for (const DeviceMapping& r : engine_.allDeviceMappings()) {
            if (r.productID == keyboard.productID && r.vendorID == keyboard.vendorID) {
                return &r;
            }
        }
        return nullptr;
    };
    const DeviceMapping* record = findRecord();
    const KeyMapping* existing = nullptr;
    if (record != nullptr) {
        for (const KeyMapping& m : record->mappings) {
            if (m.name == command.name) {
                existing = &m;
                break;
            }
        }
    }
    switch (command.kind) {
    case K::map: {
        KeyMapping mapping;
        mapping.name = command.name;
        mapping.inputKeyCodes = command.usages;
        mapping.outputBehavior = command.output;
        if (existing != nullptr) {
            // What the editor does when the user changes a mapping.
            mapping.id = existing->id;
            const DeviceMapping templ = *record;
            engine_.editMapping(keyboard, templ, mapping);
            break;
        }
        // What the editor does for a new mapping: append (to a new record
        // when the model has none) and save.
        engine_.mutateAllDeviceMappings([&](std::vector<DeviceMapping>& records) {
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
        engine_.saveMappings(keyboard);
        break;
    }
    case K::unmap: {
        if (existing == nullptr) {
            return fail("unknown mapping " + quote(command.name));
        }
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

std::optional<ScriptError> ScriptRunner::run(const std::vector<ScriptCommand>& commands) {
    for (const ScriptCommand& command : commands) {
        if (auto error = execute(command)) {
            return error;
        }
    }
    return std::nullopt;
}

} // namespace chordwell::script
