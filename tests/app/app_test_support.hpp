// A simulated world with an engine and the main window's model on top of
// it, on the virtual clock; mapping files go to a temporary folder.
#pragma once

#include "app/mappings/keyboard_mapping_model.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "model/json_codec.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/sim/sim_world.hpp"

#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace chordwell::app::testing {

class ModelWorld {
public:
    /// `withStorage` false: the mappings folder cannot be created.
    /// `conventions`: whose desktop the windows follow (this one's unless a
    /// test compares both).
    explicit ModelWorld(std::vector<ShortcutGroup> catalog = {}, bool withStorage = true,
                        Conventions conventions = thisDesktop()) {
        logging::configure(systemLog, std::nullopt);
        world = std::make_shared<platform::sim::SimWorld>(root() / "support");
        if (!withStorage) {
            std::ofstream(root() / "blocker") << "a file where a folder should be";
        }
        engine = std::make_unique<RawKeyboardListener>(
            world, withStorage ? mappingsFolder() : root() / "blocker" / "Mappings");
        model = std::make_unique<KeyboardMappingModel>(
            *engine, preferences, std::move(catalog),
            [this](const std::string& text) { breadcrumbs.push_back(text); }, conventions);
    }
    ~ModelWorld() {
        model.reset();
        engine.reset();
        logging::configure(nullptr, std::nullopt);
    }

    std::filesystem::path root() const { return dir.path().toStdString(); }
    std::filesystem::path mappingsFolder() const { return root() / "Mappings"; }

    std::shared_ptr<platform::sim::SimKeyboard> attach(const std::string& name, std::int64_t vendor,
                                                       std::int64_t product,
                                                       std::int64_t location) {
        platform::sim::SimKeyboardProperties properties;
        properties.product = name;
        properties.vendorID = vendor;
        properties.productID = product;
        properties.locationID = location;
        auto keyboard = world->attachKeyboard(properties);
        settle();
        return keyboard;
    }

    /// The listed keyboard with that location's device.
    KeyboardDevice device(const std::shared_ptr<platform::sim::SimKeyboard>& keyboard) const {
        for (const KeyboardDevice& k : engine->discoveredKeyboards()) {
            if (k.deviceRef.get() == keyboard.get()) {
                return k;
            }
        }
        return {};
    }

    /// What the event loop does between two user actions: queued work runs
    /// and the view reacts to the engine's changes.
    void settle() {
        world->runMainQueue();
        model->syncWithEngine();
    }

    void advance(std::chrono::milliseconds ms) {
        world->advance(ms);
        model->syncWithEngine();
    }

    void press(const std::shared_ptr<platform::sim::SimKeyboard>& keyboard,
               std::vector<HidUsage> usages) {
        for (HidUsage u : usages) {
            world->keyDown(*keyboard, u);
        }
        std::reverse(usages.begin(), usages.end());
        for (HidUsage u : usages) {
            world->keyUp(*keyboard, u);
        }
        settle();
    }

    void writeMappingFile(std::int64_t vendor, std::int64_t product, const DeviceMapping& record) {
        std::filesystem::create_directories(mappingsFolder());
        std::ofstream(mappingsFolder() / StorageManager::fileName(vendor, product))
            << encodeDeviceMapping(record);
    }

    std::optional<DeviceMapping> readMappingFile(std::int64_t vendor, std::int64_t product) const {
        std::ifstream in(mappingsFolder() / StorageManager::fileName(vendor, product));
        if (!in) {
            return std::nullopt;
        }
        std::ostringstream buffer;
        buffer << in.rdbuf();
        const std::string text = buffer.str();
        auto decoded = decodeDeviceMappingText(text);
        if (!decoded) {
            return std::nullopt;
        }
        return std::move(decoded).value();
    }

    bool logged(const std::string& message) const {
        const auto messages = systemLog->messages();
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }

    QTemporaryDir dir;
    std::shared_ptr<platform::CapturingSystemLog> systemLog =
        std::make_shared<platform::CapturingSystemLog>();
    std::shared_ptr<platform::sim::SimWorld> world;
    std::unique_ptr<RawKeyboardListener> engine;
    platform::MemoryPreferences preferences;
    std::vector<std::string> breadcrumbs;
    std::unique_ptr<KeyboardMappingModel> model;
};

inline KeyMapping makeMapping(std::string name, std::vector<HidUsage> keys,
                              OutputBehavior output = OutputBehavior::copyOperation()) {
    KeyMapping m;
    m.name = std::move(name);
    m.inputKeyCodes = std::move(keys);
    m.outputBehavior = std::move(output);
    return m;
}

inline DeviceMapping makeRecord(std::string productName, std::int64_t vendor, std::int64_t product,
                                std::vector<KeyMapping> mappings) {
    DeviceMapping r;
    r.productName = std::move(productName);
    r.vendorID = vendor;
    r.productID = product;
    r.mappings = std::move(mappings);
    return r;
}

} // namespace chordwell::app::testing
