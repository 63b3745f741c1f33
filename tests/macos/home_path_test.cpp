#include "platform/macos/home_path.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace chordwell::platform::mac {
namespace {

struct HomeCase {
    const char* found;
    std::optional<std::string> home;
    std::optional<std::string> expected;
};

// Test names print a short description rather than raw bytes.
[[maybe_unused]] void PrintTo(const HomeCase& c, std::ostream* os) {
    *os << c.found;
}

class ResolveHomeRelative : public testing::TestWithParam<HomeCase> {};

TEST_P(ResolveHomeRelative, ExpandsOnlyTheCurrentUsersHome) {
    const HomeCase& c = GetParam();
    std::optional<std::filesystem::path> home;
    if (c.home) {
        home = std::filesystem::path(*c.home);
    }
    const auto result = resolveHomeRelative(c.found, home);
    if (c.expected) {
        ASSERT_TRUE(result.has_value()) << c.found;
        EXPECT_EQ(result->string(), *c.expected);
    } else {
        EXPECT_FALSE(result.has_value()) << c.found << " -> " << result->string();
    }
}

INSTANTIATE_TEST_SUITE_P(
    SearchPathAnswers, ResolveHomeRelative,
    testing::Values(
        HomeCase{"~/Library/Application Support", "/Users/ada",
                 "/Users/ada/Library/Application Support"},
        // A sandboxed process's home is its container.
        HomeCase{"~/Library/Application Support", "/Users/ada/Library/Containers/x/Data",
                 "/Users/ada/Library/Containers/x/Data/Library/Application Support"},
        HomeCase{"~", "/Users/ada", "/Users/ada"},
        HomeCase{"~//Library", "/Users/ada", "/Users/ada/Library"},
        HomeCase{"/Library/Application Support", std::nullopt, "/Library/Application Support"},
        HomeCase{"~/Library", std::nullopt, std::nullopt},    // home unknown
        HomeCase{"~/Library", "relative/home", std::nullopt}, // not a usable home
        HomeCase{"~bob/Library", "/Users/ada", std::nullopt}, // someone else's home
        HomeCase{"Library/Application Support", "/Users/ada", std::nullopt},
        HomeCase{"", "/Users/ada", std::nullopt}));

} // namespace
} // namespace chordwell::platform::mac
