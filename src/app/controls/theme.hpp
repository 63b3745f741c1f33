// The colours the windows draw text in, made readable on whatever palette
// the desktop hands over, light or dark: every text reaches the WCAG AA
// contrast of 4.5:1 against the background it stands on (3:1 for large
// text). The accents (the green of "ON", the red of a destructive button)
// keep their hue and move toward black or white only as far as that takes.
#pragma once

#include <QColor>
#include <QPalette>

#include <initializer_list>

class QApplication;

namespace chordwell::app::theme {

/// WCAG AA: body text, and text at least 18 pt (14 pt bold).
inline constexpr double kNormalTextContrast = 4.5;
inline constexpr double kLargeTextContrast = 3.0;

/// The WCAG relative luminance of an opaque colour (0 black to 1 white).
double relativeLuminance(const QColor& colour);
/// What `foreground` looks like drawn over `background` (alpha blended).
QColor composited(const QColor& foreground, const QColor& background);
/// The WCAG contrast ratio (1 to 21) of `foreground` drawn on `background`.
double contrastRatio(const QColor& foreground, const QColor& background);

/// `wanted` itself when it reaches `ratio` on every background; otherwise
/// the first colour on the way from it toward black (light backgrounds) or
/// white (dark ones) that does. Opaque.
QColor readableOn(const QColor& wanted, std::initializer_list<QColor> backgrounds,
                  double ratio = kNormalTextContrast);

/// Secondary texts (captions, the second line of a row, the raw numbers):
/// between the text colour and the background, but readable on the
/// window, on fields and on the alternate rows of a table.
QColor secondaryText(const QPalette& palette, QPalette::ColorGroup group = QPalette::Active);
/// The green of "ON" and of a running recording's text, on the window.
QColor onColour(const QPalette& palette);
/// The red of a destructive button's text ("Delete", "Clear All").
QColor destructiveColour(const QPalette& palette);
/// The orange of the stop button's outline (a control, not text: 3:1).
QColor stopOutlineColour(const QPalette& palette);
/// The green of the run button's outline and of the recording outline.
QColor runOutlineColour(const QPalette& palette);

/// `palette` with its secondary-text role (PlaceholderText, which dimmed
/// labels and the fields' placeholders use) and its selection colour made
/// readable. Roles that are readable already are left as they are.
QPalette withReadableText(QPalette palette);

/// A dark palette as desktops' dark themes give one (the screenshots and
/// the tests switch to it while running).
QPalette darkPalette();

/// Keeps the application palette readable: now, and whenever the desktop
/// (or the program) changes it.
void keepApplicationPaletteReadable(QApplication& application);

} // namespace chordwell::app::theme
