// The keyboard layout on Linux, read with libxkbcommon.
//
// With an X server (DISPLAY), its keymap is read through xkbcommon-x11 and
// followed: a new keyboard or keymap (XkbNewKeyboardNotify, XkbMapNotify)
// is read again, and a switch of group (XkbStateNotify) makes that group the
// active one. Without one (Wayland, where no client may read the
// compositor's keymap, or the background mode) the layout the machine is
// configured with is compiled: XKB_DEFAULT_LAYOUT and its siblings, else
// /etc/default/keyboard, else systemd-localed's X11 layout (what localectl
// shows); US when none is set.
#pragma once

#include "model/keyboard_layout.hpp"
#include "ports/fd_watcher.hpp"
#include "ports/ports.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace chordwell::platform::lnx {

/// The names XKB compiles a keymap from ("evdev", "pc105", "fr", "", "").
struct XkbNames {
    std::string rules;
    std::string model;
    std::string layout;
    std::string variant;
    std::string options;

    friend bool operator==(const XkbNames&, const XkbNames&) = default;
};

/// The XKB* settings of /etc/default/keyboard (shell assignments such as
/// XKBLAYOUT="fr"); what the file does not set stays empty.
XkbNames parseDefaultKeyboardFile(std::string_view text);

/// Where the configured layout was found, and its names.
struct ConfiguredLayout {
    XkbNames names;
    std::string source; // "XKB_DEFAULT_LAYOUT", "/etc/default/keyboard", ...
};

/// The layout the machine is configured with: the XKB_DEFAULT_* variables
/// when XKB_DEFAULT_LAYOUT is set, else `keyboardFile` when it names a
/// layout, else systemd-localed's X11 layout when `askLocaled`; nothing
/// when none of them says.
std::optional<ConfiguredLayout>
configuredLayout(const std::filesystem::path& keyboardFile = "/etc/default/keyboard",
                 bool askLocaled = true);

/// The table of the keymap XKB compiles from `names` (empty fields take
/// XKB's defaults, never the environment's); nothing, with `error` set,
/// when it does not compile (an unknown layout, no XKB data installed).
std::shared_ptr<const KeyLayout> keyLayoutFromNames(const XkbNames& names, std::string& error);

class XServerKeymap;

/// The KeyboardLayout port on Linux.
class XkbKeyboardLayout final : public KeyboardLayout {
public:
    /// Reads the X server's keymap when DISPLAY names one that answers,
    /// and follows it through `watcher` on the main thread; else the
    /// configured layout, read once.
    static std::unique_ptr<XkbKeyboardLayout> create(std::shared_ptr<FdWatcher> watcher);
    /// The configured layout only (no X server): for tools and tests.
    static std::unique_ptr<XkbKeyboardLayout>
    fromConfiguration(const std::filesystem::path& keyboardFile = "/etc/default/keyboard",
                      bool askLocaled = true);
    ~XkbKeyboardLayout() override;

    std::shared_ptr<const KeyLayout> activeLayout() const override { return active_; }
    void setChangeObserver(std::function<void()> observer) override {
        observer_ = std::move(observer);
    }
    std::string source() const override { return source_; }

private:
    XkbKeyboardLayout() = default;
    void replace(std::shared_ptr<const KeyLayout> next);

    std::shared_ptr<const KeyLayout> active_;
    std::string source_;
    std::function<void()> observer_;
    std::unique_ptr<XServerKeymap> server_;
};

} // namespace chordwell::platform::lnx
