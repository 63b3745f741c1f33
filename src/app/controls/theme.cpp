#include "app/controls/theme.hpp"

#include <QApplication>
#include <QEvent>
#include <QObject>

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

namespace chordwell::app::theme {

namespace {

double linearChannel(double c) {
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

QColor mixed(const QColor& from, const QColor& to, double t) {
    const double k = std::clamp(t, 0.0, 1.0);
    return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * k),
                            static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * k),
                            static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * k));
}

double worstRatio(const QColor& colour, std::span<const QColor> backgrounds) {
    double worst = 21.0;
    for (const QColor& background : backgrounds) {
        worst = std::min(worst, contrastRatio(colour, background));
    }
    return worst;
}

bool readableOnAll(const QColor& colour, std::span<const QColor> backgrounds, double ratio) {
    return worstRatio(colour, backgrounds) >= ratio;
}

// The accents as the system draws them on a light background; dark themes
// get them lightened by readableOn.
const QColor kGreen(0x34, 0xC7, 0x59);
const QColor kRed(0xD9, 0x2C, 0x20);
const QColor kOrange(0xFF, 0x95, 0x00);

// Follows the application palette: when it changes (the desktop switched
// theme, or the program set one), the roles that became unreadable are
// mended once; the mended palette passes the check, so no loop follows.
class PaletteGuard : public QObject {
public:
    explicit PaletteGuard(QObject* parent) : QObject(parent) {}

    void mend() {
        if (mending_) {
            return;
        }
        const QPalette current = QApplication::palette();
        const QPalette readable = withReadableText(current);
        if (readable != current) {
            mending_ = true;
            QApplication::setPalette(readable);
            mending_ = false;
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
            mend();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool mending_ = false;
};

} // namespace

double relativeLuminance(const QColor& colour) {
    const QColor c = colour.toRgb();
    return 0.2126 * linearChannel(c.redF()) + 0.7152 * linearChannel(c.greenF()) +
           0.0722 * linearChannel(c.blueF());
}

QColor composited(const QColor& foreground, const QColor& background) {
    const QColor fg = foreground.toRgb();
    const QColor bg = background.toRgb();
    const double a = fg.alphaF();
    return QColor::fromRgbF(static_cast<float>(fg.redF() * a + bg.redF() * (1.0 - a)),
                            static_cast<float>(fg.greenF() * a + bg.greenF() * (1.0 - a)),
                            static_cast<float>(fg.blueF() * a + bg.blueF() * (1.0 - a)));
}

double contrastRatio(const QColor& foreground, const QColor& background) {
    const QColor bg = background.alpha() == 255 ? background : composited(background, Qt::white);
    const double a = relativeLuminance(composited(foreground, bg));
    const double b = relativeLuminance(bg);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

namespace {

QColor readableOnEach(const QColor& wanted, std::span<const QColor> backgrounds, double ratio) {
    QColor start = wanted.toRgb();
    if (!backgrounds.empty()) {
        start = composited(start, backgrounds.front());
    }
    if (readableOnAll(start, backgrounds, ratio)) {
        return start;
    }
    // Black and white contrast equally with a luminance of about 0.18.
    double luminance = 0.0;
    for (const QColor& background : backgrounds) {
        luminance += relativeLuminance(background);
    }
    luminance /= std::max<std::size_t>(1, backgrounds.size());
    const QColor target = luminance > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    const QColor other = luminance > 0.18 ? QColor(Qt::white) : QColor(Qt::black);
    // Backgrounds far apart (a field darker than its window in a light
    // theme) may leave no colour readable on all of them: then the colour
    // that reads best on the worst of them, in either direction.
    constexpr int kSteps = 64;
    QColor best = start;
    double bestRatio = worstRatio(start, backgrounds);
    for (const QColor& towards : {target, other}) {
        for (int step = 1; step <= kSteps; ++step) {
            const QColor candidate = mixed(start, towards, static_cast<double>(step) / kSteps);
            const double worst = worstRatio(candidate, backgrounds);
            if (worst >= ratio) {
                return candidate;
            }
            if (worst > bestRatio) {
                best = candidate;
                bestRatio = worst;
            }
        }
    }
    return best;
}

} // namespace

QColor readableOn(const QColor& wanted, std::initializer_list<QColor> backgrounds, double ratio) {
    return readableOnEach(wanted, std::span<const QColor>(backgrounds.begin(), backgrounds.size()),
                          ratio);
}

QColor secondaryText(const QPalette& palette, QPalette::ColorGroup group) {
    const QColor text = palette.color(group, QPalette::Text);
    const QColor window = palette.color(group, QPalette::Window);
    const QColor base = palette.color(group, QPalette::Base);
    const QColor alternate = palette.color(group, QPalette::AlternateBase);
    // Dimmer than the text by about as much as a placeholder is, then back
    // toward full contrast as far as readability needs.
    const QColor dimmed = mixed(text.toRgb(), base.toRgb(), 0.45);
    // A background the theme's own text does not read on is one the theme
    // draws no text on (a half-finished palette); it is left out.
    std::vector<QColor> backgrounds;
    for (const QColor& background : {base, window, alternate}) {
        if (contrastRatio(text, background) >= kNormalTextContrast) {
            backgrounds.push_back(background);
        }
    }
    if (backgrounds.empty()) {
        return text;
    }
    return readableOnEach(dimmed, backgrounds, kNormalTextContrast);
}

QColor onColour(const QPalette& palette) {
    return readableOn(kGreen, {palette.color(QPalette::Active, QPalette::Window)});
}

QColor destructiveColour(const QPalette& palette) {
    return readableOn(kRed, {palette.color(QPalette::Active, QPalette::Button),
                             palette.color(QPalette::Active, QPalette::Window)});
}

QColor stopOutlineColour(const QPalette& palette) {
    return readableOn(kOrange, {palette.color(QPalette::Active, QPalette::Window)},
                      kLargeTextContrast);
}

QColor runOutlineColour(const QPalette& palette) {
    return readableOn(kGreen, {palette.color(QPalette::Active, QPalette::Window)},
                      kLargeTextContrast);
}

QPalette withReadableText(QPalette palette) {
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        const QColor window = palette.color(group, QPalette::Window);
        const QColor base = palette.color(group, QPalette::Base);
        const QColor alternate = palette.color(group, QPalette::AlternateBase);
        const QColor placeholder = palette.color(group, QPalette::PlaceholderText);
        const QColor fieldsAndWindow[] = {window, base, alternate};
        if (!readableOnAll(composited(placeholder, base), fieldsAndWindow, kNormalTextContrast)) {
            palette.setColor(group, QPalette::PlaceholderText, secondaryText(palette, group));
        }
        const QColor link = palette.color(group, QPalette::Link);
        const QColor linkBackgrounds[] = {window, base};
        if (!readableOnAll(link, linkBackgrounds, kNormalTextContrast)) {
            palette.setColor(group, QPalette::Link, readableOn(link, {window, base}));
        }
        // The selection is the background of its text: move it away from
        // the highlighted text's colour until the two read apart.
        const QColor highlighted = palette.color(group, QPalette::HighlightedText);
        const QColor highlight = palette.color(group, QPalette::Highlight);
        if (contrastRatio(highlighted, highlight) < kNormalTextContrast) {
            palette.setColor(group, QPalette::Highlight, readableOn(highlight, {highlighted}));
        }
    }
    return palette;
}

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2B, 0x2B, 0x2E);
    const QColor base(0x1E, 0x1E, 0x20);
    const QColor text(0xEE, 0xEE, 0xF0);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x29));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3A, 0x3A, 0x3E));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x3D, 0x7E, 0xD6));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Link, QColor(0x6C, 0xB4, 0xFF));
    p.setColor(QPalette::LinkVisited, QColor(0xB4, 0x9C, 0xFF));
    p.setColor(QPalette::PlaceholderText, QColor(0xEE, 0xEE, 0xF0, 0x99));
    p.setColor(QPalette::Light, QColor(0x50, 0x50, 0x55));
    p.setColor(QPalette::Midlight, QColor(0x45, 0x45, 0x4A));
    p.setColor(QPalette::Mid, QColor(0x55, 0x55, 0x5A));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1A));
    p.setColor(QPalette::Shadow, Qt::black);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x85));
    }
    return p;
}

void keepApplicationPaletteReadable(QApplication& application) {
    // One guard per application, however often this is called.
    auto* guard = static_cast<PaletteGuard*>(application.findChild<QObject*>(
        QStringLiteral("readablePaletteGuard"), Qt::FindDirectChildrenOnly));
    if (guard == nullptr) {
        guard = new PaletteGuard(&application);
        guard->setObjectName(QStringLiteral("readablePaletteGuard"));
        application.installEventFilter(guard);
    }
    guard->mend();
}

} // namespace chordwell::app::theme
