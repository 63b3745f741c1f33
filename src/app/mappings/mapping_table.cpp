#include "app/mappings/mapping_table.hpp"

#include "app/controls/symbols.hpp"
#include "app/mappings/keyboard_mapping_model.hpp"
#include "model/key_labels.hpp"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

namespace chordwell::app {

namespace {

constexpr int kCellPaddingX = 6;
constexpr int kCellPaddingY = 3;
constexpr int kLineSpacing = 2;
constexpr int kButtonWidth = 28;
constexpr int kButtonHeight = 26;
constexpr int kButtonSpacing = 2;
constexpr int kButtonsMargin = 4;
constexpr int kIconSize = 16;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QFont captionFont(const QFont& base) {
    QFont f = base;
    if (f.pointSizeF() > 0) {
        f.setPointSizeF(std::max(7.0, f.pointSizeF() - 2.0));
    } else if (f.pixelSize() > 0) {
        f.setPixelSize(std::max(9, f.pixelSize() - 2));
    }
    return f;
}

bool sameMapping(const KeyMapping& a, const KeyMapping& b) {
    return a.id == b.id && a == b;
}

QString outputDetail(const KeyMapping& m) {
    if (!m.outputBehavior.isCustomKeySequence()) {
        return {};
    }
    QString out;
    for (const MacKeySignature& s : m.outputBehavior.signatures()) {
        if (!out.isEmpty()) {
            out += QStringLiteral(", ");
        }
        out += qs(signatureText(s));
    }
    return out;
}

} // namespace

// ------------------------------------------------------------------- model

MappingTableModel::MappingTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void MappingTableModel::setMappings(const std::vector<KeyMapping>& next) {
    const std::size_t old = rows_.size();
    const std::size_t count = next.size();
    const std::size_t common = std::min(old, count);
    std::size_t prefix = 0;
    while (prefix < common && sameMapping(rows_[prefix], next[prefix])) {
        ++prefix;
    }
    if (prefix == old && count == old) {
        return;
    }
    std::size_t suffix = 0;
    while (suffix < common - prefix &&
           sameMapping(rows_[old - 1 - suffix], next[count - 1 - suffix])) {
        ++suffix;
    }
    const auto first = static_cast<int>(prefix);
    if (count > old && prefix + suffix == old) {
        // Rows inserted in one place (at the end: a new mapping, an import).
        const auto added = static_cast<std::ptrdiff_t>(count - old);
        beginInsertRows({}, first, first + static_cast<int>(added) - 1);
        rows_.insert(rows_.begin() + first, next.begin() + first, next.begin() + first + added);
        endInsertRows();
        return;
    }
    if (count < old && prefix + suffix == count) {
        // Rows removed from one place (a delete, a clear).
        const auto removed = static_cast<std::ptrdiff_t>(old - count);
        beginRemoveRows({}, first, first + static_cast<int>(removed) - 1);
        rows_.erase(rows_.begin() + first, rows_.begin() + first + removed);
        endRemoveRows();
        return;
    }
    if (count == old) {
        // Rows changed in place (an edit).
        const std::size_t end = old - suffix;
        for (std::size_t i = prefix; i < end; ++i) {
            rows_[i] = next[i];
        }
        Q_EMIT dataChanged(index(first, 0), index(static_cast<int>(end) - 1, columnCount_ - 1));
        return;
    }
    beginResetModel();
    rows_ = next;
    endResetModel();
    ++resetCount_;
}

void MappingTableModel::setEditing(const std::optional<KeyMapping>& editing) {
    const bool same = editing.has_value() == editing_.has_value() &&
                      (!editing || sameMapping(*editing, *editing_));
    if (same) {
        return;
    }
    editing_ = editing;
    actionsColumnChanged(0, rowCount() - 1);
}

void MappingTableModel::setActionsEnabled(bool enabled) {
    if (enabled == actionsEnabled_) {
        return;
    }
    actionsEnabled_ = enabled;
    actionsColumnChanged(0, rowCount() - 1);
}

void MappingTableModel::actionsColumnChanged(int firstRow, int lastRow) {
    if (firstRow <= lastRow) {
        Q_EMIT dataChanged(index(firstRow, actionsColumn), index(lastRow, actionsColumn));
    }
}

const KeyMapping* MappingTableModel::mappingAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return nullptr;
    }
    return &rows_[static_cast<std::size_t>(row)];
}

bool MappingTableModel::isBeingEdited(int row) const {
    const KeyMapping* m = mappingAt(row);
    return m != nullptr && editing_ && *m == *editing_;
}

int MappingTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MappingTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant MappingTableModel::data(const QModelIndex& index, int role) const {
    const KeyMapping* m = index.isValid() ? mappingAt(index.row()) : nullptr;
    if (m == nullptr) {
        return {};
    }
    auto mainText = [&]() -> QString {
        switch (index.column()) {
        case nameColumn:
            return qs(m->name);
        case inputColumn:
            return qs(signatureText(inputSignatures(*m)));
        case outputColumn:
            return qs(m->outputBehavior.isCustomKeySequence() ? m->outputBehavior.name()
                                                              : m->outputBehavior.displayLabel());
        default:
            return {};
        }
    };
    auto detailText = [&]() -> QString {
        switch (index.column()) {
        case inputColumn:
            return qs(usagesText(m->inputKeyCodes));
        case outputColumn:
            return outputDetail(*m);
        default:
            return {};
        }
    };
    switch (role) {
    case Qt::DisplayRole:
        return mainText();
    case DetailRole:
        return detailText();
    case Qt::AccessibleTextRole: {
        if (index.column() == actionsColumn) {
            return isBeingEdited(index.row()) ? QStringLiteral("Cancel editing, Delete")
                                              : QStringLiteral("Edit, Delete");
        }
        const QString detail = detailText();
        return detail.isEmpty() ? mainText() : mainText() + QStringLiteral(", ") + detail;
    }
    case Qt::AccessibleDescriptionRole:
        return QStringLiteral("Enter edits the mapping, Delete deletes it");
    case BeingEditedRole:
        return isBeingEdited(index.row());
    default:
        return {};
    }
}

QVariant MappingTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
    case nameColumn:
        return QStringLiteral("Name");
    case inputColumn:
        return QStringLiteral("Input");
    case outputColumn:
        return QStringLiteral("Output");
    default:
        return QString();
    }
}

Qt::ItemFlags MappingTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

// ---------------------------------------------------------------- delegate

MappingTableDelegate::MappingTableDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QRect MappingTableDelegate::buttonRect(const QRect& cell, RowAction action) {
    const int x = cell.left() + kButtonsMargin +
                  (action == RowAction::edit ? 0 : kButtonWidth + kButtonSpacing);
    const int y = cell.top() + (cell.height() - kButtonHeight) / 2;
    return {x, y, kButtonWidth, kButtonHeight};
}

int MappingTableDelegate::actionsColumnWidth() {
    return 2 * kButtonsMargin + 2 * kButtonWidth + kButtonSpacing + 8;
}

int MappingTableDelegate::rowHeight(const QFont& font) const {
    const int text = QFontMetrics(font).height() + kLineSpacing +
                     QFontMetrics(captionFont(font)).height() + 2 * kCellPaddingY;
    return std::max(text, kButtonHeight + 2 * kCellPaddingY) + 2;
}

void MappingTableDelegate::setHovered(int row, std::optional<RowAction> action) {
    hoveredRow_ = row;
    hoveredAction_ = action;
}

QSize MappingTableDelegate::sizeHint(const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
    const int width =
        index.column() == MappingTableModel::actionsColumn
            ? actionsColumnWidth()
            : QFontMetrics(option.font).horizontalAdvance(index.data(Qt::DisplayRole).toString()) +
                  2 * kCellPaddingX;
    return {width, rowHeight(option.font)};
}

const QIcon& MappingTableDelegate::icon(const QString& name, const QPalette& palette) const {
    const QRgb tint = palette.color(QPalette::Active, QPalette::Text).rgba();
    if (pencil_.isNull() || tint != iconTint_) {
        iconTint_ = tint;
        pencil_ = symbolIcon(QStringLiteral("pencil"), QColor::fromRgba(tint));
        xmark_ = symbolIcon(QStringLiteral("xmark"), QColor::fromRgba(tint));
        trash_ = symbolIcon(QStringLiteral("trash"), QColor::fromRgba(tint));
    }
    if (name == QLatin1String("xmark")) {
        return xmark_;
    }
    return name == QLatin1String("trash") ? trash_ : pencil_;
}

void MappingTableDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString main = opt.text;
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    // Background, selection and focus as the style draws them; the texts
    // are ours.
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    if (index.column() == MappingTableModel::actionsColumn) {
        paintButtons(painter, opt, index);
        return;
    }
    const bool enabled = (opt.state & QStyle::State_Enabled) != 0;
    const bool selected = (opt.state & QStyle::State_Selected) != 0;
    const QPalette::ColorGroup group = !enabled                             ? QPalette::Disabled
                                       : (opt.state & QStyle::State_Active) ? QPalette::Active
                                                                            : QPalette::Inactive;
    const QColor mainColor =
        opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor detailColor =
        selected || !enabled ? mainColor : opt.palette.color(group, QPalette::PlaceholderText);

    const QString detail = index.data(MappingTableModel::DetailRole).toString();
    const QRect area =
        opt.rect.adjusted(kCellPaddingX, kCellPaddingY, -kCellPaddingX, -kCellPaddingY);
    const QFont caption = captionFont(opt.font);
    const QFontMetrics mainMetrics(opt.font);
    const QFontMetrics captionMetrics(caption);
    const int blockHeight =
        mainMetrics.height() + (detail.isEmpty() ? 0 : kLineSpacing + captionMetrics.height());
    int y = area.top() + std::max(0, (area.height() - blockHeight) / 2);

    painter->save();
    painter->setFont(opt.font);
    painter->setPen(mainColor);
    painter->drawText(QRect(area.left(), y, area.width(), mainMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      mainMetrics.elidedText(main, Qt::ElideRight, area.width()));
    if (!detail.isEmpty()) {
        y += mainMetrics.height() + kLineSpacing;
        painter->setFont(caption);
        painter->setPen(detailColor);
        painter->drawText(QRect(area.left(), y, area.width(), captionMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          captionMetrics.elidedText(detail, Qt::ElideRight, area.width()));
    }
    painter->restore();
}

void MappingTableDelegate::paintButtons(QPainter* painter, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const {
    const auto* model = qobject_cast<const MappingTableModel*>(index.model());
    const bool enabled = (option.state & QStyle::State_Enabled) != 0 &&
                         (model == nullptr || model->actionsEnabled());
    const bool editing = index.data(MappingTableModel::BeingEditedRole).toBool();
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    for (RowAction action : {RowAction::edit, RowAction::remove}) {
        const QRect r = buttonRect(option.rect, action);
        if (enabled && hoveredRow_ == index.row() && hoveredAction_ == action) {
            // The raised look of an auto-raise tool button under the pointer.
            QStyleOptionToolButton button;
            button.rect = r;
            button.palette = option.palette;
            button.state = QStyle::State_Enabled | QStyle::State_MouseOver | QStyle::State_Raised |
                           QStyle::State_AutoRaise;
            style->drawPrimitive(QStyle::PE_PanelButtonTool, &button, painter, widget);
        }
        const QString name = action == RowAction::remove ? QStringLiteral("trash")
                             : editing                   ? QStringLiteral("xmark")
                                                         : QStringLiteral("pencil");
        const QRect iconRect(r.left() + (r.width() - kIconSize) / 2,
                             r.top() + (r.height() - kIconSize) / 2, kIconSize, kIconSize);
        icon(name, option.palette)
            .paint(painter, iconRect, Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);
    }
}

// -------------------------------------------------------------------- view

MappingTableView::MappingTableView(QWidget* parent)
    : QTableView(parent), delegate_(new MappingTableDelegate(this)) {
    setItemDelegate(delegate_);
    verticalHeader()->setVisible(false);
    // Uniform rows: the view never measures rows, so a long record costs
    // nothing per row until it is drawn.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab moves to the next control instead of from cell to cell.
    setTabKeyNavigation(false);
    setFocusPolicy(Qt::StrongFocus);
    setShowGrid(false);
    setAlternatingRowColors(true);
    setWordWrap(false);
    setMouseTracking(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    updateRowHeight();
}

void MappingTableView::setMappingModel(MappingTableModel* model) {
    model_ = model;
    setModel(model);
    QHeaderView* header = horizontalHeader();
    for (int c : {MappingTableModel::nameColumn, MappingTableModel::inputColumn,
                  MappingTableModel::outputColumn}) {
        header->setSectionResizeMode(c, QHeaderView::Stretch);
    }
    header->setSectionResizeMode(MappingTableModel::actionsColumn, QHeaderView::Fixed);
    setColumnWidth(MappingTableModel::actionsColumn, MappingTableDelegate::actionsColumnWidth());
    // The hovered button belongs to a row that may be gone.
    connect(model, &QAbstractItemModel::modelReset, this, [this] { setHover({}); });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { setHover({}); });
}

void MappingTableView::updateRowHeight() {
    verticalHeader()->setDefaultSectionSize(delegate_->rowHeight(font()));
    verticalHeader()->setMinimumSectionSize(1);
}

QRect MappingTableView::actionRect(int row, RowAction action) const {
    if (model_ == nullptr || row < 0 || row >= model_->rowCount()) {
        return {};
    }
    const QRect cell = visualRect(model_->index(row, MappingTableModel::actionsColumn));
    return cell.isEmpty() ? QRect() : MappingTableDelegate::buttonRect(cell, action);
}

QString MappingTableView::actionToolTip(int row, RowAction action) const {
    if (action == RowAction::remove) {
        return QStringLiteral("Delete");
    }
    return model_ != nullptr && model_->isBeingEdited(row) ? QStringLiteral("Cancel editing")
                                                           : QStringLiteral("Edit");
}

MappingTableView::Hit MappingTableView::hitTest(const QPoint& pos) const {
    const QModelIndex index = indexAt(pos);
    Hit hit;
    if (!index.isValid()) {
        return hit;
    }
    hit.row = index.row();
    if (index.column() == MappingTableModel::actionsColumn) {
        const QRect cell = visualRect(index);
        for (RowAction action : {RowAction::edit, RowAction::remove}) {
            if (MappingTableDelegate::buttonRect(cell, action).contains(pos)) {
                hit.action = action;
            }
        }
    }
    return hit;
}

void MappingTableView::setHover(const Hit& hit) {
    const bool active = model_ != nullptr && model_->actionsEnabled() && isEnabled();
    const Hit shown = hit.action && active ? hit : Hit{};
    if (shown.row == hover_.row && shown.action == hover_.action) {
        return;
    }
    const int before = hover_.row;
    hover_ = shown;
    delegate_->setHovered(hover_.action ? hover_.row : -1, hover_.action);
    if (hover_.action) {
        viewport()->setCursor(Qt::PointingHandCursor);
    } else {
        viewport()->unsetCursor();
    }
    if (model_ != nullptr) {
        for (int row : {before, hover_.row}) {
            if (row >= 0 && row < model_->rowCount()) {
                update(model_->index(row, MappingTableModel::actionsColumn));
            }
        }
    }
}

void MappingTableView::keyPressEvent(QKeyEvent* event) {
    const QModelIndex current = currentIndex();
    std::optional<RowAction> action;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        action = RowAction::edit;
        break;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        action = RowAction::remove;
        break;
    default:
        break;
    }
    if (action && event->modifiers() == Qt::NoModifier) {
        if (current.isValid() && model_ != nullptr && model_->actionsEnabled()) {
            Q_EMIT actionRequested(current.row(), *action);
        }
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void MappingTableView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton ? hitTest(event->position().toPoint()) : Hit{};
    QTableView::mousePressEvent(event);
}

void MappingTableView::mouseReleaseEvent(QMouseEvent* event) {
    const Hit hit = hitTest(event->position().toPoint());
    const Hit pressed = pressed_;
    pressed_ = {};
    QTableView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && pressed.action && hit.action == pressed.action &&
        hit.row == pressed.row && model_ != nullptr && model_->actionsEnabled()) {
        Q_EMIT actionRequested(hit.row, *hit.action);
    }
}

void MappingTableView::mouseMoveEvent(QMouseEvent* event) {
    setHover(hitTest(event->position().toPoint()));
    QTableView::mouseMoveEvent(event);
}

void MappingTableView::leaveEvent(QEvent* event) {
    setHover({});
    QTableView::leaveEvent(event);
}

bool MappingTableView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const Hit hit = hitTest(help->pos());
        if (hit.action) {
            QToolTip::showText(help->globalPos(), actionToolTip(hit.row, *hit.action), viewport(),
                               actionRect(hit.row, *hit.action));
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    if (event->type() == QEvent::Leave) {
        setHover({});
    }
    return QTableView::viewportEvent(event);
}

void MappingTableView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateRowHeight();
    }
    if (event->type() == QEvent::EnabledChange) {
        setHover({});
    }
}

} // namespace chordwell::app
