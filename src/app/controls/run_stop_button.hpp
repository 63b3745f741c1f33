// The compact run / stop button of the mapping list's header. It shows the
// state the host gives it and reports what the user asks for; it never
// changes that state itself.
#pragma once

#include "app/controls/hover_label_button.hpp"

namespace chordwell::app {

class RunStopButton : public HoverLabelButton {
    Q_OBJECT

public:
    explicit RunStopButton(QWidget* parent = nullptr);

    /// Whether the controlled activity runs: "Stop" with an orange border
    /// when true, "Run" with a green one when false.
    void setRunning(bool running);
    bool isRunning() const { return running_; }

    /// The border colours of the two states, readable on the palette's window.
    static QColor runningBorderColour(const QPalette& palette);
    static QColor stoppedBorderColour(const QPalette& palette);

Q_SIGNALS:
    /// The user asked to start (pressed while stopped).
    void runRequested();
    /// The user asked to stop (pressed while running).
    void stopRequested();

protected:
    void paintBackground(QPainter& painter, const QRectF& bounds) override;
    QColor contentColour() const override;
    int symbolSize() const override;
    QFont labelFont() const override;
    QMargins contentPadding() const override;
    qreal focusRingInset() const override;

private:
    void applyState();

    bool running_ = false;
};

} // namespace chordwell::app
