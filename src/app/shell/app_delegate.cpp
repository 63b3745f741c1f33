#include "app/shell/app_delegate.hpp"

#include "app/app_info.hpp"
#include "app/controls/symbols.hpp"
#include "app/controls/theme.hpp"
#include "app/shell/app_events.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "ports/desktop.hpp"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

#include <algorithm>

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
    : QObject(parent), engine_(engine), presence_(presence) {
#ifdef __APPLE__
    lastState_ = QGuiApplication::applicationState();
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) { applicationStateChanged(state); });
#endif
}

AppDelegate::~AppDelegate() {
    if (qApp != nullptr) {
        qApp->removeEventFilter(this);
    }
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
        // Qt counts a minimised window as visible, but it is not on screen:
        // "Show App" must stay available to bring it back.
        infos.push_back(WindowInfo{hasTitleBar(w), w->isVisible() && !w->isMinimized(),
                                   w->windowTitle().toStdString()});
    }
    return infos;
}

void AppDelegate::bringToFront(QWidget* window) {
    if (window->isMinimized()) {
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    }
    window->show();
    window->raise();
    window->activateWindow();
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
    iconShowsOn_ = engine_.isIntercepting();
    statusItem_->setIcon(statusItemIcon(QGuiApplication::palette(), iconShowsOn_));
    statusItem_->setToolTip(QString::fromStdString(
        statusItemToolTip(statusItemState(), appDisplayName().toStdString())));

    menu_ = new QMenu();
    menu_->setObjectName(QStringLiteral("statusMenu"));
    menu_->setAccessibleName(appDisplayName());
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
#ifndef __APPLE__
        // The items' keys are answered by the open menu itself (see
        // eventFilter), never while it is closed: Ctrl+A must stay "select
        // all" in the main window's text fields.
        item->setShortcutContext(Qt::WidgetShortcut);
#endif
    }
    menu_->installEventFilter(this);
    connect(menu_, &QMenu::aboutToShow, this, [this] { updateMenuItems(); });
    connect(menu_, &QMenu::aboutToHide, this, [this] { menuHidden_.start(); });
#ifdef __APPLE__
    // The status item opens its menu itself, natively, on every click; the
    // menu's key equivalents work there.
    statusItem_->setContextMenu(menu_);
#else
    // Elsewhere the menu is drawn by the application for either button, so
    // that its shortcuts work and a second click on the icon closes it.
    connect(statusItem_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) {
                    toggleMenu();
                }
            });
#endif
    // The icon follows the palette (a dark panel, a theme switched while running).
    qApp->installEventFilter(this);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        log(LogLevel::warning, "No system tray: the status item is not shown", "ui");
    }
    statusItem_->show();
    updateMenuItems();
}

QIcon AppDelegate::statusItemIcon(const QPalette& palette, bool on) {
#ifdef __APPLE__
    (void)palette;
    // A template image: the menu bar draws it in its own colour, light or
    // dark. "On" adds a filled mark; "off" draws the keyboard thinner.
    const QIcon symbol = symbolIcon(QStringLiteral("keyboard"), Qt::black);
    QIcon icon;
    for (const int side : {16, 18, 22, 32, 36, 44}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(on ? 1.0 : 0.5);
        symbol.paint(&painter, QRect(0, 0, side, side));
        if (on) {
            painter.setOpacity(1.0);
            painter.setPen(Qt::NoPen);
            painter.setBrush(Qt::black);
            const qreal dot = side * 0.34;
            painter.drawEllipse(QRectF(side - dot, side - dot, dot, dot));
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    icon.setIsMask(true);
    return icon;
#else
    // The panel's colour is not known to the application. The symbol stands
    // on a small plate of the palette's window colour, in its text colour,
    // so it has the theme's contrast on a light panel and a dark one alike.
    // While mappings are on a green mark sits in the corner, as tray apps
    // show an active state; while they are off the keyboard is dimmed.
    const QColor plate = palette.color(QPalette::Active, QPalette::Window);
    QColor glyph = palette.color(QPalette::Active, QPalette::WindowText);
    if (!on) {
        glyph = theme::composited(QColor(glyph.red(), glyph.green(), glyph.blue(), 140), plate);
    }
    const QIcon symbol = symbolIcon(QStringLiteral("keyboard"), glyph);
    const QColor mark =
        theme::readableOn(QColor(0x34, 0xC7, 0x59), {plate}, theme::kLargeTextContrast);
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(plate);
        const qreal radius = side / 5.0;
        painter.drawRoundedRect(QRectF(0, 0, side, side), radius, radius);
        const int inset = std::max(2, side / 8);
        symbol.paint(&painter, QRect(inset, inset, side - 2 * inset, side - 2 * inset));
        if (on) {
            const qreal dot = side * 0.42;
            const QRectF badge(side - dot, side - dot, dot, dot);
            painter.setBrush(plate);
            painter.drawEllipse(badge);
            painter.setBrush(mark);
            painter.drawEllipse(
                badge.adjusted(side / 16.0, side / 16.0, -side / 16.0, -side / 16.0));
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
#endif
}

StatusItemState AppDelegate::statusItemState() const {
    StatusItemState state;
    state.intercepting = engine_.isIntercepting();
    if (const auto& awaited = engine_.awaitedKeyboard()) {
        // Unplugged or asleep while intercepted: interception resumes when
        // it comes back.
        state.keyboard = awaited->productName;
        state.waitingForKeyboard = true;
    } else if (const auto& selected = engine_.selectedDevice()) {
        state.keyboard = selected->productName;
    }
    return state;
}

void AppDelegate::updateStatusItem() {
    if (statusItem_ == nullptr) {
        return;
    }
    const StatusItemState state = statusItemState();
    if (state.intercepting != iconShowsOn_) {
        iconShowsOn_ = state.intercepting;
        statusItem_->setIcon(statusItemIcon(QGuiApplication::palette(), iconShowsOn_));
    }
    const QString tip =
        QString::fromStdString(statusItemToolTip(state, appDisplayName().toStdString()));
    if (statusItem_->toolTip() != tip) {
        statusItem_->setToolTip(tip);
    }
}

QPoint AppDelegate::statusMenuPosition(const QRect& icon, const QPoint& cursor, const QSize& menu,
                                       const QRect& available) {
    // Next to the icon, never over it nor under the pointer: otherwise the
    // click meant to close the menu lands on its first (or last) item.
    const QRect anchor = icon.isValid() && !icon.isEmpty() ? icon : QRect(cursor, QSize(1, 1));
    const int gap = 2;
    int x = anchor.left();
    if (x + menu.width() > available.right() + 1) {
        x = anchor.right() + 1 - menu.width();
    }
    x = std::max(available.left(), std::min(x, available.right() + 1 - menu.width()));
    int y = anchor.bottom() + 1 + gap;
    if (y + menu.height() > available.bottom() + 1) {
        y = anchor.top() - gap - menu.height();
    }
    y = std::max(available.top(), y);
    return {x, y};
}

void AppDelegate::toggleMenu() {
    if (menu_ == nullptr) {
        return;
    }
    if (menu_->isVisible()) {
        menu_->hide();
        menuHidden_.invalidate(); // closed by this very click
        return;
    }
    // A click on the icon while the menu is open first closes the menu
    // (Qt closes a popup on any click outside it) and then arrives here:
    // that click meant "close", not "open again".
    if (menuHidden_.isValid() && menuHidden_.elapsed() < kDismissClickMs) {
        return;
    }
    updateMenuItems();
    const QPoint cursor = QCursor::pos();
    const QRect icon = statusItem_ != nullptr ? statusItem_->geometry() : QRect();
    const QScreen* screen = QGuiApplication::screenAt(icon.isValid() ? icon.center() : cursor);
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
    menu_->popup(available.isValid()
                     ? statusMenuPosition(icon, cursor, menu_->sizeHint(), available)
                     : cursor);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == menu_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) {
            const QKeySequence pressed(key->keyCombination());
            for (QAction* item : {showAppItem_, activateToggleItem_, quitItem_}) {
                if (item->shortcut() == pressed) {
                    if (item->isEnabled()) {
                        menu_->hide();
                        item->trigger();
                    }
                    return true;
                }
            }
        }
    }
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange &&
        statusItem_ != nullptr) {
        statusItem_->setIcon(statusItemIcon(QGuiApplication::palette(), iconShowsOn_));
    }
    return QObject::eventFilter(watched, event);
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
        bringToFront(windows[*index]);
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
            bringToFront(w);
            break;
        }
    }
    return true;
}

void AppDelegate::applicationStateChanged(Qt::ApplicationState state) {
    // Qt reports the platform's reopen request (a click on the Dock icon,
    // launching the running application again) as a becoming-active that is
    // delivered even though the application already is active. A plain
    // activation, e.g. switching back with the keyboard, never reopens a
    // window the user closed.
    const bool reopened = state == Qt::ApplicationActive && lastState_ == Qt::ApplicationActive;
    lastState_ = state;
    if (!reopened) {
        return;
    }
    bool anyVisible = false;
    for (const WindowInfo& w : windowInfos(topLevelWindows())) {
        anyVisible = anyVisible || (w.hasTitleBar && w.isVisible);
    }
    applicationShouldHandleReopen(anyVisible);
}

} // namespace chordwell::app
