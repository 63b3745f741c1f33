// What the main window says when the desktop shows no tray. Stock GNOME has
// none: the status item then cannot be shown, and once the main window is
// closed nothing on screen shows that Chordwell still intercepts keys, nor
// how to get the window back.
#pragma once

#include "app/shell/main_window.hpp"

#include <optional>

namespace chordwell::app {

/// The banner line for a desktop without a tray; nothing where there is a
/// tray, and nothing on macOS, whose menu bar always takes status items.
std::optional<BannerMessage> noTrayNotice(bool trayAvailable);

} // namespace chordwell::app
