#include "app/mappings/recording_field.hpp"

#include "app/controls/symbols.hpp"
#include "app/controls/text_styles.hpp"
#include "app/controls/theme.hpp"
#include "app/conventions.hpp"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>

namespace chordwell::app {

namespace {

constexpr int kHorizontalPadding = 4;
constexpr int kIconSize = 14;
constexpr int kMinimumHeight = 24;
constexpr qreal kCornerRadius = 4.0;
constexpr qreal kOutlineWidth = 1.2;

} // namespace

RecordingField::RecordingField(bool isFromField, QWidget* parent)
    : QAbstractButton(parent), isFromField_(isFromField) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    setPointingHandCursor(this);
    // A toggle for assistive technology: checked while it records. The
    // recording itself is the model's; a click only asks for it.
    setCheckable(true);
    // Assistive technology toggles rather than clicks: ask as a click does,
    // and keep showing the model's state until it answers.
    connect(this, &QAbstractButton::toggled, this, [this](bool checked) {
        if (checked == state_.isRecording) {
            return; // setState()
        }
        {
            const QSignalBlocker block(this);
            setChecked(state_.isRecording);
        }
        Q_EMIT clicked(checked);
    });
    updateAccessibleText();
}

void RecordingField::nextCheckState() {}

void RecordingField::updateAccessibleText() {
    // The keys in words ("Control+A"), not glyphs and raw numbers.
    const QString field = isFromField_ ? QStringLiteral("From") : QStringLiteral("To keys");
    const QString keys = state_.showsPlaceholder(isFromField_) || state_.spokenText.empty()
                             ? mainText()
                             : QString::fromStdString(state_.spokenText);
    setAccessibleName(field + QStringLiteral(": ") + keys);
    setAccessibleDescription(state_.isRecording ? QStringLiteral("Click to stop recording")
                                                : QStringLiteral("Click to record keys"));
}

QColor RecordingField::recordingColour(const QPalette& palette) {
    return theme::runOutlineColour(palette);
}

QColor RecordingField::secondaryColour(const QPalette& palette, bool enabled) {
    if (!enabled) {
        return palette.color(QPalette::Disabled, QPalette::WindowText);
    }
    return theme::secondaryText(palette);
}

void RecordingField::setState(const RecordingFieldState& state) {
    const bool sizeChanged = state.codesText.empty() != state_.codesText.empty() ||
                             state.keysText.size() != state_.keysText.size();
    state_ = state;
    setEnabled(state_.isEnabled);
    setToolTip(isFromField_ && !state_.codesText.empty()
                   ? QStringLiteral("HID usages: ") + QString::fromStdString(state_.codesText)
                   : QString());
    {
        const QSignalBlocker block(this);
        setChecked(state_.isRecording);
    }
    updateAccessibleText();
    if (sizeChanged) {
        updateGeometry();
    }
    update();
}

QString RecordingField::mainText() const {
    if (state_.showsPlaceholder(isFromField_)) {
        return QString::fromStdString(state_.placeholder());
    }
    return QString::fromStdString(state_.keysText);
}

QString RecordingField::detailText() const {
    // Where the desktop does not show the raw numbers, they are in the tooltip.
    if (!isFromField_ || state_.showsPlaceholder(true) || !thisDesktop().usagesAsCaption) {
        return {};
    }
    return QString::fromStdString(state_.codesText);
}

QSize RecordingField::sizeHint() const {
    const QFontMetrics main(font());
    const QFontMetrics caption(smallCaptionFont(font()));
    int height = main.height() + 8;
    if (!detailText().isEmpty()) {
        height += caption.height() + 2;
    }
    const int width =
        kHorizontalPadding * 2 + kIconSize + 6 +
        std::max(main.horizontalAdvance(mainText()), caption.horizontalAdvance(detailText()));
    return {std::max(width, 120), std::max(height, kMinimumHeight)};
}

QSize RecordingField::minimumSizeHint() const {
    return {80, kMinimumHeight};
}

void RecordingField::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor text =
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    const QColor secondary = secondaryColour(palette(), isEnabled());
    QColor outline = state_.isRecording ? recordingColour(palette()) : secondary;
    if (!state_.isRecording) {
        outline.setAlphaF(0.4);
    }
    const QRectF frame =
        QRectF(rect()).adjusted(kOutlineWidth, kOutlineWidth, -kOutlineWidth, -kOutlineWidth);
    p.setPen(QPen(outline, kOutlineWidth));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(frame, kCornerRadius, kCornerRadius);
    if (hasFocus()) {
        QColor ring = palette().color(QPalette::Highlight);
        ring.setAlphaF(0.5);
        p.setPen(QPen(ring, 1.0));
        p.drawRoundedRect(frame.adjusted(1.5, 1.5, -1.5, -1.5), kCornerRadius, kCornerRadius);
    }

    const QRect content = rect().adjusted(kHorizontalPadding + 2, 2, -kHorizontalPadding - 2, -2);
    const QIcon icon = state_.isRecording ? symbolIcon(QStringLiteral("record.circle.fill"),
                                                       recordingColour(palette()))
                                          : symbolIcon(QStringLiteral("circle"), secondary);
    const QRect iconRect(content.right() - kIconSize, content.center().y() - kIconSize / 2,
                         kIconSize, kIconSize);
    icon.paint(&p, iconRect);

    const QRect textArea = content.adjusted(0, 0, -kIconSize - 6, 0);
    const bool placeholder = state_.showsPlaceholder(isFromField_);
    const QString detail = detailText();
    const QFontMetrics main(font());
    const QFont small = smallCaptionFont(font());
    const QFontMetrics caption(small);
    const int blockHeight = main.height() + (detail.isEmpty() ? 0 : caption.height() + 2);
    int y = textArea.center().y() - blockHeight / 2;

    p.setPen(placeholder ? secondary : text);
    p.setFont(font());
    p.drawText(QRect(textArea.left(), y, textArea.width(), main.height()),
               Qt::AlignLeft | Qt::AlignVCenter,
               main.elidedText(mainText(), Qt::ElideRight, textArea.width()));
    if (!detail.isEmpty()) {
        y += main.height() + 2;
        p.setPen(secondary);
        p.setFont(small);
        p.drawText(QRect(textArea.left(), y, textArea.width(), caption.height()),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   caption.elidedText(detail, Qt::ElideRight, textArea.width()));
    }
}

} // namespace chordwell::app
