#include "platform/macos/notices.hpp"
#include "platform/macos/tap_events.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace chordwell::platform::mac {
namespace {

struct NoticeCase {
    MacSystemState state;
    std::vector<std::string> expectedURLs; // "" for a notice without a button
};

// Test names print a short description rather than raw bytes.
[[maybe_unused]] void PrintTo(const NoticeCase& c, std::ostream* os) {
    *os << c.expectedURLs.size() << " notices";
}

class MacNotices : public testing::TestWithParam<NoticeCase> {};

TEST_P(MacNotices, OneNoticePerProblemInOrderOfImportance) {
    const NoticeCase& c = GetParam();
    const auto notices = macSystemNotices(c.state);
    std::vector<std::string> urls;
    for (const auto& notice : notices) {
        EXPECT_FALSE(notice.message.empty());
        // A button needs both its label and its destination.
        EXPECT_EQ(notice.actionLabel.empty(), notice.actionURL.empty());
        urls.push_back(notice.actionURL);
    }
    EXPECT_EQ(urls, c.expectedURLs);
}

const std::string kInput(kInputMonitoringSettingsURL);
const std::string kAccess(kAccessibilitySettingsURL);

INSTANTIATE_TEST_SUITE_P(
    AllStates, MacNotices,
    testing::Values(NoticeCase{{true, true, false}, {}}, NoticeCase{{false, true, false}, {kInput}},
                    NoticeCase{{true, false, false}, {kAccess}},
                    NoticeCase{{true, true, true}, {""}},
                    NoticeCase{{false, false, false}, {kInput, kAccess}},
                    NoticeCase{{false, true, true}, {kInput, ""}},
                    NoticeCase{{true, false, true}, {kAccess, ""}},
                    NoticeCase{{false, false, true}, {kInput, kAccess, ""}},
                    // Posting is listed under Accessibility too:
                    // one notice, whichever of the two is missing.
                    NoticeCase{{true, true, false, false}, {kAccess}},
                    NoticeCase{{true, false, false, false}, {kAccess}},
                    NoticeCase{{false, true, true, false}, {kInput, kAccess, ""}}));

TEST(MacNotices, PanesAndSecureInputTextAreTheSystemOnes) {
    const auto notices = macSystemNotices({false, false, true});
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0].actionURL,
              "x-apple.systempreferences:com.apple.preference.security?Privacy_ListenEvent");
    EXPECT_NE(notices[0].message.find("Input Monitoring"), std::string::npos);
    EXPECT_EQ(notices[1].actionURL,
              "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");
    EXPECT_NE(notices[1].message.find("Accessibility"), std::string::npos);
    EXPECT_EQ(notices[2].message, "Paused while a password field has secure input");
    // The buttons ask the system for their permission first.
    EXPECT_EQ(notices[0].requestKey, kListenPermission);
    EXPECT_EQ(notices[1].requestKey, kPostPermission);
    EXPECT_TRUE(notices[2].requestKey.empty());
}

struct ImplicitFlagCase {
    std::int64_t keyCode;
    EventFlags expected;
};

// The arrows, the function keys, the navigation block and the keypad carry
// the bits a typed key of theirs carries; other keys carry none.
TEST(PostedKeys, CarryTheFunctionAndKeypadBitsOfTheirKey) {
    const std::vector<ImplicitFlagCase> cases = {{123, kNumericPadFlag | kSecondaryFnFlag},
                                                 {126, kNumericPadFlag | kSecondaryFnFlag},
                                                 {122, kSecondaryFnFlag},
                                                 {111, kSecondaryFnFlag},
                                                 {90, kSecondaryFnFlag},
                                                 {115, kSecondaryFnFlag},
                                                 {117, kSecondaryFnFlag},
                                                 {83, kNumericPadFlag},
                                                 {76, kNumericPadFlag},
                                                 {0, 0},
                                                 {36, 0},
                                                 {49, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(implicitKeyFlags(c.keyCode), c.expected) << c.keyCode;
    }
}

// Backspace, Escape and Return held together, in any order, complete the
// chord once; releasing one and pressing it again completes it again.
TEST(EmergencyChordTest, CompletesOnceWhenAllThreeAreHeld) {
    EmergencyChord chord;
    EXPECT_FALSE(chord.update(EventType::keyDown, 53));
    EXPECT_FALSE(chord.update(EventType::keyDown, 0)); // other keys do not count
    EXPECT_FALSE(chord.update(EventType::keyDown, 36));
    EXPECT_TRUE(chord.update(EventType::keyDown, 51));
    EXPECT_FALSE(chord.update(EventType::keyDown, 51)); // auto-repeat
    EXPECT_FALSE(chord.update(EventType::keyUp, 36));
    EXPECT_FALSE(chord.update(EventType::flagsChanged, 36));
    EXPECT_TRUE(chord.update(EventType::keyDown, 36));
}

struct TapTypeCase {
    std::uint32_t cgType;
    std::optional<EventType> expected;
};

// Test names print a short description rather than raw bytes.
[[maybe_unused]] void PrintTo(const TapTypeCase& c, std::ostream* os) {
    *os << "CGEventType " << c.cgType;
}

class TapEventTypes : public testing::TestWithParam<TapTypeCase> {};

TEST_P(TapEventTypes, KeyboardTypesAndNoticesAreKnownEverythingElsePasses) {
    EXPECT_EQ(keyboardTapEventType(GetParam().cgType), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    CGEventTypes, TapEventTypes,
    testing::Values(TapTypeCase{10, EventType::keyDown}, TapTypeCase{11, EventType::keyUp},
                    TapTypeCase{12, EventType::flagsChanged},
                    TapTypeCase{0xFFFFFFFEu, EventType::tapDisabledByTimeout},
                    TapTypeCase{0xFFFFFFFFu, EventType::tapDisabledByUserInput},
                    TapTypeCase{0, std::nullopt},             // null event
                    TapTypeCase{1, std::nullopt},             // left mouse down
                    TapTypeCase{13, std::nullopt},            // not a CGEventType
                    TapTypeCase{14, std::nullopt},            // system-defined (media keys)
                    TapTypeCase{22, std::nullopt},            // scroll wheel
                    TapTypeCase{0xFFFFFFFDu, std::nullopt})); // not a notice

TEST(TapEventTypes, OnlyTheTwoNoticesCountAsTapDisabled) {
    EXPECT_TRUE(isTapDisabledNotice(EventType::tapDisabledByTimeout));
    EXPECT_TRUE(isTapDisabledNotice(EventType::tapDisabledByUserInput));
    EXPECT_FALSE(isTapDisabledNotice(EventType::keyDown));
    EXPECT_FALSE(isTapDisabledNotice(EventType::keyUp));
    EXPECT_FALSE(isTapDisabledNotice(EventType::flagsChanged));
}

} // namespace
} // namespace chordwell::platform::mac
