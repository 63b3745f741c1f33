#include "app/shell/chordwell_app.hpp"

#include "app/app_info.hpp"
#include "app/controls/theme.hpp"
#include "app/demo/demo_session.hpp"
#include "app/demo/demo_window.hpp"
#include "app/diagnostics/diagnostics_model.hpp"
#include "app/help/help_view.hpp"
#include "app/help/help_window.hpp"
#include "app/mappings/keyboard_mapping_model.hpp"
#include "app/mappings/keyboard_mapping_view.hpp"
#include "app/settings/observable_preferences.hpp"
#include "app/settings/settings_view.hpp"
#include "app/settings/settings_window.hpp"
#include "app/shell/app_delegate.hpp"
#include "app/shell/engine_bridge.hpp"
#include "app/shell/keyboard_memory.hpp"
#include "app/shell/main_window.hpp"
#include "app/shell/platform_composition.hpp"
#include "app/shell/simulation_player.hpp"
#include "app/shell/tray_notice.hpp"
#include "app/shell/window_placement.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/breadcrumbs.hpp"
#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/qt/qt_desktop.hpp"
#include "platform/qt/qt_preferences.hpp"
#include "platform/qt/qt_scheduler.hpp"
#include "platform/sim/sim_world.hpp"
#include "script/script.hpp"
#include "storage/shortcuts.hpp"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <fstream>
#include <iostream>
#include <sstream>

namespace chordwell::app {

namespace {

constexpr std::string_view kCategoryUi = "ui";
// Platforms that cannot report changes of their notices (macOS: permissions
// and secure input have no notification) are read this often.
constexpr int kNoticePollMs = 1000;

// The script of --simulate. Only a regular file of sensible size is read: a
// FIFO would block the start for ever, a device such as /dev/zero never ends
// and a folder reads as an empty script.
std::optional<std::string> readScript(const std::filesystem::path& path, std::string& problem) {
    constexpr std::uintmax_t kMaxScriptBytes = 64 * 1024 * 1024;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        problem = "cannot read " + path.string();
        return std::nullopt;
    }
    if (!std::filesystem::is_regular_file(status)) {
        problem = path.string() + " is not a regular file";
        return std::nullopt;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxScriptBytes) {
        problem = ec ? "cannot read " + path.string()
                     : path.string() + " is larger than " +
                           std::to_string(kMaxScriptBytes / (1024 * 1024)) + " MiB";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = "cannot read " + path.string();
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    const auto got = static_cast<std::uintmax_t>(in.gcount());
    if (in.bad() || got > kMaxScriptBytes) {
        problem = "cannot read " + path.string();
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(got));
    return text;
}

} // namespace

std::optional<AppOptions> parseArguments(const std::vector<std::string>& arguments,
                                         std::string& error) {
    AppOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        auto value = [&](const std::string& name) -> std::optional<std::string> {
            const std::string prefix = name + "=";
            if (a.rfind(prefix, 0) == 0) {
                return a.substr(prefix.size());
            }
            if (a == name && i + 1 < arguments.size()) {
                return arguments[++i];
            }
            return std::nullopt;
        };
        if (a == "--simulate" || a.rfind("--simulate=", 0) == 0) {
            const auto v = value("--simulate");
            if (!v || v->empty()) {
                error = "--simulate needs a script file";
                return std::nullopt;
            }
            options.simulateScript = *v;
        } else if (a == "--screenshot-dir" || a.rfind("--screenshot-dir=", 0) == 0) {
            const auto v = value("--screenshot-dir");
            if (!v || v->empty()) {
                error = "--screenshot-dir needs a folder";
                return std::nullopt;
            }
            options.screenshotDir = *v;
        } else if (a == "--demo") {
            options.demo = true;
        } else if (a == "--keep") {
            options.keepDemoFolder = true;
        } else if (a == "--exit-when-done") {
            options.exitWhenScriptEnds = true;
        } else if (a == "--verbose") {
            options.verbose = true;
        } else if (a == "--help" || a == "-h") {
            options.help = true;
        } else {
            error = "unknown option: " + a;
            return std::nullopt;
        }
    }
    if (options.demo && options.simulateScript) {
        error = "--demo and --simulate cannot be combined";
        return std::nullopt;
    }
    if (options.keepDemoFolder && !options.demo) {
        error = "--keep needs --demo";
        return std::nullopt;
    }
    if ((options.screenshotDir || options.exitWhenScriptEnds) && !options.simulateScript &&
        !options.demo) {
        error = "--screenshot-dir and --exit-when-done need --simulate or --demo";
        return std::nullopt;
    }
    return options;
}

std::string usageText() {
    return "usage: chordwell [--simulate SCRIPT | --demo [--keep]] [--exit-when-done]\n"
           "                 [--screenshot-dir DIR] [--verbose]\n"
           "\n"
           "Chordwell remaps key combinations of one keyboard. Without options it starts on\n"
           "your real keyboards (a second launch brings the running one's window forward).\n"
           "\n"
           "  --demo              try it on simulated keyboards, in a scratch folder\n"
           "  --keep              with --demo: keep the scratch folder and print where\n"
           "  --simulate SCRIPT   the simulated world, playing SCRIPT (chordwellctl simulate)\n"
           "  --exit-when-done    quit when the script has run\n"
           "  --screenshot-dir DIR  save pictures of the windows into DIR, then quit\n"
           "  --verbose           every log line on standard error\n"
           "  -h, --help          this text\n";
}

ChordwellApp::ChordwellApp(AppOptions options) : options_(std::move(options)) {}

ChordwellApp::~ChordwellApp() {
    // Quitting right after an edit: its second half would never run on the
    // stopped event loop, and the edit would be lost.
    if (engine_ != nullptr) {
        engine_->finishPendingEdits();
    }
    if (qApp != nullptr) {
        qApp->removeEventFilter(this);
    }
    if (composition_ && composition_->platform) {
        composition_->platform->setNoticeObserver(nullptr);
    }
    delete demoWindow_;
    delete player_;
    delete settingsWindow_;
    delete helpWindow_;
    delete mainWindow_;
    delete delegate_;
    // The engine lives on (it is never destroyed); the model, the memory of
    // the keyboard and the bridge end their subscriptions here.
    keyboardMemory_.reset();
    model_.reset();
    bridge_.reset();
    if (demo_) {
        // Nothing may write into the scratch folder once it is gone.
        logging::configure(nullptr, std::nullopt);
        if (options_.keepDemoFolder) {
            std::cerr << "chordwell: the demo's folder is kept at " << demo_->folder().string()
                      << std::endl;
        }
    }
}

std::optional<std::filesystem::path> ChordwellApp::demoFolder() const {
    return demo_ ? std::optional<std::filesystem::path>(demo_->folder()) : std::nullopt;
}

bool ChordwellApp::prepareDemo(std::string& error) {
    const auto resources = demoResourcesFolder();
    if (!resources) {
        error = "the demo's files (demo.script) are not installed";
        exitCode_ = 2;
        return false;
    }
    auto session = DemoSession::create(*resources, error);
    if (!session) {
        exitCode_ = 1;
        return false;
    }
    demo_ = std::make_unique<DemoSession>(std::move(*session));
    demo_->keep(options_.keepDemoFolder);
    options_.simulateScript = demo_->script();
    return true;
}

platform::sim::SimWorld* ChordwellApp::simWorld() const {
    return composition_ ? composition_->simWorld.get() : nullptr;
}

namespace {

// What the main window's menus do; the demo's has a menu item for the demo
// window.
MainWindow::Actions mainWindowActions(ChordwellApp& app, bool demo) {
    MainWindow::Actions actions;
    actions.openSettings = [&app] {
        app.openSettings();
    };
    actions.openHelp = [&app] {
        app.openHelp();
    };
    actions.quit = [] {
        QCoreApplication::quit();
    };
    if (demo) {
        actions.showDemoWindow = [&app] {
            app.showDemoWindow();
        };
    }
    return actions;
}

} // namespace

bool ChordwellApp::start(std::string& error) {
    if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        theme::keepApplicationPaletteReadable(*application);
    }
    if (options_.demo && !prepareDemo(error)) {
        return false;
    }
    std::vector<script::ScriptCommand> commands;
    if (options_.simulateScript && !readSimulation(error, commands)) {
        exitCode_ = 2;
        return false;
    }
    composePlatform();
    buildModel();
    buildMainWindow();
    followNotices();
    qApp->installEventFilter(this);
    if (composition_->simWorld) {
        startSimulation(std::move(commands));
    }
    return true;
}

// The script of --simulate, parsed; false with `error` when it cannot be
// read or parsed.
bool ChordwellApp::readSimulation(std::string& error,
                                  std::vector<script::ScriptCommand>& commands) {
    const auto text = readScript(*options_.simulateScript, error);
    if (!text) {
        return false;
    }
    script::ParsedScript parsed = script::parseScript(*text);
    if (parsed.error) {
        error = parsed.error->text();
        return false;
    }
    commands = std::move(parsed.commands);
    return true;
}

// Every write is announced, so the settings window follows changes made in
// the main window.
std::shared_ptr<platform::Preferences> ChordwellApp::makePreferenceStore() const {
    if (demo_) {
        return std::make_shared<platform::qt::QtPreferences>(std::make_unique<QSettings>(
            QString::fromStdString(demo_->preferencesFile().string()), QSettings::IniFormat));
    }
    return std::make_shared<platform::qt::QtPreferences>();
}

void ChordwellApp::composePlatform() {
    // Lines the platform logs while it is being built reach the log file too.
    // The demo keeps to its scratch folder: its mappings, preferences, log
    // and login item never touch the user's own.
    std::shared_ptr<platform::Paths> paths = demo_ ? demoPaths(demo_->folder()) : nativePaths();
    logging::configure(nullptr, logsFolderOf(*paths));
    scheduler_ = std::make_shared<platform::qt::QtScheduler>();
    preferences_ = std::make_shared<ObservablePreferences>(makePreferenceStore());
    services_ = std::make_unique<DesktopServices>(makeDesktopServices());
    if (demo_) {
        services_->loginItem = std::make_unique<platform::qt::XdgAutostartLoginItem>(
            demo_->folder() / "autostart", QCoreApplication::applicationFilePath().toStdString());
    }
    composition_ = std::make_unique<Composition>(
        options_.simulateScript
            ? composeSimulatedPlatform(scheduler_, preferences_, options_.verbose, paths,
                                       demo_ ? BuiltInOutputs::thisDesktop : BuiltInOutputs::macOS)
            : composeNativePlatform(scheduler_, preferences_));
    if (options_.verbose && !options_.simulateScript) {
        composition_->systemLog = std::make_shared<platform::StderrSystemLog>(LogLevel::debug);
    }
    logging::configure(composition_->systemLog, composition_->logsFolder);
    log(LogLevel::info,
        std::string(demo_                     ? "Starting the demo, version "
                    : options_.simulateScript ? "Starting on the simulated platform, version "
                                              : "Starting, version ") +
            appVersionString().toStdString(),
        kCategoryUi);
}

// The engine on the composed platform, and the model the windows show.
void ChordwellApp::buildModel() {
    std::shared_ptr<platform::Platform> platform = composition_->platform;
    RawKeyboardListener::setSharedPlatformFactory([platform] { return platform; });
    engine_ = &RawKeyboardListener::shared();

    std::vector<ShortcutGroup> catalog =
        ShortcutsLoader(defaultShortcutsPath(platform->paths())).load();
    bridge_ = std::make_unique<EngineBridge>(*engine_);
    model_ = std::make_unique<KeyboardMappingModel>(
        *engine_, platform->preferences(), std::move(catalog),
        [](const std::string& text) { logging::Breadcrumbs::shared().add(text); });

    // The keyboard of the last run, selected (and intercepted, when it was)
    // now if it is attached, else as soon as it comes.
    keyboardMemory_ = std::make_unique<KeyboardMemory>(*engine_, platform->preferences());
    keyboardMemory_->restoreAtLaunch();
}

// The main window and the status item, shown.
void ChordwellApp::buildMainWindow() {
    MainWindow::Actions actions = mainWindowActions(*this, demo_ != nullptr);
    if (demo_) {
        // Keys typed into the main window reach no keyboard in the demo.
        // Appended piece by piece: GCC 12 takes a chain of + on temporaries
        // for an overflowing copy when it optimizes.
        std::string hint = "Type the keys in the \u201C";
        hint += DemoWindow::kWindowTitle;
        hint += "\u201D window: it stands in for ";
        hint += DemoWindow::kKeyboardName;
        hint += ".";
        model_->setRecordingSourceHint(hint);
    }
    mainWindow_ = new MainWindow(*model_, *bridge_, *services_->presence, *services_->desktop,
                                 std::move(actions));
    mainWindow_->setPermissionRequestHandler(
        [this](const std::string& key) { return composition_->platform->requestPermission(key); });
    mainWindow_->setBannerDismissHandler([this](const std::string& keptAt) {
        if (const auto& storage = engine_->storage()) {
            storage->dismissSetAsideFile(keptAt);
        }
        pollNotices();
    });
    delegate_ = new AppDelegate(*engine_, *services_->presence);
    delegate_->setupStatusItem();
    // The status item shows whether mappings are on, for which keyboard, or
    // that it waits for that keyboard to come back.
    connect(bridge_.get(), &EngineBridge::changed, delegate_, [this] {
        const EngineChanges& what = bridge_->deliveredChanges();
        if (what.contains(EngineChange::interception) || what.contains(EngineChange::selection)) {
            delegate_->updateStatusItem();
        }
    });
    trayAvailable_ = QSystemTrayIcon::isSystemTrayAvailable();
    mainWindow_->show();
}

// Where the platform reports every change of its notices, nothing wakes the
// process while all is quiet. The report may come from deep inside the
// engine's work: the banner follows on the next turn of the loop. Elsewhere
// the notices are polled.
void ChordwellApp::followNotices() {
    const bool pushed = composition_->platform->setNoticeObserver([this] {
        if (!noticeRefreshQueued_) {
            noticeRefreshQueued_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    noticeRefreshQueued_ = false;
                    pollNotices();
                },
                Qt::QueuedConnection);
        }
    });
    if (!pushed) {
        noticeTimer_ = new QTimer(this);
        connect(noticeTimer_, &QTimer::timeout, this, [this] { pollNotices(); });
        noticeTimer_->start(kNoticePollMs);
    }
    pollNotices();
}

// Plays the --simulate script, or runs the demo with its window.
void ChordwellApp::startSimulation(std::vector<script::ScriptCommand> commands) {
    player_ = new SimulationPlayer(*composition_->simWorld, *engine_, std::move(commands),
                                   [](const std::string& line) {
                                       std::cout << line << '\n' << std::flush;
                                   });
    connect(player_, &SimulationPlayer::finished, this, [this] { scriptFinished(); });
    if (demo_) {
        // Made after the player, so that what reaches the focused
        // application is shown in the window rather than printed.
        demoWindow_ = new DemoWindow(*composition_->simWorld, *engine_);
        // Keys still held when the focus leaves it switched windows (the
        // Alt of Alt+Tab): they are no part of a recording.
        demoWindow_->setFocusLossHandler(
            [this](const std::vector<HidUsage>& held) { model_->withdrawFromRecording(held); });
        showDemoWindow();
    }
    player_->start();
}

void ChordwellApp::pollNotices() {
    if (mainWindow_ == nullptr || engine_ == nullptr) {
        return;
    }
    const auto& storage = engine_->storage();
    std::vector<BannerMessage> lines = bannerMessages(
        composition_->platform->notices(), engine_->hasStorage(), engine_->storageError(),
        storage ? storage->setAsideFiles() : std::vector<SetAsideFile>{});
    if (auto notice = noTrayNotice(trayAvailable_)) {
        lines.push_back(std::move(*notice));
    }
    mainWindow_->setBanner(lines);
}

bool ChordwellApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationActivate) {
        pollNotices();
        // A reopen (Dock icon, launching again) is the delegate's: it tells
        // one from an ordinary activation.
    }
    return QObject::eventFilter(watched, event);
}

void ChordwellApp::showMainWindow() {
    if (delegate_ != nullptr) {
        delegate_->showApp();
    }
    if (mainWindow_ != nullptr && !mainWindow_->isVisible()) {
        // The window searches go by title; show ours even if its title
        // differs from the bundle name.
        mainWindow_->show();
        mainWindow_->raise();
        mainWindow_->activateWindow();
    }
}

void ChordwellApp::showDemoWindow() {
    if (demoWindow_ == nullptr) {
        return;
    }
    if (!demoWindow_->isVisible() && mainWindow_ != nullptr) {
        // Beside the mapping list, never over it where the screen allows.
        const QScreen* screen = mainWindow_->screen();
        if (screen != nullptr) {
            const QRect available = screen->availableGeometry();
            const QSize demoMinimum = demoWindow_->minimumSizeHint();
            if (!demoPlaced_) {
                // The first time, the main window makes room at the left of
                // the screen if it can spare the width.
                demoPlaced_ = true;
                const int spare = available.width() - mainWindow_->frameGeometry().width();
                const int needed = demoMinimum.width() + 2 * kWindowFrameWidth + 8;
                if (spare < needed &&
                    available.width() - needed - kWindowFrameWidth >= mainWindow_->minimumWidth()) {
                    mainWindow_->resize(std::max(mainWindow_->minimumWidth(),
                                                 available.width() - needed - kWindowFrameWidth),
                                        mainWindow_->height());
                }
                mainWindow_->move(available.topLeft());
                QCoreApplication::sendPostedEvents();
            }
            demoWindow_->setGeometry(demoWindowPlace(available, mainWindow_->frameGeometry(),
                                                     mainWindow_->mappingAreaOnScreen(),
                                                     demoWindow_->sizeHint(), demoMinimum));
        }
    }
    AppDelegate::bringToFront(demoWindow_);
}

QRect ChordwellApp::availableArea() const {
    const QScreen* screen =
        mainWindow_ != nullptr ? mainWindow_->screen() : QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

void ChordwellApp::placeOverMainWindow(QWidget* window, const QRect& available) {
    // Centred on the main window when it is on screen (the window manager
    // would put it anywhere), always inside the free area.
    const QRect over = mainWindow_ != nullptr && mainWindow_->isVisible()
                           ? mainWindow_->frameGeometry()
                           : available;
    if (over.isValid()) {
        window->setGeometry(centredWithin(over, window->size(), available));
    }
}

void ChordwellApp::openSettings() {
    if (settingsWindow_ == nullptr) {
        auto* view = new SettingsView(*preferences_, *services_->loginItem, *services_->desktop,
                                      DiagnosticsSources::shared());
        view->setObjectName(QStringLiteral("settingsView"));
        settingsWindow_ = new SettingsWindow(view);
    } else if (auto* view = settingsWindow_->findChild<SettingsView*>()) {
        // The window's content is built afresh each time it opens.
        view->refresh();
    }
    if (!settingsWindow_->isVisible()) {
        const QRect available = availableArea();
        static_cast<SettingsWindow*>(settingsWindow_)->fitToAvailableHeight(available.height());
        placeOverMainWindow(settingsWindow_, available);
    }
    settingsWindow_->show();
    settingsWindow_->raise();
    settingsWindow_->activateWindow();
}

void ChordwellApp::openHelp() {
    if (helpWindow_ == nullptr) {
        helpWindow_ = new HelpWindow(new HelpView(*services_->desktop));
    }
    if (!helpWindow_->isVisible()) {
        const QRect available = availableArea();
        static_cast<HelpWindow*>(helpWindow_)->fitInto(available);
        placeOverMainWindow(helpWindow_, available);
    }
    helpWindow_->show();
    helpWindow_->raise();
    helpWindow_->activateWindow();
}

void ChordwellApp::scriptFinished() {
    if (player_ != nullptr && player_->error()) {
        std::cerr << *player_->error() << std::endl;
        exitCode_ = 2;
        QCoreApplication::exit(exitCode_);
        return;
    }
    if (options_.screenshotDir) {
        if (demo_) {
            takeDemoScreenshots();
        } else {
            takeScreenshots();
        }
        QCoreApplication::exit(exitCode_);
        return;
    }
    if (options_.exitWhenScriptEnds) {
        QCoreApplication::exit(exitCode_);
    }
}

} // namespace chordwell::app
