// The status menu: its rules without a tray, then the delegate with real
// windows on the offscreen platform.
#include "app_test_support.hpp"

#include "app/shell/app_delegate.hpp"
#include "app/shell/app_events.hpp"
#include "app/shell/status_menu_model.hpp"
#include "platform/qt/qt_desktop.hpp"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

using chordwell::app::activateToggleTitle;
using chordwell::app::AppDelegate;
using chordwell::app::AppEvents;
using chordwell::app::mainWindowToShow;
using chordwell::app::statusMenuState;
using chordwell::app::WindowInfo;
using chordwell::app::testing::ModelWorld;

TEST(StatusMenuState, ShowAppIsEnabledExactlyWhenNoVisibleMainWindowExists) {
    struct Case {
        const char* what;
        std::vector<WindowInfo> windows;
        std::optional<std::string> bundleName;
        bool showAppEnabled;
    };
    const WindowInfo main{true, true, "Chordwell"};
    const std::vector<Case> cases = {
        {"main window on screen", {main}, "Chordwell", false},
        {"no windows", {}, "Chordwell", true},
        {"main window closed", {{true, false, "Chordwell"}}, "Chordwell", true},
        {"only other windows", {{true, true, "Help"}, {true, true, "Settings"}}, "Chordwell", true},
        {"a window without title bar", {{false, true, "Chordwell"}}, "Chordwell", true},
        {"no bundle name", {main}, std::nullopt, true},
        {"display name differs from bundle name",
         {{true, true, "Chordwell Pro"}},
         "Chordwell",
         true},
        {"main window among others", {{true, true, "Help"}, main}, "Chordwell", false},
    };
    for (const Case& c : cases) {
        const auto state = statusMenuState(false, true, c.windows, c.bundleName, "Chordwell");
        EXPECT_EQ(state.showAppEnabled, c.showAppEnabled) << c.what;
    }
}

TEST(StatusMenuState, ToggleTitleFollowsInterceptionAndNeedsASelectedKeyboard) {
    struct Case {
        bool intercepting;
        bool selected;
        std::string title;
        bool enabled;
    };
    const std::vector<Case> cases = {
        {false, true, "Activate Chordwell", true},
        {true, true, "Deactivate Chordwell", true},
        {false, false, "Activate Chordwell", false},
        {true, false, "Deactivate Chordwell", false},
    };
    for (const Case& c : cases) {
        const auto state =
            statusMenuState(c.intercepting, c.selected, {}, "Chordwell", "Chordwell");
        EXPECT_EQ(state.toggleTitle, c.title);
        EXPECT_EQ(state.toggleEnabled, c.enabled);
    }
    EXPECT_EQ(activateToggleTitle(false, "???"), "Activate ???");
}

TEST(StatusMenuState, ShowAppFindsTheFirstTitledMainWindowVisibleOrNot) {
    const std::vector<WindowInfo> windows = {{false, true, "Chordwell"},
                                             {true, false, "Help"},
                                             {true, false, "Chordwell"},
                                             {true, true, "Chordwell"}};
    EXPECT_EQ(mainWindowToShow(windows, "Chordwell"), std::optional<std::size_t>(2));
    EXPECT_EQ(mainWindowToShow(windows, std::nullopt), std::nullopt);
    EXPECT_EQ(mainWindowToShow({{true, true, "Chordwell Pro"}}, "Chordwell"), std::nullopt);
}

namespace {

struct DelegateWorld {
    DelegateWorld() {
        delegate.setupStatusItem();
        kb = w.attach("Board", 1, 1, 1);
    }
    ~DelegateWorld() {
        for (QWidget* window : created) {
            delete window;
        }
    }
    QMainWindow* window(const QString& title, bool show) {
        auto* win = new QMainWindow();
        win->setWindowTitle(title);
        created.push_back(win);
        if (show) {
            win->show();
        }
        return win;
    }

    ModelWorld w;
    chordwell::platform::qt::NoopAppPresence presence;
    AppDelegate delegate{*w.engine, presence};
    std::shared_ptr<chordwell::platform::sim::SimKeyboard> kb;
    std::vector<QWidget*> created;
};

} // namespace

TEST(AppDelegate, MenuHasItsItemsInOrderWithKeyEquivalents) {
    DelegateWorld d;
    const QList<QAction*> actions = d.delegate.menu()->actions();
    ASSERT_EQ(actions.size(), 5);
    EXPECT_EQ(actions[0]->text(), "Show App");
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), "Activate Chordwell");
    EXPECT_TRUE(actions[3]->isSeparator());
    EXPECT_EQ(actions[4]->text(), "Quit");
    EXPECT_EQ(actions[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(actions[2]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
    EXPECT_EQ(actions[4]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    ASSERT_NE(d.delegate.statusItem(), nullptr);
    EXPECT_FALSE(d.delegate.statusItem()->icon().isNull());
    d.delegate.setupStatusItem(); // a second call builds nothing new
    EXPECT_EQ(d.delegate.menu()->actions().size(), 5);
}

TEST(AppDelegate, OpeningTheMenuUpdatesTitlesAndEnabledStates) {
    DelegateWorld d;
    QMainWindow* main = d.window(QStringLiteral("Chordwell"), true);
    Q_EMIT d.delegate.menu()->aboutToShow();
    EXPECT_FALSE(d.delegate.showAppItem()->isEnabled()) << "main window on screen";
    EXPECT_FALSE(d.delegate.activateToggleItem()->isEnabled()) << "no keyboard selected";
    EXPECT_TRUE(d.delegate.quitItem()->isEnabled());

    d.w.model->selectKeyboard(d.w.device(d.kb));
    main->close();
    Q_EMIT d.delegate.menu()->aboutToShow();
    EXPECT_TRUE(d.delegate.showAppItem()->isEnabled()) << "main window closed";
    EXPECT_TRUE(d.delegate.activateToggleItem()->isEnabled());
    EXPECT_EQ(d.delegate.activateToggleItem()->text(), "Activate Chordwell");

    d.w.model->toggleInterception(true);
    Q_EMIT d.delegate.menu()->aboutToShow();
    EXPECT_EQ(d.delegate.activateToggleItem()->text(), "Deactivate Chordwell");
}

TEST(AppDelegate, ToggleItemOnlyPostsTheNotification) {
    DelegateWorld d;
    d.w.model->selectKeyboard(d.w.device(d.kb));
    Q_EMIT d.delegate.menu()->aboutToShow();
    QSignalSpy spy(&AppEvents::instance(), &AppEvents::toggleIntercept);
    d.delegate.activateToggleItem()->trigger();
    EXPECT_EQ(spy.count(), 1);
    // Nothing here listens to it: interception does not change.
    EXPECT_FALSE(d.w.engine->isIntercepting());
}

TEST(AppDelegate, ShowAppBringsTheMainWindowBackAndMakesTheAppRegular) {
    DelegateWorld d;
    QMainWindow* main = d.window(QStringLiteral("Chordwell"), false);
    d.window(QStringLiteral("Help"), false);
    d.presence.setActivationPolicy(chordwell::platform::ActivationPolicy::accessory);
    d.delegate.showAppItem()->trigger();
    EXPECT_EQ(d.presence.policy(), chordwell::platform::ActivationPolicy::regular);
    EXPECT_EQ(d.presence.activations(), 1);
    EXPECT_TRUE(main->isVisible());
}

TEST(AppDelegate, ShowAppWithARenamedWindowOnlyActivates) {
    DelegateWorld d;
    QMainWindow* renamed = d.window(QStringLiteral("Chordwell Pro"), false);
    d.delegate.showApp();
    EXPECT_EQ(d.presence.activations(), 1);
    EXPECT_FALSE(renamed->isVisible());
}

TEST(AppDelegate, ReopenWithoutVisibleWindowsShowsTheFirstWindow) {
    DelegateWorld d;
    QMainWindow* main = d.window(QStringLiteral("Chordwell"), false);
    EXPECT_TRUE(d.delegate.applicationShouldHandleReopen(true));
    EXPECT_FALSE(main->isVisible()) << "visible windows: the platform handles it";
    EXPECT_TRUE(d.delegate.applicationShouldHandleReopen(false));
    EXPECT_TRUE(main->isVisible());
}
