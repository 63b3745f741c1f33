// Paths, preferences and the unified log on macOS. macOS only.
#pragma once

#include "platform/ports.hpp"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
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

/// The application's user defaults (CFPreferences, current application,
/// current user): Booleans, numbers (as double) and anything else as text.
/// The engine reads the repeat preferences at every mapped key press, where
/// nothing may allocate; values read are kept in memory and read again from
/// the defaults once they are a second old (another process, the settings
/// window of the application, may have changed them).
class MacPreferences final : public Preferences {
public:
    std::optional<PreferenceValue> value(std::string_view key) const override;
    void setValue(std::string_view key, const PreferenceValue& value) override;

private:
    static std::optional<PreferenceValue> readStored(std::string_view key);

    mutable std::mutex mutex_;
    mutable std::map<std::string, std::optional<PreferenceValue>, std::less<>> cache_;
    mutable std::chrono::steady_clock::time_point cachedAt_{};
};

/// The unified log: one os_log_t per subsystem and category.
class UnifiedLog final : public SystemLog {
public:
    /// An empty subsystem stands for defaultLogSubsystem().
    std::shared_ptr<SystemLogHandle> makeHandle(std::string_view subsystem,
                                                std::string_view category) override;
};

} // namespace chordwell::platform::mac
