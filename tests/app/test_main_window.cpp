// The main window's widgets on the offscreen platform: what they show, what
// is enabled while intercepting, and the dialogs' buttons.
#include "app_test_support.hpp"

#include "app/controls/big_power_toggle.hpp"
#include "app/controls/hover_label_button.hpp"
#include "app/controls/run_stop_button.hpp"
#include "app/mappings/keyboard_list.hpp"
#include "app/mappings/keyboard_mapping_view.hpp"
#include "app/mappings/mapping_dialogs.hpp"
#include "app/mappings/mapping_editor_view.hpp"
#include "app/mappings/recording_field.hpp"
#include "app/shell/app_events.hpp"
#include "app/shell/engine_bridge.hpp"
#include "app/shell/main_window.hpp"
#include "platform/qt/qt_desktop.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using chordwell::KeyMapping;
using chordwell::app::AppEvents;
using chordwell::app::BannerMessage;
using chordwell::app::EngineBridge;
using chordwell::app::FileChooser;
using chordwell::app::KeyboardListModel;
using chordwell::app::KeyboardMappingView;
using chordwell::app::MainWindow;
using chordwell::app::MappingTableView;
using chordwell::app::RowAction;
using chordwell::app::testing::makeMapping;
using chordwell::app::testing::makeRecord;
using chordwell::app::testing::ModelWorld;

namespace {

// The texts differ where the desktops' conventions do (Ctrl+A against ⌃ A).
bool onMac(const ModelWorld& w) {
    return w.model->conventions().platform == chordwell::app::UiPlatform::macOS;
}

class FakeFiles : public FileChooser {
public:
    std::optional<std::filesystem::path> chooseImportFile(QWidget*) override { return importFile; }
    std::optional<std::filesystem::path> chooseExportFile(QWidget*,
                                                          const QString& proposed) override {
        proposedName = proposed;
        return exportFile;
    }
    std::optional<std::filesystem::path> importFile;
    std::optional<std::filesystem::path> exportFile;
    QString proposedName;
};

class FakeDesktop : public chordwell::platform::Desktop {
public:
    bool openURL(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    bool revealFile(const std::filesystem::path&) override { return true; }
    void setClipboardText(const std::string&) override {}
    std::string localizedHostName() const override { return "host"; }
    std::string hostName() const override { return "host"; }
    std::string operatingSystemVersionString() const override { return "test"; }
    std::vector<std::string> opened;
};

QAbstractButton* buttonNamed(QMessageBox* box, const QString& text) {
    for (QAbstractButton* b : box->buttons()) {
        if (b->text() == text) {
            return b;
        }
    }
    return nullptr;
}

// A row's edit or delete button as the user meets it: drawn in the table,
// clicked with the mouse at its place.
struct RowButton {
    MappingTableView* table;
    int row;
    RowAction action;
    void click() const {
        const QRect r = table->actionRect(row, action);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, r.center());
    }
    bool isEnabled() const { return table->isEnabled() && table->mappingModel()->actionsEnabled(); }
    QString toolTip() const { return table->actionToolTip(row, action); }
};

// A main window on a simulated world with two keyboards; "Magic Keyboard"
// has two stored mappings.
struct Window {
    explicit Window(std::vector<chordwell::ShortcutGroup> catalog = {}) : w(std::move(catalog)) {
        w.writeMappingFile(0x05AC, 0x024F,
                           makeRecord("Magic Keyboard", 0x05AC, 0x024F,
                                      {makeMapping("Copy", {0xE0, 0x04}),
                                       makeMapping("Paste", {0xE0, 0x19},
                                                   chordwell::OutputBehavior::pasteOperation())}));
        magic = w.attach("Magic Keyboard", 0x05AC, 0x024F, 1);
        other = w.attach("another board", 2, 2, 2);
        files = std::make_shared<FakeFiles>();
        MainWindow::Actions actions;
        actions.openSettings = [this] {
            ++settingsOpened;
        };
        actions.openHelp = [this] {
            ++helpOpened;
        };
        window = std::make_unique<MainWindow>(*w.model, bridge, presence, desktop, actions, files);
        window->show();
        pump();
    }
    KeyboardMappingView& view() const { return *window->mappingView(); }
    void pump() {
        for (int i = 0; i < 3; ++i) {
            w.world->runMainQueue();
            QCoreApplication::processEvents();
        }
    }
    void select(const std::shared_ptr<chordwell::platform::sim::SimKeyboard>& kb) {
        const auto rows = w.model->keyboardRows();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].device.id == w.device(kb).id) {
                view().keyboardList()->selectionModel()->select(
                    view().keyboardListModel()->index(static_cast<int>(i)),
                    QItemSelectionModel::ClearAndSelect);
            }
        }
        pump();
    }
    std::vector<RowButton> rowButtons(const char* name) const {
        const RowAction action =
            std::string_view(name) == "editButton" ? RowAction::edit : RowAction::remove;
        std::vector<RowButton> out;
        for (int r = 0; r < view().tableModel()->rowCount(); ++r) {
            out.push_back(RowButton{view().table(), r, action});
        }
        return out;
    }

    ModelWorld w;
    std::shared_ptr<chordwell::platform::sim::SimKeyboard> magic;
    std::shared_ptr<chordwell::platform::sim::SimKeyboard> other;
    EngineBridge bridge{*w.engine};
    chordwell::platform::qt::NoopAppPresence presence;
    FakeDesktop desktop;
    std::shared_ptr<FakeFiles> files;
    int settingsOpened = 0;
    int helpOpened = 0;
    std::unique_ptr<MainWindow> window;
};

} // namespace

TEST(MainWindow, IdentityMenusAndDockPresence) {
    Window t;
    EXPECT_EQ(t.window->objectName(), "remap");
    EXPECT_EQ(t.window->windowTitle(), "Chordwell");
    // As small as the screen needs, never narrower than 600 where it fits.
    EXPECT_EQ(t.window->minimumSize().width(), 600);
    EXPECT_GE(t.window->minimumSize().height(), 240);
    // Titles as shown (the mnemonic marker is not part of what one reads).
    const auto shown = [](const QString& text) {
        return QString(text).remove(QLatin1Char('&'));
    };
    EXPECT_EQ(shown(t.window->manageMenu()->title()), "Manage");
    EXPECT_EQ(shown(t.window->manageToggleItem()->text()), "Activate Chordwell");
    // macOS: always enabled; elsewhere greyed without a keyboard, as the
    // tray menu's item is.
    EXPECT_EQ(t.window->manageToggleItem()->isEnabled(),
              !t.w.model->conventions().toggleNeedsKeyboard);
    EXPECT_EQ(shown(t.window->openSettingsItem()->text()), "Open Settings");
    EXPECT_EQ(shown(t.window->helpItem()->text()), "Help");
    EXPECT_EQ(t.window->helpItem()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Question));
    t.window->openSettingsItem()->trigger();
    t.window->helpItem()->trigger();
    EXPECT_EQ(t.settingsOpened, 1);
    EXPECT_EQ(t.helpOpened, 1);

    EXPECT_EQ(t.presence.policy(), chordwell::platform::ActivationPolicy::regular);
    t.window->close();
    EXPECT_EQ(t.presence.policy(), chordwell::platform::ActivationPolicy::accessory);
    t.window->show();
    EXPECT_EQ(t.presence.policy(), chordwell::platform::ActivationPolicy::regular);
}

TEST(MainWindow, ManageToggleAndStatusNotificationDriveInterception) {
    Window t;
    t.window->manageToggleItem()->trigger(); // nothing selected: nothing happens
    EXPECT_FALSE(t.w.engine->isIntercepting());
    t.select(t.magic);
    t.window->manageToggleItem()->trigger();
    EXPECT_TRUE(t.w.engine->isIntercepting());
    EXPECT_EQ(QString(t.window->manageToggleItem()->text()).remove(QLatin1Char('&')),
              "Deactivate Chordwell");

    // The status menu's notification, also while the window is closed.
    t.window->close();
    AppEvents::instance().postToggleIntercept();
    EXPECT_FALSE(t.w.engine->isIntercepting());
    AppEvents::instance().postToggleIntercept();
    EXPECT_TRUE(t.w.engine->isIntercepting());
}

TEST(MainWindow, KeyboardListSelectionAndMappingPane) {
    Window t;
    auto& v = t.view();
    ASSERT_EQ(v.keyboardListModel()->rowCount(), 2);
    auto titleOf = [&](int row) {
        return v.keyboardListModel()->index(row).data(Qt::DisplayRole).toString();
    };
    EXPECT_EQ(titleOf(0), "another board");
    EXPECT_EQ(titleOf(1), "Magic Keyboard");
    // Focus alone makes a row current; it must not choose a keyboard.
    t.window->activateWindow();
    v.keyboardList()->setFocus(Qt::TabFocusReason);
    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(v.keyboardList(), &focusIn);
    t.pump();
    EXPECT_FALSE(t.w.engine->selectedDevice());
    EXPECT_FALSE(v.editor()->isVisibleTo(t.window.get()));
    EXPECT_EQ(v.mappingPane()->currentIndex(), 0);
    EXPECT_EQ(v.noDeviceLabel()->text(),
              t.w.model->conventions().sayKeyboard
                  ? "No keyboard is selected. Choose one in the list to see its mappings."
                  : "No device was selected.");
    EXPECT_FALSE(v.runStopButton()->isEnabled());

    t.select(t.magic);
    EXPECT_EQ(t.w.engine->selectedDevice()->productName, "Magic Keyboard");
    EXPECT_TRUE(v.editor()->isVisibleTo(t.window.get()));
    EXPECT_EQ(v.mappingPane()->currentIndex(), 2);
    EXPECT_EQ(v.mappingsTitle()->text(), "Mappings (2)");
    auto* table = v.tableModel();
    EXPECT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Name");
    EXPECT_EQ(table->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Input");
    EXPECT_EQ(table->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Output");
    const auto checkmark = [&](int row) {
        return v.keyboardListModel()->index(row).data(KeyboardListModel::IsSelectedDeviceRole);
    };
    EXPECT_TRUE(checkmark(1).toBool());
    EXPECT_FALSE(checkmark(0).toBool());
    EXPECT_TRUE(v.runStopButton()->isEnabled());
    EXPECT_EQ(v.powerToggle()->labelText(), "Chordwell is:");

    t.select(t.other);
    EXPECT_EQ(v.mappingPane()->currentIndex(), 1);
    EXPECT_EQ(v.noMappingsLabel()->text(), t.w.model->conventions().sayKeyboard
                                               ? "No mappings for this keyboard yet."
                                               : "No mappings found for this device.");
}

TEST(MainWindow, WhileInterceptingOnlyTheInterceptionControlsAndTheEmptyImportReact) {
    Window t;
    auto& v = t.view();
    t.select(t.magic);
    v.powerToggle()->click();
    t.pump();
    ASSERT_TRUE(t.w.engine->isIntercepting());
    EXPECT_TRUE(v.powerToggle()->isOn());
    EXPECT_TRUE(v.runStopButton()->isRunning());
    EXPECT_FALSE(v.keyboardPane()->isEnabled());
    EXPECT_FALSE(v.editor()->isEnabled());
    EXPECT_FALSE(v.headerImportButton()->isEnabled());
    EXPECT_FALSE(v.exportButton()->isEnabled());
    EXPECT_FALSE(v.clearAllButton()->isEnabled());
    for (const RowButton& b : t.rowButtons("editButton")) {
        EXPECT_FALSE(b.isEnabled());
    }
    for (const RowButton& b : t.rowButtons("deleteButton")) {
        EXPECT_FALSE(b.isEnabled());
    }
    EXPECT_TRUE(v.runStopButton()->isEnabled());
    EXPECT_TRUE(v.emptyImportButton()->isEnabled());
    // The greyed panes say why, above them and on hover.
    const auto* lockNote = v.findChild<QLabel*>(QStringLiteral("lockNote"));
    ASSERT_NE(lockNote, nullptr);
    EXPECT_TRUE(lockNote->isVisible());
    EXPECT_EQ(lockNote->text(), "Turn mappings off to edit.");
    EXPECT_EQ(v.editor()->toolTip(), lockNote->text());
    EXPECT_EQ(v.keyboardPane()->toolTip(), lockNote->text());

    v.runStopButton()->click(); // running: stops
    t.pump();
    EXPECT_FALSE(t.w.engine->isIntercepting());
    EXPECT_FALSE(lockNote->isVisible());
    EXPECT_TRUE(v.editor()->toolTip().isEmpty());
    EXPECT_TRUE(v.keyboardPane()->isEnabled());
    EXPECT_TRUE(v.headerImportButton()->isEnabled());
    for (const RowButton& b : t.rowButtons("deleteButton")) {
        EXPECT_TRUE(b.isEnabled());
    }
}

TEST(MainWindow, EditorFieldsAndTheSaveButton) {
    Window t;
    auto& v = t.view();
    t.select(t.magic);
    auto* editor = v.editor();
    EXPECT_EQ(editor->nameField()->placeholderText(), "Mapping Name");
    EXPECT_EQ(editor->fromField()->mainText(), "Click to capture");
    EXPECT_FALSE(editor->saveButton()->isEnabled());
    EXPECT_EQ(editor->saveButton()->text(), "Save Mapping");
    EXPECT_EQ(editor->clearButton()->text(), "Clear");
    EXPECT_FALSE(editor->toField()->isVisibleTo(t.window.get()));
    QStringList entries;
    for (QAction* a : editor->toMenu()->actions()) {
        if (!a->isSeparator()) {
            entries << a->text();
        }
    }
    EXPECT_EQ(entries.mid(entries.size() - 2), (QStringList{"Custom", "No Action"}));

    QTest::keyClicks(editor->nameField(), "Select all");
    QTest::mouseClick(editor->fromField(), Qt::LeftButton);
    t.pump();
    EXPECT_TRUE(t.w.engine->isCapturingInput());
    EXPECT_EQ(editor->fromField()->mainText(), "Press keys…");
    t.w.world->keyDown(*t.magic, 0xE0);
    t.w.world->keyDown(*t.magic, 0x04);
    t.pump();
    const bool mac = onMac(t.w);
    EXPECT_EQ(editor->fromField()->mainText(), mac ? "⌃ A" : "Ctrl+A");
    // The raw numbers: a caption on macOS, the tooltip elsewhere.
    EXPECT_EQ(editor->fromField()->detailText(), mac ? "224, 4" : "");
    EXPECT_EQ(editor->fromField()->toolTip(), "HID usages: 224, 4");
    EXPECT_EQ(editor->fromField()->accessibleName(), mac ? "From: Control+A" : "From: Ctrl+A");
    EXPECT_TRUE(editor->saveButton()->isEnabled());
    t.w.world->keyUp(*t.magic, 0x04);
    t.w.world->keyUp(*t.magic, 0xE0);
    editor->saveButton()->click();
    t.pump();
    EXPECT_EQ(v.mappingsTitle()->text(), "Mappings (3)");
    // macOS keeps the name for a similar mapping; elsewhere the form clears.
    EXPECT_EQ(editor->nameField()->text(), mac ? "Select all" : "");
    EXPECT_EQ(editor->fromField()->mainText(), "Click to capture");

    // Editing the first row: the button turns into "xmark", the form says so.
    t.rowButtons("editButton").at(0).click();
    t.pump();
    EXPECT_EQ(editor->title()->text(), mac ? "New Mapping" : "Edit Mapping");
    EXPECT_EQ(editor->saveButton()->text(), "Edit Mapping");
    EXPECT_EQ(editor->clearButton()->text(), "Cancel");
    EXPECT_EQ(editor->nameField()->text(), "Copy");
    EXPECT_EQ(t.rowButtons("editButton").at(0).toolTip(), "Cancel editing");
    t.rowButtons("editButton").at(0).click(); // the xmark cancels
    t.pump();
    EXPECT_EQ(editor->saveButton()->text(), "Save Mapping");
    EXPECT_EQ(editor->nameField()->text(), "");
    EXPECT_EQ(editor->title()->text(), "New Mapping");

    // Escape leaves an edit as well.
    t.rowButtons("editButton").at(1).click();
    t.pump();
    ASSERT_TRUE(t.w.model->isEditingMode);
    QTest::keyClick(editor->nameField(), Qt::Key_Escape);
    t.pump();
    EXPECT_FALSE(t.w.model->isEditingMode);
    EXPECT_EQ(editor->saveButton()->text(), "Save Mapping");
}

TEST(MainWindow, DeleteSheetWithDoNotAskAgain) {
    Window t;
    auto& v = t.view();
    t.select(t.magic);
    t.rowButtons("deleteButton").at(1).click();
    t.pump();
    auto* sheet = v.deleteDialog();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->nameText(), "Name: <b>Paste</b>");
    const bool mac = onMac(t.w);
    EXPECT_EQ(sheet->inputSummary(), mac ? "⌃ V" : "Ctrl+V");
    EXPECT_EQ(sheet->outputSummary(), mac ? "Paste" : "Paste\nCtrl+V");
    EXPECT_EQ(sheet->cancelButton()->text(), "Cancel");
    EXPECT_EQ(sheet->deleteButton()->text(), "Delete");
    // Return deletes on macOS; elsewhere what cannot be undone is not the default.
    EXPECT_EQ(sheet->deleteButton()->isDefault(), mac);
    EXPECT_EQ(sheet->cancelButton()->isDefault(), !mac);
    EXPECT_EQ(sheet->windowTitle(), "Delete Mapping");
    EXPECT_FALSE(sheet->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(sheet->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(sheet->dontAskAgain()->text(), "Do not ask again");

    sheet->cancelButton()->click();
    t.pump();
    EXPECT_EQ(v.mappingsTitle()->text(), "Mappings (2)");
    EXPECT_EQ(v.deleteDialog(), nullptr);

    t.rowButtons("deleteButton").at(1).click();
    t.pump();
    ASSERT_NE(v.deleteDialog(), nullptr);
    EXPECT_FALSE(v.deleteDialog()->dontAskAgain()->isChecked());
    v.deleteDialog()->dontAskAgain()->setChecked(true);
    v.deleteDialog()->deleteButton()->click();
    t.pump();
    EXPECT_EQ(v.mappingsTitle()->text(), "Mappings (1)");
    EXPECT_TRUE(t.w.model->suppressDeleteConfirmation());

    t.rowButtons("deleteButton").at(0).click(); // no sheet any more
    t.pump();
    EXPECT_EQ(v.deleteDialog(), nullptr);
    EXPECT_EQ(v.mappingPane()->currentIndex(), 1);
}

TEST(MainWindow, ImportAsksReplaceOrAppendAndReportsBadFiles) {
    Window t;
    auto& v = t.view();
    t.select(t.magic);
    const std::filesystem::path file = t.w.root() / "import.json";
    std::ofstream(file) << chordwell::encodeDeviceMapping(
        makeRecord("Elsewhere", 9, 9, {makeMapping("Imported", {0x05})}));
    t.files->importFile = file;

    v.headerImportButton()->click();
    t.pump();
    QMessageBox* options = v.importOptionsDialog();
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(options->windowTitle(), "Import Options");
    EXPECT_EQ(options->informativeText(), "“import.json” holds 1 mapping.");
    QStringList texts;
    for (QAbstractButton* b : options->buttons()) {
        texts << b->text();
    }
    EXPECT_TRUE(texts.contains("Replace existing mappings"));
    EXPECT_TRUE(texts.contains("Append new ones to existing mappings"));
    EXPECT_TRUE(texts.contains("Cancel"));
    buttonNamed(options, "Append new ones to existing mappings")->click();
    t.pump();
    EXPECT_EQ(v.mappingsTitle()->text(), "Mappings (3)");

    v.headerImportButton()->click();
    t.pump();
    ASSERT_NE(v.importOptionsDialog(), nullptr);
    buttonNamed(v.importOptionsDialog(), "Replace existing mappings")->click();
    t.pump();
    EXPECT_EQ(v.mappingsTitle()->text(), "Mappings (1)");

    v.headerImportButton()->click();
    t.pump();
    ASSERT_NE(v.importOptionsDialog(), nullptr);
    buttonNamed(v.importOptionsDialog(), "Cancel")->click();
    t.pump();
    EXPECT_EQ(v.mappingsTitle()->text(), "Mappings (1)");
    EXPECT_FALSE(t.w.model->showingImportChoice);

    // An array of mappings instead of one record.
    std::ofstream(file) << "[" << chordwell::toJson(makeMapping("A", {0x04})).dump() << "]";
    v.headerImportButton()->click();
    t.pump();
    QMessageBox* error = v.errorDialog();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->windowTitle(), "Import Error");
    // The file and the problem in words first, the reader's detail second.
    const QString words = QStringLiteral("The file “import.json” is not a Chordwell mapping file: "
                                         "it does not hold the mappings of a keyboard.");
    if (onMac(t.w)) {
        EXPECT_EQ(error->text(), "Import Error");
        EXPECT_TRUE(error->informativeText().startsWith(words));
    } else {
        EXPECT_EQ(error->text(), words);
        EXPECT_FALSE(error->informativeText().isEmpty());
    }
    ASSERT_EQ(error->buttons().size(), 1);
    EXPECT_EQ(error->buttons()[0]->text(), "OK");
    EXPECT_EQ(v.mappingsTitle()->text(), "Mappings (1)") << "a failed import changes nothing";
    const auto messages = t.w.systemLog->messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& m) {
        return m.rfind("Failed to import mappings: The file “import.json” is not a Chordwell", 0) ==
               0;
    }));
    error->buttons()[0]->click();

    // Cancelling the file dialog shows nothing.
    t.files->importFile.reset();
    v.emptyImportButton()->click();
    t.pump();
    EXPECT_EQ(v.importOptionsDialog(), nullptr);
}

TEST(MainWindow, DirectImportFromTheEmptyState) {
    Window t;
    auto& v = t.view();
    t.select(t.other);
    const std::filesystem::path file = t.w.root() / "import.json";
    std::ofstream(file) << chordwell::encodeDeviceMapping(
        makeRecord("X", 1, 1, {makeMapping("One", {0x05}), makeMapping("One", {0x05})}));
    t.files->importFile = file;
    v.emptyImportButton()->click();
    t.pump();
    EXPECT_EQ(v.importOptionsDialog(), nullptr) << "no question asked";
    EXPECT_EQ(v.mappingsTitle()->text(), "Mappings (2)");
}

TEST(MainWindow, ExportProposesASafeNameAndWritesTheRecord) {
    Window t;
    auto& v = t.view();
    t.select(t.magic);
    t.files->exportFile = t.w.root() / "out.json";
    v.exportButton()->click();
    EXPECT_EQ(t.files->proposedName, "Magic Keyboard-mappings.json");
    ASSERT_TRUE(std::filesystem::exists(t.w.root() / "out.json"));
    EXPECT_TRUE(t.w.logged("Exported mappings to " + (t.w.root() / "out.json").string()));

    t.files->exportFile = t.w.root() / "missing-folder" / "out.json";
    v.exportButton()->click();
    t.pump();
    ASSERT_NE(v.errorDialog(), nullptr);
    EXPECT_EQ(v.errorDialog()->windowTitle(), "Export Error");
    // The folder that is missing, and what to do.
    const QString said = v.errorDialog()->text() + v.errorDialog()->informativeText();
    EXPECT_TRUE(said.contains(QString::fromStdString("The folder “" +
                                                     (t.w.root() / "missing-folder").string() +
                                                     "” does not exist. Choose another folder.")))
        << said.toStdString();
    v.errorDialog()->buttons()[0]->click();
}

TEST(MainWindow, ClearAllAsksFirst) {
    Window t;
    auto& v = t.view();
    t.select(t.magic);
    v.clearAllButton()->click();
    QMessageBox* confirm = v.clearConfirmation();
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(confirm->text(),
              "Are you sure you want to clear all mappings? This cannot be undone.");
    // Return does not clear; a dialog with a title and no minimise or
    // maximise button.
    EXPECT_EQ(static_cast<QAbstractButton*>(confirm->defaultButton()),
              buttonNamed(confirm, "Cancel"));
    EXPECT_EQ(confirm->windowTitle(), "Clear All Mappings");
    EXPECT_FALSE(confirm->windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    buttonNamed(confirm, "Cancel")->click();
    t.pump();
    EXPECT_EQ(v.mappingsTitle()->text(), "Mappings (2)");

    v.clearAllButton()->click();
    buttonNamed(v.clearConfirmation(), "Clear All")->click();
    t.pump();
    EXPECT_EQ(v.mappingPane()->currentIndex(), 1);
    EXPECT_EQ(v.noMappingsLabel()->text(), onMac(t.w) ? "No mappings found for this device."
                                                      : "No mappings for this keyboard yet.");
}

TEST(MainWindow, AKeptAsideMappingFileIsNamedUntilDismissed) {
    Window t;
    chordwell::SetAsideFile file{"Magic Keyboard", "/m/05AC-024F.json",
                                 "/m/05AC-024F.json.unreadable-20261207T101500Z", "is not valid"};
    const auto lines = chordwell::app::bannerMessages({}, true, "", {file});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].text.find("\u201CMagic Keyboard\u201D"), std::string::npos);
    EXPECT_NE(lines[0].text.find(file.keptAt.string()), std::string::npos);
    std::vector<std::string> dismissed;
    t.window->setBannerDismissHandler([&](const std::string& key) { dismissed.push_back(key); });
    t.window->setBanner(lines);
    EXPECT_TRUE(t.window->banner()->isVisible());
    const auto buttons = t.window->banner()->findChildren<QPushButton*>("bannerDismiss");
    ASSERT_EQ(buttons.size(), 1);
    buttons[0]->click();
    EXPECT_EQ(dismissed, std::vector<std::string>{file.keptAt.string()});
}

TEST(MainWindow, BannerShowsNoticesAndStorageFailureWithTheirActions) {
    Window t;
    EXPECT_FALSE(t.window->banner()->isVisible());
    const auto lines = chordwell::app::bannerMessages(
        {{"Input Monitoring is off", "Open Settings", "x-settings://privacy"}}, false, "read-only");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "Mappings cannot be saved: the mappings folder is not available "
                             "(read-only). Chordwell keeps working, but changes are lost when it "
                             "quits.");
    t.window->setBanner(lines);
    EXPECT_TRUE(t.window->banner()->isVisible());
    const auto buttons = t.window->banner()->findChildren<QPushButton*>("bannerAction");
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), "Open Settings");
    buttons[0]->click();
    EXPECT_EQ(t.desktop.opened, (std::vector<std::string>{"x-settings://privacy"}));
    t.window->setBanner({});
    EXPECT_FALSE(t.window->banner()->isVisible());
    EXPECT_TRUE(chordwell::app::bannerMessages({}, true, "").empty());
}

TEST(MainWindow, ToMenuOffersTheCatalogThenCustomAndNoAction) {
    chordwell::ShortcutItem undo{"undo last change", {{6, 0x100000}}};
    chordwell::ShortcutItem redo{"redo", {{6, 0x120000}}};
    Window t({chordwell::ShortcutGroup{"Editing", {undo, redo}}});
    t.select(t.magic);
    auto* editor = t.view().editor();
    const QList<QAction*> entries = editor->toMenu()->actions();
    ASSERT_GE(entries.size(), 4);
    ASSERT_NE(entries[0]->menu(), nullptr);
    EXPECT_EQ(entries[0]->text(), "Editing");
    const QList<QAction*> items = entries[0]->menu()->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), "Undo Last Change");
    EXPECT_EQ(items[1]->text(), "Redo");
    EXPECT_EQ(entries[entries.size() - 2]->text(), "Custom");
    EXPECT_EQ(entries.back()->text(), "No Action");

    items[1]->trigger();
    t.pump();
    EXPECT_EQ(editor->toMenuButton()->text(), "Redo");
    EXPECT_TRUE(editor->toField()->isVisibleTo(t.window.get()));
    EXPECT_EQ(editor->toField()->mainText(), onMac(t.w) ? "⇧⌘Z" : "Shift+Super+Z");
    entries.back()->trigger();
    t.pump();
    EXPECT_EQ(editor->toMenuButton()->text(), "No Action");
    EXPECT_FALSE(editor->toField()->isVisibleTo(t.window.get()));
}

// On a Dvorak layout the catalog's Undo (the US Z key) is stored as the key
// that types z there, the one at the US slash, and every label reads Z: the
// stored mapping means the same as on a US keyboard.
TEST(MainWindow, ACatalogPickStoresTheKeysOfTheUsersLayout) {
    chordwell::ShortcutItem undo{"undo", {{6, 0x100000}}};
    Window t({chordwell::ShortcutGroup{"Editing", {undo}}});
    ASSERT_TRUE(t.w.world->layout().select("dvorak"));
    t.select(t.magic);
    auto* editor = t.view().editor();
    const bool mac = onMac(t.w);
    editor->toMenu()->actions().at(0)->menu()->actions().at(0)->trigger();
    t.pump();
    EXPECT_EQ(editor->toField()->mainText(), mac ? "⌘Z" : "Super+Z");

    QTest::keyClicks(editor->nameField(), "Undo");
    QTest::mouseClick(editor->fromField(), Qt::LeftButton);
    t.pump();
    t.w.world->keyDown(*t.magic, 0xE0);
    t.w.world->keyDown(*t.magic, 0x1D); // the key at US Z
    t.pump();
    // Recorded keys stay positions, labelled as this layout's keycaps.
    EXPECT_EQ(editor->fromField()->mainText(), mac ? "⌃ ;" : "Ctrl+;");
    t.w.world->keyUp(*t.magic, 0x1D);
    t.w.world->keyUp(*t.magic, 0xE0);
    editor->saveButton()->click();
    t.pump();
    const chordwell::DeviceMapping* record = t.w.model->selectedRecord();
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->mappings.size(), 3u);
    const chordwell::KeyMapping& saved = record->mappings.back();
    EXPECT_EQ(saved.inputKeyCodes, (std::vector<chordwell::HidUsage>{0xE0, 0x1D}));
    EXPECT_EQ(saved.outputBehavior, chordwell::OutputBehavior::customKeySequence(
                                        "Undo", {{44, chordwell::kMaskCommand}}));
    const auto file = t.w.readMappingFile(0x05AC, 0x024F);
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->mappings.back().outputBehavior, saved.outputBehavior);

    // Back on US the stored keys keep their meaning: they are the slash key.
    ASSERT_TRUE(t.w.world->layout().select("us"));
    t.pump();
    EXPECT_EQ(t.w.model->outputKeysText(saved), mac ? "⌘/" : "Super+/");
}

TEST(MainWindow, ClosingTheWindowEndsARecordingButNotInterception) {
    Window t;
    t.select(t.magic);
    t.view().editor()->fromField()->click();
    t.pump();
    ASSERT_TRUE(t.w.engine->isForceBlockTap());
    t.window->close();
    EXPECT_FALSE(t.w.engine->isForceBlockTap()) << "nobody could see the recording";
    EXPECT_FALSE(t.w.model->isCapturingFrom);

    t.window->show();
    t.view().powerToggle()->click();
    t.window->close();
    EXPECT_TRUE(t.w.engine->isIntercepting());
    EXPECT_TRUE(t.w.engine->selectedDevice());
}
