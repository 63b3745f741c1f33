#include "platform/linux/journal_log.hpp"

#include "logging/stderr_log.hpp"

#include <sys/uio.h>
#include <systemd/sd-journal.h>

namespace chordwell::platform {

int journalPriority(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return 7; // LOG_DEBUG
    case LogLevel::info:
        return 6; // LOG_INFO
    case LogLevel::warning:
        return 4; // LOG_WARNING
    case LogLevel::error:
        break;
    }
    return 3; // LOG_ERR, also for levels above error
}

namespace {

class JournalHandle : public SystemLogHandle {
public:
    JournalHandle(std::string subsystem, std::string category, LogLevel minimumLevel,
                  JournalSystemLog::Sender sender, std::FILE* fallback)
        : subsystem_(std::move(subsystem)), category_(std::move(category)),
          minimumLevel_(minimumLevel), sender_(sender), fallback_(fallback) {}

    bool isEnabled(LogLevel level) const override {
        return static_cast<int>(level) >= static_cast<int>(minimumLevel_);
    }

    void emit(LogLevel level, std::string_view message) override {
        if (!isEnabled(level)) {
            return;
        }
        try {
            const std::vector<std::string> fields = {
                "MESSAGE=" + std::string(message),
                "PRIORITY=" + std::to_string(journalPriority(level)),
                "SYSLOG_IDENTIFIER=chordwell",
                "CHORDWELL_SUBSYSTEM=" + subsystem_,
                "CHORDWELL_CATEGORY=" + category_,
            };
            if (sender_ != nullptr && sender_(fields) >= 0) {
                return;
            }
            if (fallback_ != nullptr) {
                std::string line = logging::StderrSystemLog::formatLine(level, category_, message);
                line.push_back('\n');
                std::fwrite(line.data(), 1, line.size(), fallback_);
            }
        } catch (...) {
            // The system log is best effort; the caller must not notice.
        }
    }

private:
    std::string subsystem_;
    std::string category_;
    LogLevel minimumLevel_;
    JournalSystemLog::Sender sender_;
    std::FILE* fallback_;
};

} // namespace

JournalSystemLog::JournalSystemLog(LogLevel minimumLevel, Sender sender, std::FILE* fallback)
    : minimumLevel_(minimumLevel), sender_(sender), fallback_(fallback) {}

std::shared_ptr<SystemLogHandle> JournalSystemLog::makeHandle(std::string_view subsystem,
                                                              std::string_view category) {
    return std::make_shared<JournalHandle>(std::string(subsystem), std::string(category),
                                           minimumLevel_, sender_, fallback_);
}

int JournalSystemLog::sendToJournal(const std::vector<std::string>& fields) {
    std::vector<iovec> vectors;
    vectors.reserve(fields.size());
    for (const std::string& field : fields) {
        // sd_journal_sendv only reads the buffers.
        vectors.push_back(iovec{const_cast<char*>(field.data()), field.size()});
    }
    return sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size()));
}

} // namespace chordwell::platform
