// The diagnostics report of the settings window: a few lines about the
// application and the machine, the recent user actions and the log text,
// saved to a file, shown in the file manager or e-mailed to support.
// Plain C++ over the desktop port; the widgets only draw its state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace chordwell::platform {
class Desktop;
}
namespace chordwell::logging {
class LogFile;
class Breadcrumbs;
} // namespace chordwell::logging

namespace chordwell::app {

/// Where the report's parts come from; the process-wide log and breadcrumbs
/// unless a test hands in its own.
struct DiagnosticsSources {
    /// Previous log file's text followed by the current one's ("" without).
    std::function<std::string()> readLog;
    /// The current log file when it exists.
    std::function<std::optional<std::filesystem::path>()> currentLogFile;
    /// The last n user actions as text.
    std::function<std::string(std::int64_t)> recentActions;
    /// Records a user action for later reports ("Diagnostics saved").
    std::function<void(const std::string&)> recordAction;

    /// The process-wide LogFile and Breadcrumbs.
    static DiagnosticsSources shared();
    /// A given log file and breadcrumbs list (both must outlive the sources).
    static DiagnosticsSources from(logging::LogFile& logFile, logging::Breadcrumbs& breadcrumbs);
};

/// What the report says about the application.
struct DiagnosticsIdentity {
    std::string displayName;
    std::string versionString;
    std::string supportEmail;
    /// Label of the operating-system line: "macOS" on a Mac, "Linux" here.
    std::string systemLabel;

    /// The running application (app_info) on this system.
    static DiagnosticsIdentity current();
};

/// Texts that name the system's file manager.
std::string revealButtonTitle();
std::string saveFailedMessage();

class DiagnosticsModel {
public:
    /// Asks the user where to save; nothing when they cancel.
    using SavePathChooser =
        std::function<std::optional<std::filesystem::path>(const std::string& proposedName)>;

    static constexpr const char* kProposedFileName = "Chordwell-diagnostics.txt";
    static constexpr std::int64_t kRecentActionCount = 12;
    static constexpr std::int64_t kEmailLogCharacters = 2000;

    DiagnosticsModel(platform::Desktop& desktop, DiagnosticsSources sources,
                     DiagnosticsIdentity identity);

    const DiagnosticsIdentity& identity() const { return identity_; }

    /// The status line under the buttons, when there is one.
    const std::optional<std::string>& savedConfirmation() const { return savedConfirmation_; }
    /// Forgets the status line (the section is shown afresh).
    void resetConfirmation() { savedConfirmation_.reset(); }

    /// App, system and device lines, an empty line, then the recent actions.
    std::string diagnosticsHeader() const;
    /// Header, an empty line, then the log text.
    std::string reportText() const;

    /// Writes the report where the user chooses, atomically.
    void saveDiagnostics(const SavePathChooser& choosePath);
    /// Shows the current log file selected in the file manager.
    void revealLog();
    /// Opens a mail to support with the report, or puts it on the clipboard
    /// when no mail client takes it.
    void emailDiagnostics();
    /// Hands a mailto: URL with subject and body to the system (just the
    /// recipient when no URL can be built from them); true when a mail
    /// client took it, false at once when none is registered.
    bool composeMail(const std::string& recipient, const std::string& subject,
                     const std::string& body);

    /// The mailto: URL composeMail opens; nothing when none can be made.
    static std::optional<std::string>
    mailtoURL(const std::string& recipient, const std::string& subject, const std::string& body);
    /// The log as the e-mail carries it: whole up to kEmailLogCharacters
    /// user-perceived characters, else "…(truncated)\n" and the last ones.
    static std::string logTextForEmail(const std::string& logText);
    /// The e-mail's subject and body.
    std::string emailSubject() const;
    std::string emailBody(const std::string& logText) const;

private:
    void recordAction(const std::string& action) const;

    platform::Desktop& desktop_;
    DiagnosticsSources sources_;
    DiagnosticsIdentity identity_;
    std::optional<std::string> savedConfirmation_;
};

} // namespace chordwell::app
