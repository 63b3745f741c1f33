// The system log of last resort: lines on standard error. It is the log's
// own default until the application names the platform's log, and the sink
// of --verbose.
#pragma once

#include "ports/ports.hpp"

#include <memory>
#include <string>
#include <string_view>

namespace chordwell::logging {

/// Writes "[LEVEL] (category) message" lines to standard error for every
/// level at or above `minimumLevel`.
class StderrSystemLog : public platform::SystemLog {
public:
    explicit StderrSystemLog(LogLevel minimumLevel = LogLevel::debug);
    std::shared_ptr<platform::SystemLogHandle> makeHandle(std::string_view subsystem,
                                                          std::string_view category) override;

    /// The line as written (without the trailing newline).
    static std::string formatLine(LogLevel level, std::string_view category,
                                  std::string_view message);

private:
    LogLevel minimumLevel_;
};

} // namespace chordwell::logging
