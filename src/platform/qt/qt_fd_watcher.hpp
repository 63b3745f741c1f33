// The file-descriptor watcher on Qt's event loop: one QSocketNotifier per
// watched descriptor.
#pragma once

#include "ports/fd_watcher.hpp"

#include <QObject>

#include <functional>
#include <memory>
#include <unordered_map>

class QSocketNotifier;

namespace chordwell::platform::qt {

class QtFdWatcher : public FdWatcher {
public:
    QtFdWatcher();
    ~QtFdWatcher() override;
    QtFdWatcher(const QtFdWatcher&) = delete;
    QtFdWatcher& operator=(const QtFdWatcher&) = delete;

    WatchId watchReadable(int fd, std::function<void()> onReadable) override;
    void unwatch(WatchId id) override;

    std::size_t watchCount() const { return watches_.size(); }

private:
    struct Watch {
        QSocketNotifier* notifier = nullptr;
        std::shared_ptr<std::function<void()>> callback;
    };

    std::unique_ptr<QObject> context_;
    WatchId nextId_ = 1;
    std::unordered_map<WatchId, Watch> watches_;
};

} // namespace chordwell::platform::qt
