// Desktop ports on Qt: URLs, clipboard, host and system names, revealing a
// file; the login item as an XDG autostart entry; a Dock presence that does
// nothing where there is no Dock.
#pragma once

#include "ports/desktop.hpp"

#include <filesystem>
#include <functional>
#include <string>

namespace chordwell::platform::qt {

class QtDesktop : public Desktop {
public:
    using RevealFunction = std::function<bool(const std::filesystem::path&)>;

    /// What a system adapter knows better than Qt (the macOS adapter passes
    /// its own); an empty function means the freedesktop way below.
    struct SystemFacts {
        std::function<std::string()> computerName;
        std::function<std::string()> operatingSystemVersion;
        std::function<bool(const std::string& scheme)> hasSchemeHandler;
    };

    /// `reveal` replaces the generic file-manager logic (the macOS adapter
    /// passes its Finder call). `systemRoot` is where /etc is looked for.
    explicit QtDesktop(RevealFunction reveal = {}, SystemFacts facts = {},
                       std::filesystem::path systemRoot = "/");

    /// Hands the URL, exactly as encoded, to the system.
    bool openURL(const std::string& url) override;
    /// Asks the file manager over D-Bus (org.freedesktop.FileManager1) to
    /// select the file; without one, opens the containing folder.
    bool revealFile(const std::filesystem::path& file) override;
    void setClipboardText(const std::string& text) override;
    /// Asks `xdg-mime query default x-scheme-handler/<scheme>`: xdg-open
    /// "succeeds" even when nothing will take the URL.
    bool hasHandlerForScheme(const std::string& scheme) const override;
    /// PRETTY_HOSTNAME of /etc/machine-info ("" without one).
    std::string localizedHostName() const override;
    std::string hostName() const override;
    /// PRETTY_NAME of os-release and the kernel release:
    /// "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0-18-amd64)".
    std::string operatingSystemVersionString() const override;

    /// The value of `key` in a file of shell-style assignments such as
    /// os-release and machine-info (quotes and backslash escapes removed);
    /// "" when absent.
    static std::string assignmentValue(const std::string& text, const std::string& key);

private:
    RevealFunction reveal_;
    SystemFacts facts_;
    std::filesystem::path root_;
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
