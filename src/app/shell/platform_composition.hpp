// Which ports the application runs on: the native adapters of this system
// with the Qt scheduler and preferences, or the simulated world in real time
// (--simulate) with the same folders and preferences as the native ones.
#pragma once

#include "ports/desktop.hpp"
#include "ports/ports.hpp"

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

/// How the simulated world types the built-in outputs (Open Search, Copy,
/// Paste): as macOS does, which `chordwellctl simulate` and scripts expect,
/// or as this desktop does, which the demo shows its user.
enum class BuiltInOutputs { macOS, thisDesktop };

/// The simulated world driven by `scheduler` (real time), with `preferences`
/// and the native folders or `paths`. `verbose`: every log line on standard
/// error.
Composition composeSimulatedPlatform(std::shared_ptr<platform::Scheduler> scheduler,
                                     std::shared_ptr<platform::Preferences> preferences,
                                     bool verbose, std::shared_ptr<platform::Paths> paths = nullptr,
                                     BuiltInOutputs outputs = BuiltInOutputs::macOS);

/// The simulated world as a platform of its own (its preferences, folders
/// and log) with the given built-in outputs: the demo's world, for tests.
std::shared_ptr<platform::Platform> simulatedDesktop(std::shared_ptr<platform::sim::SimWorld> world,
                                                     BuiltInOutputs outputs);

/// The key a built-in output posts on this desktop (Control+C for Copy on
/// Linux, Command+C on macOS).
std::optional<platform::KeyStroke> thisDesktopsBuiltInShortcut(OutputBehavior::Kind kind);

/// The demo's folders: its scratch folder stands in for the user's data;
/// the installed resources (the shortcut catalog) are this program's own.
std::shared_ptr<platform::Paths> demoPaths(const std::filesystem::path& scratchFolder);

/// The folders of this system (XDG on Linux, Application Support on macOS).
std::shared_ptr<platform::Paths> nativePaths();

/// The log folder for `paths`, when the system has an application-support
/// folder (created when missing).
std::optional<std::filesystem::path> logsFolderOf(const platform::Paths& paths);

} // namespace chordwell::app
