#include "platform/macos/task_queue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace chordwell::platform::mac {
namespace {

TEST(TaskQueue, PushAsksForAWakeUpOnlyWhenTheQueueWasEmpty) {
    TaskQueue queue;
    EXPECT_TRUE(queue.push([] {}));
    EXPECT_FALSE(queue.push([] {}));
    queue.drain();
    EXPECT_TRUE(queue.push([] {}));
}

TEST(TaskQueue, EmptyTaskIsIgnored) {
    TaskQueue queue;
    EXPECT_FALSE(queue.push(TaskQueue::Task()));
    EXPECT_TRUE(queue.empty());
}

TEST(TaskQueue, DrainRunsTasksInPostingOrder) {
    TaskQueue queue;
    std::string order;
    for (char c : std::string("abc")) {
        queue.push([&order, c] { order.push_back(c); });
    }
    const auto result = queue.drain();
    EXPECT_EQ(order, "abc");
    EXPECT_EQ(result.ran, 3u);
    EXPECT_EQ(result.failed, 0u);
    EXPECT_TRUE(queue.empty());
}

TEST(TaskQueue, TaskPostedWhileDrainingWaitsForTheNextDrain) {
    TaskQueue queue;
    int runs = 0;
    bool wokeUp = false;
    std::function<void()> repost = [&] {
        ++runs;
        wokeUp = queue.push(repost);
    };
    queue.push(repost);
    EXPECT_EQ(queue.drain().ran, 1u);
    EXPECT_EQ(runs, 1);
    // The owner must signal again, or the re-posted task would sit forever.
    EXPECT_TRUE(wokeUp);
    EXPECT_FALSE(queue.empty());
    queue.drain();
    EXPECT_EQ(runs, 2);
}

TEST(TaskQueue, ThrowingTaskDoesNotStopTheOthers) {
    TaskQueue queue;
    std::vector<int> ran;
    queue.push([&] { ran.push_back(1); });
    queue.push([] { throw std::runtime_error("boom"); });
    queue.push([&] { ran.push_back(3); });
    const auto result = queue.drain();
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
    EXPECT_EQ(result.ran, 2u);
    EXPECT_EQ(result.failed, 1u);
}

TEST(TaskQueue, ClearDropsQueuedWorkUnrun) {
    TaskQueue queue;
    bool ran = false;
    queue.push([&] { ran = true; });
    queue.clear();
    EXPECT_EQ(queue.drain().ran, 0u);
    EXPECT_FALSE(ran);
}

TEST(TaskQueue, PostsFromOtherThreadsAreAllDelivered) {
    TaskQueue queue;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    int total = 0; // only the draining thread touches it
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) {
                queue.push([&total] { ++total; });
            }
            ++finished;
        });
    }
    std::size_t ran = 0;
    while (finished.load() < kThreads) {
        ran += queue.drain().ran; // drains race with the posts on purpose
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ran += queue.drain().ran;
    EXPECT_EQ(ran, static_cast<std::size_t>(kThreads * kPerThread));
    EXPECT_EQ(total, kThreads * kPerThread);
    EXPECT_TRUE(queue.empty());
}

} // namespace
} // namespace chordwell::platform::mac
