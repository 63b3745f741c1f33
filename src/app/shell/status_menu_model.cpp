#include "app/shell/status_menu_model.hpp"

#include <algorithm>

namespace chordwell::app {

std::string activateToggleTitle(bool isIntercepting, const std::string& displayName) {
    return (isIntercepting ? "Deactivate " : "Activate ") + displayName;
}

bool isVisibleMainWindow(const WindowInfo& window, const std::optional<std::string>& bundleName) {
    return bundleName && window.hasTitleBar && window.isVisible && window.title == *bundleName;
}

StatusMenuState statusMenuState(bool isIntercepting, bool hasSelectedDevice,
                                const std::vector<WindowInfo>& windows,
                                const std::optional<std::string>& bundleName,
                                const std::string& displayName) {
    StatusMenuState state;
    state.showAppEnabled = std::none_of(windows.begin(), windows.end(), [&](const WindowInfo& w) {
        return isVisibleMainWindow(w, bundleName);
    });
    state.toggleTitle = activateToggleTitle(isIntercepting, displayName);
    state.toggleEnabled = hasSelectedDevice;
    return state;
}

std::string statusItemToolTip(const StatusItemState& state, const std::string& displayName) {
    const std::string lead = displayName + " \u2014 ";
    if (state.waitingForKeyboard && !state.keyboard.empty()) {
        return lead + "Waiting for " + state.keyboard + " to come back\u2026";
    }
    if (state.intercepting) {
        return state.keyboard.empty() ? lead + "mappings on"
                                      : lead + "mappings on for " + state.keyboard;
    }
    return lead + "mappings off";
}

std::optional<std::size_t> mainWindowToShow(const std::vector<WindowInfo>& windows,
                                            const std::optional<std::string>& bundleName) {
    if (!bundleName) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (windows[i].hasTitleBar && windows[i].title == *bundleName) {
            return i;
        }
    }
    return std::nullopt;
}

} // namespace chordwell::app
