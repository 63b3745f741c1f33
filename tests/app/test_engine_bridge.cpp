// The bridge from the engine's announcements to one coalesced Qt signal.
#include "app_test_support.hpp"

#include "app/shell/engine_bridge.hpp"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

// Counts heap allocations while `gCountAllocations` is set. The replacement
// applies to the whole test program; it only counts, it changes nothing.
namespace {
std::atomic<bool> gCountAllocations{false};
std::atomic<int> gAllocations{0};
} // namespace

void* operator new(std::size_t size) {
    if (gCountAllocations.load(std::memory_order_relaxed)) {
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

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
        gAllocations = 0;
        gCountAllocations = true;
        bridge.announce(); // what the key path runs
        bridge.announce();
        gCountAllocations = false;
        EXPECT_EQ(gAllocations.load(), 0) << "round " << i;
        ++expected;
        ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == expected; }, 5000));
    }
}
