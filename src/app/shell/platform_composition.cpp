#include "app/shell/platform_composition.hpp"

#include "platform/memory/memory_ports.hpp"
#include "platform/qt/qt_desktop.hpp"
#include "platform/sim/sim_world.hpp"

#include <QCoreApplication>
#include <QStandardPaths>

#if defined(__APPLE__)
#include "platform/macos/app_services.hpp"
#include "platform/macos/mac_platform.hpp"
#include "platform/macos/system_services.hpp"
#elif defined(CHORDWELL_HAVE_LINUX_ADAPTERS)
#include "platform/linux/event_pipeline.hpp"
#include "platform/linux/linux_platform.hpp"
#include "platform/linux/xdg_paths.hpp"
#include "platform/qt/qt_fd_watcher.hpp"
#endif

#include <system_error>

namespace chordwell::app {

namespace {

/// Posts through the simulated world, with this desktop's keys for the
/// built-in outputs.
class ThisDesktopsPoster : public platform::EventPoster {
public:
    explicit ThisDesktopsPoster(platform::EventPoster& world) : world_(world) {}
    bool postKeyEvent(std::int64_t keyCode, EventFlags flags, bool keyDown) override {
        return world_.postKeyEvent(keyCode, flags, keyDown);
    }
    std::optional<platform::KeyStroke> builtInShortcut(OutputBehavior::Kind kind) const override {
        return thisDesktopsBuiltInShortcut(kind);
    }

private:
    platform::EventPoster& world_;
};

/// The simulated world behind the ports, with the application's own folders
/// and preferences: what is tried in simulate mode is what the real
/// application would store.
class SimulatedDesktopPlatform : public platform::Platform {
public:
    SimulatedDesktopPlatform(std::shared_ptr<platform::sim::SimWorld> world,
                             std::shared_ptr<platform::Preferences> preferences,
                             std::shared_ptr<const platform::Paths> paths,
                             std::shared_ptr<platform::SystemLog> systemLog, BuiltInOutputs outputs)
        : world_(std::move(world)), preferences_(std::move(preferences)), paths_(std::move(paths)),
          systemLog_(std::move(systemLog)) {
        if (outputs == BuiltInOutputs::thisDesktop) {
            poster_ = std::make_unique<ThisDesktopsPoster>(world_->eventPoster());
        }
    }

    platform::Scheduler& scheduler() override { return world_->scheduler(); }
    std::unique_ptr<platform::HidManager> createHidManager() override {
        return world_->createHidManager();
    }
    std::unique_ptr<platform::EventTap>
    createKeyboardEventTap(platform::EventTap::Callback callback, void* userInfo) override {
        return world_->createKeyboardEventTap(callback, userInfo);
    }
    platform::EventPoster& eventPoster() override {
        return poster_ ? *poster_ : world_->eventPoster();
    }
    platform::Preferences& preferences() override { return *preferences_; }
    const platform::Paths& paths() const override { return *paths_; }
    platform::SystemLog& systemLog() override { return *systemLog_; }
    std::vector<platform::PlatformNotice> notices() const override { return world_->notices(); }
    void setEmergencyExitHandler(std::function<void()> handler) override {
        world_->setEmergencyExitHandler(std::move(handler));
    }
    // The simulated user's layout (the demo's layout menu switches it).
    platform::KeyboardLayout* keyboardLayout() override { return world_->keyboardLayout(); }

private:
    std::shared_ptr<platform::sim::SimWorld> world_;
    std::shared_ptr<platform::Preferences> preferences_;
    std::shared_ptr<const platform::Paths> paths_;
    std::shared_ptr<platform::SystemLog> systemLog_;
    std::unique_ptr<platform::EventPoster> poster_;
};

} // namespace

std::optional<platform::KeyStroke> thisDesktopsBuiltInShortcut(OutputBehavior::Kind kind) {
#if defined(CHORDWELL_HAVE_LINUX_ADAPTERS) && !defined(__APPLE__)
    return platform::lnx::linuxBuiltInShortcut(kind);
#else
    return platform::macBuiltInShortcut(kind);
#endif
}

std::shared_ptr<platform::Platform> simulatedDesktop(std::shared_ptr<platform::sim::SimWorld> world,
                                                     BuiltInOutputs outputs) {
    // Non-owning views of the world's own parts; the platform keeps the world.
    std::shared_ptr<platform::Preferences> preferences(world, &world->preferences());
    std::shared_ptr<const platform::Paths> paths(world, &world->paths());
    std::shared_ptr<platform::SystemLog> log(world, &world->systemLog());
    return std::make_shared<SimulatedDesktopPlatform>(world, std::move(preferences),
                                                      std::move(paths), std::move(log), outputs);
}

std::shared_ptr<platform::Paths> demoPaths(const std::filesystem::path& scratchFolder) {
    return std::make_shared<platform::FolderPaths>(scratchFolder,
                                                   nativePaths()->resourceDirectory());
}

DesktopServices makeDesktopServices() {
    DesktopServices services;
#if defined(__APPLE__)
    services.desktop = std::make_unique<platform::qt::QtDesktop>(
        [](const std::filesystem::path& file) { return platform::mac::revealFileInFinder(file); },
        platform::qt::QtDesktop::SystemFacts{platform::mac::computerName,
                                             platform::mac::operatingSystemVersionString,
                                             platform::mac::hasDefaultApplicationForScheme});
    services.loginItem = std::make_unique<platform::mac::MacLoginItemService>();
    services.presence = std::make_unique<platform::mac::MacAppPresence>();
#else
    services.desktop = std::make_unique<platform::qt::QtDesktop>();
    services.loginItem = std::make_unique<platform::qt::XdgAutostartLoginItem>();
    services.presence = std::make_unique<platform::qt::NoopAppPresence>();
#endif
    return services;
}

std::shared_ptr<platform::Paths> nativePaths() {
#if defined(CHORDWELL_HAVE_LINUX_ADAPTERS) && !defined(__APPLE__)
    return std::make_shared<platform::XdgPaths>();
#else
    // Application Support on macOS; elsewhere the generic data folder. The
    // resources are those of the bundle the program runs from.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) {
        return std::make_shared<platform::FolderPaths>();
    }
    const QString program = QCoreApplication::applicationFilePath();
    return std::make_shared<platform::FolderPaths>(
        std::filesystem::path(base.toStdString()),
        platform::resourceDirectoryBeside(
            program.isEmpty() ? std::nullopt
                              : std::optional(std::filesystem::path(program.toStdString()))));
#endif
}

std::optional<std::filesystem::path> logsFolderOf(const platform::Paths& paths) {
    std::error_code error;
    const std::optional<std::filesystem::path> support = paths.applicationSupportDirectory(error);
    if (!support) {
        return std::nullopt;
    }
    return paths.logsFolder(*support);
}

Composition composeNativePlatform(std::shared_ptr<platform::Scheduler> scheduler,
                                  std::shared_ptr<platform::Preferences> preferences) {
    Composition c;
#if defined(__APPLE__)
    c.platform = platform::mac::makeMacPlatform(std::move(scheduler), std::move(preferences));
#elif defined(CHORDWELL_HAVE_LINUX_ADAPTERS)
    platform::lnx::LinuxPlatformOptions options;
    options.scheduler = std::move(scheduler);
    options.fdWatcher = std::make_shared<platform::qt::QtFdWatcher>();
    options.preferences = std::move(preferences);
    // Keys never wait for the window: the key path has threads of its own.
    options.keyPathThreads = true;
    c.platform = platform::lnx::makeLinuxPlatform(std::move(options));
#else
    (void)scheduler;
    (void)preferences;
    c.platform = platform::makeNativePlatform();
#endif
    // The platform's own log (unified log, journal) behind the shared logger;
    // it lives as long as the platform.
    c.systemLog = std::shared_ptr<platform::SystemLog>(c.platform, &c.platform->systemLog());
    c.logsFolder = logsFolderOf(c.platform->paths());
    return c;
}

Composition composeSimulatedPlatform(std::shared_ptr<platform::Scheduler> scheduler,
                                     std::shared_ptr<platform::Preferences> preferences,
                                     bool verbose, std::shared_ptr<platform::Paths> paths,
                                     BuiltInOutputs outputs) {
    Composition c;
    if (!paths) {
        paths = nativePaths();
    }
    std::error_code error;
    c.simWorld = std::make_shared<platform::sim::SimWorld>(
        std::move(scheduler), paths->applicationSupportDirectory(error));
    c.systemLog =
        std::make_shared<platform::StderrSystemLog>(verbose ? LogLevel::debug : LogLevel::warning);
    c.platform = std::make_shared<SimulatedDesktopPlatform>(c.simWorld, std::move(preferences),
                                                            paths, c.systemLog, outputs);
    c.logsFolder = logsFolderOf(*paths);
    return c;
}

} // namespace chordwell::app
