// The one logging call. Every message goes to the operating system's log;
// every message above debug also to the rotating log file. Callable from any
// thread; no file I/O happens on the caller's thread.
#pragma once

#include "ports/ports.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace chordwell {

/// log(_:_:category:). `level` values above 2 are treated as error.
void log(LogLevel level, std::string_view message, std::string_view category);
/// Same, for callers that hold a raw level number.
void log(std::uint8_t level, std::string_view message, std::string_view category);

namespace logging {

/// The subsystem of the system-log handles unless configure() names another.
inline constexpr std::string_view kDefaultSubsystem = "com.palvane.Chordwell";

/// Any level above warning counts as error.
constexpr LogLevel normalizedLevel(LogLevel level) {
    return static_cast<std::uint8_t>(level) > static_cast<std::uint8_t>(LogLevel::warning)
               ? LogLevel::error
               : level;
}

/// Configures the process-wide logging: the system log behind the unified-log
/// handles and the folder of the log file (nothing: lines are dropped).
/// Called once at start-up, before the first log line; tests call it again.
/// A null `systemLog` restores the start-up default: warnings and errors on
/// standard error, debug and info nowhere. Cached handles are dropped, so the
/// next line of every category asks the new log for a handle.
void configure(std::shared_ptr<platform::SystemLog> systemLog,
               std::optional<std::filesystem::path> logsDirectory,
               std::string_view subsystem = kDefaultSubsystem);

/// Waits until every line logged before the call has reached the log file
/// (or been dropped). For tests and for short-lived tools before they exit.
void flush();

} // namespace logging
} // namespace chordwell
