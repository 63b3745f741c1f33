#include "app/controls/big_power_toggle.hpp"

#include "app/controls/symbols.hpp"
#include "app/controls/theme.hpp"

#include <QEasingCurve>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace chordwell::app {
namespace {

// The capsule behind the white state symbol.
const QColor kOnGreen(0x34, 0xC7, 0x59);

QColor mix(const QColor& from, const QColor& to, qreal t) {
    const qreal k = std::clamp(t, 0.0, 1.0);
    return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * k),
                            static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * k),
                            static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * k),
                            static_cast<float>(from.alphaF() + (to.alphaF() - from.alphaF()) * k));
}

QFont semibold(QFont font) {
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont scaled(QFont font, qreal factor) {
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else {
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pixelSize() * factor))));
    }
    return font;
}

constexpr int kRowSpacing = 6;
constexpr int kHorizontalPadding = 2;
constexpr int kOuterPadding = 8;
constexpr int kLineGap = 4;

} // namespace

struct BigPowerToggle::Metrics {
    QFont labelFont;
    QFont wordFont;
    QFont captionFont;
    int symbolSide = 0;
    QSize capsule;
    int labelWidth = 0;
    int wordWidth = 0;
    int rowHeight = 0;
    int captionHeight = 0;
    int captionWidth = 0;
};

BigPowerToggle::BigPowerToggle(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setPointingHandCursor(this);
    offSymbol_ = symbolIcon(QStringLiteral("power.circle"), Qt::white);
    onSymbol_ = symbolIcon(QStringLiteral("checkmark.circle.fill"), Qt::white);
    flip_ = new QVariantAnimation(this);
    flip_->setDuration(kFlipDurationMs);
    QEasingCurve curve;
    curve.setCustomType(&BigPowerToggle::springEasing);
    flip_->setEasingCurve(curve);
    connect(flip_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        progress_ = value.toReal();
        update();
    });
    // A click only asks: the shown state changes when the host says so.
    // Checkable, so that assistive technology announces a switch with its
    // on / off state; nextCheckState() leaves the flipping to the host.
    setCheckable(true);
    connect(this, &QAbstractButton::clicked, this, [this] { Q_EMIT toggleRequested(!on_); });
    // Assistive technology toggles the checked state directly rather than
    // clicking: turn that into the same wish and keep showing the host's state.
    connect(this, &QAbstractButton::toggled, this, [this](bool checked) {
        if (checked == on_) {
            return; // setOn()
        }
        {
            const QSignalBlocker block(this);
            setChecked(on_);
        }
        Q_EMIT toggleRequested(checked);
    });
    updateAccessibleText();
}

void BigPowerToggle::nextCheckState() {}

void BigPowerToggle::setCompact(bool compact) {
    if (compact == compact_) {
        return;
    }
    compact_ = compact;
    setToolTip(compact_ ? captionText() : QString());
    updateGeometry();
    update();
}

void BigPowerToggle::updateAccessibleText() {
    // "Chordwell is:" reads as a sentence with the state the screen reader
    // adds; the caption says what a press does.
    QString name = label_.trimmed();
    if (name.endsWith(QLatin1Char(':'))) {
        name.chop(1);
    }
    setAccessibleName(name.isEmpty() ? stateWord() : name);
    setAccessibleDescription(captionText());
}

qreal BigPowerToggle::springEasing(qreal progress) {
    if (progress <= 0.0) {
        return 0.0;
    }
    if (progress >= 1.0) {
        return 1.0;
    }
    // Step response of an under-damped spring: x(t) = 1 − e^(−ζωt)·(cos ωd·t + ζω/ωd·sin ωd·t)
    constexpr double response = 0.3;
    constexpr double damping = 0.7;
    const double omega = 2.0 * std::numbers::pi / response;
    const double dampedOmega = omega * std::sqrt(1.0 - damping * damping);
    const double t = progress * (kFlipDurationMs / 1000.0);
    const double decay = std::exp(-damping * omega * t);
    return 1.0 - decay * (std::cos(dampedOmega * t) +
                          damping * omega / dampedOmega * std::sin(dampedOmega * t));
}

void BigPowerToggle::setLabelText(const QString& label) {
    label_ = label;
    updateAccessibleText();
    updateGeometry();
    update();
}

void BigPowerToggle::setOn(bool on) {
    if (on_ == on) {
        return;
    }
    on_ = on;
    setChecked(on);
    updateAccessibleText();
    if (compact_) {
        setToolTip(captionText());
    }
    updateGeometry();
    flip_->stop();
    flip_->setStartValue(progress_);
    flip_->setEndValue(on_ ? 1.0 : 0.0);
    flip_->start();
}

QString BigPowerToggle::stateWord() const {
    return on_ ? tr("ON") : tr("OFF");
}

QString BigPowerToggle::captionText() const {
    return on_ ? tr("Click to Deactivate it") : tr("Click to Activate it");
}

QColor BigPowerToggle::stateWordColour(const QPalette& palette, bool on, bool enabled) {
    if (!enabled) {
        return palette.color(QPalette::Disabled, QPalette::WindowText);
    }
    return on ? theme::onColour(palette) : palette.color(QPalette::Active, QPalette::WindowText);
}

QColor BigPowerToggle::captionColour(const QPalette& palette, bool enabled) {
    if (!enabled) {
        return palette.color(QPalette::Disabled, QPalette::WindowText);
    }
    return theme::secondaryText(palette);
}

QString BigPowerToggle::stateSymbolName() const {
    return on_ ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("power.circle");
}

BigPowerToggle::Metrics BigPowerToggle::layoutMetrics() const {
    Metrics m;
    m.labelFont = font();
    m.wordFont = semibold(font());
    m.captionFont = scaled(font(), 0.85);
    // The state symbol stands in the second-title size (about 1.6 × body).
    m.symbolSide = std::max(18, static_cast<int>(std::lround(QFontMetrics(font()).height() * 1.4)));
    m.capsule = QSize(m.symbolSide + 14, m.symbolSide + 6);
    const QFontMetrics labelMetrics(m.labelFont);
    const QFontMetrics wordMetrics(m.wordFont);
    const QFontMetrics captionMetrics(m.captionFont);
    m.labelWidth = labelMetrics.horizontalAdvance(label_);
    // Reserve the wider word so the capsule does not jump when the state flips.
    m.wordWidth =
        std::max(wordMetrics.horizontalAdvance(tr("ON")), wordMetrics.horizontalAdvance(tr("OFF")));
    m.rowHeight = std::max({labelMetrics.height(), wordMetrics.height(), m.capsule.height()});
    m.captionHeight = compact_ ? 0 : captionMetrics.height();
    m.captionWidth = std::max(captionMetrics.horizontalAdvance(tr("Click to Deactivate it")),
                              captionMetrics.horizontalAdvance(tr("Click to Activate it")));
    return m;
}

QSize BigPowerToggle::sizeHint() const {
    const Metrics m = layoutMetrics();
    const int rowWidth = kHorizontalPadding * 2 + m.labelWidth + kRowSpacing + m.wordWidth +
                         kRowSpacing + m.capsule.width();
    const int width = kOuterPadding * 2 + std::max(rowWidth, compact_ ? 0 : m.captionWidth);
    const int padding = compact_ ? kOuterPadding / 2 : kOuterPadding;
    const int height = padding * 2 + m.rowHeight + (compact_ ? 0 : kLineGap + m.captionHeight);
    return {width, height};
}

QSize BigPowerToggle::minimumSizeHint() const {
    return sizeHint();
}

void BigPowerToggle::enterEvent(QEnterEvent* event) {
    hovering_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void BigPowerToggle::leaveEvent(QEvent* event) {
    hovering_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void BigPowerToggle::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Metrics m = layoutMetrics();
    paintHoverAndFocus(painter);

    const qreal t = std::clamp(progress_, 0.0, 1.0);
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    const QColor text = palette().color(group, QPalette::WindowText);

    // Row 1: label, state word, state symbol on its capsule.
    const int rowWidth = kHorizontalPadding * 2 + m.labelWidth + kRowSpacing + m.wordWidth +
                         kRowSpacing + m.capsule.width();
    const int contentWidth = std::max(rowWidth, compact_ ? 0 : m.captionWidth);
    const int left = (width() - contentWidth) / 2 + (contentWidth - rowWidth) / 2;
    const int top = (height() - (m.rowHeight + (compact_ ? 0 : kLineGap + m.captionHeight))) / 2;
    int x = left + kHorizontalPadding;

    painter.setPen(text);
    painter.setFont(m.labelFont);
    painter.drawText(QRect(x, top, m.labelWidth, m.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     label_);
    x += m.labelWidth + kRowSpacing;
    paintStateWord(painter, m, QRect(x, top, m.wordWidth, m.rowHeight), t);
    x += m.wordWidth + kRowSpacing;
    paintStateSymbol(painter, m, x, top, t);

    // Row 2: what a click does (the tooltip says it in a compact window).
    if (compact_) {
        return;
    }
    painter.setPen(captionColour(palette(), isEnabled()));
    painter.setFont(m.captionFont);
    painter.drawText(QRect(0, top + m.rowHeight + kLineGap, width(), m.captionHeight),
                     Qt::AlignHCenter | Qt::AlignVCenter, captionText());
}

void BigPowerToggle::paintHoverAndFocus(QPainter& painter) const {
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = std::min(bounds.height(), bounds.width()) / 2.0;

    // The whole capsule is the button; it shows itself only when pointed at,
    // pressed or focused, as a plain button does.
    if (isEnabled() && (hovering_ || isDown())) {
        QColor shade = palette().color(QPalette::WindowText);
        shade.setAlphaF(isDown() ? 0.10 : 0.05);
        painter.setPen(Qt::NoPen);
        painter.setBrush(shade);
        painter.drawRoundedRect(bounds, radius, radius);
    }
    if (hasFocus()) {
        QColor ring = palette().color(QPalette::Highlight);
        ring.setAlphaF(0.6);
        painter.setPen(QPen(ring, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }
}

// The words cross-fade with the spring.
void BigPowerToggle::paintStateWord(QPainter& painter, const Metrics& m, const QRect& wordRect,
                                    qreal t) const {
    painter.setFont(m.wordFont);
    painter.save();
    painter.setOpacity(1.0 - t);
    painter.setPen(stateWordColour(palette(), false, isEnabled()));
    painter.drawText(wordRect, Qt::AlignLeft | Qt::AlignVCenter, tr("OFF"));
    painter.setOpacity(t);
    painter.setPen(stateWordColour(palette(), true, isEnabled()));
    painter.drawText(wordRect, Qt::AlignLeft | Qt::AlignVCenter, tr("ON"));
    painter.restore();
}

void BigPowerToggle::paintStateSymbol(QPainter& painter, const Metrics& m, int x, int top,
                                      qreal t) const {
    // The white symbol stands out from either capsule (3:1, as a control must).
    const QColor offFill =
        theme::readableOn(QColor(0x8E, 0x8E, 0x93), {Qt::white}, theme::kLargeTextContrast);
    const QColor onFill = theme::readableOn(kOnGreen, {Qt::white}, theme::kLargeTextContrast);
    const QRectF capsule(x, top + (m.rowHeight - m.capsule.height()) / 2.0, m.capsule.width(),
                         m.capsule.height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(mix(offFill, onFill, t));
    // A little swell while the spring overshoots gives the flip its bounce.
    const qreal swell =
        1.0 + std::max(0.0, progress_ - 1.0) * 1.5 + std::max(0.0, -progress_) * 1.5;
    const QRectF swollen(capsule.center().x() - capsule.width() * swell / 2,
                         capsule.center().y() - capsule.height() * swell / 2,
                         capsule.width() * swell, capsule.height() * swell);
    painter.drawRoundedRect(swollen, swollen.height() / 2, swollen.height() / 2);
    const QRect symbolRect(static_cast<int>(capsule.center().x() - m.symbolSide / 2.0),
                           static_cast<int>(capsule.center().y() - m.symbolSide / 2.0),
                           m.symbolSide, m.symbolSide);
    painter.save();
    painter.setOpacity(1.0 - t);
    offSymbol_.paint(&painter, symbolRect);
    painter.setOpacity(t);
    onSymbol_.paint(&painter, symbolRect);
    painter.restore();
}

} // namespace chordwell::app
