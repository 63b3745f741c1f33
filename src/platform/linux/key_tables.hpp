// Translation between the three forms a key takes on Linux: the evdev key
// code (KEY_* of linux/input-event-codes.h), the HID usage of the
// Keyboard/Keypad page, and the virtual key code the engine's event taps see.
#pragma once

#include "model/keys.hpp"

#include <cstdint>
#include <optional>
#include <span>

namespace chordwell::platform::lnx {

/// Highest evdev key code (KEY_MAX).
inline constexpr std::uint16_t kMaxEvdevKeyCode = 0x2ff;

/// Keys that have no virtual key code of their own (Print Screen, media
/// keys, ...) still travel through the event taps, with a code in a private
/// range above every real virtual key code: base + evdev code. That way the
/// blocker can swallow and record them, and a recorded one can be posted
/// again.
inline constexpr std::int64_t kPrivateKeyCodeBase = 0x1000;

/// The HID usage (page 7) that the kernel's HID keyboard table turns into
/// this evdev code; nothing for codes no keyboard usage produces. Where
/// several usages share one code, the standard one wins (Backslash over
/// Non-US #, Delete Forward over Clear, Mute over the vendor range).
std::optional<HidUsage> hidUsageForEvdevCode(std::uint16_t code);

/// The evdev code the kernel reports for a page-7 usage; nothing for usages
/// the kernel leaves unmapped.
std::optional<std::uint16_t> evdevCodeForHidUsage(HidUsage usage);

/// The virtual key code of an evdev key: through its HID usage and
/// hidToMacKeyCode, except that right-hand modifiers get their right-hand
/// codes (Control 62, Shift 60, Option 61, Command 54) and a few keys with
/// known virtual codes outside that table (volume, ISO section, JIS keys)
/// get those. Nothing when the key has none.
std::optional<std::uint16_t> virtualKeyCodeForEvdevCode(std::uint16_t code);

/// The key code the taps see for an evdev key: its virtual key code, or the
/// private code for keys without one. Nothing for codes above KEY_MAX.
std::optional<std::int64_t> tapKeyCodeForEvdevCode(std::uint16_t code);

/// The evdev key to press for a key code handed to the event poster: the
/// inverse of tapKeyCodeForEvdevCode. Nothing for codes no key produces.
std::optional<std::uint16_t> evdevCodeForTapKeyCode(std::int64_t keyCode);

/// One of the eight modifier keys, with its flag bit and the device-dependent
/// (left / right) bit the flag word carries alongside.
struct ModifierKey {
    std::uint16_t evdevCode = 0;
    EventFlags flag = 0;       // kMaskControl, kMaskShift, ...
    EventFlags deviceFlag = 0; // left/right bit of the flag word
    bool rightHand = false;
};

/// The modifier an evdev code is, if it is one.
std::optional<ModifierKey> modifierForEvdevCode(std::uint16_t code);

/// All eight modifiers, left-hand first within each family, families in the
/// order Control, Shift, Option, Command.
std::span<const ModifierKey> modifierKeys();

/// Caps Lock's bit of the flag word (maskAlphaShift).
inline constexpr EventFlags kMaskAlphaShift = 0x10000;

/// Whether the evdev code is a key that a keyboard event (rather than a
/// pointer or joystick) carries; the virtual keyboard declares exactly these.
bool isKeyboardKeyCode(std::uint16_t code);

} // namespace chordwell::platform::lnx
