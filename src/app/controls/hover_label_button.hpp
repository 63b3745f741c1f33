// A small plain button: a symbol followed by a text label. The label can be
// kept hidden until the pointer is over the button, where it fades in.
// The header's Import / Export / Clear All buttons and the run / stop button
// are made of it.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QIcon>
#include <QString>

class QVariantAnimation;

namespace chordwell::app {

class HoverLabelButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit HoverLabelButton(QWidget* parent = nullptr);
    HoverLabelButton(const QString& sfSymbolName, const QString& label, const QString& toolTip,
                     QWidget* parent = nullptr);
    ~HoverLabelButton() override;

    /// The symbol drawn before the label (a name symbolIcon() knows).
    void setSymbol(const QString& sfSymbolName);
    QString symbol() const { return symbolName_; }

    /// When true, the label shows only while the pointer is over the button.
    void setShowLabelOnlyOnHover(bool onlyOnHover);
    bool showLabelOnlyOnHover() const { return showLabelOnlyOnHover_; }

    bool isHovering() const { return hovering_; }
    /// Whether the label is (or is becoming) visible.
    bool isLabelShown() const;
    /// How far the label has faded in: 0 hidden, 1 fully shown.
    qreal labelReveal() const { return labelReveal_; }

    /// Duration of the label's fade, in milliseconds.
    static constexpr int kLabelFadeMs = 200;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

    /// Draws what lies behind the symbol and label; the plain button only
    /// shows a faint highlight while hovered.
    virtual void paintBackground(QPainter& painter, const QRectF& bounds);
    /// The colour of the symbol and the label.
    virtual QColor contentColour() const;
    /// Size of the symbol in device-independent pixels.
    virtual int symbolSize() const;
    /// Font of the label.
    virtual QFont labelFont() const;
    /// Padding between the border and the content.
    virtual QMargins contentPadding() const;
    /// How far inside the button's edge the keyboard focus ring is drawn.
    virtual qreal focusRingInset() const { return 1.0; }

    /// Moves the label towards its wanted visibility (animated or at once).
    void updateLabelVisibility(bool animated);

private:
    void initialise();
    QIcon tintedSymbol() const;

    QString symbolName_;
    bool showLabelOnlyOnHover_ = false;
    bool hovering_ = false;
    qreal labelReveal_ = 1.0;
    QVariantAnimation* fade_ = nullptr;
    mutable QIcon cachedIcon_;
    mutable QColor cachedIconColour_;
    mutable QString cachedIconSymbol_;
};

} // namespace chordwell::app
