// What the main window should tell the user about the system's state: the
// privacy permissions and Secure Event Input. The macOS platform reads the
// state (IOHIDCheckAccess, AXIsProcessTrusted, CGPreflightPostEventAccess,
// IsSecureEventInputEnabled) and turns it into notices here. Portable (no
// system headers).
#pragma once

#include "ports/ports.hpp"

#include <string_view>
#include <vector>

namespace chordwell::platform::mac {

/// The system settings panes of the two permissions.
inline constexpr std::string_view kInputMonitoringSettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ListenEvent";
inline constexpr std::string_view kAccessibilitySettingsURL =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

/// The permissions a notice's button asks the system for (its request key).
inline constexpr std::string_view kListenPermission = "listen-event";
inline constexpr std::string_view kPostPermission = "post-event";

/// While a password field (or any app) holds Secure Event Input, the event
/// tap receives no key events and nothing is posted: keys reach the field as
/// typed and no mapping fires.
inline constexpr std::string_view kSecureInputNotice =
    "Paused while a password field has secure input";

struct MacSystemState {
    /// IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) answered "granted".
    bool inputMonitoringGranted = true;
    /// AXIsProcessTrusted(): an event tap that may swallow keys.
    bool accessibilityTrusted = true;
    /// IsSecureEventInputEnabled().
    bool secureInputEnabled = false;
    /// CGPreflightPostEventAccess(): posted keys are not dropped.
    bool postEventAccess = true;
};

/// The notices for `state`, most fundamental first: missing Input Monitoring
/// (nothing can be read), missing Accessibility (nothing can be blocked, or
/// nothing can be typed), then secure input. Empty when all is well.
std::vector<PlatformNotice> macSystemNotices(const MacSystemState& state);

} // namespace chordwell::platform::mac
