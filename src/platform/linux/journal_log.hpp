// The systemd journal as the system log. Each line carries the message, a
// syslog priority, the identifier "chordwell" and the subsystem and category
// as fields of their own (CHORDWELL_SUBSYSTEM, CHORDWELL_CATEGORY), so that
// `journalctl CHORDWELL_CATEGORY=storage` finds the storage lines.
#pragma once

#include "ports/ports.hpp"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace chordwell::platform {

/// Syslog priority of a level: debug 7, info 6, warning 4, error 3.
int journalPriority(LogLevel level);

class JournalSystemLog : public SystemLog {
public:
    /// Sends the "FIELD=value" entries of one line; returns 0 or a negative
    /// errno value (as sd_journal_sendv does).
    using Sender = int (*)(const std::vector<std::string>& fields);

    /// Lines below `minimumLevel` are not sent. When the journal cannot be
    /// reached (no journald, as in many containers), lines go to `fallback`
    /// as "[LEVEL] (category) message".
    explicit JournalSystemLog(LogLevel minimumLevel = LogLevel::info,
                              Sender sender = &sendToJournal, std::FILE* fallback = stderr);

    std::shared_ptr<SystemLogHandle> makeHandle(std::string_view subsystem,
                                                std::string_view category) override;

    /// The real sender: sd_journal_sendv.
    static int sendToJournal(const std::vector<std::string>& fields);

private:
    LogLevel minimumLevel_;
    Sender sender_;
    std::FILE* fallback_;
};

} // namespace chordwell::platform
