// Application-wide notifications between parts of the interface that do not
// know each other: the status menu asks, the main window acts.
#pragma once

#include <QObject>

namespace chordwell::app {

class AppEvents : public QObject {
    Q_OBJECT

public:
    /// The one instance of the process (created on first use, main thread).
    static AppEvents& instance();

    /// Posts "toggleIntercept": delivered synchronously to every receiver
    /// connected now, with no arguments.
    void postToggleIntercept() { Q_EMIT toggleIntercept(); }

Q_SIGNALS:
    void toggleIntercept();

private:
    AppEvents() = default;
};

} // namespace chordwell::app
