#include "app/settings/settings_window.hpp"

#include "app/controls/window_role.hpp"
#include "app/controls/window_shortcuts.hpp"
#include "app/settings/settings_view.hpp"

#include <QEvent>
#include <QMetaObject>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace chordwell::app {

SettingsWindow::SettingsWindow(SettingsView* view, QWidget* parent)
    : QWidget(parent, Qt::Window), view_(view) {
    // First: a screen reader may ask what the window is as soon as it has a title.
    announceAsWindow(this);
    setObjectName(QStringLiteral("settings"));
    setWindowTitle(QStringLiteral("Settings"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    scrollArea_ = new QScrollArea(this);
    scrollArea_->setObjectName(QStringLiteral("settingsScrollArea"));
    scrollArea_->setFrameShape(QFrame::NoFrame);
    scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scrollArea_->setWidgetResizable(true);
    scrollArea_->setWidget(view_);
    // Keyboard focus moving down the page brings the focused control into
    // view, as it does in any scrolling form.
    scrollArea_->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(scrollArea_);
    view_->installEventFilter(this);
    addCloseShortcuts(this);
}

int SettingsWindow::availableHeight() const {
    const QScreen* screen = this->screen();
    if (screen == nullptr) {
        return 0;
    }
    return screen->availableGeometry().height();
}

void SettingsWindow::fitToAvailableHeight(int available) {
    lastAvailable_ = available;
    const int content = view_->sizeHint().height();
    const int limit = available > 0 ? std::max(200, available - kFrameAllowance) : content;
    const int height = std::min(content, limit);
    const bool scrolls = height < content;
    const int scrollBar =
        scrolls ? style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scrollArea_) : 0;
    const int width = SettingsView::kContentWidth + scrollBar;
    // The width is the content's; the height may shrink down to a few
    // sections and grow up to all of them.
    setFixedWidth(width);
    setMinimumHeight(std::min(content, 200));
    setMaximumHeight(content);
    resize(width, height);
}

void SettingsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        fitToAvailableHeight(availableHeight());
    }
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::LayoutRequest && isVisible()) {
        // Rows and the status line come and go: follow the content's height
        // once the view has laid itself out again.
        QMetaObject::invokeMethod(
            this,
            [this] {
                fitToAvailableHeight(lastAvailable_ > 0 ? lastAvailable_ : availableHeight());
            },
            Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace chordwell::app
