#include "platform/macos/timer_table.hpp"

#include <gtest/gtest.h>

#include <set>

namespace chordwell::platform::mac {
namespace {

// Native timers are stood in for by plain numbers.
using Table = TimerTable<int>;

TEST(TimerTable, IdsStartAtOneAndAreNeverReused) {
    Table table;
    std::set<Table::TimerId> ids;
    for (int native = 100; native < 110; ++native) {
        const auto id = table.add(
            native, [] {}, false);
        EXPECT_NE(id, 0u);
        EXPECT_TRUE(ids.insert(id).second);
        table.cancel(id);
    }
    EXPECT_EQ(*ids.begin(), 1u);
}

TEST(TimerTable, OneShotRunsOnceAndIsHandedBackForRelease) {
    Table table;
    int runs = 0;
    table.add(
        10, [&] { ++runs; }, false);
    auto first = table.fire(10);
    ASSERT_TRUE(first.task);
    (*first.task)();
    ASSERT_TRUE(first.finished.has_value());
    EXPECT_EQ(*first.finished, 10);
    EXPECT_EQ(table.size(), 0u);

    auto second = table.fire(10);
    EXPECT_FALSE(second.task);
    EXPECT_FALSE(second.finished.has_value());
    EXPECT_EQ(runs, 1);
}

TEST(TimerTable, RepeatingTimerStaysUntilCancelled) {
    Table table;
    int runs = 0;
    const auto id = table.add(
        11, [&] { ++runs; }, true);
    for (int i = 0; i < 3; ++i) {
        auto firing = table.fire(11);
        ASSERT_TRUE(firing.task);
        EXPECT_FALSE(firing.finished.has_value());
        (*firing.task)();
    }
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(table.cancel(id), std::optional<int>(11));
    EXPECT_FALSE(table.fire(11).task);
}

TEST(TimerTable, CancelOfUnknownOrFinishedIdsIsIgnored) {
    Table table;
    EXPECT_FALSE(table.cancel(0).has_value());
    EXPECT_FALSE(table.cancel(99).has_value());
    const auto id = table.add(
        12, [] {}, false);
    table.fire(12);
    // Already handed back by fire(): a second release would be a double free.
    EXPECT_FALSE(table.cancel(id).has_value());
    const auto other = table.add(
        13, [] {}, true);
    EXPECT_TRUE(table.cancel(other).has_value());
    EXPECT_FALSE(table.cancel(other).has_value());
}

TEST(TimerTable, TaskSurvivesBeingCancelledWhileItRuns) {
    Table table;
    Table::TimerId id = 0;
    int runs = 0;
    id = table.add(
        14,
        [&] {
            ++runs;
            EXPECT_TRUE(table.cancel(id).has_value()); // the repeat stops itself
        },
        true);
    auto firing = table.fire(14);
    ASSERT_TRUE(firing.task);
    (*firing.task)();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(table.size(), 0u);
}

TEST(TimerTable, TaskMayScheduleAnotherTimerWhileFiring) {
    Table table;
    bool secondRan = false;
    table.add(
        15,
        [&] {
            table.add(
                16, [&] { secondRan = true; }, false);
        },
        false);
    auto first = table.fire(15);
    (*first.task)();
    auto second = table.fire(16);
    ASSERT_TRUE(second.task);
    (*second.task)();
    EXPECT_TRUE(secondRan);
}

TEST(TimerTable, TakeAllHandsBackEveryLiveTimer) {
    Table table;
    table.add(
        20, [] {}, false);
    table.add(
        21, [] {}, true);
    const auto done = table.add(
        22, [] {}, false);
    table.fire(22);
    (void)done;
    auto all = table.takeAll();
    std::set<int> natives(all.begin(), all.end());
    EXPECT_EQ(natives, (std::set<int>{20, 21}));
    EXPECT_EQ(table.size(), 0u);
    EXPECT_FALSE(table.fire(21).task);
}

} // namespace
} // namespace chordwell::platform::mac
