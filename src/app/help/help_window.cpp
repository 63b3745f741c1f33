#include "app/help/help_window.hpp"

#include "app/controls/window_role.hpp"
#include "app/controls/window_shortcuts.hpp"
#include "app/help/help_view.hpp"

#include "app/shell/window_placement.hpp"

#include <QVBoxLayout>

#include <algorithm>

namespace chordwell::app {

HelpWindow::HelpWindow(HelpView* view, QWidget* parent) : QWidget(parent, Qt::Window), view_(view) {
    // First: a screen reader may ask what the window is as soon as it has a title.
    announceAsWindow(this);
    setObjectName(QStringLiteral("help"));
    setWindowTitle(QStringLiteral("Help"));
    setMinimumSize(360, 400);
    resize(520, 640);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_);
    addCloseShortcuts(this);
}

void HelpWindow::fitInto(const QRect& available) {
    if (!available.isValid()) {
        return;
    }
    // Never taller or wider than the free area, frame included.
    const QSize room(std::max(240, available.width() - kWindowFrameWidth),
                     std::max(200, available.height() - kWindowFrameHeight));
    setMinimumSize(std::min(360, room.width()), std::min(400, room.height()));
    resize(std::min(width(), room.width()), std::min(height(), room.height()));
}

} // namespace chordwell::app
