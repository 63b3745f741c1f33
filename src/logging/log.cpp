#include "logging/log.hpp"

#include "logging/log_file.hpp"
#include "logging/stderr_log.hpp"

#include <map>
#include <mutex>
#include <utility>

namespace chordwell {
namespace {

// The process-wide logger state: the system log and its handle per category.
// Deliberately never destroyed, so that objects torn down during static
// destruction can still log.
struct LoggerState {
    std::mutex mutex;
    std::shared_ptr<platform::SystemLog> systemLog = defaultSystemLog();
    std::string subsystem{logging::kDefaultSubsystem};
    std::map<std::string, std::shared_ptr<platform::SystemLogHandle>, std::less<>> handles;

    static std::shared_ptr<platform::SystemLog> defaultSystemLog() {
        // Until the application names its log, warnings and errors must still
        // be visible somewhere; debug and info chatter is not worth stderr.
        return std::make_shared<logging::StderrSystemLog>(LogLevel::warning);
    }
};

LoggerState& state() {
    static auto* instance = new LoggerState;
    return *instance;
}

std::shared_ptr<platform::SystemLogHandle> handleFor(std::string_view category) {
    LoggerState& s = state();
    std::lock_guard lock(s.mutex);
    auto it = s.handles.find(category);
    if (it != s.handles.end()) {
        return it->second;
    }
    auto handle = s.systemLog->makeHandle(s.subsystem, category);
    s.handles.emplace(std::string(category), handle);
    return handle;
}

} // namespace

void log(LogLevel level, std::string_view message, std::string_view category) {
    try {
        const LogLevel effective = logging::normalizedLevel(level);
        if (auto handle = handleFor(category); handle && handle->isEnabled(effective)) {
            // A device name with a newline must not forge entries here either.
            if (logging::needsSanitizing(message)) {
                handle->emit(effective, logging::sanitizeMessage(message));
            } else {
                handle->emit(effective, message);
            }
        }
        if (effective != LogLevel::debug) {
            logging::LogFile::shared().append(effective, category, message);
        }
    } catch (...) {
        // Logging must never take its caller down; the line is lost.
    }
}

void log(std::uint8_t level, std::string_view message, std::string_view category) {
    log(static_cast<LogLevel>(level), message, category);
}

namespace logging {

void configure(std::shared_ptr<platform::SystemLog> systemLog,
               std::optional<std::filesystem::path> logsDirectory, std::string_view subsystem) {
    try {
        {
            LoggerState& s = state();
            std::lock_guard lock(s.mutex);
            s.systemLog = systemLog ? std::move(systemLog) : LoggerState::defaultSystemLog();
            s.subsystem =
                subsystem.empty() ? std::string(kDefaultSubsystem) : std::string(subsystem);
            s.handles.clear();
        }
        LogFile::shared().setDirectory(std::move(logsDirectory));
        // When the file cannot be written, say so once where the user can
        // still look: the system log.
        LogFile::shared().setFailureReporter([](std::string_view message) {
            if (auto handle = handleFor("logging"); handle && handle->isEnabled(LogLevel::error)) {
                handle->emit(LogLevel::error, message);
            }
        });
    } catch (...) {
        // Out of memory while configuring: the previous configuration stays.
    }
}

void flush() {
    LogFile::shared().flush();
}

} // namespace logging
} // namespace chordwell
