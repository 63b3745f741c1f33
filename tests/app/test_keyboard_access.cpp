// The main window as someone meets it with the keyboard and with assistive
// technology: the focus chain and its indicators, the accessibility tree,
// menu mnemonics, Return as the editor's default action, and the room the
// mapping list gets.
#include "app_test_support.hpp"

#include "app/controls/big_power_toggle.hpp"
#include "app/controls/hover_label_button.hpp"
#include "app/controls/run_stop_button.hpp"
#include "app/mappings/keyboard_mapping_view.hpp"
#include "app/mappings/mapping_editor_view.hpp"
#include "app/mappings/recording_field.hpp"
#include "app/shell/engine_bridge.hpp"
#include "app/shell/main_window.hpp"
#include "platform/qt/qt_desktop.hpp"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

using chordwell::DeviceMapping;
using chordwell::KeyMapping;
using chordwell::OutputBehavior;
using chordwell::app::EngineBridge;
using chordwell::app::MainWindow;
using chordwell::app::MappingEditorView;
using chordwell::app::testing::makeMapping;
using chordwell::app::testing::makeRecord;
using chordwell::app::testing::ModelWorld;

namespace {

class SwitchableDesktop : public chordwell::platform::Desktop {
public:
    bool openURL(const std::string& url) override {
        opened.push_back(url);
        return browserPresent;
    }
    bool revealFile(const std::filesystem::path&) override { return true; }
    void setClipboardText(const std::string&) override {}
    std::string localizedHostName() const override { return "host"; }
    std::string hostName() const override { return "host"; }
    std::string operatingSystemVersionString() const override { return "test"; }
    bool browserPresent = true;
    std::vector<std::string> opened;
};

// A main window at its default size on a simulated world whose "Magic
// Keyboard" has `count` stored mappings, selected.
struct Shown {
    explicit Shown(int count = 3) {
        std::vector<KeyMapping> mappings;
        for (int i = 0; i < count; ++i) {
            mappings.push_back(makeMapping("Mapping " + std::to_string(i + 1),
                                           {0xE0, static_cast<chordwell::HidUsage>(0x04 + i)}));
        }
        w.writeMappingFile(0x05AC, 0x024F, makeRecord("Magic Keyboard", 0x05AC, 0x024F, mappings));
        kb = w.attach("Magic Keyboard", 0x05AC, 0x024F, 1);
        window = std::make_unique<MainWindow>(*w.model, bridge, presence, desktop,
                                              MainWindow::Actions{});
        window->show();
        QApplication::setActiveWindow(window.get());
        window->activateWindow();
        w.model->selectKeyboard(w.device(kb));
        pump();
    }
    void pump() {
        for (int i = 0; i < 4; ++i) {
            w.world->runMainQueue();
            QCoreApplication::processEvents();
        }
    }
    MappingEditorView& editor() const { return *window->mappingView()->editor(); }
    std::size_t stored() const {
        const DeviceMapping* r = w.model->selectedRecord();
        return r != nullptr ? r->mappings.size() : 0;
    }

    ModelWorld w;
    std::shared_ptr<chordwell::platform::sim::SimKeyboard> kb;
    EngineBridge bridge{*w.engine};
    chordwell::platform::qt::NoopAppPresence presence;
    SwitchableDesktop desktop;
    std::unique_ptr<MainWindow> window;
};

QString describe(const QWidget* w) {
    return QString::fromLatin1(w->metaObject()->className()) + QStringLiteral(" '") +
           w->objectName() + QStringLiteral("' ") + w->accessibleName();
}

} // namespace

TEST(KeyboardAccess, TabReachesEveryEditorAndHeaderControlAndEachShowsFocus) {
    Shown t;
    auto& e = t.editor();
    // Editing with "Custom": every editor control is shown and enabled.
    t.w.model->startEditing(
        makeMapping("Edited", {0x04}, OutputBehavior::customKeySequence("Keys", {{6, 0}})));
    t.pump();
    auto* view = t.window->mappingView();
    const std::vector<QWidget*> controls = {e.nameField(),
                                            e.fromField(),
                                            e.toMenuButton(),
                                            e.toField(),
                                            e.clearButton(),
                                            e.saveButton(),
                                            view->headerImportButton(),
                                            view->exportButton(),
                                            view->clearAllButton(),
                                            view->runStopButton(),
                                            view->powerToggle()};
    // How each control looks without focus.
    view->keyboardList()->setFocus(Qt::OtherFocusReason);
    t.pump();
    std::map<QWidget*, QImage> unfocused;
    for (QWidget* c : controls) {
        ASSERT_TRUE(c->isVisible() && c->isEnabled()) << describe(c).toStdString();
        unfocused[c] = c->grab().toImage();
    }
    // Tab from the keyboard list, as a user would, and look at each control
    // the moment it has the focus.
    std::vector<QWidget*> reached;
    for (int i = 0; i < 40 && reached.size() < controls.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        t.pump();
        QWidget* focused = QApplication::focusWidget();
        if (unfocused.count(focused) == 1 &&
            std::find(reached.begin(), reached.end(), focused) == reached.end()) {
            reached.push_back(focused);
            EXPECT_NE(focused->grab().toImage(), unfocused[focused])
                << "no focus indicator: " << describe(focused).toStdString();
        }
    }
    EXPECT_EQ(reached, controls) << "the focus chain misses or reorders controls";
}

TEST(KeyboardAccess, AccessibilityTreeNamesEveryControlAndTellsTheSwitchState) {
    Shown t;
    t.w.model->chooseConstantBehavior(0); // "Custom": the "To" keys field too
    t.pump();
    // Every control a screen reader can land on has a name.
    std::vector<std::string> unnamed;
    std::set<QObject*> seen;
    const std::set<QAccessible::Role> controls = {
        QAccessible::Button,       QAccessible::PushButton, QAccessible::CheckBox,
        QAccessible::RadioButton,  QAccessible::ButtonMenu, QAccessible::ButtonDropDown,
        QAccessible::EditableText, QAccessible::Slider,     QAccessible::ComboBox};
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* node,
                                                               int depth) {
        if (node == nullptr || depth > 40 || !seen.insert(node->object()).second) {
            return;
        }
        auto* widget = qobject_cast<QWidget*>(node->object());
        if (widget != nullptr && widget->isVisible() && controls.count(node->role()) == 1 &&
            node->text(QAccessible::Name).trimmed().isEmpty()) {
            unnamed.push_back(describe(widget).toStdString());
        }
        for (int i = 0; i < node->childCount(); ++i) {
            walk(node->child(i), depth + 1);
        }
    };
    walk(QAccessible::queryAccessibleInterface(t.window.get()), 0);
    EXPECT_TRUE(unnamed.empty()) << ::testing::PrintToString(unnamed);
    EXPECT_GT(seen.size(), 20u) << "the walk reached the window's controls";

    // The large switch is a checkable control whose state is interception.
    auto* toggle = t.window->mappingView()->powerToggle();
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(toggle);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->text(QAccessible::Name), "Chordwell is");
    EXPECT_TRUE(node->state().checkable);
    EXPECT_FALSE(node->state().checked);
    // Pressed through the accessibility interface, as a screen reader does.
    QAccessibleActionInterface* actions = node->actionInterface();
    ASSERT_NE(actions, nullptr);
    const QStringList names = actions->actionNames();
    ASSERT_FALSE(names.isEmpty());
    actions->doAction(names.contains(QAccessibleActionInterface::toggleAction())
                          ? QAccessibleActionInterface::toggleAction()
                          : names.front());
    t.pump();
    EXPECT_TRUE(t.w.engine->isIntercepting());
    EXPECT_TRUE(node->state().checked);

    // A recording field says whether it records.
    t.w.model->toggleInterception(false);
    t.pump();
    QAccessibleInterface* from = QAccessible::queryAccessibleInterface(t.editor().fromField());
    EXPECT_TRUE(from->text(QAccessible::Name).startsWith("From: Click to capture"));
    EXPECT_FALSE(from->state().checked);
    t.w.model->toggleCaptureFrom();
    t.pump();
    EXPECT_TRUE(from->state().checked);
    EXPECT_TRUE(from->text(QAccessible::Name).startsWith("From: Press keys"));
    t.w.model->toggleCaptureFrom();
}

TEST(KeyboardAccess, MenusOpenFromTheKeyboard) {
    Shown t;
    ASSERT_TRUE(QTest::qWaitForWindowActive(t.window.get()));
    struct Case {
        const char* what;
        std::function<void()> press;
    };
    const std::vector<Case> cases = {
        {"Alt+M",
         [&] {
             QTest::keyClick(t.window.get(), Qt::Key_M, Qt::AltModifier);
         }},
        {"F10",
         [&] {
             QTest::keyClick(t.window.get(), Qt::Key_F10);
         }},
    };
    for (const Case& c : cases) {
        c.press();
        t.pump();
        EXPECT_TRUE(t.window->manageMenu()->isVisible()) << c.what;
        t.window->manageMenu()->hide();
        t.window->windowMenuBar()->setActiveAction(nullptr);
        t.pump();
    }
    // The Help menu has its own letter.
    EXPECT_EQ(QKeySequence::mnemonic(t.window->helpItem()->text()),
              QKeySequence(Qt::ALT | Qt::Key_H));
}

TEST(KeyboardAccess, ReturnInAnyEditorFieldSavesUnlessARecordingTakesIt) {
    enum class Mode { newMapping, editing, nothingToSave, recording };
    struct Case {
        const char* what;
        Mode mode;
    };
    const std::vector<Case> modes = {{"new mapping", Mode::newMapping},
                                     {"editing", Mode::editing},
                                     {"save disabled", Mode::nothingToSave},
                                     {"recording", Mode::recording}};
    const std::vector<std::pair<const char*, std::function<QWidget*(MappingEditorView&)>>> fields =
        {{"name",
          [](MappingEditorView& e) -> QWidget* {
              return e.nameField();
          }},
         {"From",
          [](MappingEditorView& e) -> QWidget* {
              return e.fromField();
          }},
         {"To menu",
          [](MappingEditorView& e) -> QWidget* {
              return e.toMenuButton();
          }},
         {"To keys", [](MappingEditorView& e) -> QWidget* {
              return e.toField();
          }}};
    for (const Case& c : modes) {
        for (const auto& [fieldName, field] : fields) {
            Shown t(2);
            auto& m = *t.w.model;
            const KeyMapping first = t.w.model->selectedRecord()->mappings.front();
            switch (c.mode) {
            case Mode::newMapping:
                m.setMappingName("Fresh");
                m.capturedInputCodesFrom = {0x1D};
                break;
            case Mode::editing:
                m.startEditing(first);
                m.setMappingName("Renamed");
                break;
            case Mode::nothingToSave:
                break;
            case Mode::recording:
                m.setMappingName("Fresh");
                break;
            }
            m.chooseConstantBehavior(0); // Custom: the "To" keys field is shown
            t.pump();
            field(t.editor())->setFocus(Qt::TabFocusReason);
            t.pump();
            if (c.mode == Mode::recording) {
                // A recording takes the focus out of the name field, and the
                // "To" field is disabled meanwhile: Return goes wherever the
                // focus is now.
                m.toggleCaptureFrom();
                t.w.world->keyDown(*t.kb, 0x28); // Return on the recorded keyboard
                t.pump();
            }
            QWidget* target = QApplication::focusWidget();
            ASSERT_NE(target, nullptr);
            ASSERT_TRUE(t.editor().isAncestorOf(target)) << describe(target).toStdString();
            QTest::keyClick(target, Qt::Key_Return);
            t.w.advance(std::chrono::milliseconds(500)); // the engine's edit delay
            t.pump();
            const std::string where = std::string(c.what) + " / " + fieldName;
            const auto names = [&] {
                std::vector<std::string> out;
                for (const KeyMapping& k : t.w.model->selectedRecord()->mappings) {
                    out.push_back(k.name);
                }
                return out;
            }();
            switch (c.mode) {
            case Mode::newMapping:
                EXPECT_EQ(names, (std::vector<std::string>{"Mapping 1", "Mapping 2", "Fresh"}))
                    << where;
                break;
            case Mode::editing:
                EXPECT_EQ(names, (std::vector<std::string>{"Renamed", "Mapping 2"})) << where;
                EXPECT_FALSE(m.isEditingMode) << where;
                break;
            case Mode::nothingToSave:
                EXPECT_EQ(names.size(), 2u) << where;
                break;
            case Mode::recording:
                EXPECT_EQ(names.size(), 2u) << where;
                EXPECT_TRUE(m.isCapturingFrom)
                    << where << ": Return on " << describe(target).toStdString()
                    << " ended the recording";
                t.w.world->keyUp(*t.kb, 0x28);
                m.toggleCaptureFrom();
                break;
            }
        }
    }
}

TEST(KeyboardAccess, TheListGetsTheRoomAndANewMappingIsScrolledIntoView) {
    Shown t(12);
    auto* table = t.window->mappingView()->table();
    t.pump();
    const QRect viewport = table->viewport()->rect();
    int visible = 0;
    for (int r = 0; r < table->model()->rowCount(); ++r) {
        if (viewport.contains(table->visualRect(table->model()->index(r, 0)))) {
            ++visible;
        }
    }
    EXPECT_GE(visible, 6) << "rows fully visible at the default size (table " << table->height()
                          << " px high in a " << t.window->height() << " px window)";
    EXPECT_GT(table->height(), t.window->mappingView()->editor()->height())
        << "the list has more room than the editor";

    // A new mapping saved with Return shows at the end of the list.
    t.w.model->setMappingName("Newest");
    t.w.model->capturedInputCodesFrom = {0x2C};
    t.pump();
    t.editor().nameField()->setFocus();
    QTest::keyClick(t.editor().nameField(), Qt::Key_Return);
    t.pump();
    const int last = table->model()->rowCount() - 1;
    ASSERT_EQ(last, 12);
    EXPECT_TRUE(
        table->viewport()->rect().intersects(table->visualRect(table->model()->index(last, 0))))
        << "the new mapping is out of view";
}

TEST(KeyboardAccess, ABannerLinkNoApplicationTakesIsSaidInTheWindow) {
    Shown t;
    t.desktop.browserPresent = false;
    t.window->setBanner({{"Input Monitoring is off", "Open Settings", "x-settings://privacy", ""}});
    t.pump();
    auto* button = t.window->banner()->findChild<QPushButton*>(QStringLiteral("bannerAction"));
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(t.window->statusBar()->isVisible());
    button->click();
    t.pump();
    EXPECT_TRUE(t.window->statusBar()->isVisible());
    EXPECT_TRUE(t.window->statusBar()->currentMessage().contains("x-settings://privacy"));
}
