// What the rows of the main window's keyboard list and mapping table share:
// names in the order of the user's language, the panel a row is drawn on,
// and the colours of a row's main and secondary texts.
#pragma once

#include <QCollator>
#include <QCollatorSortKey>
#include <QColor>
#include <QPalette>
#include <QString>

class QPainter;
class QStyleOptionViewItem;

namespace chordwell::app {

/// The collator keyboard names are sorted with: the user's locale, case
/// ignored.
QCollator nameCollator();

/// The sort key of `name`: comparing keys is a byte comparison, where
/// comparing names runs the collation at every step of a sort. Some
/// collation back ends ignore the case setting in sort keys, so the name is
/// case-folded first.
QCollatorSortKey nameSortKey(const QCollator& collator, const QString& name);

/// The colours of a row's main text and of its secondary lines.
struct RowTextColors {
    QColor main;
    QColor secondary;
};

/// On the selection highlight both take the highlighted-text colour (the
/// secondary colour is made for the window background and would be
/// unreadable there); in a disabled row both are greyed alike.
RowTextColors rowTextColors(const QPalette& palette, bool enabled, bool selected, bool active);

/// Draws an item's background, selection and focus as the style draws them,
/// without its text (the delegates draw their texts themselves). `option`
/// comes from initStyleOption; its text is taken out and returned.
QString drawItemPanel(QPainter* painter, QStyleOptionViewItem& option);

} // namespace chordwell::app
