#include "platform/linux/key_tables.hpp"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <set>

namespace chordwell::platform::lnx {
namespace {

struct CodeUsage {
    std::uint16_t code;
    HidUsage usage;
};

TEST(KeyTables, EvdevCodesMapBackToTheirStandardUsage) {
    const CodeUsage cases[] = {
        {KEY_A, 0x04},          {KEY_Z, 0x1D},        {KEY_1, 0x1E},         {KEY_0, 0x27},
        {KEY_ENTER, 0x28},      {KEY_ESC, 0x29},      {KEY_BACKSPACE, 0x2A}, {KEY_SPACE, 0x2C},
        {KEY_BACKSLASH, 0x31}, // not Non-US # (0x32), which shares the code
        {KEY_GRAVE, 0x35},      {KEY_CAPSLOCK, 0x39}, {KEY_F1, 0x3A},        {KEY_F12, 0x45},
        {KEY_SYSRQ, 0x46},      {KEY_DELETE, 0x4C}, // not Clear (0x9C) nor Keypad Clear (0xD8)
        {KEY_RIGHT, 0x4F},      {KEY_UP, 0x52},       {KEY_NUMLOCK, 0x53},   {KEY_KP1, 0x59},
        {KEY_KP0, 0x62},        {KEY_102ND, 0x64},    {KEY_COMPOSE, 0x65},   {KEY_KPEQUAL, 0x67},
        {KEY_F13, 0x68},        {KEY_F24, 0x73},      {KEY_MUTE, 0x7F}, // not 0xEF
        {KEY_VOLUMEUP, 0x80},   {KEY_RO, 0x87},       {KEY_HANGEUL, 0x90},   {KEY_LEFTCTRL, 0xE0},
        {KEY_LEFTSHIFT, 0xE1},  {KEY_LEFTALT, 0xE2},  {KEY_LEFTMETA, 0xE3},  {KEY_RIGHTCTRL, 0xE4},
        {KEY_RIGHTSHIFT, 0xE5}, {KEY_RIGHTALT, 0xE6}, {KEY_RIGHTMETA, 0xE7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hidUsageForEvdevCode(c.code), c.usage) << "code " << c.code;
    }
}

TEST(KeyTables, CodesWithoutKeyboardUsageHaveNone) {
    for (std::uint16_t code :
         {std::uint16_t{KEY_RESERVED}, std::uint16_t{KEY_PLAYPAUSE}, std::uint16_t{KEY_FN},
          std::uint16_t{BTN_LEFT}, std::uint16_t{kMaxEvdevKeyCode + 1}}) {
        EXPECT_FALSE(hidUsageForEvdevCode(code).has_value()) << "code " << code;
    }
}

TEST(KeyTables, EveryStandardUsageRoundTripsThroughItsCode) {
    int mapped = 0;
    for (HidUsage usage = 0; usage <= 0xE7; ++usage) {
        const auto code = evdevCodeForHidUsage(usage);
        if (!code) {
            continue;
        }
        ++mapped;
        const auto back = hidUsageForEvdevCode(*code);
        ASSERT_TRUE(back.has_value()) << "usage " << usage;
        // Shared codes go back to the lower usage, which maps to the same code.
        EXPECT_LE(*back, usage);
        EXPECT_EQ(evdevCodeForHidUsage(*back), code);
    }
    // 0x04-0x81, 0x85, 0x87-0x8C, 0x90-0x94, 0x9C, 0xB6-0xB7, 0xD8, 0xE0-0xE7.
    EXPECT_EQ(mapped, 126 + 1 + 6 + 5 + 1 + 2 + 1 + 8);
}

struct CodeVirtual {
    std::uint16_t code;
    std::uint16_t virtualKey;
};

TEST(KeyTables, VirtualKeyCodesFollowTheUsageTableWithRightHandModifiers) {
    const CodeVirtual cases[] = {
        {KEY_A, 0x00},        {KEY_C, 0x08},         {KEY_V, 0x09},         {KEY_SPACE, 0x31},
        {KEY_ENTER, 0x24},    {KEY_ESC, 0x35},       {KEY_BACKSPACE, 0x33}, {KEY_KP1, 0x53},
        {KEY_KP0, 0x52},      {KEY_KPEQUAL, 0x51},   {KEY_INSERT, 0x72},    {KEY_NUMLOCK, 0x47},
        {KEY_LEFTCTRL, 0x3B}, {KEY_LEFTSHIFT, 0x38}, {KEY_LEFTALT, 0x3A},   {KEY_LEFTMETA, 0x37},
        {KEY_RIGHTCTRL, 62},  {KEY_RIGHTSHIFT, 60},  {KEY_RIGHTALT, 61},    {KEY_RIGHTMETA, 54},
        {KEY_102ND, 10},      {KEY_VOLUMEUP, 72},    {KEY_MUTE, 74},        {KEY_FN, 63},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(virtualKeyCodeForEvdevCode(c.code), c.virtualKey) << "code " << c.code;
    }
    // Every key of the usage table except the right-hand modifiers agrees
    // with hidToMacKeyCode.
    for (const auto& [usage, mac] : hidToMacKeyCodeTable()) {
        if (usage >= 0xE4 && usage <= 0xE7) {
            continue;
        }
        const auto code = evdevCodeForHidUsage(usage);
        ASSERT_TRUE(code.has_value()) << "usage " << usage;
        if (usage == 0x32) {
            continue; // Non-US # is reported as Backslash
        }
        EXPECT_EQ(virtualKeyCodeForEvdevCode(*code), mac) << "usage " << usage;
    }
}

TEST(KeyTables, TapKeyCodesRoundTripAndStayUnique) {
    std::set<std::int64_t> seen;
    for (std::uint16_t code = 1; code <= kMaxEvdevKeyCode; ++code) {
        if (!isKeyboardKeyCode(code)) {
            continue;
        }
        const auto tap = tapKeyCodeForEvdevCode(code);
        ASSERT_TRUE(tap.has_value()) << "code " << code;
        EXPECT_TRUE(seen.insert(*tap).second) << "two keys share tap code " << *tap;
        EXPECT_EQ(evdevCodeForTapKeyCode(*tap), code) << "code " << code;
        EXPECT_GE(*tap, 0);
        EXPECT_LE(*tap, 65535);
    }
    EXPECT_EQ(tapKeyCodeForEvdevCode(KEY_SYSRQ), kPrivateKeyCodeBase + KEY_SYSRQ);
}

TEST(KeyTables, PostedKeyCodesWithoutKeyAreRejected) {
    const std::int64_t cases[] = {-1,
                                  0x80,
                                  0x7F + 1000,
                                  0x34,                           // 0x34 is not a key
                                  kPrivateKeyCodeBase,            // KEY_RESERVED
                                  kPrivateKeyCodeBase + KEY_A,    // A has a real virtual code
                                  kPrivateKeyCodeBase + BTN_LEFT, // not a keyboard key
                                  kPrivateKeyCodeBase + kMaxEvdevKeyCode + 1,
                                  70000};
    for (std::int64_t keyCode : cases) {
        EXPECT_FALSE(evdevCodeForTapKeyCode(keyCode).has_value()) << "key code " << keyCode;
    }
}

TEST(KeyTables, ModifiersCarryTheirFlagAndSide) {
    struct Case {
        std::uint16_t code;
        EventFlags flag;
        bool right;
    };
    const Case cases[] = {
        {KEY_LEFTCTRL, kMaskControl, false},  {KEY_RIGHTCTRL, kMaskControl, true},
        {KEY_LEFTSHIFT, kMaskShift, false},   {KEY_RIGHTSHIFT, kMaskShift, true},
        {KEY_LEFTALT, kMaskAlternate, false}, {KEY_RIGHTALT, kMaskAlternate, true},
        {KEY_LEFTMETA, kMaskCommand, false},  {KEY_RIGHTMETA, kMaskCommand, true},
    };
    EventFlags deviceBits = 0;
    for (const auto& c : cases) {
        const auto m = modifierForEvdevCode(c.code);
        ASSERT_TRUE(m.has_value());
        EXPECT_EQ(m->flag, c.flag);
        EXPECT_EQ(m->rightHand, c.right);
        EXPECT_EQ(m->deviceFlag & kSignatureModifierMask, 0u);
        EXPECT_EQ(deviceBits & m->deviceFlag, 0u) << "device bits must differ";
        deviceBits |= m->deviceFlag;
    }
    EXPECT_FALSE(modifierForEvdevCode(KEY_CAPSLOCK).has_value());
    EXPECT_EQ(modifierKeys().size(), 8u);
}

} // namespace
} // namespace chordwell::platform::lnx
