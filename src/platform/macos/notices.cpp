#include "platform/macos/notices.hpp"

#include <string>

namespace chordwell::platform::mac {

std::vector<PlatformNotice> macSystemNotices(const MacSystemState& state) {
    std::vector<PlatformNotice> notices;
    if (!state.inputMonitoringGranted) {
        notices.push_back(PlatformNotice{
            "Input Monitoring is not allowed, so keyboards cannot be read. Allow Chordwell "
            "in System Settings → Privacy & Security → Input Monitoring.",
            "Open Input Monitoring Settings", std::string(kInputMonitoringSettingsURL)});
    }
    if (!state.accessibilityTrusted) {
        notices.push_back(PlatformNotice{
            "Accessibility is not allowed, so mapped keys also reach other apps. Allow "
            "Chordwell in System Settings → Privacy & Security → Accessibility.",
            "Open Accessibility Settings", std::string(kAccessibilitySettingsURL)});
    }
    if (state.secureInputEnabled) {
        notices.push_back(PlatformNotice{std::string(kSecureInputNotice), {}, {}});
    }
    return notices;
}

} // namespace chordwell::platform::mac
