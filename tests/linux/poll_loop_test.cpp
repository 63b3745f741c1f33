#include "platform/linux/poll_loop.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace chordwell::platform::lnx {
namespace {

using std::chrono::milliseconds;

TEST(PollLoop, PostedWorkRunsInOrderOnTheNextTurn) {
    PollLoop loop;
    std::vector<int> order;
    loop.postToMain([&] {
        order.push_back(1);
        loop.postToMain([&] { order.push_back(3); }); // next turn, not this one
    });
    loop.postToMain([&] { order.push_back(2); });
    EXPECT_TRUE(loop.hasPendingWork());
    EXPECT_EQ(loop.runOnce(milliseconds(0)), 2u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    loop.runOnce(milliseconds(0));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(loop.hasPendingWork());
}

TEST(PollLoop, PostFromAnotherThreadWakesTheLoop) {
    PollLoop loop;
    bool ran = false;
    std::thread poster([&] { loop.postToMain([&] { ran = true; }); });
    poster.join();
    // The wake-up descriptor is readable, so this does not wait the full time.
    loop.runOnce(milliseconds(5000));
    EXPECT_TRUE(ran);
}

TEST(PollLoop, DueTimersFireAndCancelledOnesDoNot) {
    PollLoop loop;
    std::vector<std::string> fired;
    const auto once =
        loop.scheduleOnce(Scheduler::Duration::zero(), [&] { fired.push_back("once"); });
    const auto cancelled =
        loop.scheduleOnce(Scheduler::Duration::zero(), [&] { fired.push_back("cancelled"); });
    const auto later = loop.scheduleOnce(std::chrono::hours(1), [&] { fired.push_back("later"); });
    EXPECT_NE(once, 0u);
    EXPECT_NE(once, cancelled);
    loop.cancel(cancelled);
    loop.cancel(12345); // unknown ids are ignored
    loop.runOnce(milliseconds(0));
    loop.runOnce(milliseconds(0));
    EXPECT_EQ(fired, (std::vector<std::string>{"once"}));
    loop.cancel(later);
}

TEST(PollLoop, RepeatingTimerKeepsFiringUntilItCancelsItself) {
    PollLoop loop;
    int count = 0;
    Scheduler::TimerId id = 0;
    id = loop.scheduleRepeating(Scheduler::Duration::zero(), Scheduler::Duration::zero(), [&] {
        if (++count == 3) {
            loop.cancel(id);
        }
    });
    // A zero interval is raised to one millisecond; run until it is done.
    for (int turn = 0; turn < 100 && count < 3; ++turn) {
        loop.runOnce(milliseconds(5));
    }
    EXPECT_EQ(count, 3);
    loop.runOnce(milliseconds(5));
    EXPECT_EQ(count, 3);
}

TEST(PollLoop, WatchedDescriptorCallsBackWhileReadableAndStopsWhenUnwatched) {
    PollLoop loop;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int calls = 0;
    FdWatcher::WatchId id = 0;
    id = loop.watchReadable(fds[0], [&] {
        char c = 0;
        ASSERT_EQ(::read(fds[0], &c, 1), 1);
        ++calls;
        if (c == 'q') {
            loop.unwatch(id); // from inside its own callback
        }
    });
    ASSERT_NE(id, 0u);
    loop.runOnce(milliseconds(0));
    EXPECT_EQ(calls, 0);
    ASSERT_EQ(::write(fds[1], "a", 1), 1);
    loop.runOnce(milliseconds(1000));
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(::write(fds[1], "qz", 2), 2);
    loop.runOnce(milliseconds(1000));
    loop.runOnce(milliseconds(0));
    EXPECT_EQ(calls, 2) << "no callback after unwatch";
    EXPECT_EQ(loop.watchReadable(-1, [] {}), 0u);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(PollLoop, OneDescriptorWatchedTwiceCallsBothAndEachUnwatchesAlone) {
    PollLoop loop;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int first = 0;
    int second = 0;
    const auto a = loop.watchReadable(fds[0], [&] { ++first; });
    const auto b = loop.watchReadable(fds[0], [&] { ++second; });
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    loop.runOnce(milliseconds(1000));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    loop.unwatch(a);
    loop.runOnce(milliseconds(1000)); // still readable: nobody read it
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    loop.unwatch(b);
    loop.runOnce(milliseconds(0));
    EXPECT_EQ(second, 2);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(PollLoop, TimersDueTogetherFireInTheOrderArmedAndCancelledSlotsAreReused) {
    PollLoop loop;
    std::vector<int> order;
    std::vector<Scheduler::TimerId> ids;
    for (int i = 0; i < 5; ++i) {
        ids.push_back(
            loop.scheduleOnce(Scheduler::Duration::zero(), [&order, i] { order.push_back(i); }));
    }
    loop.cancel(ids[2]);
    const auto reused =
        loop.scheduleOnce(Scheduler::Duration::zero(), [&order] { order.push_back(5); });
    EXPECT_NE(reused, ids[2]) << "a cancelled id never comes back";
    loop.cancel(ids[2]); // stale: harmless, the slot's new timer stays
    loop.runOnce(milliseconds(0));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 3, 4, 5}));
}

TEST(PollLoop, ClosedDescriptorIsDroppedInsteadOfSpinning) {
    PollLoop loop;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int calls = 0;
    loop.watchReadable(fds[0], [&] { ++calls; });
    ::close(fds[0]);
    ::close(fds[1]);
    loop.runOnce(milliseconds(0));
    loop.runOnce(milliseconds(0));
    EXPECT_EQ(calls, 0);
}

TEST(PollLoop, ThrowingCallbackDoesNotStopTheLoop) {
    PollLoop loop;
    bool after = false;
    loop.postToMain([] { throw std::runtime_error("boom"); });
    loop.postToMain([&] { after = true; });
    EXPECT_NO_THROW(loop.runOnce(milliseconds(0)));
    EXPECT_TRUE(after);
}

TEST(PollLoop, QuitEndsRun) {
    PollLoop loop;
    int turns = 0;
    loop.postToMain([&] {
        ++turns;
        loop.quit();
    });
    loop.run();
    EXPECT_EQ(turns, 1);
    EXPECT_TRUE(loop.quitRequested());
}

} // namespace
} // namespace chordwell::platform::lnx
