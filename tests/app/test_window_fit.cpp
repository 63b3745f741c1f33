// The windows as a Linux user meets them on a small laptop screen, by
// keyboard and with a screen reader: every window fits a 1366x768 screen at
// 100, 125 and 200 % and the list keeps five rows; windows open where they
// belong; focus shows and stops once per control; windows read as windows
// and dividers are not announced; and the demo, started as a user starts
// it, offers the catalog and its File menu.
#include "app_test_support.hpp"
#include "test_diagnostics_fakes.hpp"

#include "app/controls/link_button.hpp"
#include "app/controls/run_stop_button.hpp"
#include "app/demo/demo_window.hpp"
#include "app/help/help_view.hpp"
#include "app/help/help_window.hpp"
#include "app/mappings/keyboard_mapping_view.hpp"
#include "app/mappings/mapping_editor_view.hpp"
#include "app/mappings/recording_field.hpp"
#include "app/settings/observable_preferences.hpp"
#include "app/settings/settings_view.hpp"
#include "app/settings/settings_window.hpp"
#include "app/shell/chordwell_app.hpp"
#include "app/shell/engine_bridge.hpp"
#include "app/shell/main_window.hpp"
#include "app/shell/window_placement.hpp"
#include "platform/qt/qt_desktop.hpp"

#include <QAccessible>
#include <QApplication>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>

namespace chordwell::app {
namespace {

using testing::makeMapping;
using testing::makeRecord;
using testing::ModelWorld;

DiagnosticsSources quietDiagnostics() {
    DiagnosticsSources sources;
    sources.readLog = [] {
        return std::string();
    };
    sources.currentLogFile = [] {
        return std::optional<std::filesystem::path>();
    };
    sources.recentActions = [](std::int64_t) {
        return std::string("(none)");
    };
    sources.recordAction = [](const std::string&) {
    };
    return sources;
}

void pump(ModelWorld& w) {
    for (int i = 0; i < 4; ++i) {
        w.world->runMainQueue();
        QCoreApplication::processEvents();
    }
}

// A 1366x768 laptop screen with a 32-pixel top panel, as the free area Qt
// reports at a scale factor.
QRect laptopScreenAt(double scale) {
    return {0, static_cast<int>(32 / scale), static_cast<int>(1366 / scale),
            static_cast<int>((768 - 32) / scale)};
}

struct Main {
    explicit Main(int mappings = 12) {
        std::vector<KeyMapping> list;
        for (int i = 0; i < mappings; ++i) {
            list.push_back(makeMapping("Mapping " + std::to_string(i),
                                       {0xE0, static_cast<HidUsage>(0x04 + i % 26)}));
        }
        w.writeMappingFile(0x05AC, 0x024F, makeRecord("Magic Keyboard", 0x05AC, 0x024F, list));
        kb = w.attach("Magic Keyboard", 0x05AC, 0x024F, 1);
        w.attach("Second Keyboard", 2, 2, 2);
        window = std::make_unique<MainWindow>(*w.model, bridge, presence, desktop,
                                              MainWindow::Actions{});
        w.model->selectKeyboard(w.device(kb));
    }
    ModelWorld w;
    std::shared_ptr<platform::sim::SimKeyboard> kb;
    EngineBridge bridge{*w.engine};
    platform::qt::NoopAppPresence presence;
    testing::RecordingDesktop desktop;
    std::unique_ptr<MainWindow> window;
};

// How many whole rows the list shows.
int wholeRowsShown(const MappingTableView* table) {
    return table->viewport()->height() / table->verticalHeader()->defaultSectionSize();
}

} // namespace

TEST(WindowFit, EveryWindowFitsALaptopScreenAtEachScaleAndTheListKeepsFiveRows) {
    const std::vector<BannerMessage> noTray = {
        {"Your desktop has no system tray, so Chordwell's tray icon cannot be shown. Closing this "
         "window leaves Chordwell running with its mappings active; launch Chordwell again to "
         "bring the window back.",
         "", "", ""}};
    for (const double scale : {1.0, 1.25, 2.0}) {
        const QRect screen = laptopScreenAt(scale);
        for (const bool banner : {false, true}) {
            const std::string what =
                std::to_string(scale) + (banner ? " with the no-tray banner" : "");
            Main m;
            if (banner) {
                m.window->setBanner(noTray);
            }
            m.window->fitInto(screen);
            m.window->show();
            pump(m.w);
            // Frame included, the window and its smallest size fit the screen.
            for (const QSize size : {m.window->size(), m.window->minimumSize()}) {
                EXPECT_LE(size.width() + MainWindow::kFrameWidthAllowance, screen.width()) << what;
                EXPECT_LE(size.height() + MainWindow::kFrameAllowance, screen.height()) << what;
            }
            EXPECT_TRUE(screen.contains(m.window->frameGeometry().topLeft())) << what;
            // At its smallest the list still shows five whole rows.
            m.window->resize(m.window->minimumSize());
            pump(m.w);
            const MappingTableView* table = m.window->mappingView()->table();
            ASSERT_TRUE(table->isVisible()) << what;
            EXPECT_GE(wholeRowsShown(table), 5) << what;
            // The editor's fields keep room for their own words ("Click to
            // capture" whole, not elided).
            const RecordingField* from = m.window->mappingView()->editor()->fromField();
            EXPECT_GE(from->width(), from->sizeHint().width()) << what;
            if (m.window->mappingView()->isCompact()) {
                // A recording started in the scrolling column brings its way
                // out and its field into view.
                m.w.model->toggleCaptureFrom();
                pump(m.w);
                const auto* column =
                    m.window->findChild<QScrollArea*>(QStringLiteral("upperScroll"));
                ASSERT_NE(column, nullptr);
                for (const QWidget* shown :
                     {static_cast<const QWidget*>(
                          m.window->mappingView()->editor()->recordingHint()),
                      static_cast<const QWidget*>(from)}) {
                    ASSERT_TRUE(shown->isVisible()) << what;
                    const QRect inColumn(shown->mapTo(column->viewport(), QPoint(0, 0)),
                                         shown->size());
                    EXPECT_TRUE(column->viewport()->rect().contains(inColumn))
                        << what << ": " << inColumn.y() << "+" << inColumn.height() << " in "
                        << column->viewport()->height();
                }
                m.w.model->toggleCaptureFrom();
                pump(m.w);
            }
            const QRect inWindow(table->mapTo(m.window.get(), QPoint(0, 0)), table->size());
            EXPECT_TRUE(m.window->rect().contains(inWindow))
                << what << ": the list at " << inWindow.y() << "+" << inWindow.height()
                << " in a window " << m.window->height() << " high, smallest "
                << m.window->minimumSize().height() << ", hint "
                << m.window->minimumSizeHint().height();
            // Stacked on a roomy screen; beside each other on a short one.
            if (scale == 1.0 && !banner) {
                EXPECT_FALSE(m.window->mappingView()->isCompact()) << what;
            }
            if (scale == 2.0) {
                EXPECT_TRUE(m.window->mappingView()->isCompact()) << what;
            }
        }

        // Settings, Help and the demo window fit the same screen.
        auto store = std::make_shared<platform::MemoryPreferences>();
        ObservablePreferences prefs(store);
        testing::FakeLoginItem login;
        testing::RecordingDesktop desktop;
        auto* view = new SettingsView(prefs, login, desktop, quietDiagnostics(),
                                      DiagnosticsIdentity{"Chordwell", "1", "s@x.com", "Linux"},
                                      [](const std::string&) {});
        SettingsWindow settings(view);
        settings.fitToAvailableHeight(screen.height());
        EXPECT_LE(settings.height() + SettingsWindow::kFrameAllowance, screen.height()) << scale;
        EXPECT_LE(settings.width(), screen.width()) << scale;

        HelpWindow help(
            new HelpView(desktop, QStringLiteral("Chordwell"), UiPlatform::linuxDesktop));
        help.fitInto(screen);
        for (const QSize size : {help.size(), help.minimumSize()}) {
            EXPECT_LE(size.width() + kWindowFrameWidth, screen.width()) << scale;
            EXPECT_LE(size.height() + kWindowFrameHeight, screen.height()) << scale;
        }

        ModelWorld w;
        DemoWindow demo(*w.world, *w.engine);
        const QSize demoMinimum = demo.minimumSizeHint();
        EXPECT_LE(demoMinimum.width() + kWindowFrameWidth, screen.width()) << scale;
        EXPECT_LE(demoMinimum.height() + kWindowFrameHeight, screen.height()) << scale;
    }
}

TEST(WindowPlacement, SecondaryWindowsCentreOnTheMainWindowInsideTheScreen) {
    const QRect screen(0, 0, 1366, 736);
    const struct {
        QRect main;
        QSize size;
    } cases[] = {
        {{100, 50, 900, 640}, {380, 600}},
        {{0, 0, 400, 300}, {520, 640}},      // bigger than the main window
        {{1200, 600, 900, 640}, {380, 600}}, // main window half off screen
        {{0, 0, 1366, 736}, {2000, 2000}},   // bigger than the screen
    };
    for (const auto& c : cases) {
        const QRect placed = centredWithin(c.main, c.size, screen);
        const QRect frame =
            placed.adjusted(-kWindowFrameWidth / 2, -(kWindowFrameHeight - kWindowFrameWidth / 2),
                            kWindowFrameWidth / 2, kWindowFrameWidth / 2);
        EXPECT_TRUE(screen.contains(frame)) << placed.x() << "," << placed.y();
        // Centred where the screen leaves room for it.
        const QRect centred(c.main.center() - QPoint(frame.width() / 2, frame.height() / 2),
                            frame.size());
        if (screen.contains(centred)) {
            EXPECT_LE(std::abs(frame.center().x() - c.main.center().x()), 1);
            EXPECT_LE(std::abs(frame.center().y() - c.main.center().y()), 1);
        }
    }
}

TEST(WindowPlacement, TheMainWindowComesBackWhereTheUserLeftIt) {
    Main m;
    m.window->show();
    pump(m.w);
    m.window->move(120, 90);
    const QPoint left = m.window->pos();
    m.window->hide();
    // A window manager places a window shown again as if it were new.
    m.window->move(0, 0);
    m.window->show();
    pump(m.w);
    EXPECT_EQ(m.window->pos(), left);
}

TEST(WindowPlacement, TheDemoWindowStandsBesideTheMappingListNeverOverIt) {
    const QSize wanted(560, 420);
    const QSize minimum(360, 300);
    for (const double scale : {1.0, 1.25, 2.0}) {
        const QRect screen = laptopScreenAt(scale);
        // The main window at the left, as wide as the room beside it allows.
        const int mainWidth =
            std::max(600, screen.width() - minimum.width() - 3 * kWindowFrameWidth);
        const QRect main(screen.left(), screen.top(), mainWidth, std::min(680, screen.height()));
        const QRect list(main.left(), main.top() + main.height() / 2, main.width(),
                         main.height() / 2);
        const QRect demo = demoWindowPlace(screen, main, list, wanted, minimum);
        EXPECT_TRUE(screen.contains(demo)) << scale;
        EXPECT_GE(demo.width(), std::min(minimum.width(), screen.width())) << scale;
        if (scale < 2.0) {
            EXPECT_FALSE(demo.intersects(list)) << scale << ": the demo covers the list";
        }
    }
}

// ----------------------------------------------------------------- focus

TEST(KeyboardFocus, OneStopPerControlAndEachShowsIt) {
    Main m;
    m.window->show();
    QApplication::setActiveWindow(m.window.get());
    pump(m.w);
    KeyboardMappingView* view = m.window->mappingView();
    // From the keyboard list, Tab goes straight to the name field: nothing
    // invisible in between.
    view->keyboardList()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(view->keyboardList(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->editor()->nameField());

    // Focus shows on the keyboard list and on the run button.
    const auto looks = [](QWidget* w) {
        return w->grab().toImage();
    };
    for (QWidget* control : {static_cast<QWidget*>(view->keyboardList()),
                             static_cast<QWidget*>(view->runStopButton())}) {
        view->editor()->nameField()->setFocus(Qt::TabFocusReason);
        pump(m.w);
        const QImage without = looks(control);
        control->setFocus(Qt::TabFocusReason);
        pump(m.w);
        ASSERT_TRUE(control->hasFocus());
        EXPECT_NE(looks(control), without) << control->metaObject()->className();
    }
}

TEST(KeyboardFocus, EachSettingsLinkIsOneTabStop) {
    auto store = std::make_shared<platform::MemoryPreferences>();
    ObservablePreferences prefs(store);
    testing::FakeLoginItem login;
    testing::RecordingDesktop desktop;
    SettingsView view(prefs, login, desktop, quietDiagnostics(),
                      DiagnosticsIdentity{"Chordwell", "1", "s@x.com", "Linux"},
                      [](const std::string&) {});
    view.show();
    std::map<QWidget*, int> stops;
    QWidget* start = view.nextInFocusChain();
    QWidget* w = start;
    do {
        if (w->isVisibleTo(&view) && (w->focusPolicy() & Qt::TabFocus) != 0) {
            ++stops[w];
        }
        w = w->nextInFocusChain();
    } while (w != start);
    int links = 0;
    for (const auto& [widget, count] : stops) {
        if (qobject_cast<LinkButton*>(widget) != nullptr) {
            ++links;
            EXPECT_EQ(count, 1);
        }
        // No label holding a link of its own: that made a second stop.
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_FALSE(label->text().contains(QStringLiteral("href")))
                << label->text().toStdString();
        }
    }
    EXPECT_EQ(links, 3) << "website, terms, privacy";
}

// ----------------------------------------------------- assistive technology

TEST(Accessibility, WindowsReadAsWindowsAndDividersAreNotAnnounced) {
    testing::RecordingDesktop desktop;
    HelpWindow help(new HelpView(desktop, QStringLiteral("Chordwell"), UiPlatform::linuxDesktop));
    auto store = std::make_shared<platform::MemoryPreferences>();
    ObservablePreferences prefs(store);
    testing::FakeLoginItem login;
    SettingsWindow settings(new SettingsView(prefs, login, desktop, quietDiagnostics(),
                                             DiagnosticsIdentity{"Chordwell", "1", "s", "Linux"},
                                             [](const std::string&) {}));
    ModelWorld w;
    DemoWindow demo(*w.world, *w.engine);
    for (QWidget* window : {static_cast<QWidget*>(&help), static_cast<QWidget*>(&settings),
                            static_cast<QWidget*>(&demo)}) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(window);
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->role(), QAccessible::Window) << window->objectName().toStdString();
    }

    Main m;
    m.window->show();
    pump(m.w);
    // No separator among the main window's content: the rules are drawn.
    for (const QFrame* frame : m.window->mappingView()->findChildren<QFrame*>()) {
        EXPECT_NE(frame->frameShape(), QFrame::HLine) << frame->objectName().toStdString();
        EXPECT_NE(frame->frameShape(), QFrame::VLine) << frame->objectName().toStdString();
    }
    std::function<int(QAccessibleInterface*)> separators = [&](QAccessibleInterface* node) {
        int found = node->role() == QAccessible::Separator ? 1 : 0;
        for (int i = 0; i < node->childCount(); ++i) {
            if (QAccessibleInterface* child = node->child(i)) {
                found += separators(child);
            }
        }
        return found;
    };
    EXPECT_EQ(separators(QAccessible::queryAccessibleInterface(m.window->mappingView())), 0);
    EXPECT_FALSE(m.window->mappingView()->ruleLines().empty()) << "the rules are still drawn";
}

// ------------------------------------------------------------ the demo

namespace {

// The demo as `chordwell --demo` starts it. The engine is one per process,
// so this runs in a child process of its own.
[[noreturn]] void runTheDemo() {
    QTemporaryDir home;
    const std::string root = home.path().toStdString();
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    platform::setDevelopmentResourceDirectory(std::filesystem::path(CHORDWELL_TEST_RESOURCES_DIR) /
                                              "linux");
    std::ostringstream failures;
    const auto check = [&](bool ok, const char* what) {
        if (!ok) {
            failures << "failed: " << what << "\n";
        }
    };
    AppOptions options;
    options.demo = true;
    std::string error;
    {
        ChordwellApp app(options);
        if (!app.start(error)) {
            std::cerr << "the demo did not start: " << error << "\n";
            std::_Exit(1);
        }
        QTest::qWait(300);
        MainWindow* main = app.mainWindow();
        // The "To" menu holds the catalog, then Custom and No Action.
        check(!app.model().allShortcutsFromJson.empty(), "the demo has the shortcut catalog");
        int groups = 0;
        for (QAction* entry : main->mappingView()->editor()->toMenu()->actions()) {
            groups += entry->menu() != nullptr ? 1 : 0;
        }
        check(groups >= 3, "the To menu offers the catalog's groups");
        // The File menu: Quit (Ctrl+Q), and the demo window comes back.
        check(main->quitItem() != nullptr &&
                  main->quitItem()->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_Q),
              "File > Quit with Ctrl+Q");
        check(main->showDemoItem() != nullptr, "File > Show Demo Window");
        DemoWindow* demo = app.demoWindow();
        check(demo != nullptr && demo->isVisible(), "the demo window is shown");
        if (demo != nullptr && main->showDemoItem() != nullptr) {
            demo->close();
            main->showDemoItem()->trigger();
            check(demo->isVisible(), "Show Demo Window brings it back");
        }
        // Where to type while recording in the demo.
        app.model().toggleCaptureFrom();
        check(app.model().recordingHint().find("Chordwell Demo") != std::string::npos,
              "the recording hint names the demo window");
        app.model().toggleCaptureFrom();
    }
    std::cerr << failures.str();
    std::_Exit(failures.str().empty() ? 0 : 1);
}

} // namespace

TEST(DemoApplication, OffersTheCatalogAndAFileMenuThatBringsTheDemoBack) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runTheDemo(), ::testing::ExitedWithCode(0), "");
}

} // namespace chordwell::app
