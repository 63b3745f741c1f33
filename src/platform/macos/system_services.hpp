// Paths, host facts and the unified log on macOS. macOS only (the user
// defaults are in mac_preferences.hpp).
#pragma once

#include "ports/ports.hpp"

#include <memory>
#include <string>
#include <string_view>

namespace chordwell::platform::mac {

/// The subsystem of the unified log: the main bundle's identifier, or
/// "com.palvane.Chordwell" when the process has no bundle (the command-line
/// tool, the tests).
std::string defaultLogSubsystem();

/// The Computer Name of the Sharing settings ("John's MacBook Pro"); ""
/// when the system gives none.
std::string computerName();

/// "Version 14.2 (Build 23C64)", as NSProcessInfo's
/// operatingSystemVersionString reads.
std::string operatingSystemVersionString();

/// Whether Launch Services names a default application for URLs of
/// `scheme` ("mailto").
bool hasDefaultApplicationForScheme(const std::string& scheme);

/// "~/Library/Application Support", created when missing.
class MacPaths final : public Paths {
public:
    std::optional<std::filesystem::path>
    applicationSupportDirectory(std::error_code& error) const override;
    /// "Contents/Resources" of the bundle the program runs from.
    std::optional<std::filesystem::path> resourceDirectory() const override;
};

/// The unified log: one os_log_t per subsystem and category.
class UnifiedLog final : public SystemLog {
public:
    /// An empty subsystem stands for defaultLogSubsystem().
    std::shared_ptr<SystemLogHandle> makeHandle(std::string_view subsystem,
                                                std::string_view category) override;
};

} // namespace chordwell::platform::mac
