// The windows besides the main one and the status item: settings that fit a
// small screen and follow changes made elsewhere, Escape and Ctrl+W, links
// that cannot be opened, the import choice's order, the tray menu's clicks
// and keys, a minimised main window, reopening and the icon's colours.
#include "app_test_support.hpp"
#include "test_diagnostics_fakes.hpp"

#include "app/controls/symbol_label.hpp"
#include "app/controls/theme.hpp"
#include "app/diagnostics/diagnostics_model.hpp"
#include "app/help/help_view.hpp"
#include "app/help/help_window.hpp"
#include "app/mappings/mapping_dialogs.hpp"
#include "app/settings/observable_preferences.hpp"
#include "app/settings/settings_view.hpp"
#include "app/settings/settings_window.hpp"
#include "app/shell/app_delegate.hpp"
#include "app/shell/app_events.hpp"
#include "platform/qt/qt_desktop.hpp"
#include "storage/settings.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace chordwell::app {
namespace {

using platform::MemoryPreferences;
using testing::FakeLoginItem;
using testing::ModelWorld;
using testing::RecordingDesktop;

DiagnosticsSources noDiagnostics() {
    DiagnosticsSources sources;
    sources.readLog = [] {
        return std::string();
    };
    sources.currentLogFile = [] {
        return std::optional<std::filesystem::path>("/var/log/chordwell.log");
    };
    sources.recentActions = [](std::int64_t) {
        return std::string("(none)");
    };
    return sources;
}

class NoBrowserDesktop : public RecordingDesktop {
public:
    bool openURL(const std::string& url) override {
        openedURLs.push_back(url);
        return false;
    }
    bool revealFile(const std::filesystem::path& file) override {
        revealed.push_back(file);
        return false;
    }
};

struct Settings {
    Settings() {
        view = new SettingsView(prefs, login, desktop, noDiagnostics(),
                                DiagnosticsIdentity{"Chordwell", "1.0.0 (1)", "s@x.com", "Linux"},
                                [](const std::string&) {});
        window = std::make_unique<SettingsWindow>(view);
    }
    std::shared_ptr<MemoryPreferences> store = std::make_shared<MemoryPreferences>();
    ObservablePreferences prefs{store};
    FakeLoginItem login;
    NoBrowserDesktop desktop;
    SettingsView* view = nullptr;
    std::unique_ptr<SettingsWindow> window;
};

void showActive(QWidget* window) {
    window->show();
    QApplication::setActiveWindow(window);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

} // namespace

TEST(SettingsWindow, FitsOrScrollsOnSmallScreens) {
    // A 768-pixel screen at 100 % and 125 % (614 logical pixels), less a panel.
    struct Case {
        const char* what;
        int available;
    };
    for (const Case& c : {Case{"1366x768 at 100 %", 768 - 32}, Case{"1366x768 at 125 %", 614 - 26},
                          Case{"a tall screen", 1400}}) {
        Settings s;
        s.window->show();
        s.window->fitToAvailableHeight(c.available);
        QCoreApplication::processEvents();
        const int content = s.view->sizeHint().height();
        EXPECT_LE(s.window->height(), std::max(c.available - SettingsWindow::kFrameAllowance, 200))
            << c.what;
        QScrollBar* bar = s.window->scrollArea()->verticalScrollBar();
        if (content <= s.window->height()) {
            EXPECT_EQ(bar->maximum(), 0) << c.what << ": nothing to scroll";
            EXPECT_EQ(s.window->height(), content) << c.what;
            continue;
        }
        // The last section can be brought into view.
        bar->setValue(bar->maximum());
        QCoreApplication::processEvents();
        auto* privacy = s.view->findChild<QWidget*>(QStringLiteral("privacyLink"));
        ASSERT_NE(privacy, nullptr);
        const QRect shown(privacy->mapTo(s.window->scrollArea()->viewport(), QPoint(0, 0)),
                          privacy->size());
        EXPECT_TRUE(s.window->scrollArea()->viewport()->rect().contains(shown)) << c.what;
        EXPECT_GE(s.window->scrollArea()->viewport()->width(), SettingsView::kContentWidth)
            << c.what << ": the scroll bar covers the content";
    }
}

TEST(SecondaryWindows, EscapeAndCtrlWClose) {
    for (const QKeyCombination keys :
         {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::ControlModifier, Qt::Key_W)}) {
        Settings s;
        RecordingDesktop desktop;
        HelpWindow help(
            new HelpView(desktop, QStringLiteral("Chordwell"), HelpPlatform::linuxDesktop));
        for (QWidget* window :
             {static_cast<QWidget*>(s.window.get()), static_cast<QWidget*>(&help)}) {
            showActive(window);
            QWidget* target =
                QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : window;
            QTest::keyClick(target, keys.key(), keys.keyboardModifiers());
            QCoreApplication::processEvents();
            EXPECT_FALSE(window->isVisible())
                << window->objectName().toStdString() << " stays open after "
                << QKeySequence(keys).toString().toStdString();
        }
    }
}

TEST(SettingsView, FollowsPreferencesWrittenElsewhereWhileOpen) {
    Settings s;
    s.window->show();
    ModelWorld w;
    KeyboardMappingModel mappings(*w.engine, s.prefs);
    ASSERT_TRUE(s.view->confirmDeleteBox()->isChecked());
    // The delete dialog's "Do not ask again".
    mappings.dontAskAgainDeleteConfirmation = true;
    mappings.confirmDelete();
    EXPECT_FALSE(s.view->confirmDeleteBox()->isChecked());
    // Any other writer, through the same store.
    s.prefs.setValue(settings::kKeyRepeatEnabled, false);
    EXPECT_FALSE(s.view->keyRepeatBox()->isChecked());
    EXPECT_FALSE(s.view->keyRepeatTimings()->isVisibleTo(s.view));
    s.prefs.setValue(settings::kKeyRepeatEnabled, true);
    s.prefs.setValue(settings::kKeyRepeatInitialDelay, 1.5);
    EXPECT_EQ(s.view->initialDelayValue()->text(), "1500 ms");
    EXPECT_TRUE(s.view->keyRepeatTimings()->isVisibleTo(s.view));
}

TEST(SecondaryWindows, ActionsNoApplicationTakesAreSaidWhereTheyStarted) {
    // Settings' links.
    Settings s;
    EXPECT_FALSE(s.view->linkStatus()->isVisibleTo(s.view));
    s.view->openLink(QStringLiteral("https://palvane.com/chordwell/terms"));
    EXPECT_TRUE(s.view->linkStatus()->isVisibleTo(s.view));
    EXPECT_TRUE(s.view->linkStatus()->text().contains("https://palvane.com/chordwell/terms"));
    // Help's links.
    NoBrowserDesktop desktop;
    HelpView help(desktop, QStringLiteral("Chordwell"), HelpPlatform::linuxDesktop);
    EXPECT_FALSE(help.linkStatus()->isVisibleTo(&help));
    help.openLink(QStringLiteral("mailto:support@palvane.com"));
    EXPECT_TRUE(help.linkStatus()->isVisibleTo(&help));
    EXPECT_TRUE(help.linkStatus()->text().contains("mailto:support@palvane.com"));
    // "Show in File Manager" without a file manager names the file.
    DiagnosticsModel diagnostics(desktop, noDiagnostics(),
                                 DiagnosticsIdentity{"Chordwell", "1", "s@x.com", "Linux"});
    diagnostics.revealLog();
    ASSERT_EQ(desktop.revealed.size(), 1u);
    ASSERT_TRUE(diagnostics.savedConfirmation().has_value());
    EXPECT_NE(diagnostics.savedConfirmation()->find("/var/log/chordwell.log"), std::string::npos);
}

TEST(ImportOptions, ButtonsStandInTheOfferedOrderAndMeanTheirChoice) {
    QWidget parent;
    parent.resize(600, 400);
    parent.show();
    QMessageBox* box = makeImportOptionsDialog(&parent);
    box->show();
    QCoreApplication::processEvents();
    QList<QAbstractButton*> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(), [box](QAbstractButton* a, QAbstractButton* b) {
        const QPoint pa = a->mapTo(box, QPoint(0, 0));
        const QPoint pb = b->mapTo(box, QPoint(0, 0));
        return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() < pb.x();
    });
    QStringList shown;
    for (QAbstractButton* b : buttons) {
        shown << b->text();
    }
    EXPECT_EQ(shown, (QStringList{"Replace existing mappings",
                                  "Append new ones to existing mappings", "Cancel"}));
    ASSERT_EQ(buttons.size(), 3);
    EXPECT_EQ(importChoiceFor(box, buttons[0]), ImportChoice::replace);
    EXPECT_EQ(importChoiceFor(box, buttons[1]), ImportChoice::append);
    EXPECT_EQ(importChoiceFor(box, buttons[2]), ImportChoice::cancel);
    EXPECT_EQ(box->escapeButton(), buttons[2]);
    box->close();

    // It says how many mappings the file holds.
    QMessageBox* named = makeImportOptionsDialog(&parent, QStringLiteral("big.json"), 12345);
    EXPECT_EQ(named->informativeText(), "“big.json” holds 12,345 mappings.");
    named->close();
}

// ------------------------------------------------------------ status item

namespace {

struct Tray {
    Tray() {
        delegate.setupStatusItem();
        kb = w.attach("Board", 1, 1, 1);
    }
    ~Tray() {
        delegate.menu()->hide();
        for (QWidget* window : created) {
            delete window;
        }
    }
    QMainWindow* window(const QString& title) {
        auto* win = new QMainWindow();
        win->setWindowTitle(title);
        created.push_back(win);
        return win;
    }

    ModelWorld w;
    platform::qt::NoopAppPresence presence;
    AppDelegate delegate{*w.engine, presence};
    std::shared_ptr<platform::sim::SimKeyboard> kb;
    std::vector<QWidget*> created;
};

} // namespace

TEST(StatusItem, AClickTogglesTheMenuAndTheClickThatClosedItDoesNotReopenIt) {
    Tray t;
    QMenu* menu = t.delegate.menu();
    t.delegate.toggleMenu();
    EXPECT_TRUE(menu->isVisible()) << "first click opens";
    t.delegate.toggleMenu();
    EXPECT_FALSE(menu->isVisible()) << "second click closes";
    t.delegate.toggleMenu();
    ASSERT_TRUE(menu->isVisible());
    menu->hide();            // a click outside (on the icon) closes the popup first…
    t.delegate.toggleMenu(); // …then reaches the icon
    EXPECT_FALSE(menu->isVisible()) << "the closing click reopened the menu";
}

TEST(StatusItem, TheMenusShortcutsWorkWhileItIsOpen) {
    Tray t;
    QMainWindow* main = t.window(QStringLiteral("Chordwell"));
    QSignalSpy toggles(&AppEvents::instance(), &AppEvents::toggleIntercept);
    struct Case {
        const char* what;
        bool keyboardSelected;
        Qt::Key key;
        int toggles;
        bool mainShown;
    };
    const std::vector<Case> cases = {
        {"Ctrl+A without a keyboard: disabled", false, Qt::Key_A, 0, false},
        {"Ctrl+A", true, Qt::Key_A, 1, false},
        {"Ctrl+S", true, Qt::Key_S, 0, true},
    };
    for (const Case& c : cases) {
        toggles.clear();
        main->hide();
        if (c.keyboardSelected) {
            t.w.model->selectKeyboard(t.w.device(t.kb));
        }
        t.delegate.toggleMenu();
        ASSERT_TRUE(t.delegate.menu()->isVisible()) << c.what;
        QTest::keyClick(t.delegate.menu(), c.key, Qt::ControlModifier);
        QCoreApplication::processEvents();
        EXPECT_EQ(toggles.count(), c.toggles) << c.what;
        EXPECT_EQ(main->isVisible(), c.mainShown) << c.what;
        if (c.toggles + static_cast<int>(c.mainShown) > 0) {
            EXPECT_FALSE(t.delegate.menu()->isVisible()) << c.what << ": the menu stays open";
        }
        t.delegate.menu()->hide();
        QTest::qWait(AppDelegate::kDismissClickMs + 20);
    }
}

TEST(StatusItem, MenuOpensBesideTheIconNeverUnderThePointer) {
    // Random icons (or only a pointer) and menu sizes on a 1366x768 screen
    // whose panel takes the lowest 28 pixels.
    const QRect available(0, 0, 1366, 740);
    QRandomGenerator random(16);
    for (int i = 0; i < 500; ++i) {
        const bool knownIcon = random.bounded(2) == 0;
        const QRect icon = knownIcon
                               ? QRect(random.bounded(1366 - 24), random.bounded(740 - 24), 24, 24)
                               : QRect();
        const QPoint cursor =
            knownIcon ? icon.center() : QPoint(random.bounded(1366), random.bounded(740));
        const QSize menu(120 + random.bounded(200), 60 + random.bounded(120));
        const QRect placed(AppDelegate::statusMenuPosition(icon, cursor, menu, available), menu);
        const std::string where =
            std::to_string(i) + ": icon " + std::to_string(icon.x()) + "," +
            std::to_string(icon.y()) + " cursor " + std::to_string(cursor.x()) + "," +
            std::to_string(cursor.y()) + " placed " + std::to_string(placed.x()) + "," +
            std::to_string(placed.y()) + " " + std::to_string(placed.width()) + "x" +
            std::to_string(placed.height());
        EXPECT_TRUE(available.contains(placed)) << where;
        EXPECT_FALSE(placed.contains(cursor)) << where << ": a second click would choose an item";
        if (knownIcon) {
            EXPECT_FALSE(placed.intersects(icon)) << where;
        }
    }
}

TEST(StatusItem, AMinimisedMainWindowIsNotOnScreenAndShowAppRestoresIt) {
    Tray t;
    QMainWindow* main = t.window(QStringLiteral("Chordwell"));
    main->show();
    Q_EMIT t.delegate.menu()->aboutToShow();
    EXPECT_FALSE(t.delegate.showAppItem()->isEnabled());
    main->showMinimized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(main->isMinimized());
    Q_EMIT t.delegate.menu()->aboutToShow();
    EXPECT_TRUE(t.delegate.showAppItem()->isEnabled()) << "minimised counts as not on screen";
    t.delegate.showAppItem()->trigger();
    QCoreApplication::processEvents();
    EXPECT_FALSE(main->isMinimized());
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(t.presence.activations(), 1);
}

TEST(StatusItem, OnlyAReopenBringsBackAClosedWindow) {
    Tray t;
    QMainWindow* main = t.window(QStringLiteral("Chordwell"));
    // Ordinary activations: becoming active, and again after resigning.
    t.delegate.applicationStateChanged(Qt::ApplicationActive);
    t.delegate.applicationStateChanged(Qt::ApplicationInactive);
    t.delegate.applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(main->isVisible());
    // The platform's reopen: "active" again while already active.
    t.delegate.applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(main->isVisible());
}

TEST(StatusItem, IconsFollowAPaletteChange) {
    Tray t;
    SymbolLabel symbol(QStringLiteral("gearshape"), 16);
    const QPalette light = QApplication::palette();
    const auto iconImage = [&] {
        return t.delegate.statusItem()->icon().pixmap(QSize(22, 22)).toImage();
    };
    const QImage trayBefore = iconImage();
    const QImage symbolBefore = symbol.pixmap().toImage();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x22));
    dark.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(dark);
    QCoreApplication::processEvents();
    EXPECT_NE(iconImage(), trayBefore) << "the tray icon kept its old colours";
    EXPECT_NE(symbol.pixmap().toImage(), symbolBefore) << "the symbol kept its old colour";
    // The tray icon's plate and glyph come from the palette: both show.
    const QImage tray = iconImage();
    const QColor corner = tray.pixelColor(tray.width() / 2, 2);
    EXPECT_LT(corner.lightness(), 100) << "plate in the dark window colour";
    QApplication::setPalette(light);
    QCoreApplication::processEvents();
    EXPECT_EQ(iconImage(), trayBefore);
}

} // namespace chordwell::app

namespace chordwell::app {

TEST(StatusItem, PictureAndTooltipSayWhetherMappingsAreOnAndForWhichKeyboard) {
    Tray t;
    const auto picture = [&] {
        return t.delegate.statusItem()->icon().pixmap(QSize(22, 22)).toImage();
    };
    const QImage off = picture();
    EXPECT_EQ(t.delegate.statusItem()->toolTip(), QStringLiteral("Chordwell — mappings off"));

    t.w.engine->setSelectedDevice(t.w.device(t.kb));
    toggleInterception(*t.w.engine);
    ASSERT_TRUE(t.w.engine->isIntercepting());
    t.delegate.updateStatusItem();
    EXPECT_NE(picture(), off) << "the on and off pictures must differ";
    EXPECT_EQ(t.delegate.statusItem()->toolTip(),
              QStringLiteral("Chordwell — mappings on for Board"));

    t.w.engine->stopIntercepting();
    t.delegate.updateStatusItem();
    EXPECT_EQ(picture(), off);
    EXPECT_EQ(t.delegate.statusItem()->toolTip(), QStringLiteral("Chordwell — mappings off"));

    // Both pictures differ in every palette, and from each other's palette.
    for (const QPalette& palette : {QApplication::palette(), theme::darkPalette()}) {
        const QImage on = AppDelegate::statusItemIcon(palette, true).pixmap(22, 22).toImage();
        const QImage dim = AppDelegate::statusItemIcon(palette, false).pixmap(22, 22).toImage();
        EXPECT_NE(on, dim);
    }
}

TEST(StatusItem, TooltipWordsForEachState) {
    const struct {
        StatusItemState state;
        std::string text;
    } cases[] = {
        {{false, "", false}, "Chordwell — mappings off"},
        {{false, "Magic Keyboard", false}, "Chordwell — mappings off"},
        {{true, "Magic Keyboard", false}, "Chordwell — mappings on for Magic Keyboard"},
        {{true, "", false}, "Chordwell — mappings on"},
        {{true, "Magic Keyboard", true}, "Chordwell — Waiting for Magic Keyboard to come back…"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(statusItemToolTip(c.state, "Chordwell"), c.text);
    }
}

} // namespace chordwell::app
