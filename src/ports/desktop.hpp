// Desktop ports used by the application shell (not by the engine): login
// item, Dock presence, revealing files, URLs, clipboard, host names.
// The Qt adapters cover what Qt can do everywhere; the macOS adapters
// (AppKit, ServiceManagement) and the Linux ones (XDG) fill in the rest.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace chordwell::platform {

/// Whether the application shows a Dock icon and menu bar (regular) or only
/// its status item (accessory).
enum class ActivationPolicy { regular, accessory };

/// The state of the "start at login" registration, owned by the system.
enum class LoginItemStatus { notRegistered, enabled, requiresApproval, notFound };

class LoginItemService {
public:
    virtual ~LoginItemService() = default;
    virtual LoginItemStatus status() const = 0;
    /// Register / unregister; false with `error` set (a user-readable
    /// description) on failure.
    virtual bool registerApp(std::string& error) = 0;
    virtual bool unregisterApp(std::string& error) = 0;
};

class AppPresence {
public:
    virtual ~AppPresence() = default;
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    /// Brings the application to the front, ignoring other applications.
    virtual void activateIgnoringOtherApps() = 0;
};

class Desktop {
public:
    virtual ~Desktop() = default;
    /// Hands a URL to the system; true when an application took it.
    virtual bool openURL(const std::string& url) = 0;
    /// Shows the file selected in the file browser (Finder on macOS).
    virtual bool revealFile(const std::filesystem::path& file) = 0;
    /// Replaces the clipboard's content with plain text.
    virtual void setClipboardText(const std::string& text) = 0;
    /// Whether an application is registered to take URLs of `scheme`
    /// ("mailto"). Handing a URL over can succeed merely because a launcher
    /// started (xdg-open does), so a caller that needs a real taker asks
    /// first. True when the system cannot tell.
    virtual bool hasHandlerForScheme(const std::string& scheme) const {
        (void)scheme;
        return true;
    }
    /// The computer's user-visible name ("" when the system gives none): the
    /// Computer Name of the Sharing settings on macOS, PRETTY_HOSTNAME on
    /// Linux. Never the network host name, which is hostName().
    virtual std::string localizedHostName() const = 0;
    /// The network host name.
    virtual std::string hostName() const = 0;
    /// Human-readable operating-system version: "Version 14.2 (Build 23C64)"
    /// on macOS, the distribution's PRETTY_NAME and the kernel on Linux.
    virtual std::string operatingSystemVersionString() const = 0;
};

} // namespace chordwell::platform
