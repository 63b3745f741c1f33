// The one logging call. Every message goes to the operating system's log;
// every message above debug also to the rotating log file. Callable from any
// thread; no file I/O happens on the caller's thread.
#pragma once

#include "platform/ports.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

namespace chordwell {

/// log(_:_:category:). `level` values above 2 are treated as error.
void log(LogLevel level, std::string_view message, std::string_view category);
/// Same, for callers that hold a raw level number.
void log(std::uint8_t level, std::string_view message, std::string_view category);

namespace logging {

/// Configures the process-wide logging: the system log behind the unified-log
/// handles and the folder of the log file (nothing: lines are dropped).
/// Called once at start-up, before the first log line; tests call it again.
void configure(std::shared_ptr<platform::SystemLog> systemLog,
               std::optional<std::filesystem::path> logsDirectory);

} // namespace logging
} // namespace chordwell
