#include "logging/breadcrumbs.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace chordwell::logging {
namespace {

using std::chrono::system_clock;

// Each call to the clock moves one second on from 2026-03-05T14:07:00Z.
struct SteppingClock {
    std::shared_ptr<int> calls = std::make_shared<int>(0);
    system_clock::time_point operator()() const {
        using namespace std::chrono;
        return sys_days{year{2026} / March / 5} + hours{14} + minutes{7} + seconds{(*calls)++} +
               milliseconds{500};
    }
};

// The expected rendering of action number `k` (1-based) added by a fresh
// SteppingClock.
std::string expectedEntry(int k) {
    std::ostringstream text;
    const int second = k - 1;
    text << "2026-03-05T14:07:" << (second < 10 ? "0" : "") << second << "Z  action " << k;
    return text.str();
}

std::string expectedRange(int first, int last) {
    std::string text;
    for (int k = first; k <= last; ++k) {
        if (k != first) {
            text += '\n';
        }
        text += expectedEntry(k);
    }
    return text;
}

TEST(BreadcrumbsTest, EmptyListRendersThePlaceholder) {
    Breadcrumbs crumbs{SteppingClock{}};
    EXPECT_EQ(crumbs.dump(20), "(no recorded actions this session)");
}

TEST(BreadcrumbsTest, KeepsTheNewestTwentyAndDumpsTheLastN) {
    Breadcrumbs crumbs{SteppingClock{}};
    for (int k = 1; k <= 25; ++k) {
        crumbs.add("action " + std::to_string(k));
    }
    EXPECT_EQ(crumbs.count(), 20u);

    struct Case {
        std::int64_t n;
        std::string expected;
    };
    const Case cases[] = {
        {12, expectedRange(14, 25)},
        {100, expectedRange(6, 25)},
        {20, expectedRange(6, 25)},
        {1, expectedRange(25, 25)},
        {0, "(no recorded actions this session)"},
        {-3, "(no recorded actions this session)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(crumbs.dump(c.n), c.expected) << "n = " << c.n;
    }
}

TEST(BreadcrumbsTest, EntriesStayOnOneLine) {
    Breadcrumbs crumbs{SteppingClock{}};
    crumbs.add("Imported\nmappings\r");
    EXPECT_EQ(crumbs.dump(5), "2026-03-05T14:07:00Z  Imported mappings ");
}

TEST(BreadcrumbsTest, ConcurrentAddsKeepTheLimit) {
    Breadcrumbs crumbs;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&crumbs] {
            for (int i = 0; i < 200; ++i) {
                crumbs.add("Keyboard selected");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(crumbs.count(), Breadcrumbs::maxCount);
    crumbs.clear();
    EXPECT_EQ(crumbs.dump(3), "(no recorded actions this session)");
}

} // namespace
} // namespace chordwell::logging
