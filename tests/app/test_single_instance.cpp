// One instance per user: the lock, the hand-over through the local socket,
// and what the main window says on a desktop without a tray.
#include "app_test_support.hpp"

#include "app/shell/single_instance.hpp"
#include "app/shell/tray_notice.hpp"

#include <QLockFile>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

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
