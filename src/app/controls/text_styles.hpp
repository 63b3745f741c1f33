// The few text styles the windows share: the caption size and the secondary
// (dimmed) colour, the headline, and monospaced text.
#pragma once

#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QPalette>

namespace chordwell::app {

/// The caption size: a little smaller than the body text.
inline QFont captionFont(QFont font) {
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * 0.85);
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(std::max(1, font.pixelSize() * 85 / 100));
    }
    return font;
}

/// The headline: body size, bold.
inline QFont headlineFont(QFont font) {
    font.setBold(true);
    return font;
}

/// Monospaced text in the size of `like`.
inline QFont monospacedFont(const QFont& like) {
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (like.pointSizeF() > 0) {
        mono.setPointSizeF(like.pointSizeF());
    } else if (like.pixelSize() > 0) {
        mono.setPixelSize(like.pixelSize());
    }
    return mono;
}

/// Draws the label's text in the dimmed colour of secondary texts. The
/// colour is a role of the palette, not a colour taken from it once, so it
/// follows a change between light and dark while the window is open.
inline void setSecondaryColour(QLabel* label) {
    label->setForegroundRole(QPalette::PlaceholderText);
}

/// A caption in the secondary colour, as the settings sections use.
inline void makeSecondaryCaption(QLabel* label) {
    label->setFont(captionFont(label->font()));
    setSecondaryColour(label);
}

} // namespace chordwell::app
