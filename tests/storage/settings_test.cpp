#include "storage/settings.hpp"

#include "platform/memory/memory_ports.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <optional>
#include <string>

namespace chordwell::settings {
namespace {

using platform::MemoryPreferences;
using platform::PreferenceValue;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

std::string describe(const std::optional<PreferenceValue>& value) {
    if (!value) {
        return "absent";
    }
    return std::visit(
        [](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                return std::string(v ? "true" : "false");
            } else if constexpr (std::is_same_v<T, double>) {
                return "number " + std::to_string(v);
            } else {
                return "text \"" + v + "\"";
            }
        },
        *value);
}

std::unique_ptr<MemoryPreferences> storeWith(const char* key,
                                             const std::optional<PreferenceValue>& value) {
    auto prefs = std::make_unique<MemoryPreferences>();
    if (value) {
        prefs->setValue(key, *value);
    }
    return prefs;
}

TEST(SettingsTest, BooleanReadersFallBackForAbsentOrForeignValues) {
    struct Case {
        std::optional<PreferenceValue> stored;
        bool repeatEnabled;
        bool suppressConfirmation;
    };
    const Case cases[] = {
        {std::nullopt, true, false},
        {PreferenceValue{true}, true, true},
        {PreferenceValue{false}, false, false},
        {PreferenceValue{0.0}, true, false},
        {PreferenceValue{1.0}, true, false},
        {PreferenceValue{std::string("false")}, true, false},
        {PreferenceValue{std::string("YES")}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.stored));
        EXPECT_EQ(keyRepeatEnabled(*storeWith(kKeyRepeatEnabled, c.stored)), c.repeatEnabled);
        EXPECT_EQ(suppressDeleteConfirmation(*storeWith(kSuppressDeleteConfirmation, c.stored)),
                  c.suppressConfirmation);
    }
}

TEST(SettingsTest, TimingReadersUseTheirFallbacksForUnusableValues) {
    struct Case {
        std::optional<PreferenceValue> stored;
        double initialDelay;
        double interval;
        double rawNumber; // doubleForKey, what the settings window shows
    };
    const Case cases[] = {
        {std::nullopt, 0.5, 0.1, 0.0},
        {PreferenceValue{0.0}, 0.5, 0.1, 0.0},
        {PreferenceValue{-0.3}, 0.5, 0.1, -0.3},
        {PreferenceValue{0.2}, 0.2, 0.2, 0.2},
        {PreferenceValue{1.25}, 1.25, 1.25, 1.25},
        {PreferenceValue{1e-9}, 1e-9, 1e-9, 1e-9},
        {PreferenceValue{true}, 0.5, 0.1, 0.0},
        {PreferenceValue{std::string("0.3")}, 0.5, 0.1, 0.0},
        {PreferenceValue{kNaN}, 0.5, 0.1, 0.0},
        {PreferenceValue{kInfinity}, 0.5, 0.1, 0.0},
        {PreferenceValue{-kInfinity}, 0.5, 0.1, 0.0},
        // Absurdly long timings are cut so they still make a valid timer.
        {PreferenceValue{1e300}, 3600.0, 3600.0, 1e300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.stored));
        EXPECT_DOUBLE_EQ(keyRepeatInitialDelay(*storeWith(kKeyRepeatInitialDelay, c.stored)),
                         c.initialDelay);
        EXPECT_DOUBLE_EQ(keyRepeatInterval(*storeWith(kKeyRepeatInterval, c.stored)), c.interval);
        EXPECT_DOUBLE_EQ(doubleForKey(*storeWith(kKeyRepeatInterval, c.stored), kKeyRepeatInterval),
                         c.rawNumber);
    }
}

TEST(SettingsTest, ReadersSeeEveryChangeAtOnce) {
    MemoryPreferences prefs;
    EXPECT_DOUBLE_EQ(keyRepeatInterval(prefs), 0.1);
    setKeyRepeatInterval(prefs, 0.2);
    EXPECT_DOUBLE_EQ(keyRepeatInterval(prefs), 0.2);
    setKeyRepeatInitialDelay(prefs, 0.75);
    EXPECT_DOUBLE_EQ(keyRepeatInitialDelay(prefs), 0.75);

    setKeyRepeatEnabled(prefs, false);
    EXPECT_FALSE(keyRepeatEnabled(prefs));

    // Unticking "Confirm before deleting" stores true; ticking it again
    // stores false, and the key stays present.
    setSuppressDeleteConfirmation(prefs, true);
    EXPECT_TRUE(suppressDeleteConfirmation(prefs));
    setSuppressDeleteConfirmation(prefs, false);
    EXPECT_FALSE(suppressDeleteConfirmation(prefs));
    EXPECT_EQ(prefs.value(kSuppressDeleteConfirmation), std::optional<PreferenceValue>(false));
}

TEST(SettingsTest, BoolForKeyShowsTheBindingDefaultWhileAbsent) {
    MemoryPreferences prefs{{kKeyRepeatEnabled, PreferenceValue{0.5}}};
    EXPECT_TRUE(boolForKey(prefs, kKeyRepeatEnabled, true));
    EXPECT_FALSE(boolForKey(prefs, kKeyRepeatEnabled, false));
    EXPECT_FALSE(boolForKey(prefs, kSuppressDeleteConfirmation, false));
}

} // namespace
} // namespace chordwell::settings
