// The keyboard event tap's view of CoreGraphics event types. Portable (no
// system headers): the values are those of CGEventType.
#pragma once

#include "platform/ports.hpp"

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

/// True for the two notices the system sends after it disabled a tap; they
/// carry no key code or flags.
constexpr bool isTapDisabledNotice(EventType type) {
    return type == EventType::tapDisabledByTimeout || type == EventType::tapDisabledByUserInput;
}

} // namespace chordwell::platform::mac
