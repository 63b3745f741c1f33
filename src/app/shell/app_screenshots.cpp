// Pictures of the windows for the documentation and for review:
// `--screenshot-dir` saves them once the simulate script (or the demo's) has run.
#include "app/shell/chordwell_app.hpp"

#include "app/app_info.hpp"
#include "app/controls/big_power_toggle.hpp"
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
#include "app/shell/main_window.hpp"
#include "app/shell/platform_composition.hpp"
#include "app/shell/simulation_player.hpp"
#include "app/shell/tray_notice.hpp"
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
#include <QEventLoop>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
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

// Lets queued work, layouts and paints happen before a picture is taken.
void settleEvents() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// Lets the switch's flip (and the labels' fades) finish, so that a picture
// never shows two states at once.
void waitForAnimations() {
    QEventLoop loop;
    QTimer::singleShot(BigPowerToggle::kFlipDurationMs + 100, &loop, &QEventLoop::quit);
    loop.exec();
}

// The status item's picture with mappings off and on, side by side.
bool saveTrayIcon(const AppDelegate* delegate, const std::filesystem::path& file) {
    if (delegate == nullptr || delegate->statusItem() == nullptr) {
        return false;
    }
    const QPalette palette = QGuiApplication::palette();
    QPixmap both(2 * 64 + 16, 64);
    both.fill(palette.color(QPalette::Window));
    QPainter painter(&both);
    painter.drawPixmap(0, 0, AppDelegate::statusItemIcon(palette, false).pixmap(QSize(64, 64)));
    painter.drawPixmap(64 + 16, 0,
                       AppDelegate::statusItemIcon(palette, true).pixmap(QSize(64, 64)));
    painter.end();
    return both.save(QString::fromStdString(file.string()), "PNG");
}

bool saveGrab(QWidget* widget, const std::filesystem::path& file) {
    if (widget == nullptr) {
        return false;
    }
    settleEvents();
    return widget->grab().save(QString::fromStdString(file.string()), "PNG");
}

} // namespace

void ChordwellApp::takeDemoScreenshots() {
    const std::filesystem::path dir = *options_.screenshotDir;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    // Mid-use: intercepting, Control+A typed (Copy), then Control+H (a custom
    // sequence) held while the pane shows what the application received.
    if (!engine_->isIntercepting()) {
        toggleInterception(*engine_);
    }
    demoWindow_->pressKey(0xE0);
    demoWindow_->pressKey(0x04);
    demoWindow_->releaseKey(0x04);
    demoWindow_->pressKey(0x0B);
    demoWindow_->releaseKey(0x0B);
    demoWindow_->releaseKey(0xE0);
    demoWindow_->pressKey(0x16); // S alone passes unchanged
    demoWindow_->releaseKey(0x16);
    mainWindow_->mappingView()->refresh();
    waitForAnimations();
    bool ok = saveGrab(demoWindow_, dir / "demo.png");
    mainWindow_->mappingView()->refresh();
    ok = saveGrab(mainWindow_, dir / "demo-main.png") && ok;
    // The same after the desktop turned dark.
    const QPalette light = QApplication::palette();
    QApplication::setPalette(theme::darkPalette());
    ok = saveGrab(demoWindow_, dir / "dark-demo.png") && ok;
    ok = saveGrab(mainWindow_, dir / "dark-demo-main.png") && ok;
    QApplication::setPalette(light);
    // A recording in the demo: the hint says where to type and how to stop.
    toggleInterception(*engine_);
    model_->toggleCaptureFrom();
    demoWindow_->pressKey(0xE0);
    demoWindow_->pressKey(0x04);
    settleEvents();
    mainWindow_->mappingView()->refresh();
    waitForAnimations();
    ok = saveGrab(mainWindow_, dir / "demo-recording-main.png") && ok;
    ok = saveGrab(demoWindow_, dir / "demo-recording.png") && ok;
    demoWindow_->releaseAll();
    model_->toggleCaptureFrom();
    if (!ok) {
        std::cerr << "could not save every screenshot in " << dir.string() << std::endl;
        exitCode_ = 1;
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
    ok = saveTrayIcon(delegate_, dir / "tray-icon.png") && ok;

    // The same windows after the palette turned dark while running, as when
    // the desktop switches theme: every symbol must follow.
    const QPalette light = QApplication::palette();
    QApplication::setPalette(theme::darkPalette());
    ok = saveGrab(mainWindow_, dir / "dark-main-mappings.png") && ok;
    ok = saveGrab(settingsWindow_, dir / "dark-settings.png") && ok;
    ok = saveGrab(helpWindow_, dir / "dark-help.png") && ok;
    ok = saveTrayIcon(delegate_, dir / "dark-tray-icon.png") && ok;
    QApplication::setPalette(light);
    if (!ok) {
        std::cerr << "could not save every screenshot in " << dir.string() << std::endl;
        exitCode_ = 1;
    }
}

} // namespace chordwell::app
