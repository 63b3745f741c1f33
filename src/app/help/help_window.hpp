// The help window ("help", titled "Help"): the help page, closed with
// Escape or Ctrl+W (⌘W) like the settings window.
#pragma once

#include <QRect>
#include <QWidget>

namespace chordwell::app {

class HelpView;

class HelpWindow : public QWidget {
    Q_OBJECT

public:
    /// Takes `view` as its content.
    explicit HelpWindow(HelpView* view, QWidget* parent = nullptr);

    HelpView* view() const { return view_; }

    /// Sizes the window to lie within `available` (a short screen gets a
    /// shorter window; the page scrolls).
    void fitInto(const QRect& available);

private:
    HelpView* view_ = nullptr;
};

} // namespace chordwell::app
