// The large on / off switch of the main window: the host's label, the state
// word, a state symbol on a coloured capsule and a caption saying what a
// click does. It shows the state it is given and reports the wish to flip
// it; the host decides and calls setOn() with the state that resulted.
#pragma once

#include <QAbstractButton>
#include <QIcon>
#include <QString>

class QPainter;
class QVariantAnimation;

namespace chordwell::app {

class BigPowerToggle : public QAbstractButton {
    Q_OBJECT

public:
    explicit BigPowerToggle(QWidget* parent = nullptr);

    void setLabelText(const QString& label);
    QString labelText() const { return label_; }

    /// Shows `on`; a change animates with a spring-like curve.
    void setOn(bool on);
    bool isOn() const { return on_; }

    /// What the control shows for the current state.
    QString stateWord() const;
    QString captionText() const;
    QString stateSymbolName() const;

    /// The state word's colour: the readable green of "ON", else the text's.
    static QColor stateWordColour(const QPalette& palette, bool on, bool enabled);
    /// The caption's colour ("Click to … it").
    static QColor captionColour(const QPalette& palette, bool enabled);

    /// The animated position between off (0) and on (1); a spring may
    /// overshoot slightly while it settles.
    qreal onProgress() const { return progress_; }

    /// Easing of the flip: a damped spring with a response of 0.3 s and a
    /// damping fraction of 0.7, played over kFlipDurationMs.
    static qreal springEasing(qreal progress);
    static constexpr int kFlipDurationMs = 500;

    /// Without the caption line (it becomes the tooltip), for short windows.
    void setCompact(bool compact);
    bool isCompact() const { return compact_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    /// The user clicked: they wish the state to become `wishedState`.
    void toggleRequested(bool wishedState);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    /// A press never flips the shown state by itself (see setOn).
    void nextCheckState() override;

private:
    void updateAccessibleText();

    struct Metrics;
    Metrics layoutMetrics() const;
    void paintHoverAndFocus(QPainter& painter) const;
    void paintStateWord(QPainter& painter, const Metrics& m, const QRect& wordRect, qreal t) const;
    void paintStateSymbol(QPainter& painter, const Metrics& m, int x, int top, qreal t) const;

    QString label_;
    bool on_ = false;
    bool compact_ = false;
    bool hovering_ = false;
    qreal progress_ = 0.0;
    QVariantAnimation* flip_ = nullptr;
    QIcon offSymbol_;
    QIcon onSymbol_;
};

} // namespace chordwell::app
