#include "logging/stderr_log.hpp"

#include <cstdio>
#include <utility>

namespace chordwell::logging {
namespace {

class StderrHandle : public platform::SystemLogHandle {
public:
    StderrHandle(std::string category, LogLevel minimumLevel)
        : category_(std::move(category)), minimumLevel_(minimumLevel) {}

    bool isEnabled(LogLevel level) const override {
        return static_cast<int>(level) >= static_cast<int>(minimumLevel_);
    }
    void emit(LogLevel level, std::string_view message) override {
        if (!isEnabled(level)) {
            return;
        }
        std::string line = StderrSystemLog::formatLine(level, category_, message);
        line.push_back('\n');
        // One fwrite per line keeps lines from different threads whole.
        std::fwrite(line.data(), 1, line.size(), stderr);
    }

private:
    std::string category_;
    LogLevel minimumLevel_;
};

} // namespace

StderrSystemLog::StderrSystemLog(LogLevel minimumLevel) : minimumLevel_(minimumLevel) {}

std::shared_ptr<platform::SystemLogHandle> StderrSystemLog::makeHandle(std::string_view,
                                                                       std::string_view category) {
    return std::make_shared<StderrHandle>(std::string(category), minimumLevel_);
}

std::string StderrSystemLog::formatLine(LogLevel level, std::string_view category,
                                        std::string_view message) {
    std::string line;
    line.reserve(message.size() + category.size() + 12);
    line += '[';
    line += logLevelLabel(level);
    line += "] (";
    line += category;
    line += ") ";
    line += message;
    return line;
}

} // namespace chordwell::logging
