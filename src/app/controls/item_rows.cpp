#include "app/controls/item_rows.hpp"

#include "app/controls/theme.hpp"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QWidget>

namespace chordwell::app {

QCollator nameCollator() {
    QCollator collator; // the user's locale
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

QCollatorSortKey nameSortKey(const QCollator& collator, const QString& name) {
    return collator.sortKey(name.toCaseFolded());
}

RowTextColors rowTextColors(const QPalette& palette, bool enabled, bool selected, bool active) {
    const QPalette::ColorGroup group = !enabled ? QPalette::Disabled
                                       : active ? QPalette::Active
                                                : QPalette::Inactive;
    if (selected) {
        const QColor c = palette.color(group, QPalette::HighlightedText);
        return {c, c};
    }
    if (!enabled) {
        const QColor c = palette.color(QPalette::Disabled, QPalette::Text);
        return {c, c};
    }
    // Derived from the text and the backgrounds, not taken from the
    // placeholder role: themes dim that one below what reads on a row.
    return {palette.color(group, QPalette::Text), theme::secondaryText(palette, group)};
}

QString drawItemPanel(QPainter* painter, QStyleOptionViewItem& option) {
    QString text = option.text;
    option.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &option, painter, widget);
    return text;
}

} // namespace chordwell::app
