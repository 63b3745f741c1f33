// What the main window should tell the user about the system's state: the
// two privacy permissions and Secure Event Input. The macOS platform reads
// the state (IOHIDCheckAccess, AXIsProcessTrusted, IsSecureEventInputEnabled)
// and turns it into notices here. Portable (no system headers).
#pragma once

#include "platform/ports.hpp"

#include <string_view>
#include <vector>

namespace chordwell::platform::mac {

/// The system settings panes of the two permissions.
inline constexpr std::string_view kInputMonitoringSettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ListenEvent";
inline constexpr std::string_view kAccessibilitySettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

/// While a password field (or any app) holds Secure Event Input, the event
/// tap receives no key events: mapped keys reach applications unfiltered.
inline constexpr std::string_view kSecureInputNotice =
    "Paused while a password field has secure input";

struct MacSystemState {
    /// IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) answered "granted".
    bool inputMonitoringGranted = true;
    /// AXIsProcessTrusted().
    bool accessibilityTrusted = true;
    /// IsSecureEventInputEnabled().
    bool secureInputEnabled = false;
};

/// The notices for `state`, most fundamental first: missing Input Monitoring
/// (nothing can be read), missing Accessibility (nothing can be blocked),
/// then secure input. Empty when all is well.
std::vector<PlatformNotice> macSystemNotices(const MacSystemState& state);

} // namespace chordwell::platform::mac
