// The keyboard list of the main window as a model and a delegate. The rows
// are the discovered keyboards sorted by product name (the locale's
// case-insensitive order, equal names in discovery order). The model follows
// the engine's list by difference: a keyboard that appears is inserted at its
// place, one that goes is removed, so that a dock full of keyboards arriving
// one by one costs no re-sort and no rebuilt rows.
#pragma once

#include "model/records.hpp"

#include <QAbstractListModel>
#include <QCollator>
#include <QCollatorSortKey>
#include <QIcon>
#include <QListView>
#include <QStyledItemDelegate>

#include <optional>
#include <unordered_set>
#include <vector>

namespace chordwell::app {

class KeyboardListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        VendorTextRole = Qt::UserRole + 1, // "Vendor: 1452"
        ProductTextRole,                   // "Product: 591"
        IsSelectedDeviceRole,              // bool: the engine's selected keyboard (checkmark)
    };

    explicit KeyboardListModel(QObject* parent = nullptr);

    /// Follows `discovered` (the engine's list in discovery order) and the
    /// engine's selected keyboard. Linear in the number of keyboards plus
    /// a logarithmic insert per new keyboard.
    void sync(const std::vector<KeyboardDevice>& discovered, const std::optional<Uuid>& selectedId);

    const KeyboardDevice* keyboardAt(int row) const;
    /// The row of the keyboard with this id, or -1.
    int rowOf(const Uuid& id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    struct Row {
        KeyboardDevice device;
        QCollatorSortKey key;
        QString name; // with its place when another row has the same product name
    };
    void nameRows();

    QCollator collator_;
    std::vector<Row> rows_;
    std::unordered_set<Uuid> listed_;
    std::optional<Uuid> selectedId_;
};

/// Draws a keyboard row: the product name in bold with the checkmark of the
/// selected keyboard, then "Vendor: …" and "Product: …". On the selection
/// highlight every line takes the highlighted-text colour; while the list is
/// disabled every line is greyed alike.
class KeyboardListDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit KeyboardListDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    /// The colours a row's title and its two detail lines are drawn in.
    struct Colors {
        QColor title;
        QColor detail;
    };
    static Colors colorsFor(const QPalette& palette, bool enabled, bool selected, bool active);

private:
    mutable QRgb checkTint_ = 0;
    mutable QIcon check_;
};

/// The keyboard list: says so when it has no keyboard to offer.
class KeyboardListView : public QListView {
    Q_OBJECT

public:
    explicit KeyboardListView(QWidget* parent = nullptr);

    /// Drawn in the empty list ("" draws nothing).
    void setEmptyText(const QString& text);
    QString emptyText() const { return emptyText_; }

    /// Room for three keyboards (one keyboard seldom comes alone, and more
    /// scroll).
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString emptyText_;
};

} // namespace chordwell::app
