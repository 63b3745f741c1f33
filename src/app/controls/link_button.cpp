#include "app/controls/link_button.hpp"

#include "app/controls/symbols.hpp"

#include <QKeyEvent>
#include <QPainter>

namespace chordwell::app {

LinkButton::LinkButton(const QString& text, const QString& url, QWidget* parent)
    : QAbstractButton(parent), url_(url) {
    setText(text);
    setToolTip(url);
    setAccessibleName(text);
    setAccessibleDescription(QStringLiteral("Opens ") + url);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setPointingHandCursor(this);
    connect(this, &QAbstractButton::clicked, this, [this] { Q_EMIT linkActivated(url_); });
}

void LinkButton::setBold(bool bold) {
    QFont f = font();
    f.setBold(bold);
    setFont(f);
    updateGeometry();
}

QSize LinkButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 6, metrics.height() + 4};
}

QSize LinkButton::minimumSizeHint() const {
    return sizeHint();
}

void LinkButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void LinkButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    QFont f = font();
    f.setUnderline(true);
    painter.setFont(f);
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    painter.setPen(palette().color(group, QPalette::Link));
    painter.drawText(rect().adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 3, 3);
    }
}

} // namespace chordwell::app
