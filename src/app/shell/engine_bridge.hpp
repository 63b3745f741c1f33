// The engine's change announcements as one Qt signal. The engine announces
// a change before it happens and may announce many in one turn of the event
// loop (a key press changes the held keys twice); the views want to redraw
// once, after the changes. So every announcement schedules at most one
// queued `changed()` per turn, and the kinds announced meanwhile are united
// so that each view can skip what it does not show (`deliveredChanges()`).
//
// Announcements come from the key-event path, which must not allocate: the
// wake-up is one byte written to a pipe that the event loop watches, not a
// posted event (which Qt allocates).
#pragma once

#include "engine/engine_changes.hpp"
#include "engine/observable.hpp"

#include <QObject>

class QSocketNotifier;

namespace chordwell {
class RawKeyboardListener;
} // namespace chordwell

namespace chordwell::app {

class EngineBridge : public QObject {
    Q_OBJECT

public:
    explicit EngineBridge(RawKeyboardListener& engine, QObject* parent = nullptr);
    ~EngineBridge() override;

    RawKeyboardListener& engine() const { return engine_; }
    /// A redraw is scheduled and has not run yet.
    bool isRefreshPending() const { return pending_; }

    /// What the engine's announcement does (public for tests); without an
    /// argument: every kind changed.
    void announce(const EngineChanges& what = everyChange());
    static EngineChanges everyChange();

    /// During `changed()`: the kinds announced since the last delivery.
    const EngineChanges& deliveredChanges() const { return delivered_; }

Q_SIGNALS:
    /// The engine's published state changed; re-read what you show (see
    /// deliveredChanges()).
    void changed();

private:
    void deliver();

    RawKeyboardListener& engine_;
    Subscription subscription_;
    bool pending_ = false;
    EngineChanges collected_;
    EngineChanges delivered_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace chordwell::app
