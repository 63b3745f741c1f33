#include "platform/macos/notices.hpp"

#include <string>

namespace chordwell::platform::mac {

std::vector<PlatformNotice> macSystemNotices(const MacSystemState& state) {
    std::vector<PlatformNotice> notices;
    if (!state.inputMonitoringGranted) {
        PlatformNotice notice{
            "Input Monitoring is not allowed, so keyboards cannot be read. Allow Chordwell "
            "in System Settings → Privacy & Security → Input Monitoring.",
            "Open Input Monitoring Settings", std::string(kInputMonitoringSettingsURL)};
        notice.requestKey = std::string(kListenPermission);
        notices.push_back(std::move(notice));
    }
    if (!state.accessibilityTrusted || !state.postEventAccess) {
        // Both live in the Accessibility list; the message says what is lost.
        const char* what =
            !state.accessibilityTrusted && !state.postEventAccess
                ? "Accessibility is not allowed, so Chordwell can neither keep mapped keys "
                  "from reaching other apps nor type their outputs."
            : !state.accessibilityTrusted
                ? "Accessibility is not allowed, so mapped keys also reach other apps."
                : "Accessibility is not allowed, so Chordwell cannot type the outputs of "
                  "mappings.";
        PlatformNotice notice{
            std::string(what) + " Allow Chordwell in System Settings → Privacy & Security → "
                                "Accessibility.",
            "Open Accessibility Settings", std::string(kAccessibilitySettingsURL)};
        notice.requestKey = std::string(kPostPermission);
        notices.push_back(std::move(notice));
    }
    if (state.secureInputEnabled) {
        notices.push_back(PlatformNotice{std::string(kSecureInputNotice), {}, {}});
    }
    return notices;
}

} // namespace chordwell::platform::mac
