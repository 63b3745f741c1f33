// The mapping table's view: rows of one height, the row buttons' hover,
// clicks and tooltips, and the keys that act on the current row.
#include "app/mappings/mapping_table.hpp"

#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolTip>

namespace chordwell::app {

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
    delegate_->setTwoLines(model->conventions().twoLineRows);
    updateRowHeight();
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
            return true;
        }
        // A cell's own tooltip (the raw usage numbers of the input keys),
        // under its whole text where the cell is too narrow to show it (a
        // narrow window, a large scale).
        const QModelIndex index = indexAt(help->pos());
        QString tip = index.isValid() ? index.data(Qt::ToolTipRole).toString() : QString();
        if (index.isValid()) {
            QStyleOptionViewItem option;
            initViewItemOption(&option);
            option.rect = visualRect(index);
            const QString whole = delegate_->cutShortText(option, index);
            if (!whole.isEmpty()) {
                tip = tip.isEmpty() ? whole : whole + QLatin1Char('\n') + tip;
            }
        }
        if (!tip.isEmpty()) {
            QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(index));
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
