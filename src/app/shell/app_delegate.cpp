#include "app/shell/app_delegate.hpp"

#include "app/app_info.hpp"
#include "app/controls/symbols.hpp"
#include "app/shell/app_events.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/desktop.hpp"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace chordwell::app {

namespace {

bool hasTitleBar(const QWidget* w) {
    const Qt::WindowType type = w->windowType();
    if (type != Qt::Window && type != Qt::Dialog) {
        return false; // menus, tool tips, popups, splash screens
    }
    return !w->windowFlags().testFlag(Qt::FramelessWindowHint);
}

} // namespace

AppDelegate::AppDelegate(RawKeyboardListener& engine, platform::AppPresence& presence,
                         QObject* parent)
    : QObject(parent), engine_(engine), presence_(presence) {}

AppDelegate::~AppDelegate() {
    delete menu_;
}

std::vector<QWidget*> AppDelegate::topLevelWindows() {
    std::vector<QWidget*> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isWindow()) {
            windows.push_back(w);
        }
    }
    return windows;
}

std::vector<WindowInfo> AppDelegate::windowInfos(const std::vector<QWidget*>& windows) {
    std::vector<WindowInfo> infos;
    infos.reserve(windows.size());
    for (const QWidget* w : windows) {
        infos.push_back(WindowInfo{hasTitleBar(w), w->isVisible(), w->windowTitle().toStdString()});
    }
    return infos;
}

std::optional<std::string> AppDelegate::bundleName() {
    const QString name = appBundleName();
    if (name.isEmpty()) {
        return std::nullopt;
    }
    return name.toStdString();
}

void AppDelegate::setupStatusItem() {
    if (statusItem_ != nullptr) {
        return;
    }
    statusItem_ = new QSystemTrayIcon(this);
    statusItem_->setIcon(symbolIcon(QStringLiteral("keyboard")));
    statusItem_->setToolTip(appDisplayName());

    menu_ = new QMenu();
    menu_->setObjectName(QStringLiteral("statusMenu"));
    showAppItem_ = menu_->addAction(QStringLiteral("Show App"), this, [this] { showApp(); });
    showAppItem_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    menu_->addSeparator();
    activateToggleItem_ = menu_->addAction(QStringLiteral("Activate ") + appDisplayName(), this,
                                           [this] { activateToggleItemAction(); });
    activateToggleItem_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    menu_->addSeparator();
    quitItem_ = menu_->addAction(QStringLiteral("Quit"), this, [this] { quit(); });
    quitItem_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    for (QAction* item : {showAppItem_, activateToggleItem_, quitItem_}) {
        item->setShortcutVisibleInContextMenu(true);
    }
    connect(menu_, &QMenu::aboutToShow, this, [this] { updateMenuItems(); });
    statusItem_->setContextMenu(menu_);
    // A left click opens the menu too, as the status item does on macOS.
    connect(statusItem_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger && menu_ != nullptr) {
                    updateMenuItems();
                    menu_->popup(QCursor::pos());
                }
            });
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        log(LogLevel::warning, "No system tray: the status item is not shown", "ui");
    }
    statusItem_->show();
    updateMenuItems();
}

void AppDelegate::updateMenuItems() {
    if (menu_ == nullptr) {
        return;
    }
    const StatusMenuState state = statusMenuState(
        engine_.isIntercepting(), engine_.selectedDevice().has_value(),
        windowInfos(topLevelWindows()), bundleName(), appDisplayName().toStdString());
    showAppItem_->setEnabled(state.showAppEnabled);
    activateToggleItem_->setText(QString::fromStdString(state.toggleTitle));
    activateToggleItem_->setEnabled(state.toggleEnabled);
    quitItem_->setEnabled(true);
}

void AppDelegate::showApp() {
    presence_.setActivationPolicy(platform::ActivationPolicy::regular);
    presence_.activateIgnoringOtherApps();
    const std::vector<QWidget*> windows = topLevelWindows();
    if (const auto index = mainWindowToShow(windowInfos(windows), bundleName())) {
        QWidget* window = windows[*index];
        window->show();
        window->raise();
        window->activateWindow();
    }
}

void AppDelegate::activateToggleItemAction() {
    AppEvents::instance().postToggleIntercept();
}

void AppDelegate::quit() {
    QCoreApplication::quit();
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    if (hasVisibleWindows) {
        return true;
    }
    const std::vector<QWidget*> windows = topLevelWindows();
    for (QWidget* w : windows) {
        if (hasTitleBar(w)) {
            w->show();
            w->raise();
            w->activateWindow();
            break;
        }
    }
    return true;
}

} // namespace chordwell::app
