#include "app/demo/demo_keys.hpp"

#include "model/keys.hpp"

#include <Qt>

#include <array>
#include <utility>

#if defined(CHORDWELL_HAVE_LINUX_ADAPTERS) && !defined(__APPLE__)
#include "platform/linux/key_tables.hpp"
#endif

namespace chordwell::app {

namespace {

// X11 key codes are evdev codes shifted by 8 (the X protocol reserves 0-7).
constexpr std::uint32_t kX11KeycodeOffset = 8;

std::optional<HidUsage> fromNativeCode(const TypedKey& key) {
#if defined(__APPLE__)
    if (key.nativeVirtualKey == 0 && key.qtKey != Qt::Key_A) {
        return std::nullopt; // 0 is the A key's code, otherwise "unknown"
    }
    // The right-hand modifiers report codes of their own.
    constexpr std::array<std::pair<std::uint32_t, HidUsage>, 4> rightHand = {
        {{62, 0xE4}, {60, 0xE5}, {61, 0xE6}, {54, 0xE7}}};
    for (const auto& [code, usage] : rightHand) {
        if (key.nativeVirtualKey == code) {
            return usage;
        }
    }
    for (const auto& [usage, code] : hidToMacKeyCodeTable()) {
        if (code == key.nativeVirtualKey && (usage < 0xE4 || usage > 0xE7)) {
            return usage;
        }
    }
    return std::nullopt;
#elif defined(CHORDWELL_HAVE_LINUX_ADAPTERS)
    if (key.nativeScanCode <= kX11KeycodeOffset || key.nativeScanCode > 0xFFFF) {
        return std::nullopt;
    }
    return platform::lnx::hidUsageForEvdevCode(
        static_cast<std::uint16_t>(key.nativeScanCode - kX11KeycodeOffset));
#else
    (void)key;
    (void)kX11KeycodeOffset;
    return std::nullopt;
#endif
}

std::optional<HidUsage> fromQtKey(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        return static_cast<HidUsage>(0x04 + (qtKey - Qt::Key_A));
    }
    if (qtKey >= Qt::Key_1 && qtKey <= Qt::Key_9) {
        return static_cast<HidUsage>(0x1E + (qtKey - Qt::Key_1));
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) {
        return static_cast<HidUsage>(0x3A + (qtKey - Qt::Key_F1));
    }
    static constexpr std::array<std::pair<int, HidUsage>, 31> table = {{
        {Qt::Key_0, 0x27},
        {Qt::Key_Return, 0x28},
        {Qt::Key_Enter, 0x28},
        {Qt::Key_Escape, 0x29},
        {Qt::Key_Backspace, 0x2A},
        {Qt::Key_Tab, 0x2B},
        {Qt::Key_Space, 0x2C},
        {Qt::Key_Minus, 0x2D},
        {Qt::Key_Equal, 0x2E},
        {Qt::Key_BracketLeft, 0x2F},
        {Qt::Key_BracketRight, 0x30},
        {Qt::Key_Backslash, 0x31},
        {Qt::Key_Semicolon, 0x33},
        {Qt::Key_Apostrophe, 0x34},
        {Qt::Key_QuoteLeft, 0x35},
        {Qt::Key_Comma, 0x36},
        {Qt::Key_Period, 0x37},
        {Qt::Key_Slash, 0x38},
        {Qt::Key_CapsLock, 0x39},
        {Qt::Key_Home, 0x4A},
        {Qt::Key_PageUp, 0x4B},
        {Qt::Key_Delete, 0x4C},
        {Qt::Key_End, 0x4D},
        {Qt::Key_PageDown, 0x4E},
        {Qt::Key_Right, 0x4F},
        {Qt::Key_Left, 0x50},
        {Qt::Key_Down, 0x51},
        {Qt::Key_Up, 0x52},
#if defined(__APPLE__)
        // Qt names the Command key "Control" and the Control key "Meta" on macOS.
        {Qt::Key_Meta, 0xE0},
        {Qt::Key_Control, 0xE3},
#else
        {Qt::Key_Control, 0xE0},     {Qt::Key_Meta, 0xE3},
#endif
        {Qt::Key_Shift, 0xE1},
    }};
    for (const auto& [k, usage] : table) {
        if (k == qtKey) {
            return usage;
        }
    }
    if (qtKey == Qt::Key_Alt || qtKey == Qt::Key_AltGr) {
        return qtKey == Qt::Key_Alt ? HidUsage{0xE2} : HidUsage{0xE6};
    }
    if (qtKey == Qt::Key_Super_L || qtKey == Qt::Key_Super_R) {
        return qtKey == Qt::Key_Super_L ? HidUsage{0xE3} : HidUsage{0xE7};
    }
    return std::nullopt;
}

} // namespace

std::optional<HidUsage> hidUsageForTypedKey(const TypedKey& key) {
    if (auto usage = fromNativeCode(key)) {
        return usage;
    }
    return fromQtKey(key.qtKey);
}

} // namespace chordwell::app
