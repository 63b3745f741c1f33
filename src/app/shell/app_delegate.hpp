// The status item (a tray icon) with its small menu: "Show App", the
// interception toggle and "Quit"; showing the application again; re-opening.
#pragma once

#include "app/shell/status_menu_model.hpp"

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QRect>

#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace chordwell {
class RawKeyboardListener;
namespace platform {
class AppPresence;
} // namespace platform
} // namespace chordwell

namespace chordwell::app {

class AppDelegate : public QObject {
    Q_OBJECT

public:
    AppDelegate(RawKeyboardListener& engine, platform::AppPresence& presence,
                QObject* parent = nullptr);
    ~AppDelegate() override;

    /// Creates the status item and its menu (once).
    void setupStatusItem();
    /// Titles and enabled states, each time the menu is about to open.
    void updateMenuItems();
    /// "Show App": regular application, activated, main window in front.
    void showApp();
    /// The toggle item: posts "toggleIntercept" and nothing else.
    void activateToggleItemAction();
    void quit();
    /// The user re-opened the running application.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    /// The application's state as Qt reports it (connected on macOS, where
    /// a reopen arrives as a repeated "active").
    void applicationStateChanged(Qt::ApplicationState state);

    /// A click on the tray icon: opens the menu, or closes it when open.
    void toggleMenu();
    /// A click that closes the open menu reaches the icon right after; one
    /// within this time after the menu closed does not open it again.
    static constexpr qint64 kDismissClickMs = 300;

    /// The status item's picture for this palette (a template image on
    /// macOS): the keyboard, with a green mark while mappings are on and
    /// dimmed while they are off.
    static QIcon statusItemIcon(const QPalette& palette, bool on);
    /// What the status item says now, from the engine.
    StatusItemState statusItemState() const;
    /// Picture and tooltip follow the engine's state (called when it changes).
    void updateStatusItem();
    /// Where the menu opens: beside the icon (or the pointer when the icon's
    /// place is unknown), inside `available`, never covering either.
    static QPoint statusMenuPosition(const QRect& icon, const QPoint& cursor, const QSize& menu,
                                     const QRect& available);

    QSystemTrayIcon* statusItem() const { return statusItem_; }
    QMenu* menu() const { return menu_; }
    QAction* showAppItem() const { return showAppItem_; }
    QAction* activateToggleItem() const { return activateToggleItem_; }
    QAction* quitItem() const { return quitItem_; }

    /// The application's top-level windows in Qt's order, as the menu rules
    /// see them, and the widgets they describe.
    static std::vector<WindowInfo> windowInfos(const std::vector<QWidget*>& windows);
    static std::vector<QWidget*> topLevelWindows();
    /// The application's name: what the main window's title is compared with.
    static std::optional<std::string> bundleName();
    /// Restores a minimised window, shows it and brings it to the front.
    static void bringToFront(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    RawKeyboardListener& engine_;
    platform::AppPresence& presence_;
    QSystemTrayIcon* statusItem_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* showAppItem_ = nullptr;
    QAction* activateToggleItem_ = nullptr;
    QAction* quitItem_ = nullptr;
    QElapsedTimer menuHidden_;
    // What the picture was last drawn for.
    bool iconShowsOn_ = false;
    Qt::ApplicationState lastState_ = Qt::ApplicationInactive;
};

} // namespace chordwell::app
