// Which keyboard a user means on the command line (chordwellctl run
// --keyboard SELECTOR): its number in the `chordwellctl keyboards` list
// (from 1), its identifiers as VENDOR:PRODUCT in hex ("046d:c31c"), or its
// product name ("Logitech K120", letter case ignored when no name matches
// exactly). A selector of digits only is always a number.
#pragma once

#include "platform/linux/evdev_keyboard.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chordwell::platform::lnx {

struct KeyboardSelection {
    /// Position in the list; nothing when no keyboard matches.
    std::optional<std::size_t> index;
    /// Why nothing matched, for the user.
    std::string error;
};

/// Picks from `keyboards` (in the order `chordwellctl keyboards` lists
/// them). Where several match, the first one wins.
KeyboardSelection selectKeyboard(const std::vector<KeyboardNodeInfo>& keyboards,
                                 std::string_view selector);

} // namespace chordwell::platform::lnx
