// The engine on the simulated platform, with a captured log and a private
// application-support folder.
#pragma once

#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/sim/sim_world.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace chordwell::testing {

using platform::sim::AppEvent;
using platform::sim::SimKeyboard;
using platform::sim::SimKeyboardProperties;
using platform::sim::SimWorld;
using std::chrono::milliseconds;

inline constexpr std::int64_t kVendor = 0x05AC;
inline constexpr std::int64_t kProduct = 0x024F;

inline KeyMapping makeMapping(std::vector<HidUsage> keys, OutputBehavior behavior,
                              std::string name = "mapping") {
    KeyMapping m;
    m.name = std::move(name);
    m.inputKeyCodes = std::move(keys);
    m.outputBehavior = std::move(behavior);
    return m;
}

/// A custom sequence of one key without modifiers: an output that names the
/// mapping that fired.
inline OutputBehavior keyOutput(std::int64_t keyCode, EventFlags flags = 0) {
    return OutputBehavior::customKeySequence("k", {MacKeySignature{keyCode, flags}});
}

// The simulated world's modes that every behaviour must hold in: posting
// at once or later, and a key's HID value and tap event in either order.
struct WorldMode {
    const char* name;
    platform::sim::PostingMode posting;
    platform::sim::DeliveryOrder order;
};

[[maybe_unused]] inline void PrintTo(const WorldMode& c, std::ostream* os) {
    *os << c.name;
}

inline const WorldMode kEveryWorldMode[] = {
    {"sync_hid_first", platform::sim::PostingMode::sync, platform::sim::DeliveryOrder::hidFirst},
    {"sync_tap_first", platform::sim::PostingMode::sync, platform::sim::DeliveryOrder::tapFirst},
    {"sync_random", platform::sim::PostingMode::sync, platform::sim::DeliveryOrder::random},
    {"async_hid_first", platform::sim::PostingMode::async, platform::sim::DeliveryOrder::hidFirst},
    {"async_tap_first", platform::sim::PostingMode::async, platform::sim::DeliveryOrder::tapFirst},
    {"async_random", platform::sim::PostingMode::async, platform::sim::DeliveryOrder::random},
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_ = std::make_shared<platform::CapturingSystemLog>();
        logging::configure(log_, std::nullopt);
        folder_ = std::filesystem::temp_directory_path() /
                  ("chordwell-engine-test-" + Uuid::random().toString());
        world_ = std::make_shared<SimWorld>(folder_);
    }

    void TearDown() override {
        engine_.reset();
        world_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        logging::configure(std::make_shared<platform::NullSystemLog>(), std::nullopt);
    }

    RawKeyboardListener& engine() {
        if (!engine_) {
            engine_ = std::make_unique<RawKeyboardListener>(world_);
            world_->runMainQueue();
        }
        return *engine_;
    }

    std::shared_ptr<SimKeyboard> attach(std::optional<std::string> name = "Magic Keyboard",
                                        std::optional<std::int64_t> vendor = kVendor,
                                        std::optional<std::int64_t> product = kProduct,
                                        std::optional<std::int64_t> location = 1) {
        SimKeyboardProperties properties;
        properties.product = std::move(name);
        properties.vendorID = vendor;
        properties.productID = product;
        properties.locationID = location;
        return world_->attachKeyboard(std::move(properties));
    }

    /// The engine's entry for a virtual keyboard.
    KeyboardDevice listed(const std::shared_ptr<SimKeyboard>& keyboard) {
        const auto& list = engine().discoveredKeyboards();
        auto it = std::find_if(list.begin(), list.end(), [&](const KeyboardDevice& k) {
            return k.deviceRef.get() == keyboard.get();
        });
        EXPECT_NE(it, list.end()) << "keyboard not listed";
        return it == list.end() ? KeyboardDevice{} : *it;
    }

    /// Appends a record for the model, as the interface does.
    void addRecord(std::vector<KeyMapping> mappings, std::int64_t vendor = kVendor,
                   std::int64_t product = kProduct, std::string name = "Magic Keyboard") {
        engine().mutateAllDeviceMappings([&](std::vector<DeviceMapping>& records) {
            DeviceMapping r;
            r.productName = std::move(name);
            r.vendorID = vendor;
            r.productID = product;
            r.mappings = std::move(mappings);
            records.push_back(std::move(r));
        });
    }

    /// What toggleInterception does for a selected keyboard.
    void intercept(const KeyboardDevice& device) {
        engine().setSelectedDevice(device);
        toggleInterception(engine());
        world_->runMainQueue();
    }

    void tap(SimKeyboard& keyboard, HidUsage usage) {
        world_->keyDown(keyboard, usage);
        world_->keyUp(keyboard, usage);
    }

    void setPreference(const char* key, platform::PreferenceValue value) {
        world_->preferences().setValue(key, value);
    }

    /// Synthetic key-downs that reached the application, as key codes.
    std::vector<std::int64_t> postedDowns() const {
        std::vector<std::int64_t> codes;
        for (const AppEvent& e : world_->appEvents()) {
            if (e.synthetic && e.type == platform::EventType::keyDown) {
                codes.push_back(e.keyCode);
            }
        }
        return codes;
    }
    /// Physical (non-synthetic) key-downs that reached the application.
    std::vector<std::int64_t> physicalDowns() const {
        std::vector<std::int64_t> codes;
        for (const AppEvent& e : world_->appEvents()) {
            if (!e.synthetic && e.type == platform::EventType::keyDown) {
                codes.push_back(e.keyCode);
            }
        }
        return codes;
    }

    std::vector<std::string> logMessages() const { return log_->messages(); }
    std::size_t countLogged(const std::string& message) const {
        const auto messages = log_->messages();
        return static_cast<std::size_t>(std::count(messages.begin(), messages.end(), message));
    }
    bool logged(const std::string& message) const { return countLogged(message) > 0; }
    void clearLog() { log_->clear(); }

    std::shared_ptr<platform::CapturingSystemLog> log_;
    std::filesystem::path folder_;
    std::shared_ptr<SimWorld> world_;
    std::unique_ptr<RawKeyboardListener> engine_;
};

} // namespace chordwell::testing
