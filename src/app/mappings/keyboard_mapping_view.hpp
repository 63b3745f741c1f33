// The content of the main window: the keyboard list, the mapping editor and
// the mapping pane (header with import / export / clear and run / stop, the
// large switch, the table). It draws KeyboardMappingModel and forwards the
// user's actions to it.
#pragma once

#include "app/mappings/keyboard_list.hpp"
#include "app/mappings/keyboard_mapping_model.hpp"
#include "app/mappings/mapping_dialogs.hpp"
#include "app/mappings/mapping_table.hpp"

#include "app/controls/ruled_panel.hpp"

#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

class QBoxLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QScrollArea;
class QVBoxLayout;
class QListView;
class QMessageBox;
class QStackedWidget;
class QTimer;

namespace chordwell::app {

class BigPowerToggle;
class DeleteConfirmationDialog;
class EngineBridge;
class HoverLabelButton;
class MappingEditorView;
class MappingTableModel;
class MappingTableView;
class RunStopButton;

class KeyboardMappingView : public RuledPanel {
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

    /// For short screens: the keyboard list and the editor stand in a
    /// scrolling column beside the mapping list instead of above it, and the
    /// large switch joins the list's header. Regular: everything stacked.
    void setCompact(bool compact);
    bool isCompact() const { return compact_; }
    /// The height the view needs, stacked, to show every control and five
    /// rows of the mapping list.
    int regularMinimumHeight() const;
    /// The height of the mapping list showing `rows` rows and its header.
    int tableHeightFor(int rows) const;

    // The parts, for tests and screenshots.
    QWidget* keyboardPane() const { return keyboardPane_; }
    KeyboardListView* keyboardList() const { return keyboardList_; }
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
    /// Filters the mapping list by name and keys.
    QLineEdit* searchField() const { return search_; }
    /// "3 of 10,000" while the search hides mappings.
    QLabel* searchCount() const { return searchCount_; }
    /// Says why the editor and the list are greyed while mappings are on.
    QLabel* lockNote() const { return lockNote_; }
    /// Runs the search typed so far now (it otherwise waits for a pause in
    /// the typing).
    void applySearch();
    /// Rows, columns and the search's count afresh from the table model.
    void updateSearchCount();

    /// The user actions of the file buttons (also what the buttons call).
    void importClicked(bool direct);
    void exportClicked();
    void clearAllClicked();

Q_SIGNALS:
    /// A file operation finished: what happened, for the status line.
    void statusMessage(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

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
    void arrangeRules();
    void fitKeyboardListToRows();
    /// In the scrolling column: scrolls the recording's way out (the hint
    /// under the fields) and the From field into view.
    void revealRecording();
    void buildKeyboardPane();
    void buildMappingPane();
    // The mapping pane's three pages, and the parts of the list page.
    QWidget* buildNoKeyboardPage();
    QWidget* buildNoMappingsPage();
    QWidget* buildListPage();
    void buildListHeader(QWidget* list);
    void buildSearchRow(QWidget* list);
    void buildMappingTable(QWidget* list);
    void keepScrollPlaceAcrossRefills();
    void connectListActions();
    void refreshKeyboardList();
    void refreshTable();
    void tableActionRequested(int row, RowAction action);
    void refreshDialogs();
    void showError(const QString& title, const QString& message, const QString& details = {});
    void reportImport(const std::filesystem::path& file);

    KeyboardMappingModel& model_;
    EngineBridge& bridge_;
    QLabel* lockNote_ = nullptr;
    QLineEdit* search_ = nullptr;
    QLabel* searchCount_ = nullptr;
    QTimer* searchDelay_ = nullptr;
    // The file an import is waiting on the choice dialog for.
    std::filesystem::path pendingImportFile_;
    std::shared_ptr<FileChooser> files_;
    bool refreshPending_ = false;
    bool staleWhileHidden_ = false;
    int refreshCount_ = 0;

    bool compact_ = false;
    bool recordingHintShown_ = false;
    QBoxLayout* body_ = nullptr;
    QBoxLayout* upperLayout_ = nullptr;
    QScrollArea* upperScroll_ = nullptr;
    QWidget* lower_ = nullptr;
    RuledPanel* listPage_ = nullptr;
    QVBoxLayout* listLayout_ = nullptr;
    QHBoxLayout* header_ = nullptr;
    QWidget* headerRow_ = nullptr;
    QWidget* searchRow_ = nullptr;
    QWidget* upper_ = nullptr;
    QWidget* keyboardPane_ = nullptr;
    KeyboardListView* keyboardList_ = nullptr;
    KeyboardListModel* keyboardModel_ = nullptr;
    bool syncingSelection_ = false;

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
