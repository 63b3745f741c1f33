#include "app/controls/run_stop_button.hpp"

#include "app/controls/theme.hpp"

#include <QPainter>
#include <QPainterPath>

namespace chordwell::app {

RunStopButton::RunStopButton(QWidget* parent) : HoverLabelButton(parent) {
    applyState();
    // One press, one request: which one depends only on the state shown at
    // the moment of the press.
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (running_) {
            Q_EMIT stopRequested();
        } else {
            Q_EMIT runRequested();
        }
    });
}

void RunStopButton::setRunning(bool running) {
    if (running_ == running) {
        return;
    }
    running_ = running;
    applyState();
}

void RunStopButton::applyState() {
    setSymbol(running_ ? QStringLiteral("stop.fill") : QStringLiteral("play.fill"));
    setText(running_ ? tr("Stop") : tr("Run"));
    // The label may be hidden until hovered; the name is always there.
    setAccessibleName(running_ ? tr("Stop") : tr("Run"));
    setAccessibleDescription(running_ ? tr("Stop intercepting") : tr("Start intercepting"));
    update();
}

QColor RunStopButton::runningBorderColour(const QPalette& palette) {
    return theme::stopOutlineColour(palette);
}

QColor RunStopButton::stoppedBorderColour(const QPalette& palette) {
    return theme::runOutlineColour(palette);
}

void RunStopButton::paintBackground(QPainter& painter, const QRectF& bounds) {
    const qreal lineWidth = 2.0;
    const QRectF frame =
        bounds.adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2);
    QColor border = running_ ? runningBorderColour(palette()) : stoppedBorderColour(palette());
    if (!isEnabled()) {
        border.setAlphaF(0.4);
    }
    painter.setBrush(palette().color(QPalette::Window));
    painter.setPen(QPen(border, lineWidth));
    painter.drawRoundedRect(frame, 4, 4);
    if (isDown()) {
        QColor pressed = palette().color(QPalette::WindowText);
        pressed.setAlphaF(0.1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(pressed);
        painter.drawRoundedRect(frame, 4, 4);
    }
}

QColor RunStopButton::contentColour() const {
    return palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                           QPalette::WindowText);
}

int RunStopButton::symbolSize() const {
    // The symbol stands in the headline font's size.
    return std::max(14, QFontMetrics(labelFont()).ascent());
}

QFont RunStopButton::labelFont() const {
    QFont headline = font();
    headline.setWeight(QFont::DemiBold);
    return headline;
}

QMargins RunStopButton::contentPadding() const {
    return {10, 5, 10, 5};
}

qreal RunStopButton::focusRingInset() const {
    // Inside the coloured outline, which would hide a ring drawn over it.
    return 3.5;
}

} // namespace chordwell::app
