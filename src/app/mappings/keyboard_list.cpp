#include "app/mappings/keyboard_list.hpp"

#include "engine/keyboard_identity.hpp"

#include "app/controls/item_rows.hpp"
#include "app/controls/symbols.hpp"
#include "app/conventions.hpp"

#include <QApplication>
#include <QPainter>

#include <algorithm>

namespace chordwell::app {

namespace {

constexpr int kPaddingX = 6;
constexpr int kPaddingY = 4;
constexpr int kLineSpacing = 1;
constexpr int kCheckSize = 14;

QFont titleFont(const QFont& base) {
    QFont f = base;
    f.setBold(true);
    return f;
}

} // namespace

// ------------------------------------------------------------------- model

KeyboardListModel::KeyboardListModel(QObject* parent)
    : QAbstractListModel(parent), collator_(nameCollator()) {}

void KeyboardListModel::sync(const std::vector<KeyboardDevice>& discovered,
                             const std::optional<Uuid>& selectedId) {
    std::size_t known = 0;
    for (const KeyboardDevice& k : discovered) {
        known += listed_.count(k.id);
    }
    const bool membershipChanges = known != rows_.size() || known != discovered.size();
    if (known != rows_.size()) {
        // Some listed keyboards went away.
        std::unordered_set<Uuid> present;
        present.reserve(discovered.size());
        for (const KeyboardDevice& k : discovered) {
            present.insert(k.id);
        }
        for (int row = static_cast<int>(rows_.size()) - 1; row >= 0; --row) {
            const auto at = static_cast<std::size_t>(row);
            if (present.count(rows_[at].device.id) == 0) {
                beginRemoveRows({}, row, row);
                listed_.erase(rows_[at].device.id);
                rows_.erase(rows_.begin() + row);
                endRemoveRows();
            }
        }
    }
    if (known != discovered.size()) {
        // New keyboards, each at its place; after the equal names already
        // listed, which came earlier in discovery order.
        for (const KeyboardDevice& k : discovered) {
            if (listed_.count(k.id) != 0) {
                continue;
            }
            Row row{k, nameSortKey(collator_, QString::fromStdString(k.productName)), {}};
            const auto at =
                std::upper_bound(rows_.begin(), rows_.end(), row, [](const Row& a, const Row& b) {
                    return a.key.compare(b.key) < 0;
                });
            const auto position = static_cast<int>(at - rows_.begin());
            beginInsertRows({}, position, position);
            rows_.insert(at, std::move(row));
            listed_.insert(k.id);
            endInsertRows();
        }
    }
    if (membershipChanges) {
        nameRows();
    }
    if (selectedId != selectedId_) {
        const std::optional<Uuid> before = selectedId_;
        selectedId_ = selectedId;
        for (const std::optional<Uuid>& id : {before, selectedId_}) {
            const int row = id ? rowOf(*id) : -1;
            if (row >= 0) {
                Q_EMIT dataChanged(index(row), index(row), {IsSelectedDeviceRole});
            }
        }
    }
}

void KeyboardListModel::nameRows() {
    // Keyboards of one name are told apart by their places, which depend on
    // who else is listed: named again whenever the list changes.
    std::vector<KeyboardDevice> devices;
    devices.reserve(rows_.size());
    for (const Row& row : rows_) {
        devices.push_back(row.device);
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const QString name = QString::fromStdString(keyboardListName(rows_[i].device, devices));
        if (name != rows_[i].name) {
            rows_[i].name = name;
            const QModelIndex at = index(static_cast<int>(i));
            Q_EMIT dataChanged(at, at, {Qt::DisplayRole, Qt::AccessibleTextRole});
        }
    }
}

const KeyboardDevice* KeyboardListModel::keyboardAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return nullptr;
    }
    return &rows_[static_cast<std::size_t>(row)].device;
}

int KeyboardListModel::rowOf(const Uuid& id) const {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].device.id == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int KeyboardListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant KeyboardListModel::data(const QModelIndex& index, int role) const {
    const KeyboardDevice* k = index.isValid() ? keyboardAt(index.row()) : nullptr;
    if (k == nullptr) {
        return {};
    }
    const bool isSelected = selectedId_ && *selectedId_ == k->id;
    const QString vendor = QString::fromStdString(identifierText(k->vendorID, thisDesktop()));
    const QString product = QString::fromStdString(identifierText(k->productID, thisDesktop()));
    switch (role) {
    case Qt::DisplayRole:
        return rows_[static_cast<std::size_t>(index.row())].name;
    case VendorTextRole:
        return QStringLiteral("Vendor: ") + vendor;
    case ProductTextRole:
        return QStringLiteral("Product: ") + product;
    case IsSelectedDeviceRole:
        return isSelected;
    case Qt::AccessibleTextRole:
        return rows_[static_cast<std::size_t>(index.row())].name +
               (isSelected ? QStringLiteral(", selected") : QString());
    case Qt::AccessibleDescriptionRole:
        return QStringLiteral("Vendor: ") + vendor + QStringLiteral(", Product: ") + product;
    default:
        return {};
    }
}

// -------------------------------------------------------------------- view

KeyboardListView::KeyboardListView(QWidget* parent) : QListView(parent) {}

void KeyboardListView::setEmptyText(const QString& text) {
    if (text == emptyText_) {
        return;
    }
    emptyText_ = text;
    viewport()->update();
}

QSize KeyboardListView::sizeHint() const {
    const QSize base = QListView::sizeHint();
    const int row = model() != nullptr && model()->rowCount() > 0 ? sizeHintForRow(0)
                                                                  : 3 * fontMetrics().height();
    return {base.width(), 3 * row + 2 * frameWidth()};
}

void KeyboardListView::paintEvent(QPaintEvent* event) {
    QListView::paintEvent(event);
    if (model() == nullptr || model()->rowCount() > 0 || emptyText_.isEmpty()) {
        return;
    }
    QPainter painter(viewport());
    painter.setPen(rowTextColors(palette(), isEnabled(), false, true).secondary);
    painter.drawText(viewport()->rect().adjusted(kPaddingX, kPaddingY, -kPaddingX, -kPaddingY),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, emptyText_);
}

// ---------------------------------------------------------------- delegate

KeyboardListDelegate::KeyboardListDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

KeyboardListDelegate::Colors KeyboardListDelegate::colorsFor(const QPalette& palette, bool enabled,
                                                             bool selected, bool active) {
    const RowTextColors colors = rowTextColors(palette, enabled, selected, active);
    return {colors.main, colors.secondary};
}

QSize KeyboardListDelegate::sizeHint(const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
    const QFontMetrics title(titleFont(option.font));
    const QFontMetrics body(option.font);
    const int width =
        title.horizontalAdvance(index.data(Qt::DisplayRole).toString()) + kCheckSize + 4;
    return {2 * kPaddingX + width,
            2 * kPaddingY + title.height() + 2 * (kLineSpacing + body.height())};
}

void KeyboardListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString title = drawItemPanel(painter, opt);

    const bool enabled = (opt.state & QStyle::State_Enabled) != 0;
    const bool selected = (opt.state & QStyle::State_Selected) != 0;
    const bool active = (opt.state & QStyle::State_Active) != 0;
    const Colors colors = colorsFor(opt.palette, enabled, selected, active);

    const QRect area = opt.rect.adjusted(kPaddingX, kPaddingY, -kPaddingX, -kPaddingY);
    const QFont bold = titleFont(opt.font);
    const QFontMetrics titleMetrics(bold);
    const QFontMetrics bodyMetrics(opt.font);
    const bool checked = index.data(KeyboardListModel::IsSelectedDeviceRole).toBool();

    painter->save();
    painter->setFont(bold);
    painter->setPen(colors.title);
    const int roomForTitle = area.width() - (checked ? kCheckSize + 4 : 0);
    const QString shownTitle = titleMetrics.elidedText(title, Qt::ElideRight, roomForTitle);
    QRect line(area.left(), area.top(), area.width(), titleMetrics.height());
    painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, shownTitle);
    if (checked) {
        const QRgb tint = colors.title.rgba();
        if (check_.isNull() || tint != checkTint_) {
            checkTint_ = tint;
            check_ = symbolIcon(QStringLiteral("checkmark"), colors.title);
        }
        const int x = area.left() + titleMetrics.horizontalAdvance(shownTitle) + 4;
        check_.paint(painter, QRect(x, line.top() + (line.height() - kCheckSize) / 2, kCheckSize,
                                    kCheckSize));
    }
    painter->setFont(opt.font);
    painter->setPen(colors.detail);
    for (int role : {KeyboardListModel::VendorTextRole, KeyboardListModel::ProductTextRole}) {
        line = QRect(area.left(), line.bottom() + 1 + kLineSpacing, area.width(),
                     bodyMetrics.height());
        painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, index.data(role).toString());
    }
    painter->restore();
}

} // namespace chordwell::app
