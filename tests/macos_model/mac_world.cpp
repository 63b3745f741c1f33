#include "mac_world.hpp"

#include "platform/macos/hid_manager.hpp"
#include "platform/macos/mac_platform.hpp"
#include "platform/macos/mac_preferences.hpp"
#include "platform/macos/run_loop_scheduler.hpp"
#include "platform/memory/memory_ports.hpp"

namespace chordwell::testing {

MacWorld::MacWorld() : MacWorld(Options{}) {}

MacWorld::MacWorld(Options options) {
    platform::mac::MacPlatformOptions parts;
    parts.scheduler = std::make_shared<platform::mac::RunLoopScheduler>();
    if (options.userDefaults) {
        parts.preferences = std::make_shared<platform::mac::MacPreferences>(
            std::string(platform::mac::kApplicationDefaultsDomain));
    } else {
        parts.preferences = std::make_shared<platform::MemoryPreferences>();
    }
    parts.paths = std::make_shared<platform::FolderPaths>();
    parts.systemLog = std::make_shared<platform::NullSystemLog>();
    platform_ = platform::mac::makeMacPlatform(std::move(parts));
    if (options.storageFolder) {
        engine_ = std::make_unique<RawKeyboardListener>(platform_, options.storageFolder);
    } else {
        // No storage: the records in memory are the only copy.
        engine_ = std::make_unique<RawKeyboardListener>(platform_, std::optional<StorageManager>{});
    }
    system_.runUntilIdle();
}

MacWorld::~MacWorld() {
    engine_.reset();
    platform_.reset();
}

std::vector<std::string> MacWorld::finish() {
    engine_.reset();
    platform_.reset();
    return system_.finish();
}

applemodel::KeyboardId MacWorld::attach(applemodel::KeyboardTraits traits) {
    const auto id = system_.attach(std::move(traits));
    system_.runUntilIdle();
    return id;
}

void MacWorld::detach(applemodel::KeyboardId keyboard) {
    system_.detach(keyboard);
    system_.runUntilIdle();
}

void MacWorld::key(applemodel::KeyboardId keyboard, std::uint16_t usage, bool down) {
    system_.key(keyboard, usage, down);
    settle();
}

void MacWorld::keyInFlight(applemodel::KeyboardId keyboard, std::uint16_t usage, bool down) {
    system_.key(keyboard, usage, down);
}

void MacWorld::settle() {
    // Until nothing is on its way: the later of a key's two deliveries may
    // be due some milliseconds on.
    system_.runUntilIdle();
    while (system_.hasPendingMessages()) {
        const auto next = system_.nextDue();
        if (!next || *next <= system_.now()) {
            break; // waiting at a port nobody serves
        }
        system_.advance(*next - system_.now());
    }
}

void MacWorld::wait(std::chrono::milliseconds duration) {
    system_.advance(duration);
}

std::optional<KeyboardDevice> MacWorld::listed(applemodel::KeyboardId keyboard) const {
    void* device = system_.device(keyboard);
    for (const KeyboardDevice& k : engine_->discoveredKeyboards()) {
        const auto* mac = dynamic_cast<const platform::mac::MacHidDevice*>(k.deviceRef.get());
        if (mac != nullptr && mac->nativeDevice() == device) {
            return k;
        }
    }
    return std::nullopt;
}

void MacWorld::intercept(applemodel::KeyboardId keyboard) {
    if (auto device = listed(keyboard)) {
        engine_->setSelectedDevice(*device);
        toggleInterception(*engine_);
    }
    system_.runUntilIdle();
}

} // namespace chordwell::testing
