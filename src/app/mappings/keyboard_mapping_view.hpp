// The content of the main window: the keyboard list, the mapping editor and
// the mapping pane (header with import / export / clear and run / stop, the
// large switch, the table). It draws KeyboardMappingModel and forwards the
// user's actions to it.
#pragma once

#include "app/mappings/keyboard_mapping_model.hpp"
#include "app/mappings/mapping_dialogs.hpp"
#include "app/mappings/mapping_table.hpp"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

class QLabel;
class QListView;
class QMessageBox;
class QStackedWidget;

namespace chordwell::app {

class BigPowerToggle;
class DeleteConfirmationDialog;
class EngineBridge;
class HoverLabelButton;
class KeyboardListModel;
class MappingEditorView;
class MappingTableModel;
class MappingTableView;
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

    /// Redraws from the model now: only the parts whose source changed.
    void refresh();
    /// Redraws once, at the next turn of the event loop (nothing while the
    /// view is hidden: it catches up when shown).
    void scheduleRefresh();
    /// How many refreshes did work since the view was built (a hidden view
    /// does none).
    int refreshCount() const { return refreshCount_; }

    // The parts, for tests and screenshots.
    QWidget* keyboardPane() const { return keyboardPane_; }
    QListView* keyboardList() const { return keyboardList_; }
    KeyboardListModel* keyboardListModel() const { return keyboardModel_; }
    MappingEditorView* editor() const { return editor_; }
    QStackedWidget* mappingPane() const { return mappingPane_; }
    QLabel* waitingLabel() const { return waitingLabel_; }
    QLabel* noDeviceLabel() const { return noDeviceLabel_; }
    QLabel* noMappingsLabel() const { return noMappingsLabel_; }
    QLabel* mappingsTitle() const { return mappingsTitle_; }
    HoverLabelButton* headerImportButton() const { return headerImport_; }
    HoverLabelButton* emptyImportButton() const { return emptyImport_; }
    HoverLabelButton* exportButton() const { return export_; }
    HoverLabelButton* clearAllButton() const { return clearAll_; }
    RunStopButton* runStopButton() const { return runStop_; }
    BigPowerToggle* powerToggle() const { return powerToggle_; }
    MappingTableView* table() const { return table_; }
    MappingTableModel* tableModel() const { return tableModel_; }
    DeleteConfirmationDialog* deleteDialog() const { return deleteDialog_; }
    QMessageBox* importOptionsDialog() const { return importOptions_; }
    QMessageBox* clearConfirmation() const { return clearConfirmation_; }
    QMessageBox* errorDialog() const { return errorDialog_; }

    /// The user actions of the file buttons (also what the buttons call).
    void importClicked(bool direct);
    void exportClicked();
    void clearAllClicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // What the keyboard list and the table were last drawn from; a refresh
    // compares these instead of rebuilding rows, so an engine change that
    // touches neither (held keys, the tap's pass-throughs) costs nothing in
    // proportion to the number of keyboards or mappings.
    struct KeyboardsShown {
        const void* data = nullptr;
        std::size_t size = 0;
        Uuid front, back;
        std::optional<Uuid> selected;
        friend bool operator==(const KeyboardsShown&, const KeyboardsShown&) = default;
    };
    struct RecordShown {
        const void* record = nullptr;
        Uuid recordId;
        const void* data = nullptr;
        std::size_t size = 0;
        std::uint64_t revision = 0;
        friend bool operator==(const RecordShown&, const RecordShown&) = default;
    };

    void engineChanged();
    void buildKeyboardPane();
    void buildMappingPane();
    void refreshKeyboardList();
    void refreshTable();
    void tableActionRequested(int row, RowAction action);
    void refreshDialogs();
    void showError(const QString& title, const QString& message);

    KeyboardMappingModel& model_;
    EngineBridge& bridge_;
    std::shared_ptr<FileChooser> files_;
    bool refreshPending_ = false;
    bool staleWhileHidden_ = false;
    int refreshCount_ = 0;

    QWidget* upper_ = nullptr;
    QWidget* keyboardPane_ = nullptr;
    QListView* keyboardList_ = nullptr;
    KeyboardListModel* keyboardModel_ = nullptr;
    bool syncingSelection_ = false;
    QWidget* editorDivider_ = nullptr;
    MappingEditorView* editor_ = nullptr;
    QStackedWidget* mappingPane_ = nullptr;
    QLabel* waitingLabel_ = nullptr;
    QLabel* noDeviceLabel_ = nullptr;
    QLabel* noMappingsLabel_ = nullptr;
    QLabel* mappingsTitle_ = nullptr;
    HoverLabelButton* headerImport_ = nullptr;
    HoverLabelButton* emptyImport_ = nullptr;
    HoverLabelButton* export_ = nullptr;
    HoverLabelButton* clearAll_ = nullptr;
    RunStopButton* runStop_ = nullptr;
    BigPowerToggle* powerToggle_ = nullptr;
    MappingTableView* table_ = nullptr;
    MappingTableModel* tableModel_ = nullptr;
    int topRowBeforeEmptied_ = -1;
    // Counts the engine's records changes delivered to the view.
    std::uint64_t engineRecordsRevision_ = 0;

    DeleteConfirmationDialog* deleteDialog_ = nullptr;
    QMessageBox* importOptions_ = nullptr;
    QMessageBox* clearConfirmation_ = nullptr;
    QMessageBox* errorDialog_ = nullptr;

    std::optional<KeyboardsShown> keyboardsShown_;
    std::optional<RecordShown> recordShown_;
};

} // namespace chordwell::app
