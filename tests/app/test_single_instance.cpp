// One instance per user: the lock, the hand-over through the local socket,
// and what the main window says on a desktop without a tray.
#include "app_test_support.hpp"

#include "app/shell/single_instance.hpp"
#include "app/shell/tray_notice.hpp"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <vector>

using chordwell::app::SingleInstance;

TEST(SingleInstance, FirstClaimIsPrimaryLaterOnesHandOverUntilItEnds) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    auto first = std::make_unique<SingleInstance>(folder.path());
    QSignalSpy shown(first.get(), &SingleInstance::activationRequested);
    ASSERT_EQ(first->claim(), SingleInstance::Claim::primary);

    for (int launch = 1; launch <= 2; ++launch) {
        SingleInstance later(folder.path());
        EXPECT_EQ(later.claim(), SingleInstance::Claim::handedOver) << "launch " << launch;
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown.count() == launch; }, 2000))
            << "the first instance is asked to show its window, once per launch";
    }

    first.reset(); // the first instance ends: the next launch is the one
    SingleInstance next(folder.path());
    EXPECT_EQ(next.claim(), SingleInstance::Claim::primary);
}

TEST(SingleInstance, LockOfAProcessThatIsGoneDoesNotStopALaunch) {
    QTemporaryDir folder;
    SingleInstance probe(folder.path());
    // A lock file as a crashed instance leaves it: a process id that is not
    // running, and its socket file still there.
    {
        QFile lock(probe.lockPath());
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
        lock.write("2147483646\nchordwell\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        QFile socket(probe.socketPath());
        ASSERT_TRUE(socket.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(probe.claim(), SingleInstance::Claim::primary);
}

// A lock file is only as good as the process that holds it: whatever stands
// in its place (empty, garbage, another host's, days old, a folder, a FIFO,
// a link) lets the launch start at once and protected; what is no regular
// file is moved aside, never followed.
TEST(SingleInstance, NoLeftoverLockFileKeepsTheUserOut) {
    struct Case {
        const char* what;
        std::function<void(const QString& lock, const QString& folder)> make;
        bool setAside;
    };
    const auto write = [](const QString& lock, const QByteArray& text) {
        QFile file(lock);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    const Case cases[] = {
        {"empty", [&](const QString& lock, const QString&) { write(lock, ""); }, false},
        {"garbage",
         [&](const QString& lock, const QString&) {
             write(lock, QByteArray("\xff\x00\x1b[2J", 6));
         },
         false},
        {"another host's, two days old",
         [&](const QString& lock, const QString&) {
             write(lock, "1\nchordwell\nelsewhere.example\n");
             QFile file(lock);
             ASSERT_TRUE(file.open(QIODevice::ReadWrite));
             file.setFileTime(QDateTime::currentDateTime().addDays(-2),
                              QFileDevice::FileModificationTime);
         },
         false},
        {"a folder",
         [](const QString& lock, const QString&) { ASSERT_TRUE(QDir().mkpath(lock + "/inside")); },
         true},
        {"a FIFO",
         [](const QString& lock, const QString&) {
             ASSERT_EQ(::mkfifo(QFile::encodeName(lock).constData(), 0600), 0);
         },
         true},
        {"a link to a file",
         [&](const QString& lock, const QString& folder) {
             write(folder + "/elsewhere", "keep");
             ASSERT_TRUE(QFile::link(folder + "/elsewhere", lock));
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        SingleInstance instance(folder.path());
        c.make(instance.lockPath(), folder.path());
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(instance.claim(), SingleInstance::Claim::primary);
        EXPECT_LT(clock.elapsed(), 1000) << "no waiting for an answer nobody gives";
        EXPECT_TRUE(instance.isProtected());
        EXPECT_EQ(QFileInfo::exists(instance.lockPath() + ".unusable"), c.setAside);
        SingleInstance later(folder.path());
        EXPECT_EQ(later.claim(), SingleInstance::Claim::handedOver) << "and it protects";
    }
}

// A runtime folder that cannot hold the lock (gone, a file, read-only): the
// application starts all the same, without the protection.
TEST(SingleInstance, AFolderThatCannotHoldTheLockStillLetsItStart) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    QFile file(root.filePath(QStringLiteral("a-file")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    std::vector<QString> folders = {root.filePath(QStringLiteral("missing")), file.fileName()};
    const QString readOnly = root.filePath(QStringLiteral("read-only"));
    if (::geteuid() != 0) { // root writes into read-only folders
        ASSERT_TRUE(QDir().mkpath(readOnly));
        ASSERT_TRUE(
            QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        folders.push_back(readOnly);
    }
    for (const QString& folder : folders) {
        SCOPED_TRACE(folder.toStdString());
        SingleInstance instance(folder);
        EXPECT_EQ(instance.claim(), SingleInstance::Claim::primary);
        EXPECT_FALSE(instance.isProtected());
    }
    QFile::setPermissions(readOnly,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST(SingleInstance, LiveLockWithoutAnswerIsReportedNotIgnored) {
    QTemporaryDir folder;
    SingleInstance probe(folder.path());
    QLockFile holder(probe.lockPath()); // this process holds it, nobody listens
    ASSERT_TRUE(holder.tryLock(0));
    EXPECT_EQ(probe.claim(), SingleInstance::Claim::unanswered);
}

TEST(TrayNotice, SaidOnlyWhereTheDesktopHasNoTray) {
    EXPECT_FALSE(chordwell::app::noTrayNotice(true).has_value());
#ifdef __APPLE__
    EXPECT_FALSE(chordwell::app::noTrayNotice(false).has_value());
#else
    const auto notice = chordwell::app::noTrayNotice(false);
    ASSERT_TRUE(notice.has_value());
    // What to install, and how to get the window back.
    EXPECT_NE(notice->text.find("gnome-shell-extension-appindicator"), std::string::npos);
    EXPECT_NE(notice->text.find("launch Chordwell again"), std::string::npos);
#endif
}

#include "app/shell/chordwell_app.hpp"
#include "app/shell/main_window.hpp"

#include <QLabel>

#include <cstdlib>
#include <fstream>

// The real application on the simulated platform, on the offscreen
// platform, which has no tray: the main window says so once, closing it
// keeps the application, and a later launch brings it back.
TEST(TrayNotice, MainWindowOfTheApplicationSaysItOnceAndComesBack) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        GTEST_SKIP() << "this display has a tray";
    }
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const std::string root = home.path().toStdString();
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    const std::string script = root + "/script";
    std::ofstream(script) << "keyboard kb vendor=0x05AC product=0x024F name=\"Magic Keyboard\"\n";

    chordwell::app::AppOptions options;
    options.simulateScript = script;
    chordwell::app::ChordwellApp app(options);
    std::string error;
    ASSERT_TRUE(app.start(error)) << error;
    chordwell::app::MainWindow* window = app.mainWindow();
    ASSERT_NE(window, nullptr);

    const auto noticesShown = [&] {
        int count = 0;
        for (const QLabel* label : window->findChildren<QLabel*>(QStringLiteral("bannerText"))) {
            count += label->text().contains(QStringLiteral("no system tray")) ? 1 : 0;
        }
        return count;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return noticesShown() == 1; }, 3000));
    QTest::qWait(1200); // a later poll of the notices does not repeat it
    EXPECT_EQ(noticesShown(), 1);

    window->close();
    EXPECT_FALSE(window->isVisible());
    app.showMainWindow();
    EXPECT_TRUE(window->isVisible());
}
