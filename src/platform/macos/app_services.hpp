// AppKit and ServiceManagement services of the application shell: Dock
// presence, launch at login and revealing files in Finder. Implemented in
// Objective-C++ (app_services.mm) because these APIs have no C interface.
// macOS only; call on the main thread.
#pragma once

#include "ports/desktop.hpp"

#include <filesystem>
#include <memory>

namespace chordwell::platform::mac {

/// The main application's login item (SMAppService.mainAppService).
class MacLoginItemService final : public LoginItemService {
public:
    LoginItemStatus status() const override;
    bool registerApp(std::string& error) override;
    bool unregisterApp(std::string& error) override;
};

/// [NSApp setActivationPolicy:] and activation.
class MacAppPresence final : public AppPresence {
public:
    void setActivationPolicy(ActivationPolicy policy) override;
    void activateIgnoringOtherApps() override;
};

/// Opens a Finder window with `file` selected (activateFileViewerSelectingURLs:).
/// False when the file does not exist.
bool revealFileInFinder(const std::filesystem::path& file);

} // namespace chordwell::platform::mac
