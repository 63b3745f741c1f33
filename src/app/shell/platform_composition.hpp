// Which ports the application runs on: the native adapters of this system
// with the Qt scheduler and preferences, or the simulated world in real time
// (--simulate) with the same folders and preferences as the native ones.
#pragma once

#include "platform/desktop.hpp"
#include "platform/ports.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace chordwell::platform::sim {
class SimWorld;
} // namespace chordwell::platform::sim

namespace chordwell::app {

/// The desktop services of the shell (not used by the engine).
struct DesktopServices {
    std::unique_ptr<platform::Desktop> desktop;
    std::unique_ptr<platform::LoginItemService> loginItem;
    std::unique_ptr<platform::AppPresence> presence;
};

struct Composition {
    std::shared_ptr<platform::Platform> platform;
    /// The simulated world behind `platform` in simulate mode.
    std::shared_ptr<platform::sim::SimWorld> simWorld;
    /// The system log the process logs to.
    std::shared_ptr<platform::SystemLog> systemLog;
    /// Where the log file lives (nothing: no log file).
    std::optional<std::filesystem::path> logsFolder;
};

DesktopServices makeDesktopServices();

/// The native platform on the Qt event loop.
Composition composeNativePlatform(std::shared_ptr<platform::Scheduler> scheduler,
                                  std::shared_ptr<platform::Preferences> preferences);

/// The simulated world driven by `scheduler` (real time), with `preferences`
/// and the native folders or `paths`. `verbose`: every log line on standard
/// error.
Composition composeSimulatedPlatform(std::shared_ptr<platform::Scheduler> scheduler,
                                     std::shared_ptr<platform::Preferences> preferences,
                                     bool verbose,
                                     std::shared_ptr<platform::Paths> paths = nullptr);

/// The folders of this system (XDG on Linux, Application Support on macOS).
std::shared_ptr<platform::Paths> nativePaths();

/// The log folder for `paths`, when the system has an application-support
/// folder (created when missing).
std::optional<std::filesystem::path> logsFolderOf(const platform::Paths& paths);

} // namespace chordwell::app
