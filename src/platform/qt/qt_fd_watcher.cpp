#include "platform/qt/qt_fd_watcher.hpp"

#include <QSocketNotifier>

namespace chordwell::platform::qt {

QtFdWatcher::QtFdWatcher() : context_(std::make_unique<QObject>()) {}

QtFdWatcher::~QtFdWatcher() {
    for (auto& [id, watch] : watches_) {
        (void)id;
        delete watch.notifier;
    }
}

FdWatcher::WatchId QtFdWatcher::watchReadable(int fd, std::function<void()> onReadable) {
    if (fd < 0 || !onReadable) {
        return 0;
    }
    const WatchId id = nextId_++;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, context_.get());
    auto callback = std::make_shared<std::function<void()>>(std::move(onReadable));
    QObject::connect(notifier, &QSocketNotifier::activated, context_.get(), [this, id]() {
        auto it = watches_.find(id);
        if (it == watches_.end()) {
            return;
        }
        // The callback may unwatch itself (the device went away).
        std::shared_ptr<std::function<void()>> keep = it->second.callback;
        (*keep)();
    });
    watches_.emplace(id, Watch{notifier, std::move(callback)});
    return id;
}

void QtFdWatcher::unwatch(WatchId id) {
    auto it = watches_.find(id);
    if (it == watches_.end()) {
        return;
    }
    it->second.notifier->setEnabled(false);
    // It may be the sender of the signal being delivered right now.
    it->second.notifier->deleteLater();
    watches_.erase(it);
}

} // namespace chordwell::platform::qt
