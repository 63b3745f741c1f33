#include "walk_worlds.hpp"

#include "platform/sim/sim_world.hpp"

#ifdef CHORDWELL_WALK_MAC_MODEL
#include "mac_world.hpp"
#include "platform/macos/hid_manager.hpp"
#endif

#include <algorithm>
#include <map>

namespace chordwell::walk {

namespace {

using script::ScriptCommand;
using K = ScriptCommand::Kind;

// ------------------------------------------------------------- simulated

class SimulatedWorld final : public World {
public:
    explicit SimulatedWorld(const std::filesystem::path& storageFolder) {
        world_ = std::make_shared<platform::sim::SimWorld>();
        engine_ = std::make_unique<RawKeyboardListener>(
            world_, std::optional<std::filesystem::path>(storageFolder));
        world_->runMainQueue();
        runner_ =
            std::make_unique<script::ScriptRunner>(*world_, *engine_, [](const std::string&) {});
        runner_->setBatchedSaves(true); // as chordwellctl simulate runs
    }

    bool execute(const ScriptCommand& command) override {
        return !runner_->execute(command).has_value();
    }
    RawKeyboardListener& engine() override { return *engine_; }
    std::uint64_t postedEventCount() const override { return world_->postedEventCount(); }
    std::uint64_t appEventCount() const override { return world_->appEventCount(); }
    std::optional<std::vector<WorldEvent>> eventsSince(std::uint64_t count) const override {
        const std::uint64_t fresh = world_->appEventCount() - count;
        const auto& events = world_->appEvents();
        if (fresh > events.size()) {
            return std::nullopt;
        }
        std::vector<WorldEvent> result;
        for (auto it = events.end() - static_cast<std::ptrdiff_t>(fresh); it != events.end();
             ++it) {
            result.push_back(WorldEvent{it->type, it->keyCode, it->flags, it->synthetic});
        }
        return result;
    }
    std::size_t keysDownAtApplication() const override { return world_->keysDownAtApplication(); }
    bool isDownAtApplication(std::int64_t keyCode) const override {
        return world_->isDownAtApplication(keyCode);
    }
    std::size_t activeTapCount() const override { return world_->activeTapCount(); }
    bool hasUnsavedChanges() const override { return runner_->hasUnsavedChanges(); }
    std::optional<platform::KeyStroke> builtInShortcut(OutputBehavior::Kind kind) override {
        return world_->eventPoster().builtInShortcut(kind);
    }
    bool listensTo(std::int64_t location) const override {
        const auto& device = engine_->selectedDeviceIOHIDDevice();
        for (const auto& kb : world_->attachedKeyboards()) {
            if (kb->properties().locationID == location) {
                return device && device.get() == kb.get();
            }
        }
        return false;
    }
    bool isAttached(std::int64_t location) const override {
        const auto& keyboards = world_->attachedKeyboards();
        return std::any_of(keyboards.begin(), keyboards.end(),
                           [&](const auto& kb) { return kb->properties().locationID == location; });
    }
    platform::Scheduler::Duration now() const override { return world_->scheduler().now(); }

private:
    std::shared_ptr<platform::sim::SimWorld> world_;
    std::unique_ptr<RawKeyboardListener> engine_;
    std::unique_ptr<script::ScriptRunner> runner_;
};

#ifdef CHORDWELL_WALK_MAC_MODEL
// ------------------------------------------------------ macOS on the model

class MacModelWorld final : public World {
public:
    explicit MacModelWorld(const std::filesystem::path& storageFolder)
        : world_(testing::MacWorld::Options{false, storageFolder}) {}

    bool execute(const ScriptCommand& command) override {
        const bool done = run(command);
        // The main window forgets a selected keyboard that has gone away,
        // unless the engine waits for it to come back.
        auto& engine = world_.engine();
        if (const auto& selected = engine.selectedDevice(); selected && !engine.awaitedKeyboard()) {
            const auto& listed = engine.discoveredKeyboards();
            if (std::none_of(listed.begin(), listed.end(),
                             [&](const KeyboardDevice& k) { return k.id == selected->id; })) {
                if (engine.isIntercepting()) {
                    engine.stopIntercepting();
                }
                engine.setSelectedDevice(std::nullopt);
            }
        }
        world_.settle();
        return done;
    }
    RawKeyboardListener& engine() override { return world_.engine(); }
    std::uint64_t postedEventCount() const override { return system().statistics().eventsPosted; }
    std::uint64_t appEventCount() const override { return system().appEvents().size(); }
    std::optional<std::vector<WorldEvent>> eventsSince(std::uint64_t count) const override {
        const auto& events = system().appEvents();
        std::vector<WorldEvent> result;
        for (std::size_t i = static_cast<std::size_t>(count); i < events.size(); ++i) {
            const auto type = static_cast<platform::EventType>(events[i].type);
            result.push_back(
                WorldEvent{type, events[i].keyCode, events[i].flags, events[i].posted});
        }
        return result;
    }
    std::size_t keysDownAtApplication() const override { return system().keysDownAtApplication(); }
    bool isDownAtApplication(std::int64_t keyCode) const override {
        return system().isDownAtApplication(keyCode);
    }
    std::size_t activeTapCount() const override { return system().activeTapCount(); }
    bool hasUnsavedChanges() const override { return false; } // every change is saved at once
    std::optional<platform::KeyStroke> builtInShortcut(OutputBehavior::Kind kind) override {
        return world_.platform().eventPoster().builtInShortcut(kind);
    }
    bool isAttached(std::int64_t location) const override {
        return std::any_of(keyboards_.begin(), keyboards_.end(),
                           [&](const auto& entry) { return entry.second.location == location; });
    }
    bool listensTo(std::int64_t location) const override {
        const auto* device = dynamic_cast<const platform::mac::MacHidDevice*>(
            world_.engine().selectedDeviceIOHIDDevice().get());
        for (const auto& [name, keyboard] : keyboards_) {
            if (keyboard.location == location) {
                return device != nullptr && device->nativeDevice() == system().device(keyboard.id);
            }
        }
        return false;
    }
    platform::Scheduler::Duration now() const override { return system().now(); }

private:
    struct Keyboard {
        applemodel::KeyboardId id = 0;
        std::optional<std::int64_t> location;
    };

    const applemodel::System& system() const { return world_.system(); }

    std::optional<KeyboardDevice> listed(const std::string& name) {
        auto it = keyboards_.find(name);
        return it == keyboards_.end() ? std::nullopt : world_.listed(it->second.id);
    }

    bool run(const ScriptCommand& command) {
        auto& engine = world_.engine();
        switch (command.kind) {
        case K::keyboard:
            if (keyboards_.count(command.name) > 0) {
                return false;
            }
            keyboards_[command.name] = Keyboard{world_.attach({command.productName, command.vendor,
                                                               command.product, command.location}),
                                                command.location};
            return true;
        case K::remove: {
            auto it = keyboards_.find(command.name);
            if (it == keyboards_.end()) {
                return false;
            }
            world_.detach(it->second.id);
            keyboards_.erase(it);
            return true;
        }
        case K::select: {
            const auto device = listed(command.name);
            if (!device) {
                return false;
            }
            engine.setSelectedDevice(*device);
            engine.loadMappings(*device);
            return true;
        }
        case K::intercept:
            toggleInterception(engine);
            return true;
        case K::down:
        case K::up: {
            auto it = keyboards_.find(command.name);
            if (it == keyboards_.end()) {
                return false;
            }
            world_.key(it->second.id, command.usage, command.kind == K::down);
            return true;
        }
        case K::wait:
            world_.wait(std::chrono::milliseconds(command.milliseconds));
            return true;
        case K::posting:
            return true; // posted events always come back on a later turn here
        case K::order:
            switch (command.order) {
            case platform::sim::DeliveryOrder::hidFirst:
                world_.system().setDelivery(applemodel::DeliveryPlan{true, 0, {}});
                break;
            case platform::sim::DeliveryOrder::tapFirst:
                world_.system().setDelivery(applemodel::DeliveryPlan{false, 0, {}});
                break;
            case platform::sim::DeliveryOrder::random:
                world_.system().setRandomDelivery(
                    applemodel::RandomDelivery{command.seed, 3, std::chrono::milliseconds(30)});
                break;
            }
            return true;
        case K::set:
            world_.platform().preferences().setValue(command.key, command.value);
            return true;
        case K::map:
        case K::unmap:
        case K::clear:
            return changeMappings(command);
        case K::list:
        case K::status:
            return true;
        case K::layout:
            return false; // no input sources on the model: the layout stays US
        }
        return false;
    }

    // What the mapping editor does (as the script runner does it).
    bool changeMappings(const ScriptCommand& command) {
        auto& engine = world_.engine();
        if (!engine.selectedDevice()) {
            return false;
        }
        const KeyboardDevice keyboard = *engine.selectedDevice();
        // Between the two halves of an earlier edit the record shows no
        // mappings: the editor reads it only after.
        engine.finishPendingEdits();
        const DeviceMapping* record = nullptr;
        for (const DeviceMapping& r : engine.allDeviceMappings()) {
            if (r.productID == keyboard.productID && r.vendorID == keyboard.vendorID) {
                record = &r;
                break;
            }
        }
        const KeyMapping* existing = nullptr;
        if (record != nullptr) {
            for (const KeyMapping& m : record->mappings) {
                if (m.name == command.name) {
                    existing = &m;
                    break;
                }
            }
        }
        if (command.kind == K::clear) {
            if (record != nullptr) {
                const Uuid recordId = record->id;
                engine.clearAllMappings(keyboard, recordId);
            }
            return true;
        }
        if (command.kind == K::unmap) {
            if (existing == nullptr) {
                return false;
            }
            const Uuid recordId = record->id;
            const KeyMapping gone = *existing;
            engine.deleteMapping(keyboard, recordId, gone);
            return true;
        }
        KeyMapping mapping;
        mapping.name = command.name;
        mapping.inputKeyCodes = command.usages;
        mapping.outputBehavior = command.output;
        if (existing != nullptr) {
            mapping.id = existing->id;
            DeviceMapping templ; // the model's identifiers, not its mappings
            templ.productName = record->productName;
            templ.productID = record->productID;
            templ.vendorID = record->vendorID;
            engine.editMapping(keyboard, templ, mapping);
            return true;
        }
        engine.mutateAllDeviceMappings([&](std::vector<DeviceMapping>& records) {
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
        engine.saveMappings(keyboard);
        return true;
    }

    testing::MacWorld world_;
    std::map<std::string, Keyboard> keyboards_;
};
#endif

} // namespace

std::unique_ptr<World> makeWorld(WalkWorld kind, const std::filesystem::path& storageFolder) {
#ifdef CHORDWELL_WALK_MAC_MODEL
    if (kind == WalkWorld::macModel) {
        return std::make_unique<MacModelWorld>(storageFolder);
    }
#else
    (void)kind; // the frameworks themselves are here: no model of them
#endif
    return std::make_unique<SimulatedWorld>(storageFolder);
}

} // namespace chordwell::walk
