#include "app/mappings/keyboard_mapping_view.hpp"

#include "app/app_info.hpp"
#include "app/controls/big_power_toggle.hpp"
#include "app/controls/hover_label_button.hpp"
#include "app/controls/run_stop_button.hpp"
#include "app/controls/symbols.hpp"
#include "app/mappings/mapping_editor_view.hpp"
#include "app/mappings/mapping_files.hpp"
#include "app/shell/engine_bridge.hpp"
#include "logging/log.hpp"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace chordwell::app {

namespace {

constexpr std::string_view kCategoryIo = "io";

QFrame* divider(QWidget* parent, bool vertical = false) {
    auto* line = new QFrame(parent);
    line->setFrameShape(vertical ? QFrame::VLine : QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* headline(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    return label;
}

QLabel* secondaryLabel(const QString& text, QWidget* parent, bool caption = false) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setForegroundRole(QPalette::PlaceholderText);
    if (caption) {
        QFont f = label->font();
        f.setPointSizeF(std::max(7.0, f.pointSizeF() - 2.0));
        label->setFont(f);
    }
    return label;
}

QWidget* twoLineCell(const std::string& main, const std::string& detail, QWidget* parent) {
    auto* cell = new QWidget(parent);
    auto* layout = new QVBoxLayout(cell);
    layout->setContentsMargins(6, 3, 6, 3);
    layout->setSpacing(2);
    auto* top = new QLabel(QString::fromStdString(main), cell);
    top->setTextFormat(Qt::PlainText);
    layout->addWidget(top);
    if (!detail.empty()) {
        layout->addWidget(secondaryLabel(QString::fromStdString(detail), cell, true));
    }
    return cell;
}

bool sameRows(const std::vector<MappingRow>& a, const std::vector<MappingRow>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].mapping.id != b[i].mapping.id || !(a[i].mapping == b[i].mapping) ||
            a[i].isBeingEdited != b[i].isBeingEdited) {
            return false;
        }
    }
    return true;
}

} // namespace

KeyboardMappingView::KeyboardMappingView(KeyboardMappingModel& model, EngineBridge& bridge,
                                         std::shared_ptr<FileChooser> files, QWidget* parent)
    : QWidget(parent), model_(model), bridge_(bridge),
      files_(files ? std::move(files) : std::make_shared<FileChooser>()) {
    setObjectName(QStringLiteral("keyboardMappingView"));
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(divider(this));

    upper_ = new QWidget(this);
    auto* upperLayout = new QHBoxLayout(upper_);
    upperLayout->setContentsMargins(0, 0, 0, 0);
    upperLayout->setSpacing(0);
    buildKeyboardPane();
    upperLayout->addWidget(keyboardPane_, 2);
    editorDivider_ = divider(upper_, true);
    upperLayout->addWidget(editorDivider_);
    editor_ = new MappingEditorView(model_, upper_);
    upperLayout->addWidget(editor_, 3);
    // The upper panes take the room they need; the mapping list gets the
    // rest (a fixed share left it four rows under empty editor space).
    root->addWidget(upper_, 0);

    root->addWidget(divider(this));
    buildMappingPane();
    auto* lower = new QWidget(this);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(10, 10, 10, 10);
    lowerLayout->addWidget(mappingPane_);
    root->addWidget(lower, 1);

    connect(&bridge_, &EngineBridge::changed, this, [this] {
        model_.syncWithEngine();
        refresh();
    });
    model_.setOnChanged([this] { scheduleRefresh(); });
    model_.keyboardListAppeared();
    refresh();
}

KeyboardMappingView::~KeyboardMappingView() {
    model_.setOnChanged(nullptr);
}

void KeyboardMappingView::buildKeyboardPane() {
    keyboardPane_ = new QWidget(upper_);
    auto* layout = new QVBoxLayout(keyboardPane_);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->addWidget(headline(QStringLiteral("Select Keyboard"), keyboardPane_));
    keyboardList_ = new QListWidget(keyboardPane_);
    keyboardList_->setObjectName(QStringLiteral("keyboardList"));
    keyboardList_->setFrameShape(QFrame::NoFrame);
    keyboardList_->setSelectionMode(QAbstractItemView::SingleSelection);
    keyboardList_->viewport()->setAutoFillBackground(false);
    keyboardList_->setAttribute(Qt::WA_TranslucentBackground);
    layout->addWidget(keyboardList_, 1);
    // The selection, not the current row: a list that gains focus makes its
    // first row current without anyone choosing that keyboard.
    connect(keyboardList_, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> chosen = keyboardList_->selectedItems();
        if (chosen.isEmpty()) {
            model_.selectKeyboard(std::nullopt);
            return;
        }
        const int row = keyboardList_->row(chosen.front());
        const std::vector<KeyboardRow> rows = model_.keyboardRows();
        if (row >= 0 && static_cast<std::size_t>(row) < rows.size()) {
            model_.selectKeyboard(rows[static_cast<std::size_t>(row)].device);
        }
    });
}

void KeyboardMappingView::buildMappingPane() {
    mappingPane_ = new QStackedWidget(this);
    mappingPane_->setObjectName(QStringLiteral("mappingPane"));

    // No keyboard.
    auto* noDevice = new QWidget(mappingPane_);
    auto* noDeviceLayout = new QVBoxLayout(noDevice);
    noDeviceLabel_ = secondaryLabel(QStringLiteral("No device was selected."), noDevice);
    noDeviceLayout->addWidget(noDeviceLabel_);
    noDeviceLayout->addStretch(1);
    mappingPane_->addWidget(noDevice);

    // A keyboard without mappings.
    auto* empty = new QWidget(mappingPane_);
    auto* emptyLayout = new QVBoxLayout(empty);
    noMappingsLabel_ = secondaryLabel(QStringLiteral("No mappings found for this device."), empty);
    emptyLayout->addWidget(noMappingsLabel_);
    emptyImport_ = new HoverLabelButton(
        QStringLiteral("tray.and.arrow.down"), QStringLiteral("Import"),
        QStringLiteral("Load a JSON mapping file to import predefined shortcuts"), empty);
    emptyImport_->setShowLabelOnlyOnHover(false);
    emptyLayout->addWidget(emptyImport_, 0, Qt::AlignLeft);
    emptyLayout->addStretch(1);
    mappingPane_->addWidget(empty);
    connect(emptyImport_, &QAbstractButton::clicked, this, [this] { importClicked(true); });

    // The list.
    auto* list = new QWidget(mappingPane_);
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(4);
    listLayout->addWidget(divider(list));
    auto* header = new QHBoxLayout();
    mappingsTitle_ = headline(QStringLiteral("Mappings (0)"), list);
    mappingsTitle_->setContentsMargins(6, 0, 0, 0);
    header->addWidget(mappingsTitle_);
    headerImport_ = new HoverLabelButton(
        QStringLiteral("tray.and.arrow.down"), QStringLiteral("Import"),
        QStringLiteral("Load a JSON mapping file to import predefined shortcuts"), list);
    headerImport_->setShowLabelOnlyOnHover(true);
    export_ = new HoverLabelButton(QStringLiteral("square.and.arrow.up"), QStringLiteral("Export"),
                                   QStringLiteral("Export current mappings to a JSON file"), list);
    export_->setShowLabelOnlyOnHover(true);
    clearAll_ =
        new HoverLabelButton(QStringLiteral("trash"), QStringLiteral("Clear All"),
                             QStringLiteral("Remove all current mappings for this device"), list);
    clearAll_->setShowLabelOnlyOnHover(true);
    header->addWidget(headerImport_);
    header->addWidget(export_);
    header->addWidget(clearAll_);
    header->addStretch(1);
    runStop_ = new RunStopButton(list);
    runStop_->setShowLabelOnlyOnHover(true);
    header->addWidget(runStop_);
    listLayout->addLayout(header);
    listLayout->addWidget(divider(list));
    powerToggle_ = new BigPowerToggle(list);
    listLayout->addWidget(powerToggle_, 0, Qt::AlignLeft);
    listLayout->addWidget(divider(list));

    table_ = new QTableWidget(0, 4, list);
    table_->setObjectName(QStringLiteral("mappingTable"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Input"), QStringLiteral("Output"), QString()});
    table_->verticalHeader()->setVisible(false);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setFocusPolicy(Qt::NoFocus);
    table_->setShowGrid(false);
    table_->setAlternatingRowColors(true);
    table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    // Cell widgets do not size their column: room for the two row buttons.
    table_->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Fixed);
    table_->setColumnWidth(3, 72);
    table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    listLayout->addWidget(table_, 1);
    mappingPane_->addWidget(list);

    connect(headerImport_, &QAbstractButton::clicked, this, [this] { importClicked(false); });
    connect(export_, &QAbstractButton::clicked, this, [this] { exportClicked(); });
    connect(clearAll_, &QAbstractButton::clicked, this, [this] { clearAllClicked(); });
    connect(runStop_, &RunStopButton::runRequested, this,
            [this] { model_.toggleInterception(true); });
    connect(runStop_, &RunStopButton::stopRequested, this,
            [this] { model_.stopInterceptingFromButton(); });
    connect(powerToggle_, &BigPowerToggle::toggleRequested, this, [this](bool wished) {
        model_.toggleInterception(wished);
        // The switch shows what the engine did, not what was wished.
        powerToggle_->setOn(model_.engine().isIntercepting());
    });
}

void KeyboardMappingView::scheduleRefresh() {
    if (refreshPending_) {
        return;
    }
    refreshPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            refreshPending_ = false;
            refresh();
        },
        Qt::QueuedConnection);
}

void KeyboardMappingView::refresh() {
    const RawKeyboardListener& engine = model_.engine();
    const bool enabled = model_.controlsEnabled();
    const MappingPaneState state = model_.mappingPaneState();
    const bool hasKeyboard = state != MappingPaneState::noDevice;

    refreshKeyboardList();
    keyboardPane_->setEnabled(enabled);
    editor_->setVisible(hasKeyboard);
    editorDivider_->setVisible(hasKeyboard);
    editor_->setEnabled(enabled);
    editor_->refresh();

    switch (state) {
    case MappingPaneState::noDevice:
        mappingPane_->setCurrentIndex(0);
        break;
    case MappingPaneState::noMappings:
        mappingPane_->setCurrentIndex(1);
        break;
    case MappingPaneState::mappings:
        mappingPane_->setCurrentIndex(2);
        break;
    }
    mappingsTitle_->setText(QString::fromStdString(model_.mappingsTitle()));
    headerImport_->setEnabled(enabled);
    export_->setEnabled(enabled);
    clearAll_->setEnabled(enabled);
    runStop_->setRunning(engine.isIntercepting());
    runStop_->setEnabled(model_.runStopEnabled());
    powerToggle_->setLabelText(appDisplayName() + QStringLiteral(" is:"));
    powerToggle_->setOn(engine.isIntercepting());
    refreshTable();
    refreshDialogs();
}

void KeyboardMappingView::refreshKeyboardList() {
    const std::vector<KeyboardRow> rows = model_.keyboardRows();
    std::vector<std::pair<Uuid, bool>> shown;
    std::vector<std::string> titles;
    for (const KeyboardRow& row : rows) {
        shown.emplace_back(row.device.id, row.isSelected);
        titles.push_back(row.title);
    }
    const auto& local = model_.localKeyboardSelection();
    int wantedRow = -1;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (local && rows[i].device.id == local->id) {
            wantedRow = static_cast<int>(i);
        }
    }
    const QSignalBlocker block(keyboardList_);
    if (shown != shownKeyboards_ || titles != shownKeyboardTitles_) {
        shownKeyboards_ = shown;
        shownKeyboardTitles_ = titles;
        keyboardList_->clear();
        for (const KeyboardRow& row : rows) {
            auto* item = new QListWidgetItem(keyboardList_);
            auto* cell = new QWidget(keyboardList_);
            auto* layout = new QVBoxLayout(cell);
            layout->setContentsMargins(6, 4, 6, 4);
            layout->setSpacing(1);
            auto* titleRow = new QHBoxLayout();
            titleRow->setSpacing(4);
            auto* title = headline(QString::fromStdString(row.title), cell);
            title->setTextFormat(Qt::PlainText);
            title->setObjectName(QStringLiteral("keyboardTitle"));
            titleRow->addWidget(title);
            if (row.isSelected) {
                auto* check = new QLabel(cell);
                check->setObjectName(QStringLiteral("checkmark"));
                check->setPixmap(symbolIcon(QStringLiteral("checkmark")).pixmap(14, 14));
                titleRow->addWidget(check);
            }
            titleRow->addStretch(1);
            layout->addLayout(titleRow);
            layout->addWidget(secondaryLabel(QString::fromStdString(row.vendorText), cell));
            layout->addWidget(secondaryLabel(QString::fromStdString(row.productText), cell));
            item->setSizeHint(cell->sizeHint());
            item->setData(Qt::AccessibleTextRole, QString::fromStdString(row.title));
            keyboardList_->setItemWidget(item, cell);
        }
    }
    const QList<QListWidgetItem*> chosen = keyboardList_->selectedItems();
    const int selectedRow = chosen.isEmpty() ? -1 : keyboardList_->row(chosen.front());
    if (selectedRow != wantedRow) {
        keyboardList_->clearSelection();
        if (wantedRow >= 0) {
            keyboardList_->setCurrentRow(wantedRow, QItemSelectionModel::ClearAndSelect);
        }
    }
}

void KeyboardMappingView::refreshTable() {
    const std::vector<MappingRow> rows = model_.mappingRows();
    const bool enabled = model_.controlsEnabled();
    if (sameRows(rows, shownRows_) && enabled == shownRowsEnabled_) {
        return;
    }
    shownRows_ = rows;
    shownRowsEnabled_ = enabled;
    table_->setRowCount(static_cast<int>(rows.size()));
    const DeviceMapping* record = model_.selectedRecord();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MappingRow& row = rows[i];
        const int r = static_cast<int>(i);
        table_->setCellWidget(r, 0, twoLineCell(row.name, "", table_));
        table_->setCellWidget(r, 1, twoLineCell(row.inputText, row.inputCodesText, table_));
        table_->setCellWidget(r, 2, twoLineCell(row.outputText, row.outputDetail, table_));

        auto* buttons = new QWidget(table_);
        auto* layout = new QHBoxLayout(buttons);
        layout->setContentsMargins(4, 0, 4, 0);
        layout->setSpacing(2);
        auto* edit = new QToolButton(buttons);
        edit->setObjectName(QStringLiteral("editButton"));
        edit->setAutoRaise(true);
        edit->setIcon(
            symbolIcon(row.isBeingEdited ? QStringLiteral("xmark") : QStringLiteral("pencil")));
        edit->setToolTip(row.isBeingEdited ? QStringLiteral("Cancel editing")
                                           : QStringLiteral("Edit"));
        edit->setEnabled(enabled);
        setPointingHandCursor(edit);
        auto* remove = new QToolButton(buttons);
        remove->setObjectName(QStringLiteral("deleteButton"));
        remove->setAutoRaise(true);
        remove->setIcon(symbolIcon(QStringLiteral("trash")));
        remove->setToolTip(QStringLiteral("Delete"));
        remove->setEnabled(enabled);
        setPointingHandCursor(remove);
        for (QToolButton* b : {edit, remove}) {
            b->setIconSize(QSize(16, 16));
            b->setFixedSize(28, 26);
        }
        layout->addWidget(edit);
        layout->addWidget(remove);
        table_->setCellWidget(r, 3, buttons);

        const KeyMapping mapping = row.mapping;
        const bool editing = row.isBeingEdited;
        connect(edit, &QToolButton::clicked, this, [this, mapping, editing] {
            if (editing) {
                model_.clearOrCancel();
            } else {
                model_.startEditing(mapping);
            }
        });
        if (record != nullptr && model_.engine().selectedDevice()) {
            const KeyboardDevice keyboard = *model_.engine().selectedDevice();
            const Uuid recordId = record->id;
            connect(remove, &QToolButton::clicked, this, [this, mapping, keyboard, recordId] {
                model_.requestDelete(mapping, keyboard, recordId);
            });
        }
    }
    table_->resizeRowsToContents();
}

void KeyboardMappingView::refreshDialogs() {
    if (model_.mappingToDelete && deleteDialog_ == nullptr) {
        deleteDialog_ = new DeleteConfirmationDialog(*model_.mappingToDelete, this);
        deleteDialog_->setWindowModality(Qt::WindowModal);
        deleteDialog_->setAttribute(Qt::WA_DeleteOnClose);
        connect(deleteDialog_->dontAskAgain(), &QCheckBox::toggled, this,
                [this](bool on) { model_.dontAskAgainDeleteConfirmation = on; });
        connect(deleteDialog_, &QDialog::finished, this, [this](int result) {
            deleteDialog_ = nullptr;
            if (result == QDialog::Accepted) {
                model_.confirmDelete();
            } else if (model_.mappingToDelete) {
                model_.cancelDelete();
            }
        });
        deleteDialog_->open();
    } else if (!model_.mappingToDelete && deleteDialog_ != nullptr) {
        DeleteConfirmationDialog* dialog = deleteDialog_;
        deleteDialog_ = nullptr;
        dialog->reject();
    }

    if (model_.showingImportChoice && importOptions_ == nullptr) {
        importOptions_ = makeImportOptionsDialog(this);
        importOptions_->setWindowModality(Qt::WindowModal);
        connect(importOptions_, &QMessageBox::buttonClicked, this,
                [this](QAbstractButton* clicked) {
                    const ImportChoice choice = importChoiceFor(importOptions_, clicked);
                    importOptions_ = nullptr;
                    switch (choice) {
                    case ImportChoice::replace:
                        model_.replaceImportedMappings();
                        break;
                    case ImportChoice::append:
                        model_.appendImportedMappings();
                        break;
                    case ImportChoice::cancel:
                        model_.showingImportChoice = false;
                        break;
                    }
                });
        connect(importOptions_, &QObject::destroyed, this, [this] {
            importOptions_ = nullptr;
            model_.showingImportChoice = false;
        });
        importOptions_->open();
    }
}

void KeyboardMappingView::showError(const QString& title, const QString& message) {
    errorDialog_ = makeFileErrorDialog(title, message, this);
    errorDialog_->setWindowModality(Qt::WindowModal);
    connect(errorDialog_, &QObject::destroyed, this, [this] { errorDialog_ = nullptr; });
    errorDialog_->open();
}

void KeyboardMappingView::importClicked(bool direct) {
    const std::optional<std::filesystem::path> path = files_->chooseImportFile(window());
    if (!path) {
        return;
    }
    ImportResult result = readImportFile(*path);
    if (!result.mappings) {
        log(LogLevel::error, "Failed to import mappings: " + result.error, kCategoryIo);
        showError(QStringLiteral("Import Error"), QString::fromStdString(result.error));
        return;
    }
    model_.importMappings(*result.mappings, direct);
    refresh();
}

void KeyboardMappingView::exportClicked() {
    const DeviceMapping* record = model_.selectedRecord();
    if (record == nullptr) {
        return;
    }
    const DeviceMapping snapshot = *record;
    const QString proposed = QString::fromStdString(proposedExportFileName(snapshot.productName));
    const std::optional<std::filesystem::path> path = files_->chooseExportFile(window(), proposed);
    if (!path) {
        return;
    }
    std::string error;
    if (!writeExportFile(*path, snapshot, error)) {
        log(LogLevel::error, "Export failed: " + error, kCategoryIo);
        showError(QStringLiteral("Export Error"), QString::fromStdString(error));
        return;
    }
    model_.exportFinished(path->string());
}

void KeyboardMappingView::clearAllClicked() {
    clearConfirmation_ = makeClearConfirmationDialog(this);
    clearConfirmation_->setWindowModality(Qt::WindowModal);
    connect(clearConfirmation_, &QMessageBox::buttonClicked, this,
            [this](QAbstractButton* clicked) {
                QMessageBox* box = clearConfirmation_;
                clearConfirmation_ = nullptr;
                if (box != nullptr && box->buttonRole(clicked) == QMessageBox::DestructiveRole) {
                    model_.clearAllMappings();
                }
            });
    connect(clearConfirmation_, &QObject::destroyed, this,
            [this] { clearConfirmation_ = nullptr; });
    clearConfirmation_->open();
}

} // namespace chordwell::app
