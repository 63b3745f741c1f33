// The main window's content built, and redrawn from the model: only the
// parts whose source changed. What the user's actions and the dialogs do is
// in keyboard_mapping_actions.cpp.
#include "app/mappings/keyboard_mapping_view.hpp"

#include "app/app_info.hpp"
#include "app/controls/big_power_toggle.hpp"
#include "app/controls/hover_label_button.hpp"
#include "app/controls/run_stop_button.hpp"
#include "app/controls/symbols.hpp"
#include "app/controls/text_styles.hpp"
#include "app/mappings/keyboard_list.hpp"
#include "app/mappings/mapping_editor_view.hpp"
#include "app/shell/engine_bridge.hpp"
#include "logging/log.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMetaObject>
#include <QPushButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace chordwell::app {

namespace {

QFrame* divider(QWidget* parent, bool vertical = false) {
    auto* line = new QFrame(parent);
    line->setFrameShape(vertical ? QFrame::VLine : QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* secondaryLabel(const QString& text, QWidget* parent, bool caption = false) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setForegroundRole(QPalette::PlaceholderText);
    if (caption) {
        label->setFont(smallCaptionFont(label->font()));
    }
    return label;
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

    connect(&bridge_, &EngineBridge::changed, this, [this] { engineChanged(); });
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
    layout->addWidget(headlineLabel(QStringLiteral("Select Keyboard"), keyboardPane_));
    keyboardModel_ = new KeyboardListModel(this);
    keyboardList_ = new QListView(keyboardPane_);
    keyboardList_->setObjectName(QStringLiteral("keyboardList"));
    keyboardList_->setAccessibleName(QStringLiteral("Select Keyboard"));
    keyboardList_->setModel(keyboardModel_);
    keyboardList_->setItemDelegate(new KeyboardListDelegate(keyboardList_));
    keyboardList_->setUniformItemSizes(true);
    keyboardList_->setFrameShape(QFrame::NoFrame);
    keyboardList_->setSelectionMode(QAbstractItemView::SingleSelection);
    keyboardList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    keyboardList_->viewport()->setAutoFillBackground(false);
    keyboardList_->setAttribute(Qt::WA_TranslucentBackground);
    layout->addWidget(keyboardList_, 1);
    // While the engine waits for its keyboard to come back, the pane says so.
    waitingLabel_ = secondaryLabel(QString(), keyboardPane_);
    waitingLabel_->setObjectName(QStringLiteral("waitingLabel"));
    waitingLabel_->setWordWrap(true);
    waitingLabel_->hide();
    layout->addWidget(waitingLabel_);
    // The selection, not the current row: a list that gains focus makes its
    // first row current without anyone choosing that keyboard.
    connect(keyboardList_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (syncingSelection_) {
            return;
        }
        const QModelIndexList chosen = keyboardList_->selectionModel()->selectedRows();
        if (chosen.isEmpty()) {
            model_.selectKeyboard(std::nullopt);
            return;
        }
        if (const KeyboardDevice* k = keyboardModel_->keyboardAt(chosen.front().row())) {
            model_.selectKeyboard(*k);
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
    mappingsTitle_ = headlineLabel(QStringLiteral("Mappings (0)"), list);
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

    tableModel_ = new MappingTableModel(this);
    table_ = new MappingTableView(list);
    table_->setObjectName(QStringLiteral("mappingTable"));
    table_->setAccessibleName(QStringLiteral("Mappings"));
    table_->setMappingModel(tableModel_);
    connect(table_, &MappingTableView::actionRequested, this,
            [this](int row, RowAction action) { tableActionRequested(row, action); });
    // An edit empties the list for a moment and brings it back: the user
    // stays where they were. A single new row (a saved mapping) is scrolled
    // into view.
    connect(tableModel_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                if (first == 0 && last == tableModel_->rowCount() - 1) {
                    topRowBeforeEmptied_ = table_->rowAt(0);
                }
            });
    connect(tableModel_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                int target = -1;
                QAbstractItemView::ScrollHint hint = QAbstractItemView::EnsureVisible;
                if (first == 0 && last == tableModel_->rowCount() - 1 && topRowBeforeEmptied_ > 0) {
                    target = std::min(topRowBeforeEmptied_, last);
                    hint = QAbstractItemView::PositionAtTop;
                } else if (first == last && last == tableModel_->rowCount() - 1 && first > 0) {
                    target = last;
                }
                topRowBeforeEmptied_ = -1;
                if (target >= 0) {
                    // After the view has laid out its new rows.
                    QMetaObject::invokeMethod(
                        table_,
                        [this, target, hint] {
                            if (target < tableModel_->rowCount()) {
                                table_->doItemsLayout(); // the scroll range of the new rows
                                table_->scrollTo(tableModel_->index(target, 0), hint);
                            }
                        },
                        Qt::QueuedConnection);
                }
            });
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

void KeyboardMappingView::engineChanged() {
    const EngineChanges& what = bridge_.deliveredChanges();
    // Held keys and pass-throughs change at every key press while
    // intercepting; nothing here shows them.
    constexpr std::uint32_t shown = static_cast<std::uint32_t>(EngineChange::records) |
                                    static_cast<std::uint32_t>(EngineChange::discoveredKeyboards) |
                                    static_cast<std::uint32_t>(EngineChange::selection) |
                                    static_cast<std::uint32_t>(EngineChange::capture) |
                                    static_cast<std::uint32_t>(EngineChange::interception) |
                                    static_cast<std::uint32_t>(EngineChange::tapBlocker) |
                                    static_cast<std::uint32_t>(EngineChange::tapSignatures);
    if ((what.bits() & shown) == 0) {
        return;
    }
    if (what.contains(EngineChange::records)) {
        ++engineRecordsRevision_;
    }
    // The model's reaction to the engine (load a newly selected keyboard,
    // drop one that went away) happens whether or not anyone looks.
    if (what.contains(EngineChange::discoveredKeyboards) ||
        what.contains(EngineChange::selection)) {
        model_.syncWithEngine();
    }
    scheduleRefresh();
}

void KeyboardMappingView::scheduleRefresh() {
    if (!isVisible()) {
        staleWhileHidden_ = true;
        return;
    }
    if (refreshPending_) {
        return;
    }
    refreshPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (refreshPending_) {
                refresh();
            }
        },
        Qt::QueuedConnection);
}

void KeyboardMappingView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (staleWhileHidden_) {
        refresh();
    }
}

void KeyboardMappingView::refresh() {
    refreshPending_ = false;
    staleWhileHidden_ = false;
    ++refreshCount_;
    const RawKeyboardListener& engine = model_.engine();
    const bool enabled = model_.controlsEnabled();
    const MappingPaneState state = model_.mappingPaneState();
    const bool hasKeyboard = state != MappingPaneState::noDevice;

    refreshKeyboardList();
    keyboardPane_->setEnabled(enabled);
    const QString waiting = QString::fromStdString(model_.waitingText());
    if (waitingLabel_->text() != waiting) {
        waitingLabel_->setText(waiting);
    }
    waitingLabel_->setVisible(!waiting.isEmpty());
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
    const QString title = QString::fromStdString(model_.mappingsTitle());
    if (mappingsTitle_->text() != title) {
        mappingsTitle_->setText(title);
    }
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
    const RawKeyboardListener& engine = model_.engine();
    const std::vector<KeyboardDevice>& discovered = engine.discoveredKeyboards();
    KeyboardsShown now;
    now.data = discovered.data();
    now.size = discovered.size();
    if (!discovered.empty()) {
        now.front = discovered.front().id;
        now.back = discovered.back().id;
    }
    if (engine.selectedDevice()) {
        now.selected = engine.selectedDevice()->id;
    }
    if (keyboardsShown_ != now) {
        keyboardsShown_ = now;
        keyboardModel_->sync(discovered, now.selected);
    }

    const auto& local = model_.localKeyboardSelection();
    const int wantedRow = local ? keyboardModel_->rowOf(local->id) : -1;
    QItemSelectionModel* selection = keyboardList_->selectionModel();
    const QModelIndexList chosen = selection->selectedRows();
    const int selectedRow = chosen.isEmpty() ? -1 : chosen.front().row();
    if (selectedRow != wantedRow) {
        syncingSelection_ = true;
        if (wantedRow >= 0) {
            selection->setCurrentIndex(keyboardModel_->index(wantedRow),
                                       QItemSelectionModel::ClearAndSelect);
        } else {
            selection->clearSelection();
        }
        syncingSelection_ = false;
    }
}

void KeyboardMappingView::refreshTable() {
    const DeviceMapping* record = model_.selectedRecord();
    RecordShown now;
    if (record != nullptr) {
        now.record = record;
        now.recordId = record->id;
        now.data = record->mappings.data();
        now.size = record->mappings.size();
    }
    now.revision = model_.recordsRevision() + engineRecordsRevision_;
    if (recordShown_ != now) {
        recordShown_ = now;
        static const std::vector<KeyMapping> kNone;
        tableModel_->setMappings(record != nullptr ? record->mappings : kNone);
    }
    tableModel_->setEditing(model_.isEditingMode ? model_.editingItemMapping : std::nullopt);
    tableModel_->setActionsEnabled(model_.controlsEnabled());
}

} // namespace chordwell::app
