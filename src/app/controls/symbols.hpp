// Symbols of the user interface. The views name them as the system symbol
// set does ("keyboard", "trash", "play.fill" ...); each name maps to a small
// single-colour SVG bundled under :/icons, drawn in the colour asked for.
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

class QWidget;

namespace chordwell::app {

/// The icon for a symbol name, drawn in `tint` (the palette's text colour
/// when no valid colour is given). Unknown names give a null icon.
QIcon symbolIcon(const QString& sfSymbolName, const QColor& tint = {});

/// Every symbol name symbolIcon() knows.
QStringList knownSymbolNames();

/// The application icon (full colour).
QIcon applicationIcon();

/// Shows the pointing-hand cursor while the pointer is over `widget`, as
/// clickable controls do; the previous cursor comes back when it leaves.
void setPointingHandCursor(QWidget* widget);

} // namespace chordwell::app
