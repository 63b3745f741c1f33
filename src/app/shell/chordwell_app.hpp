// The application: builds the ports, the engine, the windows and the status
// item, and keeps them for the life of the process.
#pragma once

#include <QObject>
#include <QRect>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;
class QWidget;

namespace chordwell {
class RawKeyboardListener;
struct ShortcutGroup;
namespace platform {
class Preferences;
class Scheduler;
namespace sim {
class SimWorld;
} // namespace sim
} // namespace platform
namespace script {
struct ScriptCommand;
} // namespace script
} // namespace chordwell

namespace chordwell::app {

class AppDelegate;
class DemoSession;
class DemoWindow;
class EngineBridge;
class KeyboardMappingModel;
class KeyboardMemory;
class MainWindow;
class SimulationPlayer;
struct Composition;
struct DesktopServices;

struct AppOptions {
    /// Run on the simulated world and play this script in real time.
    std::optional<std::filesystem::path> simulateScript;
    /// Save pictures of the windows into this folder, then quit.
    std::optional<std::filesystem::path> screenshotDir;
    /// Quit when the simulate script has run.
    bool exitWhenScriptEnds = false;
    /// Every log line on standard error too.
    bool verbose = false;
    /// Try the product on the simulated world with sample keyboards and
    /// mappings, in a scratch folder, with the demo window.
    bool demo = false;
    /// Keep the demo's scratch folder at exit.
    bool keepDemoFolder = false;
    /// Print the usage and quit (`--help`, `-h`).
    bool help = false;
};

/// What `chordwell --help` prints.
std::string usageText();

/// The command line: `--simulate SCRIPT` or `--demo [--keep]`,
/// `--screenshot-dir DIR`, `--exit-when-done`, `--verbose`. Nothing with
/// `error` set when it is wrong.
std::optional<AppOptions> parseArguments(const std::vector<std::string>& arguments,
                                         std::string& error);

class ChordwellApp : public QObject {
    Q_OBJECT

public:
    explicit ChordwellApp(AppOptions options);
    ~ChordwellApp() override;

    /// Builds everything and shows the main window. False (with `error`)
    /// when it cannot start, e.g. an unreadable script.
    bool start(std::string& error);

    /// What the process should return when the event loop ends.
    int exitCode() const { return exitCode_; }

    RawKeyboardListener& rawKeyboardListener() const { return *engine_; }
    KeyboardMappingModel& model() const { return *model_; }
    MainWindow* mainWindow() const { return mainWindow_; }
    AppDelegate* appDelegate() const { return delegate_; }
    QWidget* settingsWindow() const { return settingsWindow_; }
    QWidget* helpWindow() const { return helpWindow_; }
    platform::sim::SimWorld* simWorld() const;
    /// The demo window (demo mode only).
    DemoWindow* demoWindow() const { return demoWindow_; }
    /// The scratch folder of the demo, if running one.
    std::optional<std::filesystem::path> demoFolder() const;

    void openSettings();
    void openHelp();
    /// Shows the demo window (placed beside the mapping list) and brings it
    /// to the front.
    void showDemoWindow();
    /// Brings the main window to the front (another launch asked for it).
    void showMainWindow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The steps of start(), in their order.
    bool readSimulation(std::string& error, std::vector<script::ScriptCommand>& commands);
    std::shared_ptr<platform::Preferences> makePreferenceStore() const;
    void composePlatform();
    void buildModel();
    void buildMainWindow();
    void followNotices();
    void startSimulation(std::vector<script::ScriptCommand> commands);
    void pollNotices();
    QRect availableArea() const;
    void placeOverMainWindow(QWidget* window, const QRect& available);
    void scriptFinished();
    void takeScreenshots();
    void takeDemoScreenshots();
    bool prepareDemo(std::string& error);

    AppOptions options_;
    // Declared first so that it is removed last, after everything that may
    // write into it.
    std::unique_ptr<DemoSession> demo_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    std::shared_ptr<platform::Preferences> preferences_;
    std::unique_ptr<DesktopServices> services_;
    std::unique_ptr<Composition> composition_;
    RawKeyboardListener* engine_ = nullptr;
    std::unique_ptr<EngineBridge> bridge_;
    std::unique_ptr<KeyboardMappingModel> model_;
    std::unique_ptr<KeyboardMemory> keyboardMemory_;
    MainWindow* mainWindow_ = nullptr;
    QWidget* settingsWindow_ = nullptr;
    QWidget* helpWindow_ = nullptr;
    AppDelegate* delegate_ = nullptr;
    QTimer* noticeTimer_ = nullptr; // only where the platform cannot report changes
    bool noticeRefreshQueued_ = false;
    bool trayAvailable_ = true;
    SimulationPlayer* player_ = nullptr;
    DemoWindow* demoWindow_ = nullptr;
    bool demoPlaced_ = false;
    int exitCode_ = 0;
};

} // namespace chordwell::app
