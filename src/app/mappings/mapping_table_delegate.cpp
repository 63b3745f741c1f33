// The mapping table's delegate: a row's two lines of text and its edit and
// delete buttons, drawn without a widget per row.
#include "app/controls/item_rows.hpp"
#include "app/controls/symbols.hpp"
#include "app/controls/text_styles.hpp"
#include "app/mappings/mapping_table.hpp"

#include <QApplication>
#include <QPainter>

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

} // namespace

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
    if (!twoLines_) {
        // One line: as tall as the row's buttons, with a pixel around them.
        return std::max(QFontMetrics(font).height() + 4, kButtonHeight + 2) + 2;
    }
    const int text = QFontMetrics(font).height() + kLineSpacing +
                     QFontMetrics(smallCaptionFont(font)).height() + 2 * kCellPaddingY;
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
    const QString main = drawItemPanel(painter, opt);

    if (index.column() == MappingTableModel::actionsColumn) {
        paintButtons(painter, opt, index);
        return;
    }
    const RowTextColors colors = rowTextColors(
        opt.palette, (opt.state & QStyle::State_Enabled) != 0,
        (opt.state & QStyle::State_Selected) != 0, (opt.state & QStyle::State_Active) != 0);

    const QString detail = index.data(MappingTableModel::DetailRole).toString();
    const QRect area =
        opt.rect.adjusted(kCellPaddingX, kCellPaddingY, -kCellPaddingX, -kCellPaddingY);
    const QFont caption = smallCaptionFont(opt.font);
    const QFontMetrics mainMetrics(opt.font);
    const QFontMetrics captionMetrics(caption);
    if (!twoLines_) {
        // One line: the main text, then the detail dimmed (the keys of an
        // output), each cut short rather than wrapped.
        painter->save();
        painter->setFont(opt.font);
        painter->setPen(colors.main);
        const QString shown = mainMetrics.elidedText(main, Qt::ElideRight, area.width());
        painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter, shown);
        const int used = mainMetrics.horizontalAdvance(shown) + 2 * kCellPaddingX;
        if (!detail.isEmpty() && used < area.width()) {
            painter->setPen(colors.secondary);
            const QRect rest = area.adjusted(used, 0, 0, 0);
            painter->drawText(rest, Qt::AlignLeft | Qt::AlignVCenter,
                              mainMetrics.elidedText(detail, Qt::ElideRight, rest.width()));
        }
        painter->restore();
        return;
    }
    const int blockHeight =
        mainMetrics.height() + (detail.isEmpty() ? 0 : kLineSpacing + captionMetrics.height());
    int y = area.top() + std::max(0, (area.height() - blockHeight) / 2);

    painter->save();
    painter->setFont(opt.font);
    painter->setPen(colors.main);
    painter->drawText(QRect(area.left(), y, area.width(), mainMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      mainMetrics.elidedText(main, Qt::ElideRight, area.width()));
    if (!detail.isEmpty()) {
        y += mainMetrics.height() + kLineSpacing;
        painter->setFont(caption);
        painter->setPen(colors.secondary);
        painter->drawText(QRect(area.left(), y, area.width(), captionMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          captionMetrics.elidedText(detail, Qt::ElideRight, area.width()));
    }
    painter->restore();
}

QString MappingTableDelegate::cutShortText(const QStyleOptionViewItem& option,
                                           const QModelIndex& index) const {
    if (index.column() == MappingTableModel::actionsColumn) {
        return {};
    }
    const QString main = index.data(Qt::DisplayRole).toString();
    const QString detail = index.data(MappingTableModel::DetailRole).toString();
    const int width = option.rect.width() - 2 * kCellPaddingX;
    const QFontMetrics mainMetrics(option.font);
    bool cut = false;
    if (twoLines_) {
        cut = mainMetrics.horizontalAdvance(main) > width ||
              QFontMetrics(smallCaptionFont(option.font)).horizontalAdvance(detail) > width;
    } else {
        // As painted: the main text, a gap, then the detail.
        cut =
            mainMetrics.horizontalAdvance(main) +
                (detail.isEmpty() ? 0 : 2 * kCellPaddingX + mainMetrics.horizontalAdvance(detail)) >
            width;
    }
    if (!cut) {
        return {};
    }
    return detail.isEmpty() ? main : main + QStringLiteral("  ") + detail;
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

} // namespace chordwell::app
