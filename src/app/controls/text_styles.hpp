// The few text styles the windows share: the caption size and the secondary
// (dimmed) colour, the headline, monospaced text, and links.
#pragma once

#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QPalette>
#include <QString>

#include <algorithm>
#include <vector>

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

/// The second line of a table row or a recording field: two points under
/// the body text, never under 7 points (a font sized in pixels loses two
/// pixels, never going under 9).
inline QFont smallCaptionFont(QFont font) {
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(std::max(7.0, font.pointSizeF() - 2.0));
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(std::max(9, font.pixelSize() - 2));
    }
    return font;
}

/// The headline: body size, bold.
inline QFont headlineFont(QFont font) {
    font.setBold(true);
    return font;
}

/// A label with `text` as a headline.
inline QLabel* headlineLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(headlineFont(label->font()));
    return label;
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

/// A label showing `html` as rich text with its links reachable by mouse
/// and keyboard. The label does not open them itself: its owner handles
/// linkActivated, so that a link no application could open can be told.
inline QLabel* richLinkLabel(const QString& html, const QString& toolTip, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::RichText);
    label->setText(html);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setOpenExternalLinks(false);
    label->setToolTip(toolTip);
    return label;
}

/// The status line shown when no application could open a link.
inline QString linkFailureText(const QString& url) {
    return QStringLiteral("No application could open ") + url +
           QStringLiteral(". Copy the address to open it yourself.");
}

/// Lays out the links' texts again. A link's colour is fixed when its text
/// is laid out, so after a palette change (light to dark) the links need a
/// new layout to take the new theme's link colour.
inline void relayoutLinks(const std::vector<QLabel*>& links) {
    for (QLabel* label : links) {
        const QString text = label->text();
        label->clear();
        label->setText(text);
    }
}

} // namespace chordwell::app
