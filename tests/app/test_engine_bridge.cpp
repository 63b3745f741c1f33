// The bridge from the engine's announcements to one coalesced Qt signal.
#include "app_test_support.hpp"

#include "app/shell/engine_bridge.hpp"

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
