// Keys typed into the demo window, as the HID usages a real keyboard would
// report for them.
#pragma once

#include "model/keys.hpp"

#include <cstdint>
#include <optional>

namespace chordwell::app {

/// What a key event of the window system tells about the key.
struct TypedKey {
    int qtKey = 0;                      // Qt::Key
    std::uint32_t nativeScanCode = 0;   // X11 / Wayland: evdev code + 8; 0 when unknown
    std::uint32_t nativeVirtualKey = 0; // macOS: the virtual key code; 0 when unknown
};

/// The HID usage of a typed key. The native code is used where the window
/// system reports one (it tells left from right modifiers and does not
/// depend on the layout); otherwise the Qt key gives the usage of the key
/// carrying that symbol on a US layout, left modifiers for modifiers.
std::optional<HidUsage> hidUsageForTypedKey(const TypedKey& key);

} // namespace chordwell::app
