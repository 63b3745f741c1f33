// The bridge from the engine's announcements to one coalesced Qt signal.
#include "app_test_support.hpp"

#include "app/shell/engine_bridge.hpp"
#include "platform/qt/qt_preferences.hpp"
#include "platform/qt/qt_scheduler.hpp"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "support/allocation_counter.hpp"

using chordwell::app::EngineBridge;
using chordwell::app::testing::ModelWorld;

TEST(EngineBridge, ManyAnnouncementsInOneTurnGiveOneSignalAfterwards) {
    ModelWorld w;
    EngineBridge bridge(*w.engine);
    QSignalSpy spy(&bridge, &EngineBridge::changed);
    w.engine->setIsForceBlockTap(true);
    w.engine->setIsForceBlockTap(false);
    w.engine->setCapturedInputCodes({4});
    EXPECT_EQ(spy.count(), 0) << "nothing is delivered while the changes happen";
    EXPECT_TRUE(bridge.isRefreshPending());
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() > 0; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(bridge.isRefreshPending());

    w.engine->setIsForceBlockTap(true); // a later change is delivered again
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 2; }, 5000));
}

// Typing while intercepting changes only held keys and pass-throughs once
// each key has been seen (its first press is noted by the capture), and no
// view shows those: the window is not woken for them.
TEST(EngineBridge, TypingWhileInterceptingDoesNotWakeTheWindow) {
    ModelWorld w;
    auto keyboard = w.attach("Magic Keyboard", 0x05AC, 0x024F, 1);
    w.engine->setSelectedDevice(w.device(keyboard));
    chordwell::toggleInterception(*w.engine);
    EngineBridge bridge(*w.engine);
    const auto type = [&] {
        for (const chordwell::HidUsage usage : {0xE0, 0x04, 0x05}) {
            w.world->keyDown(*keyboard, usage);
        }
        for (const chordwell::HidUsage usage : {0x05, 0x04, 0xE0}) {
            w.world->keyUp(*keyboard, usage);
        }
    };
    type();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bridge.isRefreshPending(); }, 5000));
    type();
    EXPECT_FALSE(bridge.isRefreshPending());
    chordwell::toggleInterception(*w.engine); // a change the window shows
    EXPECT_TRUE(bridge.isRefreshPending());
}

TEST(EngineBridge, AnnouncingDoesNotAllocate) {
    ModelWorld w;
    EngineBridge bridge(*w.engine);
    QSignalSpy spy(&bridge, &EngineBridge::changed);
    int expected = 0;
    for (int i = 0; i < 50; ++i) {
        chordwell::testsupport::AllocationCounter counter;
        bridge.announce(); // what the key path runs
        bridge.announce();
        EXPECT_EQ(counter.stop(), 0u) << "round " << i;
        ++expected;
        ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == expected; }, 5000));
    }
}

namespace {

// The simulated keyboards and event stream on the Qt scheduler and QSettings
// preferences: the adapters the application runs its key path on.
class QtAdapterPlatform : public chordwell::platform::Platform {
public:
    explicit QtAdapterPlatform(const QString& preferencesFile)
        : scheduler_(std::make_shared<chordwell::platform::qt::QtScheduler>()),
          world_(std::make_shared<chordwell::platform::sim::SimWorld>(scheduler_, std::nullopt)),
          preferences_(std::make_unique<QSettings>(preferencesFile, QSettings::IniFormat)) {}
    chordwell::platform::sim::SimWorld& world() { return *world_; }
    chordwell::platform::qt::QtScheduler& qtScheduler() { return *scheduler_; }

    chordwell::platform::Scheduler& scheduler() override { return *scheduler_; }
    std::unique_ptr<chordwell::platform::HidManager> createHidManager() override {
        return world_->createHidManager();
    }
    std::unique_ptr<chordwell::platform::EventTap>
    createKeyboardEventTap(chordwell::platform::EventTap::Callback callback,
                           void* userInfo) override {
        return world_->createKeyboardEventTap(callback, userInfo);
    }
    chordwell::platform::EventPoster& eventPoster() override { return world_->eventPoster(); }
    chordwell::platform::Preferences& preferences() override { return preferences_; }
    const chordwell::platform::Paths& paths() const override { return world_->paths(); }
    chordwell::platform::SystemLog& systemLog() override { return world_->systemLog(); }

private:
    std::shared_ptr<chordwell::platform::qt::QtScheduler> scheduler_;
    std::shared_ptr<chordwell::platform::sim::SimWorld> world_;
    chordwell::platform::qt::QtPreferences preferences_;
};

} // namespace

TEST(QtKeyPath, AMappedPressWithRepeatDoesNotAllocate) {
    chordwell::logging::configure(std::make_shared<chordwell::platform::NullSystemLog>(),
                                  std::nullopt);
    QTemporaryDir dir;
    auto platform = std::make_shared<QtAdapterPlatform>(dir.filePath(QStringLiteral("p.ini")));
    platform->preferences().setValue("key_repeat_interval", 0.05);
    chordwell::platform::sim::SimKeyboardProperties properties;
    properties.product = "Magic Keyboard";
    properties.vendorID = 0x05AC;
    properties.productID = 0x024F;
    properties.locationID = 1;
    auto keyboard = platform->world().attachKeyboard(properties);
    chordwell::RawKeyboardListener engine(platform, std::optional<chordwell::StorageManager>{});
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.discoveredKeyboards().size() == 1; }, 5000));
    engine.setAllDeviceMappings({chordwell::app::testing::makeRecord(
        "Magic Keyboard", 0x05AC, 0x024F,
        {chordwell::app::testing::makeMapping("Copy", {0xE0, 0x04})})});
    engine.setSelectedDevice(engine.discoveredKeyboards().front());
    chordwell::toggleInterception(engine);
    platform->world().keyDown(*keyboard, 0xE0);
    auto press = [&] {
        platform->world().keyDown(*keyboard, 0x04); // Copy posted, the repeat armed
        platform->world().keyUp(*keyboard, 0x04);   // the repeat cancelled
    };
    for (int i = 0; i < 20; ++i) { // warm-up: slots and buffers reach their size
        press();
    }
    const std::size_t posted = platform->world().postedEventCount();
    chordwell::testsupport::AllocationCounter counter;
    for (int i = 0; i < 50; ++i) {
        press();
    }
    EXPECT_EQ(counter.stop(), 0u);
    EXPECT_EQ(platform->world().postedEventCount() - posted, 100u) << "the output was posted";
    EXPECT_EQ(platform->qtScheduler().timerSlotCount(), 1u);
    EXPECT_TRUE(engine.isIntercepting());
    chordwell::logging::configure(nullptr, std::nullopt);
}
