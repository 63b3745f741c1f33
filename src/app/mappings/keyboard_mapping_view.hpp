// The content of the main window: the keyboard list, the mapping editor and
// the mapping pane (header with import / export / clear and run / stop, the
// large switch, the table). It draws KeyboardMappingModel and forwards the
// user's actions to it.
#pragma once

#include "app/mappings/keyboard_mapping_model.hpp"
#include "app/mappings/mapping_dialogs.hpp"

#include <QWidget>

#include <memory>

class QLabel;
class QListWidget;
class QMessageBox;
class QStackedWidget;
class QTableWidget;

namespace chordwell::app {

class BigPowerToggle;
class DeleteConfirmationDialog;
class EngineBridge;
class HoverLabelButton;
class MappingEditorView;
class RunStopButton;

class KeyboardMappingView : public QWidget {
    Q_OBJECT

public:
    /// `files` picks import and export files (the system dialogs unless a
    /// test gives its own).
    KeyboardMappingView(KeyboardMappingModel& model, EngineBridge& bridge,
                        std::shared_ptr<FileChooser> files = nullptr, QWidget* parent = nullptr);
    ~KeyboardMappingView() override;

    KeyboardMappingModel& model() const { return model_; }

    /// Redraws everything from the model now.
    void refresh();
    /// Redraws once, at the next turn of the event loop.
    void scheduleRefresh();

    // The parts, for tests and screenshots.
    QWidget* keyboardPane() const { return keyboardPane_; }
    QListWidget* keyboardList() const { return keyboardList_; }
    MappingEditorView* editor() const { return editor_; }
    QStackedWidget* mappingPane() const { return mappingPane_; }
    QLabel* noDeviceLabel() const { return noDeviceLabel_; }
    QLabel* noMappingsLabel() const { return noMappingsLabel_; }
    QLabel* mappingsTitle() const { return mappingsTitle_; }
    HoverLabelButton* headerImportButton() const { return headerImport_; }
    HoverLabelButton* emptyImportButton() const { return emptyImport_; }
    HoverLabelButton* exportButton() const { return export_; }
    HoverLabelButton* clearAllButton() const { return clearAll_; }
    RunStopButton* runStopButton() const { return runStop_; }
    BigPowerToggle* powerToggle() const { return powerToggle_; }
    QTableWidget* table() const { return table_; }
    DeleteConfirmationDialog* deleteDialog() const { return deleteDialog_; }
    QMessageBox* importOptionsDialog() const { return importOptions_; }
    QMessageBox* clearConfirmation() const { return clearConfirmation_; }
    QMessageBox* errorDialog() const { return errorDialog_; }

    /// The user actions of the file buttons (also what the buttons call).
    void importClicked(bool direct);
    void exportClicked();
    void clearAllClicked();

private:
    void buildKeyboardPane();
    void buildMappingPane();
    void refreshKeyboardList();
    void refreshTable();
    void refreshDialogs();
    void showError(const QString& title, const QString& message);

    KeyboardMappingModel& model_;
    EngineBridge& bridge_;
    std::shared_ptr<FileChooser> files_;
    bool refreshPending_ = false;

    QWidget* upper_ = nullptr;
    QWidget* keyboardPane_ = nullptr;
    QListWidget* keyboardList_ = nullptr;
    QWidget* editorDivider_ = nullptr;
    MappingEditorView* editor_ = nullptr;
    QStackedWidget* mappingPane_ = nullptr;
    QLabel* noDeviceLabel_ = nullptr;
    QLabel* noMappingsLabel_ = nullptr;
    QLabel* mappingsTitle_ = nullptr;
    HoverLabelButton* headerImport_ = nullptr;
    HoverLabelButton* emptyImport_ = nullptr;
    HoverLabelButton* export_ = nullptr;
    HoverLabelButton* clearAll_ = nullptr;
    RunStopButton* runStop_ = nullptr;
    BigPowerToggle* powerToggle_ = nullptr;
    QTableWidget* table_ = nullptr;

    DeleteConfirmationDialog* deleteDialog_ = nullptr;
    QMessageBox* importOptions_ = nullptr;
    QMessageBox* clearConfirmation_ = nullptr;
    QMessageBox* errorDialog_ = nullptr;

    // What the list and the table show, to rebuild them only on change.
    std::vector<std::pair<Uuid, bool>> shownKeyboards_;
    std::vector<std::string> shownKeyboardTitles_;
    std::vector<MappingRow> shownRows_;
    bool shownRowsEnabled_ = true;
};

} // namespace chordwell::app
