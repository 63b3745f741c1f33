#include "app/shell/tray_notice.hpp"

namespace chordwell::app {

std::optional<BannerMessage> noTrayNotice(bool trayAvailable) {
#ifdef __APPLE__
    (void)trayAvailable;
    return std::nullopt;
#else
    if (trayAvailable) {
        return std::nullopt;
    }
    BannerMessage notice;
    notice.text =
        "Your desktop has no system tray, so Chordwell's tray icon cannot be shown. Closing "
        "this window leaves Chordwell running with its mappings active; launch Chordwell again "
        "to bring the window back. On GNOME, install and enable the AppIndicator extension "
        "(gnome-shell-extension-appindicator) to get the tray icon.";
    return notice;
#endif
}

} // namespace chordwell::app
