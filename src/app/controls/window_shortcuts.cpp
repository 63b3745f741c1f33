#include "app/controls/window_shortcuts.hpp"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

namespace chordwell::app {

void addCloseShortcuts(QWidget* widget) {
    if (widget == nullptr) {
        return;
    }
    // Qt's Control is the Command key on macOS, so this is ⌘W there.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(keys, widget);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, widget,
                         [widget] { widget->window()->close(); });
    }
}

} // namespace chordwell::app
