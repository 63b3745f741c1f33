#include "app/shell/single_instance.hpp"

#include "logging/log.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

namespace chordwell::app {

namespace {
constexpr std::string_view kCategory = "ui";
const QByteArray kShowRequest = QByteArrayLiteral("show\n");
constexpr int kAnswerBudgetMs = 1500;
} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), lockPath_(QDir(folder).filePath(QStringLiteral("chordwell.lock"))),
      socketPath_(QDir(folder).filePath(QStringLiteral("chordwell.socket"))) {}

SingleInstance::~SingleInstance() {
    if (server_ != nullptr) {
        server_->close(); // removes the socket file
    }
}

QString SingleInstance::defaultFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return folder;
}

SingleInstance::Claim SingleInstance::claim() {
    const std::filesystem::path path = lockPath_.toStdString();
    // What a later launch (or an older Chordwell) reads: process id, program
    // and host, one a line.
    const std::string holder = std::to_string(QCoreApplication::applicationPid()) +
                               "\nchordwell\n" + QSysInfo::machineHostName().toStdString() + "\n";
    QElapsedTimer elapsed;
    elapsed.start();
    do {
        fileio::FileLockAttempt attempt = fileio::tryLockFile(path, holder);
        if (attempt.setAside) {
            log(LogLevel::warning,
                "The single-instance lock " + path.string() +
                    " was not a regular file; moved it to " + attempt.setAside->string() + ".",
                kCategory);
        }
        if (attempt.lock) {
            lock_ = std::move(attempt.lock);
            if (!listen()) {
                log(LogLevel::warning,
                    "Cannot listen for later launches at " + socketPath_.toStdString() +
                        "; launching Chordwell again will not show this window.",
                    kCategory);
            }
            return Claim::primary;
        }
        if (!attempt.heldElsewhere) {
            // No lock can be made here (a read-only runtime folder, a file
            // system without locks): starting unprotected beats not starting.
            log(LogLevel::warning,
                "Cannot take the single-instance lock " + path.string() + " (" +
                    attempt.error.message() +
                    "); Chordwell starts without protection against a second instance.",
                kCategory);
            return Claim::primary;
        }
        if (handOver()) {
            return Claim::handedOver;
        }
        // The running instance may hold the lock but not listen yet.
        QThread::msleep(50);
    } while (elapsed.elapsed() < kAnswerBudgetMs);
    return Claim::unanswered;
}

bool SingleInstance::listen() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by an instance that crashed: the lock is ours, so
    // nobody listens on it any more.
    QLocalServer::removeServer(socketPath_);
    if (!server_->listen(socketPath_)) {
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().contains(kShowRequest)) {
                    log(LogLevel::info, "Chordwell was launched again; showing the main window.",
                        kCategory);
                    Q_EMIT activationRequested();
                }
                client->disconnectFromServer();
            });
        }
    });
    return true;
}

bool SingleInstance::handOver() {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(300)) {
        return false;
    }
    socket.write(kShowRequest);
    const bool sent = socket.waitForBytesWritten(500);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) {
        socket.waitForDisconnected(300);
    }
    return sent;
}

} // namespace chordwell::app
