#include "app/shell/engine_bridge.hpp"

#include "engine/raw_keyboard_listener.hpp"

#include <QMetaObject>
#include <QSocketNotifier>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace chordwell::app {

namespace {

#if defined(Q_OS_UNIX)
bool makeWakePipe(int& readEnd, int& writeEnd) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return false;
    }
    for (int fd : fds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    readEnd = fds[0];
    writeEnd = fds[1];
    return true;
}
#endif

} // namespace

EngineBridge::EngineBridge(RawKeyboardListener& engine, QObject* parent)
    : QObject(parent), engine_(engine) {
#if defined(Q_OS_UNIX)
    if (makeWakePipe(wakeRead_, wakeWrite_)) {
        notifier_ = new QSocketNotifier(wakeRead_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            char drain[64];
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
            deliver();
        });
    }
#endif
    // Held keys and pass-throughs change at every key press while
    // intercepting and no view shows them: leaving them out keeps the key
    // path from waking the main thread for every key it handles on a
    // thread of its own.
    EngineChanges shown;
    const std::uint32_t every = everyChange().bits();
    for (std::uint32_t bit = 1; bit != 0 && bit <= every; bit <<= 1) {
        const auto kind = static_cast<EngineChange>(bit);
        if ((every & bit) != 0 && kind != EngineChange::heldKeys &&
            kind != EngineChange::passThroughs) {
            shown |= EngineChanges(kind);
        }
    }
    subscription_ =
        engine.subscribeChanges([this](const EngineChanges& what) { announce(what); }, shown);
}

EngineBridge::~EngineBridge() {
    subscription_.cancel();
    delete notifier_;
#if defined(Q_OS_UNIX)
    if (wakeRead_ >= 0) {
        ::close(wakeRead_);
        ::close(wakeWrite_);
    }
#endif
}

EngineChanges EngineBridge::everyChange() {
    EngineChanges all;
    for (std::uint32_t bit = 1;
         bit != 0 && bit <= static_cast<std::uint32_t>(EngineChange::keyboardLayout); bit <<= 1) {
        all |= EngineChanges(static_cast<EngineChange>(bit));
    }
    return all;
}

void EngineBridge::announce(const EngineChanges& what) {
    collected_ |= what;
    if (pending_) {
        return;
    }
    pending_ = true;
#if defined(Q_OS_UNIX)
    if (wakeWrite_ >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up: nothing is lost.
        (void)!::write(wakeWrite_, &byte, 1);
        return;
    }
#endif
    QMetaObject::invokeMethod(this, &EngineBridge::deliver, Qt::QueuedConnection);
}

void EngineBridge::deliver() {
    if (!pending_) {
        return;
    }
    pending_ = false;
    delivered_ = collected_;
    collected_ = EngineChanges();
    Q_EMIT changed();
}

} // namespace chordwell::app
