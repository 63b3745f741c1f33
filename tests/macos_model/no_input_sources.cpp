// The model has no input sources (Text Input Sources and UCKeyTranslate are
// not modelled), so the keyboard layout reads as absent here: the platform
// answers no layout, which the engine takes as the US meaning of key codes.
// The adapter's own layout reader is exercised on a Mac only.
#include "platform/macos/mac_keyboard_layout.hpp"

namespace chordwell::platform::mac {

std::unique_ptr<MacKeyboardLayout> MacKeyboardLayout::create() {
    return nullptr;
}

MacKeyboardLayout::~MacKeyboardLayout() = default;

} // namespace chordwell::platform::mac
