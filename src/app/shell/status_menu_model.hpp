// What the status menu shows, computed from the engine and the windows the
// application has. Plain functions so that the rules are tested without a
// system tray.
#pragma once

#include "engine/raw_keyboard_listener.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace chordwell::app {

/// One top-level window as the menu rules see it.
struct WindowInfo {
    bool hasTitleBar = false;
    bool isVisible = false;
    std::string title;
};

struct StatusMenuState {
    bool showAppEnabled = true;
    std::string toggleTitle;
    bool toggleEnabled = false;
};

/// "Deactivate <name>" while intercepting, else "Activate <name>".
std::string activateToggleTitle(bool isIntercepting, const std::string& displayName);

/// Whether a window counts as the visible main window: it has a title bar,
/// is visible and its title equals the bundle name (an absent bundle name
/// never matches).
bool isVisibleMainWindow(const WindowInfo& window, const std::optional<std::string>& bundleName);

/// The state of the menu's items each time it is about to open.
StatusMenuState statusMenuState(bool isIntercepting, bool hasSelectedDevice,
                                const std::vector<WindowInfo>& windows,
                                const std::optional<std::string>& bundleName,
                                const std::string& displayName);

/// What the status item says about interception.
struct StatusItemState {
    /// Mappings are active on `keyboard`.
    bool intercepting = false;
    /// The keyboard interception is (or would be) for; empty when none.
    std::string keyboard;
    /// Interception waits for `keyboard` to come back (unplugged, asleep):
    /// the mappings are on but nothing is being read.
    bool waitingForKeyboard = false;
};

/// The status item's tooltip: "Chordwell — mappings on for Magic Keyboard",
/// "Chordwell — mappings off", "Chordwell — Waiting for Magic Keyboard to
/// come back…" (as the main window says it).
std::string statusItemToolTip(const StatusItemState& state, const std::string& displayName);

/// The window "Show App" brings forward: the first with a title bar whose
/// title equals the bundle name, visible or not.
std::optional<std::size_t> mainWindowToShow(const std::vector<WindowInfo>& windows,
                                            const std::optional<std::string>& bundleName);

} // namespace chordwell::app
