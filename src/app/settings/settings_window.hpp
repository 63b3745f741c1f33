// The settings window: the settings view in a vertical scroll area. The
// window is as tall as its content when the screen has room and scrolls
// otherwise (a 768-pixel screen, larger fonts or scaling).
#pragma once

#include <QWidget>

class QScrollArea;

namespace chordwell::app {

class SettingsView;

class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    /// Takes `view` as its content.
    explicit SettingsWindow(SettingsView* view, QWidget* parent = nullptr);

    SettingsView* view() const { return view_; }
    QScrollArea* scrollArea() const { return scrollArea_; }

    /// Sizes the window for a screen whose free area is `available` high:
    /// the content's height when it fits, else that height (the rest
    /// scrolls).
    void fitToAvailableHeight(int available);

    /// Room a window frame takes above and below the content.
    static constexpr int kFrameAllowance = 48;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int availableHeight() const;

    SettingsView* view_ = nullptr;
    QScrollArea* scrollArea_ = nullptr;
    int lastAvailable_ = 0;
};

} // namespace chordwell::app
