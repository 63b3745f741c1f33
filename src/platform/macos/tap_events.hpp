// The keyboard event tap's view of CoreGraphics event types. Portable (no
// system headers): the values are those of CGEventType.
#pragma once

#include "ports/ports.hpp"

#include <cstdint>
#include <optional>

namespace chordwell::platform::mac {

/// Key-down (10), key-up (11) and flags-changed (12): the events the
/// keyboard tap asks for (CGEventMaskBit of each).
inline constexpr std::uint64_t kKeyboardTapEventMask =
    (std::uint64_t{1} << 10) | (std::uint64_t{1} << 11) | (std::uint64_t{1} << 12);
static_assert(kKeyboardTapEventMask == 0x1C00);

/// The port's event type for a CGEventType the tap hands to its callback:
/// the three keyboard types and the two tap-disabled notices. Anything else
/// (which a keyboard tap should never see) has none and is passed unchanged.
constexpr std::optional<EventType> keyboardTapEventType(std::uint32_t cgEventType) {
    switch (cgEventType) {
    case static_cast<std::uint32_t>(EventType::keyDown):
        return EventType::keyDown;
    case static_cast<std::uint32_t>(EventType::keyUp):
        return EventType::keyUp;
    case static_cast<std::uint32_t>(EventType::flagsChanged):
        return EventType::flagsChanged;
    case static_cast<std::uint32_t>(EventType::tapDisabledByTimeout):
        return EventType::tapDisabledByTimeout;
    case static_cast<std::uint32_t>(EventType::tapDisabledByUserInput):
        return EventType::tapDisabledByUserInput;
    default:
        return std::nullopt;
    }
}

/// The flag bits the system itself puts on the events of some keys: the
/// arrows carry the numeric-pad and function bits, the function keys and the
/// navigation block (Help, Home, End, Page Up, Page Down, Forward Delete) the
/// function bit, the keypad the numeric-pad bit. Applications look at them
/// (text fields tell an arrow from a keypad digit by them), so a posted key
/// carries them as a typed one does.
inline constexpr EventFlags kNumericPadFlag = 0x200000;
inline constexpr EventFlags kSecondaryFnFlag = 0x800000;
constexpr EventFlags implicitKeyFlags(std::int64_t keyCode) {
    switch (keyCode) {
    case 123: // left, right, down, up
    case 124:
    case 125:
    case 126:
        return kNumericPadFlag | kSecondaryFnFlag;
    case 114: // Help, Home, Page Up, Forward Delete, End, Page Down
    case 115:
    case 116:
    case 117:
    case 119:
    case 121:
    case 122: // F1 to F12
    case 120:
    case 99:
    case 118:
    case 96:
    case 97:
    case 98:
    case 100:
    case 101:
    case 109:
    case 103:
    case 111:
    case 105: // F13 to F20
    case 107:
    case 113:
    case 106:
    case 64:
    case 79:
    case 80:
    case 90:
        return kSecondaryFnFlag;
    case 65: // keypad: decimal, *, +, clear, /, enter, -, =, 0 to 9
    case 67:
    case 69:
    case 71:
    case 75:
    case 76:
    case 78:
    case 81:
    case 82:
    case 83:
    case 84:
    case 85:
    case 86:
    case 87:
    case 88:
    case 89:
    case 91:
    case 92:
        return kNumericPadFlag;
    default:
        return 0;
    }
}

/// True for the two notices the system sends after it disabled a tap; they
/// carry no key code or flags.
constexpr bool isTapDisabledNotice(EventType type) {
    return type == EventType::tapDisabledByTimeout || type == EventType::tapDisabledByUserInput;
}

/// Backspace (Delete, 51), Escape (53) and Return (36) held together: the
/// way out when interception goes wrong and takes the keys away, the same
/// chord as on Linux. Fed every key event of the user that the tap sees,
/// swallowed or not; says when an event completes the chord.
class EmergencyChord {
public:
    bool update(EventType type, std::int64_t keyCode) {
        const int slot = keyCode == 51 ? 0 : keyCode == 53 ? 1 : keyCode == 36 ? 2 : -1;
        if (slot < 0 || (type != EventType::keyDown && type != EventType::keyUp)) {
            return false;
        }
        const bool wasComplete = down_[0] && down_[1] && down_[2];
        down_[slot] = type == EventType::keyDown;
        return !wasComplete && down_[0] && down_[1] && down_[2];
    }

private:
    bool down_[3] = {false, false, false};
};

} // namespace chordwell::platform::mac
