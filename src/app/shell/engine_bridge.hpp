// The engine's "will change" announcements as one Qt signal. The engine
// announces a change before it happens and may announce many in one turn
// of the event loop (a key press changes the held keys twice); the views
// want to redraw once, after the changes. So every announcement schedules
// at most one queued `changed()` per turn.
#pragma once

#include "engine/raw_keyboard_listener.hpp"

#include <QObject>

namespace chordwell::app {

class EngineBridge : public QObject {
    Q_OBJECT

public:
    explicit EngineBridge(RawKeyboardListener& engine, QObject* parent = nullptr);

    RawKeyboardListener& engine() const { return engine_; }
    /// A redraw is scheduled and has not run yet.
    bool isRefreshPending() const { return pending_; }

Q_SIGNALS:
    /// The engine's published state changed; re-read what you show.
    void changed();

private:
    void announce();

    RawKeyboardListener& engine_;
    Subscription subscription_;
    bool pending_ = false;
};

} // namespace chordwell::app
