#include "app/controls/hover_label_button.hpp"

#include "app/controls/symbols.hpp"

#include <QEasingCurve>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <cmath>

namespace chordwell::app {
namespace {
constexpr int kSpacing = 8;
} // namespace

HoverLabelButton::HoverLabelButton(QWidget* parent) : QAbstractButton(parent) {
    initialise();
}

HoverLabelButton::HoverLabelButton(const QString& sfSymbolName, const QString& label,
                                   const QString& toolTip, QWidget* parent)
    : QAbstractButton(parent) {
    initialise();
    setSymbol(sfSymbolName);
    setText(label);
    setToolTip(toolTip);
}

HoverLabelButton::~HoverLabelButton() = default;

void HoverLabelButton::initialise() {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setPointingHandCursor(this);
    fade_ = new QVariantAnimation(this);
    fade_->setDuration(kLabelFadeMs);
    fade_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(fade_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        labelReveal_ = value.toReal();
        updateGeometry();
        update();
    });
}

void HoverLabelButton::setSymbol(const QString& sfSymbolName) {
    symbolName_ = sfSymbolName;
    update();
}

void HoverLabelButton::setShowLabelOnlyOnHover(bool onlyOnHover) {
    if (showLabelOnlyOnHover_ == onlyOnHover) {
        return;
    }
    showLabelOnlyOnHover_ = onlyOnHover;
    updateLabelVisibility(false);
}

bool HoverLabelButton::isLabelShown() const {
    return !showLabelOnlyOnHover_ || hovering_;
}

void HoverLabelButton::updateLabelVisibility(bool animated) {
    const qreal target = isLabelShown() ? 1.0 : 0.0;
    fade_->stop();
    if (!animated || qFuzzyCompare(labelReveal_ + 1.0, target + 1.0)) {
        labelReveal_ = target;
        updateGeometry();
        update();
        return;
    }
    fade_->setStartValue(labelReveal_);
    fade_->setEndValue(target);
    fade_->start();
}

void HoverLabelButton::enterEvent(QEnterEvent* event) {
    hovering_ = true;
    updateLabelVisibility(true);
    QAbstractButton::enterEvent(event);
}

void HoverLabelButton::leaveEvent(QEvent* event) {
    hovering_ = false;
    updateLabelVisibility(true);
    QAbstractButton::leaveEvent(event);
}

void HoverLabelButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        updateGeometry();
    }
    QAbstractButton::changeEvent(event);
}

QColor HoverLabelButton::contentColour() const {
    return palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                           QPalette::ButtonText);
}

int HoverLabelButton::symbolSize() const {
    return 16;
}

QFont HoverLabelButton::labelFont() const {
    return font();
}

QMargins HoverLabelButton::contentPadding() const {
    return {6, 4, 6, 4};
}

QIcon HoverLabelButton::tintedSymbol() const {
    const QColor colour = contentColour();
    if (cachedIconSymbol_ != symbolName_ || cachedIconColour_ != colour) {
        cachedIcon_ = symbolIcon(symbolName_, colour);
        cachedIconSymbol_ = symbolName_;
        cachedIconColour_ = colour;
    }
    return cachedIcon_;
}

QSize HoverLabelButton::sizeHint() const {
    const QFontMetrics metrics(labelFont());
    const QMargins padding = contentPadding();
    const int side = symbolSize();
    const int labelWidth = text().isEmpty() ? 0 : kSpacing + metrics.horizontalAdvance(text());
    const int width = padding.left() + side +
                      static_cast<int>(std::ceil(labelWidth * labelReveal_)) + padding.right();
    const int height = padding.top() + std::max(side, metrics.height()) + padding.bottom();
    return {width, height};
}

QSize HoverLabelButton::minimumSizeHint() const {
    return sizeHint();
}

void HoverLabelButton::paintBackground(QPainter& painter, const QRectF& bounds) {
    if (!(hovering_ || isDown()) || !isEnabled()) {
        return;
    }
    QColor highlight = palette().color(QPalette::ButtonText);
    highlight.setAlphaF(isDown() ? 0.16 : 0.08);
    painter.setPen(Qt::NoPen);
    painter.setBrush(highlight);
    painter.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
}

void HoverLabelButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintBackground(painter, QRectF(rect()));

    const QMargins padding = contentPadding();
    const QRect content = rect().marginsRemoved(padding);
    const int side = symbolSize();
    const QFontMetrics metrics(labelFont());
    const int labelWidth = text().isEmpty() ? 0 : kSpacing + metrics.horizontalAdvance(text());
    const int shownWidth = side + static_cast<int>(std::ceil(labelWidth * labelReveal_));
    // Centre the content when the button is wider than it needs.
    const int left = content.x() + std::max(0, (content.width() - shownWidth) / 2);

    const QRect symbolRect(left, content.y() + (content.height() - side) / 2, side, side);
    tintedSymbol().paint(&painter, symbolRect);

    if (labelReveal_ > 0.0 && !text().isEmpty()) {
        painter.save();
        painter.setOpacity(labelReveal_);
        painter.setFont(labelFont());
        painter.setPen(contentColour());
        const QRect labelRect(symbolRect.right() + 1 + kSpacing, content.y(),
                              content.right() - symbolRect.right() - kSpacing, content.height());
        painter.setClipRect(labelRect);
        painter.drawText(labelRect, Qt::AlignLeft | Qt::AlignVCenter, text());
        painter.restore();
    }

    if (hasFocus()) {
        // Solid and two pixels wide: a faint ring is easily missed.
        const qreal inset = focusRingInset();
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 4, 4);
    }
}

} // namespace chordwell::app
