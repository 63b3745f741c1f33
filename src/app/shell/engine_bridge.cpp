#include "app/shell/engine_bridge.hpp"

#include <QMetaObject>

namespace chordwell::app {

EngineBridge::EngineBridge(RawKeyboardListener& engine, QObject* parent)
    : QObject(parent), engine_(engine),
      subscription_(engine.subscribeWillChange([this] { announce(); })) {}

void EngineBridge::announce() {
    // Called on the key path: no allocation once a refresh is pending.
    if (pending_) {
        return;
    }
    pending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            pending_ = false;
            Q_EMIT changed();
        },
        Qt::QueuedConnection);
}

} // namespace chordwell::app
