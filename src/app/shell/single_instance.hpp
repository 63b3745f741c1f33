// One Chordwell per user. Two instances would fight over the keyboards
// (the second one's grab fails, or both swallow keys), and the application
// is launched from several places: the application menu, the login item,
// and by hand.
//
// The first instance holds a lock file in the user's runtime folder and
// listens on a local socket beside it. A later launch finds the lock taken,
// asks the running instance through the socket to show its main window, and
// ends. This works whether or not the desktop has a tray, and it leaves
// `chordwellctl`, which takes no lock, free to read beside the application.
//
// The lock is the kernel's (flock), held for the life of the process, so
// only a live instance keeps a later launch out: a lock file left empty,
// garbled, by a crash or by another host is simply taken over, one that is
// no regular file is moved aside, and a runtime folder that cannot be
// written lets the application start without the protection (with a
// warning). A lock is never waited on.
#pragma once

#include "fileio/file_io.hpp"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QLocalServer;

namespace chordwell::app {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Claim {
        primary,    // this process is the one instance; it listens for later launches
        handedOver, // another instance runs and was asked to show its window
        unanswered, // another instance holds the lock but does not answer
    };

    /// `folder`: where the lock and the socket live (the runtime folder).
    explicit SingleInstance(const QString& folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    /// The user's runtime folder (XDG_RUNTIME_DIR on Linux), else the
    /// temporary folder.
    static QString defaultFolder();

    /// Takes the lock or hands over; waits at most about 1.5 s for a running
    /// instance that is still starting to answer. `primary` also when no
    /// lock can be made at all (see isProtected()).
    Claim claim();
    /// Whether the primary instance holds the lock (false when the runtime
    /// folder cannot hold one: then nothing keeps a second instance out).
    bool isProtected() const { return lock_.has_value(); }

    QString lockPath() const { return lockPath_; }
    QString socketPath() const { return socketPath_; }

Q_SIGNALS:
    /// Another launch asked this instance to show its main window.
    void activationRequested();

private:
    bool listen();
    bool handOver();

    QString lockPath_;
    QString socketPath_;
    std::optional<fileio::FileLock> lock_;
    QLocalServer* server_ = nullptr;
};

} // namespace chordwell::app
