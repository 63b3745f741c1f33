// The Qt adapters of the ports: scheduler on the event loop, QSettings
// preferences, the XDG login item and the desktop services that can run
// without a desktop.
#include "platform/qt/qt_desktop.hpp"
#include "platform/qt/qt_preferences.hpp"
#include "platform/qt/qt_scheduler.hpp"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using chordwell::platform::LoginItemStatus;
using chordwell::platform::PreferenceValue;
using chordwell::platform::qt::QtDesktop;
using chordwell::platform::qt::QtPreferences;
using chordwell::platform::qt::QtScheduler;
using chordwell::platform::qt::XdgAutostartLoginItem;

namespace {

// Generous bound: the conditions become true within milliseconds; the bound
// only keeps a broken scheduler from hanging the run.
constexpr int kEventLoopBoundMs = 5000;

} // namespace

TEST(QtScheduler, PostedWorkRunsLaterInPostingOrder) {
    QtScheduler scheduler;
    std::vector<int> order;
    scheduler.postToMain([&] { order.push_back(1); });
    scheduler.postToMain([&] { order.push_back(2); });
    order.push_back(0); // the caller's own work finishes first
    EXPECT_TRUE(QTest::qWaitFor([&] { return order.size() == 3; }, kEventLoopBoundMs));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(QtScheduler, OneShotFiresOnceAndCancelledTimersNever) {
    QtScheduler scheduler;
    int fired = 0;
    int cancelled = 0;
    const auto keep = scheduler.scheduleOnce(1ms, [&] { ++fired; });
    const auto drop = scheduler.scheduleOnce(1ms, [&] { ++cancelled; });
    EXPECT_NE(keep, 0u);
    EXPECT_NE(keep, drop);
    scheduler.cancel(drop);
    scheduler.cancel(drop);  // twice is harmless
    scheduler.cancel(12345); // unknown too
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired == 1; }, kEventLoopBoundMs));
    QTest::qWait(20);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(cancelled, 0);
    EXPECT_EQ(scheduler.pendingTimerCount(), 0u);
}

TEST(QtScheduler, RepeatingTimerKeepsFiringUntilItCancelsItself) {
    QtScheduler scheduler;
    int fired = 0;
    chordwell::platform::Scheduler::TimerId id = 0;
    id = scheduler.scheduleRepeating(1ms, 1ms, [&] {
        if (++fired == 3) {
            scheduler.cancel(id); // from inside its own callback
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired >= 3; }, kEventLoopBoundMs));
    QTest::qWait(20);
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(scheduler.pendingTimerCount(), 0u);
}

TEST(QtScheduler, DestroyingTheSchedulerDropsPendingWork) {
    int ran = 0;
    {
        QtScheduler scheduler;
        scheduler.postToMain([&] { ++ran; });
        scheduler.scheduleOnce(0ms, [&] { ++ran; });
    }
    QTest::qWait(20);
    EXPECT_EQ(ran, 0);
}

TEST(QtScheduler, SlotsAreReusedAndStaleIdsDoNothing) {
    QtScheduler scheduler;
    int early = 0;
    int later = 0;
    const auto first = scheduler.scheduleRepeating(1h, 1h, [&] { ++early; });
    scheduler.cancel(first);
    const auto second = scheduler.scheduleOnce(1ms, [&] { ++later; });
    EXPECT_NE(first, second);
    EXPECT_EQ(scheduler.timerSlotCount(), 1u) << "the cancelled timer's slot is reused";
    scheduler.cancel(first); // the old id must not cancel the slot's new timer
    ASSERT_TRUE(QTest::qWaitFor([&] { return later == 1; }, kEventLoopBoundMs));
    EXPECT_EQ(early, 0);

    // A repeat that ends itself and arms another timer from its own task
    // (the running slot is not handed out under it).
    int repeats = 0;
    int follow = 0;
    chordwell::platform::Scheduler::TimerId id = 0;
    id = scheduler.scheduleRepeating(1ms, 1ms, [&] {
        ++repeats;
        scheduler.cancel(id);
        scheduler.scheduleOnce(1ms, [&] { ++follow; });
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return follow == 1; }, kEventLoopBoundMs));
    QTest::qWait(20);
    EXPECT_EQ(repeats, 1);
    EXPECT_EQ(follow, 1);
    EXPECT_EQ(scheduler.pendingTimerCount(), 0u);
    EXPECT_LE(scheduler.timerSlotCount(), 2u);
}

TEST(QtScheduler, ClockIsMonotonic) {
    QtScheduler scheduler;
    const auto a = scheduler.now();
    QTest::qWait(2);
    EXPECT_GT(scheduler.now(), a);
}

TEST(QtPreferences, StoredTextIsReadBackWithItsType) {
    struct Case {
        QVariant stored;
        bool textFormat;
        std::optional<PreferenceValue> expected;
    };
    const std::vector<Case> cases = {
        {QVariant(), true, std::nullopt},
        {QVariant(true), false, PreferenceValue{true}},
        {QVariant(0.25), false, PreferenceValue{0.25}},
        {QVariant(3), false, PreferenceValue{3.0}},
        {QVariant(QStringLiteral("false")), true, PreferenceValue{false}},
        {QVariant(QStringLiteral("true")), true, PreferenceValue{true}},
        {QVariant(QStringLiteral("0.05")), true, PreferenceValue{0.05}},
        {QVariant(QStringLiteral("nan")), true, PreferenceValue{std::string("nan")}},
        {QVariant(QStringLiteral("fast")), true, PreferenceValue{std::string("fast")}},
        // A typed store keeps the text a user wrote as text.
        {QVariant(QStringLiteral("false")), false, PreferenceValue{std::string("false")}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QtPreferences::fromStored(c.stored, c.textFormat), c.expected)
            << c.stored.toString().toStdString();
    }
}

TEST(QtPreferences, ValuesSurviveAFreshStoreOnTheSameFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("prefs.ini"));
    {
        QtPreferences prefs(std::make_unique<QSettings>(file, QSettings::IniFormat));
        prefs.setValue("key_repeat_enabled", false);
        prefs.setValue("key_repeat_interval", 0.05);
        prefs.setValue("label", std::string("hello world"));
    }
    QtPreferences again(std::make_unique<QSettings>(file, QSettings::IniFormat));
    EXPECT_EQ(again.value("key_repeat_enabled"), PreferenceValue{false});
    EXPECT_EQ(again.value("key_repeat_interval"), PreferenceValue{0.05});
    EXPECT_EQ(again.value("label"), PreferenceValue{std::string("hello world")});
    EXPECT_EQ(again.value("absent"), std::nullopt);
}

TEST(QtPreferences, ReadsComeFromMemoryAndAnotherWritersChangeIsSeen) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("prefs.ini"));
    QtPreferences prefs(std::make_unique<QSettings>(file, QSettings::IniFormat));
    prefs.setValue("key_repeat_interval", 0.2);
    EXPECT_EQ(prefs.value("key_repeat_interval"), PreferenceValue{0.2});
    EXPECT_EQ(prefs.value("key_repeat_enabled"), std::nullopt);
    EXPECT_EQ(prefs.cachedValueCount(), 2u) << "absent keys are remembered as absent";
    {
        // Another writer of the same file (the command-line tool).
        QSettings other(file, QSettings::IniFormat);
        other.setValue(QStringLiteral("key_repeat_interval"), 0.05);
        other.setValue(QStringLiteral("key_repeat_enabled"), false);
        other.sync();
    }
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return prefs.value("key_repeat_interval") == PreferenceValue{0.05}; },
                        kEventLoopBoundMs));
    EXPECT_EQ(prefs.value("key_repeat_enabled"), PreferenceValue{false});
}

#ifndef __APPLE__
// The file QSettings would open for the application is the one checked.
TEST(QtPreferences, TheCheckedFileIsTheApplicationsOwn) {
    const QSettings qt(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Chordwell"),
                       QStringLiteral("preferences"));
    EXPECT_EQ(QtPreferences::applicationIniFile(),
              std::filesystem::path(qt.fileName().toStdString()));
}

// What stands where the preferences file goes is checked before Qt opens it:
// nothing may hang or eat the memory, and nothing the user had is lost.
TEST(QtPreferences, AFileThatIsNoINIFileIsSetAsideAndDefaultsAreUsed) {
    struct Case {
        const char* what;
        std::function<void(const std::filesystem::path&)> make;
        bool setAside;
    };
    const auto write = [](const std::filesystem::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    };
    const Case cases[] = {
        {"a FIFO", [](const auto& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); }, true},
        {"a folder", [](const auto& f) { std::filesystem::create_directories(f / "x"); }, true},
        {"2 MB",
         [&](const auto& f) {
             write(f, "[General]\nkey_repeat_interval=0.05\n" + std::string(2 << 20, ';'));
         },
         true},
        {"empty", [&](const auto& f) { write(f, ""); }, true},
        {"binary", [&](const auto& f) { write(f, std::string("\x89PNG\r\n\x1a\n\0\0", 10)); },
         true},
        {"not UTF-8", [&](const auto& f) { write(f, "[General]\nname=caf\xe9\n"); }, true},
        {"JSON", [&](const auto& f) { write(f, "{\n  \"key_repeat_interval\": 0.05\n}\n"); }, true},
        {"an INI file",
         [&](const auto& f) {
             write(f, "; by hand\n[General]\nkey_repeat_interval=0.05\n\nlabel=\"a, b\"\n");
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const std::filesystem::path file =
            dir.filePath(QStringLiteral("preferences.ini")).toStdString();
        c.make(file);
        QtPreferences prefs(file);
        EXPECT_FALSE(prefs.inMemoryOnly());
        EXPECT_EQ(std::filesystem::exists(file.string() + ".unreadable"), c.setAside);
        EXPECT_EQ(prefs.value("key_repeat_interval"),
                  c.setAside ? std::nullopt : std::optional<PreferenceValue>(0.05));
        // The next write makes a fresh file of the defaults and the change.
        prefs.setValue("key_repeat_enabled", false);
        QtPreferences again(file);
        EXPECT_EQ(again.value("key_repeat_enabled"), PreferenceValue{false});
    }
}

// Replaced by a FIFO while running: a change of the file is read again only
// once it is safe to open, and writes keep going.
TEST(QtPreferences, AFileReplacedByAFIFOLaterDoesNotHang) {
    QTemporaryDir dir;
    const std::filesystem::path file =
        dir.filePath(QStringLiteral("preferences.ini")).toStdString();
    QtPreferences prefs(file);
    prefs.setValue("key_repeat_interval", 0.2);
    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    prefs.reload();
    prefs.setValue("key_repeat_enabled", true);
    EXPECT_TRUE(std::filesystem::exists(file.string() + ".unreadable"));
    EXPECT_EQ(QtPreferences(file).value("key_repeat_enabled"), PreferenceValue{true});
}
#endif

TEST(XdgAutostartLoginItem, RegisterUnregisterAndStatus) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path folder = dir.filePath(QStringLiteral("autostart")).toStdString();
    XdgAutostartLoginItem item(folder, "/opt/My Apps/chordwell");
    std::string error;
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    ASSERT_TRUE(item.registerApp(error)) << error;
    EXPECT_EQ(item.status(), LoginItemStatus::enabled);
    std::ifstream in(item.entryFile());
    std::ostringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    EXPECT_NE(text.find("Exec=\"/opt/My Apps/chordwell\"\n"), std::string::npos) << text;
    ASSERT_TRUE(item.unregisterApp(error)) << error;
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(item.unregisterApp(error)); // nothing to remove is no failure
}

TEST(XdgAutostartLoginItem, HiddenEntryCountsAsNotRegistered) {
    QTemporaryDir dir;
    XdgAutostartLoginItem item(dir.path().toStdString(), "/usr/bin/chordwell");
    std::ofstream(item.entryFile()) << "[Desktop Entry]\nType=Application\nHidden=true\n";
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
}

TEST(XdgAutostartLoginItem, ExecQuotesShellCharacters) {
    EXPECT_NE(XdgAutostartLoginItem::desktopEntry("/a\"b$c").find("Exec=\"/a\\\"b\\$c\"\n"),
              std::string::npos);
}

TEST(XdgAutostartLoginItem, RegisterFailsWhenTheFolderCannotBeMade) {
    QTemporaryDir dir;
    const std::filesystem::path blocker = dir.filePath(QStringLiteral("file")).toStdString();
    std::ofstream(blocker) << "x";
    XdgAutostartLoginItem item(blocker / "autostart", "/usr/bin/chordwell");
    std::string error;
    EXPECT_FALSE(item.registerApp(error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
}

TEST(QtDesktop, RevealUsesTheInjectedFunctionAndRefusesMissingFiles) {
    std::filesystem::path seen;
    QtDesktop injected([&](const std::filesystem::path& p) {
        seen = p;
        return true;
    });
    EXPECT_TRUE(injected.revealFile("/tmp/x.log"));
    EXPECT_EQ(seen, std::filesystem::path("/tmp/x.log"));

    QtDesktop generic;
    EXPECT_FALSE(generic.revealFile("/nonexistent/chordwell/none.log"));
}

TEST(QtDesktop, ClipboardAndNames) {
    QtDesktop desktop;
    desktop.setClipboardText("To: someone\nSubject: é");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("To: someone\nSubject: é"));
    EXPECT_FALSE(desktop.hostName().empty());
    EXPECT_FALSE(desktop.operatingSystemVersionString().empty());
    EXPECT_FALSE(desktop.openURL("not a url with spaces %zz"));
}

#include "platform/qt/qt_fd_watcher.hpp"

#include <unistd.h>

TEST(QtFdWatcher, CallsBackWhenReadableAndStopsAfterUnwatch) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    chordwell::platform::qt::QtFdWatcher watcher;
    int calls = 0;
    chordwell::platform::qt::QtFdWatcher::WatchId id = 0;
    id = watcher.watchReadable(fds[0], [&] {
        char c = 0;
        EXPECT_EQ(::read(fds[0], &c, 1), 1);
        ++calls;
        watcher.unwatch(id); // from inside its own callback
    });
    ASSERT_NE(id, 0u);
    EXPECT_EQ(watcher.watchReadable(-1, [] {}), 0u);
    ASSERT_EQ(::write(fds[1], "ab", 2), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, kEventLoopBoundMs));
    QTest::qWait(20); // the second byte is there, but nobody listens any more
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(watcher.watchCount(), 0u);
    ::close(fds[0]);
    ::close(fds[1]);
}
