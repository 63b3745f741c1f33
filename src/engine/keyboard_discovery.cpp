// Keyboard discovery: the HID manager reports keyboards as they are attached
// and removed; the list of discovered keyboards follows on the main queue.
#include "engine/raw_keyboard_listener.hpp"

#include "logging/log.hpp"

#include <string>

namespace chordwell {

namespace {

constexpr std::string_view kCategory = "keyboard";

// Generic Desktop / Keyboard: the usage every keyboard interface declares.
constexpr std::uint32_t kGenericDesktopPage = 1;
constexpr std::uint32_t kKeyboardUsage = 6;

} // namespace

void RawKeyboardListener::setupHIDManager() {
    const auto guard = lock();
    platform_->setEmergencyExitHandler([this] {
        if (isIntercepting_) {
            stopIntercepting();
        }
    });
    if (auto* power = platform_->power()) {
        power->registerCallback(&RawKeyboardListener::handlePowerEvent, this);
    }
    manager_ = platform_->createHidManager();
    if (!manager_) {
        log(LogLevel::error, "Could not create the HID manager; no keyboards will be found.",
            kCategory);
        return;
    }
    manager_->setDeviceMatching(kGenericDesktopPage, kKeyboardUsage);
    manager_->registerDeviceMatchingCallback(&RawKeyboardListener::handleDeviceMatched, this);
    manager_->registerDeviceRemovalCallback(&RawKeyboardListener::handleDeviceRemoved, this);
    (void)manager_->open(); // a failure shows as no keyboards; nothing to report
    log(LogLevel::debug, "Calling IOHIDManagerScheduleWithRunLoop(...)...", kCategory);
    manager_->scheduleWithRunLoop();
}

// ---------------------------------------------------------------- discovery

void RawKeyboardListener::handleDeviceMatched(void* context, int /*result*/,
                                              const HidDeviceRef& device) {
    if (context == nullptr || !device) {
        return;
    }
    static_cast<RawKeyboardListener*>(context)->onDeviceMatched(device);
}

void RawKeyboardListener::handleDeviceRemoved(void* context, int /*result*/,
                                              const HidDeviceRef& device) {
    if (context == nullptr || !device) {
        return;
    }
    static_cast<RawKeyboardListener*>(context)->onDeviceRemoved(device);
}

void RawKeyboardListener::onDeviceMatched(const HidDeviceRef& device) {
    const std::int64_t locationID = device->integerProperty("LocationID").value_or(-1);
    // One entry per location: a keyboard with several keyboard interfaces is
    // listed once, by the first interface reported.
    if (!seenKeyboardLocationIDs_.insert(locationID).second) {
        return;
    }
    KeyboardDevice keyboard;
    keyboard.productName = device->stringProperty("Product").value_or("Unknown");
    keyboard.productID = device->integerProperty("ProductID").value_or(-1);
    keyboard.vendorID = device->integerProperty("VendorID").value_or(-1);
    keyboard.deviceRef = device;

    std::weak_ptr<bool> alive = alive_;
    platform_->scheduler().postToMain([this, alive, keyboard = std::move(keyboard), locationID] {
        if (alive.expired()) {
            return;
        }
        const auto guard = lock();
        announce(EngineChange::discoveredKeyboards);
        discoveredKeyboards_.push_back(keyboard);
        log(LogLevel::info,
            "Matched Device: " + keyboard.productName +
                ", productID=" + std::to_string(keyboard.productID) + ", vendorID=" +
                std::to_string(keyboard.vendorID) + " (locID=" + std::to_string(locationID) + ")",
            kCategory);
        keyboardArrived(keyboard);
    });
}

void RawKeyboardListener::onDeviceRemoved(const HidDeviceRef& device) {
    const std::string productName = device->stringProperty("Product").value_or("Unknown");
    const std::int64_t vendorID = device->integerProperty("VendorID").value_or(-1);
    const std::int64_t locationID = device->integerProperty("LocationID").value_or(-1);

    // Forgotten here, where the arrival is checked, not in the queued work: a
    // quick re-plug delivers the removal and the arrival in one batch, and the
    // arrival must find the location free.
    seenKeyboardLocationIDs_.erase(locationID);

    std::weak_ptr<bool> alive = alive_;
    platform_->scheduler().postToMain([this, alive, device, productName, vendorID] {
        if (alive.expired()) {
            return;
        }
        const auto guard = lock();
        announce(EngineChange::discoveredKeyboards);
        std::erase_if(discoveredKeyboards_, [&](const KeyboardDevice& k) {
            return platform::sameDevice(k.deviceRef, device);
        });
        log(LogLevel::info,
            "Removed Device: " + productName + ", vendorID=" + std::to_string(vendorID), kCategory);
        if (!platform::sameDevice(device, selectedDeviceIOHIDDevice_)) {
            return;
        }
        if (isIntercepting_) {
            pauseForAbsentKeyboard(device);
            return;
        }
        // A recording ends with its keyboard.
        stopRepeat();
        (void)stopListening();
        clearPressedCodes();
    });
}

} // namespace chordwell
