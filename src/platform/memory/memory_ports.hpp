// In-memory and minimal adapters of the preference, path and system-log
// ports. Tests and the simulated platform use them; StderrSystemLog is also
// the fallback log before the real one is configured and the sink of
// --verbose.
#pragma once

#include "logging/stderr_log.hpp"
#include "ports/ports.hpp"

#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace chordwell::platform {

/// A thread-safe preference store held in memory.
class MemoryPreferences : public Preferences {
public:
    MemoryPreferences() = default;
    MemoryPreferences(std::initializer_list<std::pair<const std::string, PreferenceValue>> values);

    std::optional<PreferenceValue> value(std::string_view key) const override;
    void setValue(std::string_view key, const PreferenceValue& value) override;
    /// Forgets a key; unknown keys are ignored.
    void removeValue(std::string_view key);

private:
    mutable std::mutex mutex_;
    std::map<std::string, PreferenceValue, std::less<>> values_;
};

/// Paths rooted at a given application-support folder. Constructed without
/// one, it behaves like a system that has no such folder.
class FolderPaths : public Paths {
public:
    FolderPaths() = default;
    explicit FolderPaths(std::filesystem::path applicationSupport,
                         std::optional<std::filesystem::path> resources = std::nullopt);

    /// Creates the folder when missing and returns it; nothing (with the
    /// error set) when there is no folder or it cannot be created.
    std::optional<std::filesystem::path>
    applicationSupportDirectory(std::error_code& error) const override;
    /// The resource folder given at construction, if any.
    std::optional<std::filesystem::path> resourceDirectory() const override { return resources_; }

private:
    std::optional<std::filesystem::path> applicationSupport_;
    std::optional<std::filesystem::path> resources_;
};

/// One line a CapturingSystemLog received.
struct CapturedLogEntry {
    LogLevel level = LogLevel::info;
    std::string subsystem;
    std::string category;
    std::string message;

    friend bool operator==(const CapturedLogEntry&, const CapturedLogEntry&) = default;
};

/// Records every emitted line in memory; every level is enabled.
class CapturingSystemLog : public SystemLog {
public:
    std::shared_ptr<SystemLogHandle> makeHandle(std::string_view subsystem,
                                                std::string_view category) override;

    /// A copy of everything emitted so far, in order.
    std::vector<CapturedLogEntry> entries() const;
    /// Only the messages, in order (handy for assertions).
    std::vector<std::string> messages() const;
    void clear();

    /// Shared with the handles, so that a handle that outlives this log (one
    /// still cached by the logger, say) records into memory that still exists.
    struct Store {
        std::mutex mutex;
        std::vector<CapturedLogEntry> entries;
    };

private:
    std::shared_ptr<Store> store_ = std::make_shared<Store>();
};

/// Discards everything; every level reports disabled.
class NullSystemLog : public SystemLog {
public:
    std::shared_ptr<SystemLogHandle> makeHandle(std::string_view subsystem,
                                                std::string_view category) override;
};

/// The standard-error log lives with the logging it backs up.
using StderrSystemLog = logging::StderrSystemLog;

using chordwell::logLevelLabel;

} // namespace chordwell::platform
