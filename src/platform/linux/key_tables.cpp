#include "platform/linux/key_tables.hpp"

#include <linux/input-event-codes.h>

#include <array>

namespace chordwell::platform::lnx {

namespace {

// The kernel's HID keyboard table (drivers/hid/hid-input.c, hid_keyboard[]):
// page-7 usage -> evdev key code, 0 where the kernel maps nothing.
constexpr std::array<std::uint8_t, 256> kHidKeyboard = {
    0,   0,   0,   0,   30,  48,  46,  32,  18,  33,  34,  35,  23,  36,  37,  38,  // 0x00
    50,  49,  24,  25,  16,  19,  31,  20,  22,  47,  17,  45,  21,  44,  2,   3,   // 0x10
    4,   5,   6,   7,   8,   9,   10,  11,  28,  1,   14,  15,  57,  12,  13,  26,  // 0x20
    27,  43,  43,  39,  40,  41,  51,  52,  53,  58,  59,  60,  61,  62,  63,  64,  // 0x30
    65,  66,  67,  68,  87,  88,  99,  70,  119, 110, 102, 104, 111, 107, 109, 106, // 0x40
    105, 108, 103, 69,  98,  55,  74,  78,  96,  79,  80,  81,  75,  76,  77,  71,  // 0x50
    72,  73,  82,  83,  86,  127, 116, 117, 183, 184, 185, 186, 187, 188, 189, 190, // 0x60
    191, 192, 193, 194, 134, 138, 130, 132, 128, 129, 131, 137, 133, 135, 136, 113, // 0x70
    115, 114, 0,   0,   0,   121, 0,   89,  93,  124, 92,  94,  95,  0,   0,   0,   // 0x80
    122, 123, 90,  91,  85,  0,   0,   0,   0,   0,   0,   0,   111, 0,   0,   0,   // 0x90
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   // 0xA0
    0,   0,   0,   0,   0,   0,   179, 180, 0,   0,   0,   0,   0,   0,   0,   0,   // 0xB0
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   // 0xC0
    0,   0,   0,   0,   0,   0,   0,   0,   111, 0,   0,   0,   0,   0,   0,   0,   // 0xD0
    29,  42,  56,  125, 97,  54,  100, 126, 164, 166, 165, 163, 161, 115, 114, 113, // 0xE0
    150, 158, 159, 128, 136, 177, 178, 176, 142, 152, 173, 140, 0,   0,   0,   0,   // 0xF0
};

// Usages 0xE8 and up are reserved by the HID usage tables; the kernel maps
// them to media keys for old vendor keyboards, but those keys are reported
// on the consumer page by every current keyboard, so they are never the
// usage of a key here.
constexpr HidUsage kLastStandardUsage = 0xE7;

struct Tables {
    std::array<HidUsage, kMaxEvdevKeyCode + 1> usageForCode{};
    std::array<std::int32_t, kMaxEvdevKeyCode + 1> virtualForCode{};
    // virtual / private key code -> evdev code is looked up by scanning
    // virtualForCode for codes below 0x80; the private range is arithmetic.
    std::array<std::int32_t, 0x80> codeForVirtual{};

    Tables() {
        virtualForCode.fill(-1);
        codeForVirtual.fill(-1);
        for (HidUsage usage = 0; usage <= kLastStandardUsage; ++usage) {
            const std::uint16_t code = kHidKeyboard[usage];
            if (code != 0 && usageForCode[code] == 0) {
                usageForCode[code] = usage; // lowest (standard) usage wins
            }
        }
        for (std::uint16_t code = 0; code <= kMaxEvdevKeyCode; ++code) {
            if (usageForCode[code] == 0) {
                continue;
            }
            if (auto mac = hidToMacKeyCode(usageForCode[code])) {
                virtualForCode[code] = *mac;
            }
        }
        // Right-hand modifiers keep their own virtual codes, as the system
        // event stream reports them.
        virtualForCode[KEY_RIGHTCTRL] = 62;
        virtualForCode[KEY_RIGHTSHIFT] = 60;
        virtualForCode[KEY_RIGHTALT] = 61;
        virtualForCode[KEY_RIGHTMETA] = 54;
        // Keys whose virtual codes the table of usages leaves out.
        virtualForCode[KEY_102ND] = 10; // ISO section, next to left Shift
        virtualForCode[KEY_FN] = 63;
        virtualForCode[KEY_VOLUMEUP] = 72;
        virtualForCode[KEY_VOLUMEDOWN] = 73;
        virtualForCode[KEY_MUTE] = 74;
        virtualForCode[KEY_YEN] = 93;
        virtualForCode[KEY_RO] = 94;
        virtualForCode[KEY_KPCOMMA] = 95;
        virtualForCode[KEY_HANJA] = 102;   // LANG2, Eisu on JIS keyboards
        virtualForCode[KEY_HANGEUL] = 104; // LANG1, Kana on JIS keyboards
        virtualForCode[KEY_COMPOSE] = 110; // Application / context menu
        virtualForCode[KEY_POWER] = 127;
        // Non-US # shares KEY_BACKSLASH with Backslash; the section code 10
        // belongs to the ISO key above.
        for (std::uint16_t code = 0; code <= kMaxEvdevKeyCode; ++code) {
            const std::int32_t mac = virtualForCode[code];
            if (mac >= 0 && mac < 0x80 && codeForVirtual[static_cast<std::size_t>(mac)] < 0) {
                codeForVirtual[static_cast<std::size_t>(mac)] = code;
            }
        }
    }
};

const Tables& tables() {
    static const Tables instance;
    return instance;
}

constexpr EventFlags kDeviceLeftControl = 0x1;
constexpr EventFlags kDeviceLeftShift = 0x2;
constexpr EventFlags kDeviceRightShift = 0x4;
constexpr EventFlags kDeviceLeftCommand = 0x8;
constexpr EventFlags kDeviceRightCommand = 0x10;
constexpr EventFlags kDeviceLeftOption = 0x20;
constexpr EventFlags kDeviceRightOption = 0x40;
constexpr EventFlags kDeviceRightControl = 0x2000;

constexpr std::array<ModifierKey, 8> kModifiers = {{
    {KEY_LEFTCTRL, kMaskControl, kDeviceLeftControl, false},
    {KEY_RIGHTCTRL, kMaskControl, kDeviceRightControl, true},
    {KEY_LEFTSHIFT, kMaskShift, kDeviceLeftShift, false},
    {KEY_RIGHTSHIFT, kMaskShift, kDeviceRightShift, true},
    {KEY_LEFTALT, kMaskAlternate, kDeviceLeftOption, false},
    {KEY_RIGHTALT, kMaskAlternate, kDeviceRightOption, true},
    {KEY_LEFTMETA, kMaskCommand, kDeviceLeftCommand, false},
    {KEY_RIGHTMETA, kMaskCommand, kDeviceRightCommand, true},
}};

} // namespace

std::optional<HidUsage> hidUsageForEvdevCode(std::uint16_t code) {
    if (code > kMaxEvdevKeyCode || tables().usageForCode[code] == 0) {
        return std::nullopt;
    }
    return tables().usageForCode[code];
}

std::optional<std::uint16_t> evdevCodeForHidUsage(HidUsage usage) {
    if (usage >= kHidKeyboard.size() || kHidKeyboard[usage] == 0) {
        return std::nullopt;
    }
    return kHidKeyboard[usage];
}

std::optional<std::uint16_t> virtualKeyCodeForEvdevCode(std::uint16_t code) {
    if (code > kMaxEvdevKeyCode || tables().virtualForCode[code] < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(tables().virtualForCode[code]);
}

std::optional<std::int64_t> tapKeyCodeForEvdevCode(std::uint16_t code) {
    if (code > kMaxEvdevKeyCode) {
        return std::nullopt;
    }
    if (auto mac = virtualKeyCodeForEvdevCode(code)) {
        return *mac;
    }
    return kPrivateKeyCodeBase + code;
}

std::optional<std::uint16_t> evdevCodeForTapKeyCode(std::int64_t keyCode) {
    if (keyCode >= 0 && keyCode < 0x80) {
        const std::int32_t code = tables().codeForVirtual[static_cast<std::size_t>(keyCode)];
        if (code < 0) {
            return std::nullopt;
        }
        return static_cast<std::uint16_t>(code);
    }
    if (keyCode > kPrivateKeyCodeBase && keyCode <= kPrivateKeyCodeBase + kMaxEvdevKeyCode) {
        const auto code = static_cast<std::uint16_t>(keyCode - kPrivateKeyCodeBase);
        // Only keys without a virtual code live in the private range.
        if (!virtualKeyCodeForEvdevCode(code) && isKeyboardKeyCode(code)) {
            return code;
        }
    }
    return std::nullopt;
}

// Every modifier's code lies below 128: one bit test answers most keys.
constexpr std::array<std::uint64_t, 2> kModifierCodeBits = [] {
    std::array<std::uint64_t, 2> bits{};
    for (const ModifierKey& m : kModifiers) {
        bits[m.evdevCode / 64] |= std::uint64_t{1} << (m.evdevCode % 64);
    }
    return bits;
}();

std::optional<ModifierKey> modifierForEvdevCode(std::uint16_t code) {
    // Asked several times for every key on its way through the pipeline.
    if (code >= 128 || ((kModifierCodeBits[code / 64] >> (code % 64)) & 1u) == 0) {
        return std::nullopt;
    }
    for (const ModifierKey& m : kModifiers) {
        if (m.evdevCode == code) {
            return m;
        }
    }
    return std::nullopt;
}

std::span<const ModifierKey> modifierKeys() {
    return kModifiers;
}

bool isKeyboardKeyCode(std::uint16_t code) {
    if (code == KEY_RESERVED || code > kMaxEvdevKeyCode) {
        return false;
    }
    // Buttons of mice, joysticks, gamepads, digitizers and the "trigger
    // happy" range are not keyboard keys.
    if (code >= BTN_MISC && code < KEY_OK) {
        return false;
    }
    if (code >= BTN_DPAD_UP && code <= BTN_DPAD_RIGHT) {
        return false;
    }
    if (code >= BTN_TRIGGER_HAPPY) {
        return false;
    }
    return true;
}

} // namespace chordwell::platform::lnx
