#include "app/shell/window_placement.hpp"

#include <algorithm>
#include <array>

namespace chordwell::app {

namespace {

constexpr int kGap = 8;

// The content rectangle of a frame.
QRect contentOf(const QRect& frame) {
    return frame.adjusted(kWindowFrameWidth / 2, kWindowFrameHeight - kWindowFrameWidth / 2,
                          -kWindowFrameWidth / 2, -kWindowFrameWidth / 2);
}

// A content size that, framed, fits `room`.
QSize fitted(const QSize& wanted, const QSize& room) {
    return {std::min(wanted.width(), room.width() - kWindowFrameWidth),
            std::min(wanted.height(), room.height() - kWindowFrameHeight)};
}

} // namespace

QRect centredWithin(const QRect& over, const QSize& size, const QRect& available) {
    const QSize content = available.isValid() ? fitted(size, available.size()) : size;
    QRect frame(QPoint(0, 0),
                QSize(content.width() + kWindowFrameWidth, content.height() + kWindowFrameHeight));
    frame.moveCenter(over.center());
    if (available.isValid()) {
        frame.moveLeft(
            std::clamp(frame.left(), available.left(),
                       std::max(available.left(), available.right() + 1 - frame.width())));
        frame.moveTop(
            std::clamp(frame.top(), available.top(),
                       std::max(available.top(), available.bottom() + 1 - frame.height())));
    }
    return contentOf(frame);
}

QRect demoWindowPlace(const QRect& available, const QRect& mainFrame, const QRect& keep,
                      const QSize& wanted, const QSize& minimum) {
    // Free strips of the screen around the main window, in order of preference.
    const std::array<QRect, 4> beside = {
        QRect(QPoint(mainFrame.right() + 1 + kGap, available.top()), available.bottomRight()),
        QRect(available.topLeft(), QPoint(mainFrame.left() - 1 - kGap, available.bottom())),
        QRect(QPoint(available.left(), mainFrame.bottom() + 1 + kGap), available.bottomRight()),
        QRect(available.topLeft(), QPoint(available.right(), mainFrame.top() - 1 - kGap)),
    };
    // Then inside the main window's frame, above or beside the list.
    const std::array<QRect, 3> inside = {
        QRect(QPoint(available.left(), available.top()),
              QPoint(available.right(), keep.top() - 1 - kGap)),
        QRect(QPoint(keep.right() + 1 + kGap, available.top()), available.bottomRight()),
        QRect(available.topLeft(), QPoint(keep.left() - 1 - kGap, available.bottom())),
    };
    const auto fits = [&](const QRect& room) {
        return room.width() - kWindowFrameWidth >= minimum.width() &&
               room.height() - kWindowFrameHeight >= minimum.height();
    };
    const auto place = [&](const QRect& room, bool nearMain) {
        const QSize content = fitted(wanted, room.size());
        QRect frame(room.topLeft(), QSize(content.width() + kWindowFrameWidth,
                                          content.height() + kWindowFrameHeight));
        if (nearMain) {
            // Level with the main window's top where the strip allows.
            const int top = std::clamp(mainFrame.top(), room.top(),
                                       std::max(room.top(), room.bottom() + 1 - frame.height()));
            frame.moveTop(top);
        }
        return contentOf(frame);
    };
    for (const QRect& room : beside) {
        const QRect free = room.intersected(available);
        if (fits(free)) {
            return place(free, true);
        }
    }
    for (const QRect& room : inside) {
        const QRect free = room.intersected(available);
        if (keep.isValid() && fits(free)) {
            return place(free, false);
        }
    }
    // Nowhere free: the corner where the smallest window covers least of
    // `keep`, over whatever else is there.
    const QRect frame(QPoint(0, 0),
                      QSize(std::min(minimum.width() + kWindowFrameWidth, available.width()),
                            std::min(minimum.height() + kWindowFrameHeight, available.height())));
    QRect best;
    long long covered = -1;
    for (const bool right : {true, false}) {
        for (const bool bottom : {true, false}) {
            QRect candidate = frame;
            if (right) {
                candidate.moveRight(available.right());
            } else {
                candidate.moveLeft(available.left());
            }
            if (bottom) {
                candidate.moveBottom(available.bottom());
            } else {
                candidate.moveTop(available.top());
            }
            const QRect over = candidate.intersected(keep);
            const long long area =
                over.isEmpty() ? 0 : static_cast<long long>(over.width()) * over.height();
            if (covered < 0 || area < covered) {
                covered = area;
                best = candidate;
            }
        }
    }
    return contentOf(best);
}

} // namespace chordwell::app
