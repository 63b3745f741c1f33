#include "app/help/help_window.hpp"

#include "app/controls/window_shortcuts.hpp"
#include "app/help/help_view.hpp"

#include <QVBoxLayout>

namespace chordwell::app {

HelpWindow::HelpWindow(HelpView* view, QWidget* parent) : QWidget(parent, Qt::Window), view_(view) {
    setObjectName(QStringLiteral("help"));
    setWindowTitle(QStringLiteral("Help"));
    setMinimumSize(360, 400);
    resize(520, 640);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_);
    addCloseShortcuts(this);
}

} // namespace chordwell::app
