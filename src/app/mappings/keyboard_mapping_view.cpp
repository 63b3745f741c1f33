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
#include "app/mappings/recording_field.hpp"
#include "app/shell/engine_bridge.hpp"
#include "logging/log.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMetaObject>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QShowEvent>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace chordwell::app {

namespace {

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
    : RuledPanel(parent), model_(model), bridge_(bridge),
      files_(files ? std::move(files) : std::make_shared<FileChooser>()) {
    setObjectName(QStringLiteral("keyboardMappingView"));
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 1, 0, 0);
    root->setSpacing(0);
    // While mappings are on the upper panes are greyed: this says why.
    lockNote_ = new QLabel(this);
    lockNote_->setObjectName(QStringLiteral("lockNote"));
    lockNote_->setTextFormat(Qt::PlainText);
    lockNote_->setWordWrap(true);
    lockNote_->setContentsMargins(10, 6, 10, 0);
    lockNote_->hide();
    root->addWidget(lockNote_);

    body_ = new QBoxLayout(QBoxLayout::TopToBottom);
    body_->setContentsMargins(0, 0, 0, 0);
    body_->setSpacing(1); // room for the rule between the two halves
    root->addLayout(body_, 1);

    upper_ = new QWidget(this);
    upper_->setObjectName(QStringLiteral("upperPanes"));
    upperLayout_ = new QBoxLayout(QBoxLayout::LeftToRight, upper_);
    upperLayout_->setContentsMargins(0, 0, 0, 0);
    upperLayout_->setSpacing(1);
    buildKeyboardPane();
    upperLayout_->addWidget(keyboardPane_, 2);
    editor_ = new MappingEditorView(model_, upper_);
    upperLayout_->addWidget(editor_, 3);
    // The upper panes take the room they need; the mapping list gets the
    // rest (a fixed share left it four rows under empty editor space).
    body_->addWidget(upper_, 0);
    // On a short screen the upper panes scroll beside the list.
    upperScroll_ = new QScrollArea(this);
    upperScroll_->setObjectName(QStringLiteral("upperScroll"));
    upperScroll_->setWidgetResizable(true);
    upperScroll_->setFrameShape(QFrame::NoFrame);
    upperScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    upperScroll_->setFocusPolicy(Qt::NoFocus);
    upperScroll_->hide();

    buildMappingPane();
    lower_ = new QWidget(this);
    auto* lowerLayout = new QVBoxLayout(lower_);
    lowerLayout->setContentsMargins(10, 10, 10, 10);
    lowerLayout->addWidget(mappingPane_);
    body_->addWidget(lower_, 1);
    arrangeRules();

    connect(&bridge_, &EngineBridge::changed, this, [this] { engineChanged(); });
    model_.setOnChanged([this] { scheduleRefresh(); });
    model_.keyboardListAppeared();
    refresh();
}

void KeyboardMappingView::arrangeRules() {
    clearRules();
    addRule(compact_ ? static_cast<QWidget*>(upperScroll_) : upper_, Edge::top);
    if (compact_) {
        addRule(lower_, Edge::left);
    } else {
        addRule(lower_, Edge::top);
    }
    // Between the keyboard list and the editor, across or along.
    addRule(editor_, compact_ ? Edge::top : Edge::left);
    listPage_->clearRules();
    listPage_->addRule(headerRow_, Edge::top);
    listPage_->addRule(headerRow_, Edge::bottom);
    if (!compact_) {
        listPage_->addRule(powerToggle_, Edge::bottom);
    }
}

int KeyboardMappingView::tableHeightFor(int rows) const {
    const int header = table_->horizontalHeader()->sizeHint().height();
    const int frame = 2 * table_->frameWidth();
    return header + frame + rows * table_->verticalHeader()->defaultSectionSize();
}

int KeyboardMappingView::regularMinimumHeight() const {
    // Stacked: the upper panes as tall as they ask, the list's chrome, and
    // five rows. What comes and goes counts as if it were there (room for a
    // three-line recording hint and the note while mappings are on), so the
    // arrangement does not flip as a recording starts.
    const QMargins lowerMargins = lower_->layout()->contentsMargins();
    const int spacing = listLayout_->spacing();
    int upper = upper_->sizeHint().height();
    QLabel* hint = editor_->recordingHint();
    if (hint->isVisibleTo(editor_)) {
        upper -= hint->sizeHint().height() + editor_->layout()->spacing();
    }
    upper += 3 * hint->fontMetrics().lineSpacing() + editor_->layout()->spacing();
    if (!lockNote_->isVisibleTo(this)) {
        upper += lockNote_->fontMetrics().lineSpacing() + lockNote_->contentsMargins().top();
    }
    const int height = 1 + upper + 1 + lowerMargins.top() + lowerMargins.bottom() +
                       headerRow_->sizeHint().height() + powerToggle_->sizeHint().height() +
                       searchRow_->sizeHint().height() + tableHeightFor(5) + 6 * spacing + 3;
    return height;
}

void KeyboardMappingView::fitKeyboardListToRows() {
    const int rows = std::clamp(keyboardModel_->rowCount(), 1, 4);
    const int rowHeight = keyboardModel_->rowCount() > 0 ? keyboardList_->sizeHintForRow(0)
                                                         : keyboardList_->fontMetrics().height();
    keyboardList_->setMinimumHeight(rows * rowHeight + 2 * keyboardList_->frameWidth() + 2);
}

void KeyboardMappingView::revealRecording() {
    QLabel* hint = editor_->recordingHint();
    if (!compact_ || !hint->isVisibleTo(editor_)) {
        return;
    }
    if (QWidget* panes = upperScroll_->widget(); panes != nullptr && panes->layout() != nullptr) {
        panes->layout()->activate();
    }
    // A recording can swallow every key of the only keyboard: the way out
    // must be on screen, not below the fold of a short screen. The field
    // comes second, so it wins where the two do not fit together.
    upperScroll_->ensureWidgetVisible(hint, 0, 8);
    upperScroll_->ensureWidgetVisible(editor_->fromField(), 0, 8);
}

void KeyboardMappingView::setCompact(bool compact) {
    if (compact == compact_) {
        return;
    }
    compact_ = compact;
    if (compact) {
        body_->removeWidget(upper_);
        upperScroll_->setWidget(upper_);
        body_->insertWidget(0, upperScroll_, 0);
        upperScroll_->show();
        body_->setDirection(QBoxLayout::LeftToRight);
        upperLayout_->setDirection(QBoxLayout::TopToBottom);
        // The column is as wide as the editor needs; the list takes the rest.
        upperScroll_->setMinimumWidth(280);
        upperScroll_->setMaximumWidth(360);
        // The switch heads the column: the list's header has no room for it.
        listLayout_->removeWidget(powerToggle_);
        upperLayout_->insertWidget(0, powerToggle_, 0, Qt::AlignLeft);
        powerToggle_->setCompact(true);
        lower_->layout()->setContentsMargins(6, 4, 6, 6);
        // In the scrolling column the panes are as tall as their content:
        // one scroll bar, not three.
        fitKeyboardListToRows();
        editor_->setCompact(true);
    } else {
        body_->removeWidget(upperScroll_);
        upperScroll_->hide();
        QWidget* panes = upperScroll_->takeWidget();
        panes->setParent(this);
        body_->insertWidget(0, panes, 0);
        panes->show();
        body_->setDirection(QBoxLayout::TopToBottom);
        upperLayout_->setDirection(QBoxLayout::LeftToRight);
        upperLayout_->removeWidget(powerToggle_);
        powerToggle_->setParent(listPage_);
        listLayout_->insertWidget(listLayout_->indexOf(headerRow_) + 1, powerToggle_, 0,
                                  Qt::AlignLeft);
        powerToggle_->setCompact(false);
        powerToggle_->show();
        lower_->layout()->setContentsMargins(10, 10, 10, 10);
        keyboardList_->setMinimumHeight(0);
        editor_->setCompact(false);
    }
    arrangeRules();
    updateGeometry();
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
    keyboardList_ = new KeyboardListView(keyboardPane_);
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
    mappingPane_->addWidget(buildNoKeyboardPage());
    mappingPane_->addWidget(buildNoMappingsPage());
    mappingPane_->addWidget(buildListPage());
    connectListActions();
}

QWidget* KeyboardMappingView::buildNoKeyboardPage() {
    // No keyboard.
    auto* noDevice = new QWidget(mappingPane_);
    auto* noDeviceLayout = new QVBoxLayout(noDevice);
    noDeviceLabel_ = secondaryLabel(QString::fromStdString(model_.noSelectionText()), noDevice);
    noDeviceLabel_->setWordWrap(true);
    noDeviceLayout->addWidget(noDeviceLabel_);
    noDeviceLayout->addStretch(1);
    return noDevice;
}

QWidget* KeyboardMappingView::buildNoMappingsPage() {
    // A keyboard without mappings.
    auto* empty = new QWidget(mappingPane_);
    auto* emptyLayout = new QVBoxLayout(empty);
    noMappingsLabel_ = secondaryLabel(QString::fromStdString(model_.noMappingsText()), empty);
    emptyLayout->addWidget(noMappingsLabel_);
    emptyImport_ = new HoverLabelButton(
        QStringLiteral("tray.and.arrow.down"), QStringLiteral("Import"),
        QStringLiteral("Load a JSON mapping file to import predefined shortcuts"), empty);
    emptyImport_->setShowLabelOnlyOnHover(false);
    emptyLayout->addWidget(emptyImport_, 0, Qt::AlignLeft);
    emptyLayout->addStretch(1);
    connect(emptyImport_, &QAbstractButton::clicked, this, [this] { importClicked(true); });
    return empty;
}

QWidget* KeyboardMappingView::buildListPage() {
    listPage_ = new RuledPanel(mappingPane_);
    listLayout_ = new QVBoxLayout(listPage_);
    listLayout_->setContentsMargins(0, 5, 0, 0);
    listLayout_->setSpacing(5);
    buildListHeader(listPage_);
    powerToggle_ = new BigPowerToggle(listPage_);
    listLayout_->addWidget(powerToggle_, 0, Qt::AlignLeft);
    buildSearchRow(listPage_);
    buildMappingTable(listPage_);
    return listPage_;
}

void KeyboardMappingView::buildListHeader(QWidget* list) {
    headerRow_ = new QWidget(list);
    header_ = new QHBoxLayout(headerRow_);
    header_->setContentsMargins(0, 0, 0, 0);
    auto* header = header_;
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
                             model_.conventions().sayKeyboard
                                 ? QStringLiteral("Remove all current mappings for this keyboard")
                                 : QStringLiteral("Remove all current mappings for this device"),
                             list);
    clearAll_->setShowLabelOnlyOnHover(true);
    header->addWidget(headerImport_);
    header->addWidget(export_);
    header->addWidget(clearAll_);
    header->addStretch(1);
    runStop_ = new RunStopButton(list);
    runStop_->setShowLabelOnlyOnHover(true);
    header->addWidget(runStop_);
    listLayout_->addWidget(headerRow_);
}

void KeyboardMappingView::buildSearchRow(QWidget* list) {
    // A long list is searched by name and by keys.
    searchRow_ = new QWidget(list);
    auto* searchRow = new QHBoxLayout(searchRow_);
    searchRow->setContentsMargins(0, 0, 0, 0);
    search_ = new QLineEdit(searchRow_);
    search_->setObjectName(QStringLiteral("mappingSearch"));
    search_->setPlaceholderText(QStringLiteral("Search by name or keys…"));
    search_->setAccessibleName(QStringLiteral("Search mappings"));
    search_->setClearButtonEnabled(true);
    searchRow->addWidget(search_, 1);
    searchCount_ = secondaryLabel(QString(), searchRow_);
    searchCount_->setObjectName(QStringLiteral("searchCount"));
    searchCount_->hide();
    searchRow->addWidget(searchCount_);
    listLayout_->addWidget(searchRow_);
    // Each key typed would search ten thousand rows again: the search runs
    // once the typing pauses.
    searchDelay_ = new QTimer(this);
    searchDelay_->setSingleShot(true);
    searchDelay_->setInterval(150);
    connect(searchDelay_, &QTimer::timeout, this, [this] { applySearch(); });
    connect(search_, &QLineEdit::textChanged, this, [this] { searchDelay_->start(); });
    auto* find = new QShortcut(QKeySequence::Find, this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this, [this] {
        if (search_->isVisible()) {
            search_->setFocus(Qt::ShortcutFocusReason);
            search_->selectAll();
        }
    });
}

void KeyboardMappingView::buildMappingTable(QWidget* list) {
    tableModel_ = new MappingTableModel(this);
    tableModel_->setConventions(model_.conventions());
    table_ = new MappingTableView(list);
    table_->setObjectName(QStringLiteral("mappingTable"));
    table_->setAccessibleName(QStringLiteral("Mappings"));
    table_->setMappingModel(tableModel_);
    connect(table_, &MappingTableView::actionRequested, this,
            [this](int row, RowAction action) { tableActionRequested(row, action); });
    keepScrollPlaceAcrossRefills();
    listLayout_->addWidget(table_, 1);
    // However short the window, the list shows five mappings.
    table_->setMinimumHeight(tableHeightFor(5));
}

void KeyboardMappingView::keepScrollPlaceAcrossRefills() {
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
}

void KeyboardMappingView::connectListActions() {
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

void KeyboardMappingView::applySearch() {
    searchDelay_->stop();
    tableModel_->setFilter(search_->text());
    updateSearchCount();
}

void KeyboardMappingView::updateSearchCount() {
    const bool filtered = !tableModel_->filter().isEmpty();
    searchCount_->setVisible(filtered);
    if (filtered) {
        searchCount_->setText(QString::fromStdString(countText(tableModel_->rowCount()) + " of " +
                                                     countText(tableModel_->totalCount())));
    }
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
                                    static_cast<std::uint32_t>(EngineChange::tapSignatures) |
                                    static_cast<std::uint32_t>(EngineChange::keyboardLayout);
    if ((what.bits() & shown) == 0) {
        return;
    }
    if (what.contains(EngineChange::records)) {
        ++engineRecordsRevision_;
    }
    // The model's reaction to the engine (load a newly selected keyboard,
    // drop one that went away) happens whether or not anyone looks.
    // A recording's keys are looked at too: Backspace, Escape and Enter
    // together end it.
    if (what.contains(EngineChange::discoveredKeyboards) ||
        what.contains(EngineChange::selection) || what.contains(EngineChange::capture)) {
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

void KeyboardMappingView::changeEvent(QEvent* event) {
    RuledPanel::changeEvent(event);
    if (event->type() == QEvent::FontChange && table_ != nullptr) {
        table_->setMinimumHeight(tableHeightFor(5));
    }
}

void KeyboardMappingView::showEvent(QShowEvent* event) {
    RuledPanel::showEvent(event);
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
    if (compact_) {
        fitKeyboardListToRows();
    }
    keyboardPane_->setEnabled(enabled);
    const QString waiting = QString::fromStdString(model_.waitingText());
    if (waitingLabel_->text() != waiting) {
        waitingLabel_->setText(waiting);
    }
    waitingLabel_->setVisible(!waiting.isEmpty());
    editor_->setVisible(hasKeyboard);
    editor_->setEnabled(enabled);
    editor_->refresh();
    const bool hinting = editor_->recordingHint()->isVisibleTo(editor_);
    if (compact_ && hinting && !recordingHintShown_) {
        // After the layout has made room for the hint.
        QTimer::singleShot(0, this, [this] { revealRecording(); });
    }
    recordingHintShown_ = hinting;
    const QString reason = QString::fromStdString(model_.disabledReason());
    lockNote_->setText(reason);
    lockNote_->setVisible(!reason.isEmpty());
    keyboardPane_->setToolTip(reason);
    editor_->setToolTip(reason);
    keyboardList_->setEmptyText(QString::fromStdString(model_.emptyListText()));
    const QString noSelection = QString::fromStdString(model_.noSelectionText());
    if (noDeviceLabel_->text() != noSelection) {
        noDeviceLabel_->setText(noSelection);
    }

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
        updateSearchCount();
    }
    tableModel_->setKeyLayout(model_.engine().keyboardLayout());
    tableModel_->setEditing(model_.isEditingMode ? model_.editingItemMapping : std::nullopt);
    tableModel_->setActionsEnabled(model_.controlsEnabled());
}

} // namespace chordwell::app
