#include "app/shell/chordwell_app.hpp"

#include "app/app_info.hpp"
#include "app/diagnostics/diagnostics_model.hpp"
#include "app/help/help_view.hpp"
#include "app/mappings/keyboard_mapping_model.hpp"
#include "app/mappings/keyboard_mapping_view.hpp"
#include "app/settings/settings_view.hpp"
#include "app/shell/app_delegate.hpp"
#include "app/shell/engine_bridge.hpp"
#include "app/shell/main_window.hpp"
#include "app/shell/platform_composition.hpp"
#include "app/shell/simulation_player.hpp"
#include "app/shell/tray_notice.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/breadcrumbs.hpp"
#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/qt/qt_preferences.hpp"
#include "platform/qt/qt_scheduler.hpp"
#include "platform/sim/script.hpp"
#include "platform/sim/sim_world.hpp"
#include "storage/shortcuts.hpp"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QPixmap>
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
constexpr int kNoticePollMs = 1000;

std::optional<std::string> readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Lets queued work, layouts and paints happen before a picture is taken.
void settleEvents() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

bool saveGrab(QWidget* widget, const std::filesystem::path& file) {
    if (widget == nullptr) {
        return false;
    }
    settleEvents();
    return widget->grab().save(QString::fromStdString(file.string()), "PNG");
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
        } else if (a == "--exit-when-done") {
            options.exitWhenScriptEnds = true;
        } else if (a == "--verbose") {
            options.verbose = true;
        } else {
            error = "unknown option: " + a;
            return std::nullopt;
        }
    }
    if ((options.screenshotDir || options.exitWhenScriptEnds) && !options.simulateScript) {
        error = "--screenshot-dir and --exit-when-done need --simulate";
        return std::nullopt;
    }
    return options;
}

ChordwellApp::ChordwellApp(AppOptions options) : options_(std::move(options)) {}

ChordwellApp::~ChordwellApp() {
    if (qApp != nullptr) {
        qApp->removeEventFilter(this);
    }
    delete player_;
    delete settingsWindow_;
    delete helpWindow_;
    delete mainWindow_;
    delete delegate_;
    // The engine lives on (it is never destroyed); the model and the bridge
    // end their subscriptions here.
    model_.reset();
    bridge_.reset();
}

platform::sim::SimWorld* ChordwellApp::simWorld() const {
    return composition_ ? composition_->simWorld.get() : nullptr;
}

bool ChordwellApp::start(std::string& error) {
    std::vector<platform::sim::ScriptCommand> commands;
    if (options_.simulateScript) {
        const auto text = readText(*options_.simulateScript);
        if (!text) {
            error = "cannot read " + options_.simulateScript->string();
            exitCode_ = 2;
            return false;
        }
        platform::sim::ParsedScript parsed = platform::sim::parseScript(*text);
        if (parsed.error) {
            error = parsed.error->text();
            exitCode_ = 2;
            return false;
        }
        commands = std::move(parsed.commands);
    }

    // Lines the platform logs while it is being built reach the log file too.
    logging::configure(nullptr, logsFolderOf(*nativePaths()));
    scheduler_ = std::make_shared<platform::qt::QtScheduler>();
    preferences_ = std::make_shared<platform::qt::QtPreferences>();
    services_ = std::make_unique<DesktopServices>(makeDesktopServices());
    composition_ = std::make_unique<Composition>(
        options_.simulateScript
            ? composeSimulatedPlatform(scheduler_, preferences_, options_.verbose)
            : composeNativePlatform(scheduler_, preferences_));
    if (options_.verbose && !options_.simulateScript) {
        composition_->systemLog = std::make_shared<platform::StderrSystemLog>(LogLevel::debug);
    }
    logging::configure(composition_->systemLog, composition_->logsFolder);
    log(LogLevel::info,
        std::string(options_.simulateScript ? "Starting on the simulated platform, version "
                                            : "Starting, version ") +
            appVersionString().toStdString(),
        kCategoryUi);

    std::shared_ptr<platform::Platform> platform = composition_->platform;
    RawKeyboardListener::setSharedPlatformFactory([platform] { return platform; });
    engine_ = &RawKeyboardListener::shared();

    std::vector<ShortcutGroup> catalog = ShortcutsLoader(defaultShortcutsPath()).load();
    bridge_ = std::make_unique<EngineBridge>(*engine_);
    model_ = std::make_unique<KeyboardMappingModel>(
        *engine_, platform->preferences(), std::move(catalog),
        [](const std::string& text) { logging::Breadcrumbs::shared().add(text); });

    MainWindow::Actions actions;
    actions.openSettings = [this] {
        openSettings();
    };
    actions.openHelp = [this] {
        openHelp();
    };
    mainWindow_ = new MainWindow(*model_, *bridge_, *services_->presence, *services_->desktop,
                                 std::move(actions));
    delegate_ = new AppDelegate(*engine_, *services_->presence);
    delegate_->setupStatusItem();
    trayAvailable_ = QSystemTrayIcon::isSystemTrayAvailable();
    mainWindow_->show();

    noticeTimer_ = new QTimer(this);
    connect(noticeTimer_, &QTimer::timeout, this, [this] { pollNotices(); });
    noticeTimer_->start(kNoticePollMs);
    pollNotices();
    qApp->installEventFilter(this);

    if (composition_->simWorld) {
        player_ = new SimulationPlayer(*composition_->simWorld, *engine_, std::move(commands),
                                       [](const std::string& line) {
                                           std::cout << line << '\n' << std::flush;
                                       });
        connect(player_, &SimulationPlayer::finished, this, [this] { scriptFinished(); });
        player_->start();
    }
    return true;
}

void ChordwellApp::pollNotices() {
    if (mainWindow_ == nullptr || engine_ == nullptr) {
        return;
    }
    std::vector<BannerMessage> lines = bannerMessages(
        composition_->platform->notices(), engine_->hasStorage(), engine_->storageError());
    if (auto notice = noTrayNotice(trayAvailable_)) {
        lines.push_back(std::move(*notice));
    }
    mainWindow_->setBanner(lines);
}

bool ChordwellApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationActivate) {
        pollNotices();
#ifdef __APPLE__
        // Clicking the Dock icon or launching the running application again.
        bool anyVisible = false;
        for (const WindowInfo& w : AppDelegate::windowInfos(AppDelegate::topLevelWindows())) {
            anyVisible = anyVisible || (w.hasTitleBar && w.isVisible);
        }
        delegate_->applicationShouldHandleReopen(anyVisible);
#endif
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

void ChordwellApp::openSettings() {
    if (settingsWindow_ == nullptr) {
        settingsWindow_ = new QWidget(nullptr, Qt::Window);
        settingsWindow_->setObjectName(QStringLiteral("settings"));
        settingsWindow_->setWindowTitle(QStringLiteral("Settings"));
        auto* layout = new QVBoxLayout(settingsWindow_);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* view = new SettingsView(*preferences_, *services_->loginItem, *services_->desktop,
                                      DiagnosticsSources::shared(), settingsWindow_);
        view->setObjectName(QStringLiteral("settingsView"));
        layout->addWidget(view);
        layout->setSizeConstraint(QLayout::SetFixedSize);
    } else if (auto* view = settingsWindow_->findChild<SettingsView*>()) {
        // The window's content is built afresh each time it opens.
        view->refresh();
    }
    settingsWindow_->show();
    settingsWindow_->raise();
    settingsWindow_->activateWindow();
}

void ChordwellApp::openHelp() {
    if (helpWindow_ == nullptr) {
        helpWindow_ = new QWidget(nullptr, Qt::Window);
        helpWindow_->setObjectName(QStringLiteral("help"));
        helpWindow_->setWindowTitle(QStringLiteral("Help"));
        helpWindow_->setMinimumSize(360, 400);
        helpWindow_->resize(520, 640);
        auto* layout = new QVBoxLayout(helpWindow_);
        layout->addWidget(new HelpView(*services_->desktop, helpWindow_));
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
        takeScreenshots();
        QCoreApplication::exit(exitCode_);
        return;
    }
    if (options_.exitWhenScriptEnds) {
        QCoreApplication::exit(exitCode_);
    }
}

void ChordwellApp::takeScreenshots() {
    const std::filesystem::path dir = *options_.screenshotDir;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    bool ok = true;
    KeyboardMappingView* view = mainWindow_->mappingView();
    view->refresh();
    ok = saveGrab(mainWindow_, dir / "main-keyboard-selected.png") && ok;

    // The first keyboard whose record has mappings, as the list shows it.
    std::optional<KeyboardDevice> withMappings;
    for (const KeyboardRow& row : model_->keyboardRows()) {
        model_->selectKeyboard(row.device);
        if (model_->mappingPaneState() == MappingPaneState::mappings) {
            withMappings = row.device;
            break;
        }
    }
    view->refresh();
    ok = saveGrab(mainWindow_, dir / "main-mappings.png") && ok;

    // A "From" recording with Command, Shift and K held on that keyboard.
    auto* world = composition_->simWorld.get();
    auto* keyboard = withMappings && withMappings->deviceRef
                         ? dynamic_cast<platform::sim::SimKeyboard*>(withMappings->deviceRef.get())
                         : nullptr;
    model_->setMappingName("Delete line");
    model_->toggleCaptureFrom();
    const std::vector<HidUsage> keys = {0xE3, 0xE1, 0x0E};
    if (world != nullptr && keyboard != nullptr) {
        for (HidUsage u : keys) {
            world->keyDown(*keyboard, u);
        }
    }
    settleEvents();
    view->refresh();
    ok = saveGrab(mainWindow_, dir / "main-recording.png") && ok;
    if (world != nullptr && keyboard != nullptr) {
        for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
            world->keyUp(*keyboard, *it);
        }
    }
    model_->toggleCaptureFrom();
    model_->clearOrCancel();

    openSettings();
    ok = saveGrab(settingsWindow_, dir / "settings.png") && ok;
    openHelp();
    ok = saveGrab(helpWindow_, dir / "help.png") && ok;
    if (!ok) {
        std::cerr << "could not save every screenshot in " << dir.string() << std::endl;
        exitCode_ = 1;
    }
}

} // namespace chordwell::app
