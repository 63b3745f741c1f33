#include "app/controls/symbol_label.hpp"

#include "app/controls/symbols.hpp"

#include <QEvent>

namespace chordwell::app {

SymbolLabel::SymbolLabel(const QString& sfSymbolName, int side, QWidget* parent)
    : QLabel(parent), symbol_(sfSymbolName), side_(side) {
    setFixedSize(side_, side_);
    // A picture says nothing to a screen reader; the text next to it does.
    setAccessibleName(QString());
    redraw();
}

void SymbolLabel::setSymbol(const QString& sfSymbolName) {
    symbol_ = sfSymbolName;
    redraw();
}

void SymbolLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange) {
        redraw();
    }
}

void SymbolLabel::redraw() {
    const QColor tint =
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    setPixmap(symbolIcon(symbol_, tint).pixmap(QSize(side_, side_), devicePixelRatioF()));
}

} // namespace chordwell::app
