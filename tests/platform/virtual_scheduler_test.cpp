#include "platform/sim/virtual_scheduler.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace chordwell::platform::sim {
namespace {

using std::chrono::milliseconds;

std::int64_t ms(Scheduler::Duration d) {
    return std::chrono::duration_cast<milliseconds>(d).count();
}

TEST(VirtualScheduler, TimersFireInTimeOrderAtTheirOwnTime) {
    VirtualScheduler s;
    std::vector<std::string> fired;
    s.scheduleOnce(milliseconds(30), [&] { fired.push_back("c@" + std::to_string(ms(s.now()))); });
    s.scheduleOnce(milliseconds(10), [&] { fired.push_back("a@" + std::to_string(ms(s.now()))); });
    s.scheduleOnce(milliseconds(10), [&] { fired.push_back("b@" + std::to_string(ms(s.now()))); });
    s.scheduleRepeating(milliseconds(15), milliseconds(10),
                        [&] { fired.push_back("r@" + std::to_string(ms(s.now()))); });
    s.advance(milliseconds(29));
    EXPECT_EQ(fired, (std::vector<std::string>{"a@10", "b@10", "r@15", "r@25"}));
    EXPECT_EQ(ms(s.now()), 29);
    s.advance(milliseconds(1));
    EXPECT_EQ(fired.back(), "c@30");
}

TEST(VirtualScheduler, CancelledTimersNeverFire) {
    VirtualScheduler s;
    int count = 0;
    const auto once = s.scheduleOnce(milliseconds(5), [&] { ++count; });
    const auto repeating = s.scheduleRepeating(milliseconds(5), milliseconds(5), [&] { ++count; });
    s.cancel(once);
    s.advance(milliseconds(12));
    EXPECT_EQ(count, 2);
    s.cancel(repeating);
    s.cancel(repeating); // twice is harmless
    s.cancel(12345);
    s.advance(milliseconds(100));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(s.activeTimerCount(), 0u);
}

TEST(VirtualScheduler, ATimerMayCancelItselfAndScheduleOthersWhileFiring) {
    VirtualScheduler s;
    std::vector<int> fired;
    Scheduler::TimerId self = 0;
    self = s.scheduleRepeating(milliseconds(1), milliseconds(1), [&] {
        fired.push_back(1);
        s.cancel(self);
        s.scheduleOnce(milliseconds(1), [&] { fired.push_back(2); });
    });
    s.advance(milliseconds(10));
    EXPECT_EQ(fired, (std::vector<int>{1, 2}));
}

TEST(VirtualScheduler, MainQueueRunsInOrderIncludingWorkQueuedByWork) {
    VirtualScheduler s;
    std::vector<int> order;
    s.postToMain([&] {
        order.push_back(1);
        s.postToMain([&] { order.push_back(3); });
    });
    s.postToMain([&] { order.push_back(2); });
    EXPECT_TRUE(s.hasQueuedWork());
    EXPECT_EQ(s.runMainQueue(), 3u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(s.hasQueuedWork());
}

TEST(VirtualScheduler, WorkQueuedByATimerRunsBeforeTheNextTimer) {
    VirtualScheduler s;
    std::vector<std::string> order;
    s.scheduleOnce(milliseconds(1), [&] {
        order.push_back("t1");
        s.postToMain([&] { order.push_back("work"); });
    });
    s.scheduleOnce(milliseconds(2), [&] { order.push_back("t2"); });
    s.advance(milliseconds(5));
    EXPECT_EQ(order, (std::vector<std::string>{"t1", "work", "t2"}));
}

TEST(VirtualScheduler, FreedSlotsAreReused) {
    VirtualScheduler s;
    for (int i = 0; i < 100; ++i) {
        const auto id = s.scheduleRepeating(milliseconds(1), milliseconds(1), [] {});
        s.cancel(id);
    }
    EXPECT_EQ(s.activeTimerCount(), 0u);
    EXPECT_EQ(s.nextDue(), std::nullopt);
    s.scheduleOnce(milliseconds(7), [] {});
    EXPECT_EQ(s.nextDue(), Scheduler::Duration(milliseconds(7)));
}

TEST(VirtualScheduler, RepeatsNoFasterThanOnceAMillisecond) {
    VirtualScheduler s;
    int fired = 0;
    s.scheduleRepeating(Scheduler::Duration(0), std::chrono::nanoseconds(1), [&] { ++fired; });
    s.advance(milliseconds(10));
    EXPECT_EQ(fired, 11); // at 0, 1, ..., 10 ms
}

TEST(VirtualScheduler, TimeSaturatesAtTheEndOfTheClockInsteadOfWrapping) {
    VirtualScheduler s;
    int fired = 0;
    s.scheduleOnce(Scheduler::Duration::max(), [&] { ++fired; });
    s.advance(milliseconds(5));
    s.scheduleOnce(Scheduler::Duration::max(), [&] { ++fired; });
    EXPECT_EQ(s.nextDue(), Scheduler::Duration::max());
    s.advance(Scheduler::Duration::max());
    EXPECT_EQ(s.now(), Scheduler::Duration::max());
    EXPECT_EQ(fired, 2);
    // A repeat armed at the end of time fires once and is done.
    s.scheduleRepeating(Scheduler::Duration(0), milliseconds(1), [&] { ++fired; });
    s.advance(milliseconds(1));
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(s.activeTimerCount(), 0u);
}

} // namespace
} // namespace chordwell::platform::sim
