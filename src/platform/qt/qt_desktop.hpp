// Desktop ports on Qt: URLs, clipboard, host and system names, revealing a
// file; the login item as an XDG autostart entry; a Dock presence that does
// nothing where there is no Dock.
#pragma once

#include "platform/desktop.hpp"

#include <filesystem>
#include <functional>
#include <string>

namespace chordwell::platform::qt {

class QtDesktop : public Desktop {
public:
    using RevealFunction = std::function<bool(const std::filesystem::path&)>;

    /// `reveal` replaces the generic file-manager logic (the macOS adapter
    /// passes its Finder call).
    explicit QtDesktop(RevealFunction reveal = {});

    /// Hands the URL, exactly as encoded, to the system.
    bool openURL(const std::string& url) override;
    /// Asks the file manager over D-Bus (org.freedesktop.FileManager1) to
    /// select the file; without one, opens the containing folder.
    bool revealFile(const std::filesystem::path& file) override;
    void setClipboardText(const std::string& text) override;
    std::string localizedHostName() const override;
    std::string hostName() const override;
    std::string operatingSystemVersionString() const override;

private:
    RevealFunction reveal_;
};

/// "Launch at login" on freedesktop systems: a .desktop file in the
/// autostart folder ($XDG_CONFIG_HOME/autostart).
class XdgAutostartLoginItem : public LoginItemService {
public:
    /// The user's autostart folder and the running executable.
    XdgAutostartLoginItem();
    XdgAutostartLoginItem(std::filesystem::path autostartFolder, std::string executable);

    LoginItemStatus status() const override;
    bool registerApp(std::string& error) override;
    bool unregisterApp(std::string& error) override;

    std::filesystem::path entryFile() const;
    /// The entry's text for an executable.
    static std::string desktopEntry(const std::string& executable);

private:
    std::filesystem::path folder_;
    std::string executable_;
};

/// Where the application has no Dock icon to show or hide.
class NoopAppPresence : public AppPresence {
public:
    void setActivationPolicy(ActivationPolicy policy) override { policy_ = policy; }
    void activateIgnoringOtherApps() override { ++activations_; }

    ActivationPolicy policy() const { return policy_; }
    int activations() const { return activations_; }

private:
    ActivationPolicy policy_ = ActivationPolicy::regular;
    int activations_ = 0;
};

} // namespace chordwell::platform::qt
