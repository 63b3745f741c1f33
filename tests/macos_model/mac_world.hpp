// The engine on the macOS adapter on the model of the Apple frameworks: the
// "real order" world of the tests. Keyboards, keys and time go to the model;
// the engine sees them only through the adapter's IOKit, CoreGraphics and
// CFRunLoop calls.
#pragma once

#include "apple_model.hpp"

#include "engine/raw_keyboard_listener.hpp"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace chordwell::testing {

class MacWorld {
public:
    struct Options {
        /// Preferences in the model's user defaults (MacPreferences) rather
        /// than in memory.
        bool userDefaults = true;
        /// Where the engine keeps its mapping files; none: in memory only.
        std::optional<std::filesystem::path> storageFolder = {};
    };

    MacWorld();
    explicit MacWorld(Options options);
    /// Tears the engine and the platform down; finish() checks the
    /// accounting afterwards.
    ~MacWorld();
    MacWorld(const MacWorld&) = delete;
    MacWorld& operator=(const MacWorld&) = delete;

    applemodel::System& system() { return system_; }
    const applemodel::System& system() const { return system_; }
    const RawKeyboardListener& engine() const { return *engine_; }
    RawKeyboardListener& engine() { return *engine_; }
    platform::Platform& platform() { return *platform_; }

    /// Plugs a keyboard in and lets the engine hear of it.
    applemodel::KeyboardId attach(applemodel::KeyboardTraits traits);
    void detach(applemodel::KeyboardId keyboard);
    /// A key goes down or up, and both of its deliveries arrive (time passes
    /// by the plan's gap) before this returns.
    void key(applemodel::KeyboardId keyboard, std::uint16_t usage, bool down);
    /// The same without waiting: the deliveries travel on while the next
    /// keys go down (settle() or wait() lets them arrive).
    void keyInFlight(applemodel::KeyboardId keyboard, std::uint16_t usage, bool down);
    void settle();
    void wait(std::chrono::milliseconds duration);

    /// The engine's entry for a keyboard of the model, if it is listed.
    std::optional<KeyboardDevice> listed(applemodel::KeyboardId keyboard) const;
    /// Selects the keyboard and switches interception on (as the switch).
    void intercept(applemodel::KeyboardId keyboard);

    /// Stops the engine and the platform, then the model's accounting:
    /// every fault, including what is still alive. Empty when clean.
    std::vector<std::string> finish();

private:
    applemodel::System system_;
    std::shared_ptr<platform::Platform> platform_;
    std::unique_ptr<RawKeyboardListener> engine_;
};

} // namespace chordwell::testing
