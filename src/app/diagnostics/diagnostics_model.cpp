#include "app/diagnostics/diagnostics_model.hpp"

#include "app/app_info.hpp"
#include "fileio/file_io.hpp"
#include "logging/breadcrumbs.hpp"
#include "logging/log.hpp"
#include "logging/log_file.hpp"
#include "ports/desktop.hpp"

#include <QByteArray>
#include <QString>
#include <QTextBoundaryFinder>
#include <QUrl>

#include <system_error>
#include <utility>

namespace chordwell::app {

DiagnosticsSources DiagnosticsSources::shared() {
    return from(logging::LogFile::shared(), logging::Breadcrumbs::shared());
}

DiagnosticsSources DiagnosticsSources::from(logging::LogFile& logFile,
                                            logging::Breadcrumbs& breadcrumbs) {
    DiagnosticsSources sources;
    sources.readLog = [&logFile] {
        return logFile.readAll();
    };
    sources.currentLogFile = [&logFile] {
        return logFile.currentLogFileURL();
    };
    sources.recentActions = [&breadcrumbs](std::int64_t n) {
        return breadcrumbs.dump(n);
    };
    sources.recordAction = [&breadcrumbs](const std::string& action) {
        breadcrumbs.add(action);
    };
    return sources;
}

DiagnosticsIdentity DiagnosticsIdentity::current() {
    DiagnosticsIdentity identity;
    identity.displayName = appDisplayName().toStdString();
    identity.versionString = appVersionString().toStdString();
    identity.supportEmail = supportEmailAddress().toStdString();
#if defined(__APPLE__)
    identity.systemLabel = "macOS";
#else
    identity.systemLabel = "Linux";
#endif
    return identity;
}

std::string revealButtonTitle() {
#if defined(__APPLE__)
    return "Reveal in Finder";
#else
    return "Show in File Manager";
#endif
}

std::string saveFailedMessage() {
    return "Could not save the file. Try " + revealButtonTitle() + " instead.";
}

DiagnosticsModel::DiagnosticsModel(platform::Desktop& desktop, DiagnosticsSources sources,
                                   DiagnosticsIdentity identity)
    : desktop_(desktop), sources_(std::move(sources)), identity_(std::move(identity)) {}

std::string DiagnosticsModel::diagnosticsHeader() const {
    std::string device = desktop_.localizedHostName();
    if (device.empty()) {
        device = desktop_.hostName();
    }
    const std::string actions = sources_.recentActions
                                    ? sources_.recentActions(kRecentActionCount)
                                    : std::string(logging::Breadcrumbs::emptyText);
    return "App: " + identity_.displayName + " " + identity_.versionString + "\n" +
           identity_.systemLabel + ": " + desktop_.operatingSystemVersionString() + "\n" +
           "Device: " + device + "\n" + "\n" + "Recent actions:\n" + actions;
}

std::string DiagnosticsModel::reportText() const {
    const std::string logText = sources_.readLog ? sources_.readLog() : std::string();
    return diagnosticsHeader() + "\n\n" + logText;
}

void DiagnosticsModel::saveDiagnostics(const SavePathChooser& choosePath) {
    if (!choosePath) {
        return;
    }
    const std::optional<std::filesystem::path> target = choosePath(kProposedFileName);
    if (!target || target->empty()) {
        return;
    }
    std::string problem;
    try {
        std::error_code error;
        // The report holds the log: private to the user, whatever the umask.
        if (fileio::writeFileAtomically(*target, reportText(), error,
                                        std::filesystem::perms::owner_read |
                                            std::filesystem::perms::owner_write)) {
            savedConfirmation_ = "Saved to " + target->filename().string() + ".";
            recordAction("Diagnostics saved");
            return;
        }
        problem = error.message();
    } catch (const std::exception& exception) {
        // Out of memory building the report, say: the slot must not end the
        // application over it.
        problem = exception.what();
    } catch (...) {
        problem = "unknown error";
    }
    savedConfirmation_ = saveFailedMessage();
    log(LogLevel::error, "Saving diagnostics failed: " + problem, "diagnostics");
}

void DiagnosticsModel::revealLog() {
    try {
        const std::optional<std::filesystem::path> current =
            sources_.currentLogFile ? sources_.currentLogFile() : std::nullopt;
        if (!current) {
            savedConfirmation_ = "No log file has been created yet.";
            return;
        }
        if (desktop_.revealFile(*current)) {
            savedConfirmation_.reset();
            return;
        }
        // No file manager took it: say where the file is instead of nothing.
        savedConfirmation_ =
            "No file manager could show the log file. It is " + current->string() + ".";
        log(LogLevel::warning, "No file manager could show the log file", "diagnostics");
    } catch (const std::exception& exception) {
        log(LogLevel::error, std::string("Revealing the log file failed: ") + exception.what(),
            "diagnostics");
    } catch (...) {
        log(LogLevel::error, "Revealing the log file failed", "diagnostics");
    }
}

std::string DiagnosticsModel::logTextForEmail(const std::string& logText) {
    const QString text = QString::fromUtf8(logText.data(), static_cast<qsizetype>(logText.size()));
    // Count from the end in grapheme clusters, so that a character made of
    // several code points (an emoji with a skin tone, a letter with an
    // accent) is one character and is never cut in half.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    qsizetype start = text.size();
    for (std::int64_t kept = 0; kept < kEmailLogCharacters; ++kept) {
        const qsizetype previous = finder.toPreviousBoundary();
        if (previous < 0) {
            return logText; // fewer than the limit
        }
        start = previous;
    }
    if (start <= 0) {
        return logText; // exactly the limit
    }
    return std::string("…(truncated)\n") + text.mid(start).toStdString();
}

std::string DiagnosticsModel::emailSubject() const {
    return identity_.displayName + " — diagnostics";
}

std::string DiagnosticsModel::emailBody(const std::string& logText) const {
    return "Describe what went wrong here:\n\n\n---- Diagnostics (please keep) ----\n" +
           diagnosticsHeader() + "\n\nRecent log:\n" + logTextForEmail(logText);
}

std::optional<std::string> DiagnosticsModel::mailtoURL(const std::string& recipient,
                                                       const std::string& subject,
                                                       const std::string& body) {
    const auto encode = [](const std::string& value, const QByteArray& keep = {}) {
        return QUrl::toPercentEncoding(
            QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())), keep);
    };
    // Query values are encoded completely: '&', '=', '+' and '#' inside the
    // subject or body must not end or alter the item, and parentheses reach
    // the mail client as %28 and %29, which some clients need.
    QByteArray url = "mailto:" + encode(recipient, "@+") + "?subject=" + encode(subject) +
                     "&body=" + encode(body);
    url.replace("(", "%28").replace(")", "%29");
    const QUrl parsed(QString::fromLatin1(url), QUrl::StrictMode);
    if (!parsed.isValid()) {
        return std::nullopt;
    }
    return url.toStdString();
}

bool DiagnosticsModel::composeMail(const std::string& recipient, const std::string& subject,
                                   const std::string& body) {
    // Opening can "succeed" with nothing to take the message (xdg-open
    // starts and finds no mail client): ask first, so that the clipboard
    // path runs instead of silence.
    if (!desktop_.hasHandlerForScheme("mailto")) {
        return false;
    }
    const std::optional<std::string> url = mailtoURL(recipient, subject, body);
    return desktop_.openURL(url ? *url : "mailto:" + recipient);
}

void DiagnosticsModel::emailDiagnostics() {
    try {
        const std::string logText = sources_.readLog ? sources_.readLog() : std::string();
        const std::string subject = emailSubject();
        const std::string body = emailBody(logText);
        const std::string& address = identity_.supportEmail;
        if (composeMail(address, subject, body)) {
            savedConfirmation_.reset();
            recordAction("Diagnostics e-mailed");
            return;
        }
        desktop_.setClipboardText("To: " + address + "\nSubject: " + subject + "\n\n" + body);
        savedConfirmation_ = "No mail app is set up. We copied the diagnostics to your clipboard — "
                             "paste them into an email to " +
                             address + ".";
        log(LogLevel::warning, "No mail client could be opened for the diagnostics email.",
            "diagnostics");
        recordAction("Diagnostics copied to the clipboard");
    } catch (const std::exception& exception) {
        // Out of memory building the body, say: the status stays, the
        // application does not end.
        log(LogLevel::error, std::string("Emailing diagnostics failed: ") + exception.what(),
            "diagnostics");
    } catch (...) {
        log(LogLevel::error, "Emailing diagnostics failed", "diagnostics");
    }
}

void DiagnosticsModel::recordAction(const std::string& action) const {
    if (sources_.recordAction) {
        sources_.recordAction(action);
    }
}

} // namespace chordwell::app
