// The diagnostics report: its header, the saved file, revealing the log,
// the e-mail with its truncation and encoding, and the clipboard fallback.
#include "test_diagnostics_fakes.hpp"

#include "app/diagnostics/diagnostics_model.hpp"
#include "logging/breadcrumbs.hpp"
#include "logging/log_file.hpp"

#include "app/diagnostics/diagnostics_view.hpp"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>

namespace chordwell::app {
namespace {

using namespace std::chrono_literals;
using testing::CapturedLog;
using testing::RecordingDesktop;

std::chrono::system_clock::time_point fixedTime() {
    return std::chrono::system_clock::time_point(std::chrono::seconds(1772719629)); // 2026-03-05
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

DiagnosticsIdentity identity() {
    return {"Chordwell", "1.0.0 (42)", "support@palvane.com", "macOS"};
}

// A log folder, the log file over it and an empty breadcrumbs list.
struct Fixture {
    QTemporaryDir dir;
    std::filesystem::path logs = std::filesystem::path(dir.path().toStdString()) / "Logs";
    std::unique_ptr<logging::LogFile> logFile;
    logging::Breadcrumbs breadcrumbs{[] {
        return fixedTime();
    }};
    RecordingDesktop desktop;

    explicit Fixture(std::optional<std::string> previous = std::nullopt,
                     std::optional<std::string> current = std::nullopt) {
        std::filesystem::create_directories(logs);
        if (previous) {
            writeText(logs / "chordwell.log.1", *previous);
        }
        if (current) {
            writeText(logs / "chordwell.log", *current);
        }
        logFile = std::make_unique<logging::LogFile>(logs);
    }

    DiagnosticsModel model() {
        return DiagnosticsModel(desktop, DiagnosticsSources::from(*logFile, breadcrumbs),
                                identity());
    }
};

// ------------------------------------------------------------------ header

TEST(DiagnosticsHeader, ExactLinesWithoutBreadcrumbs) {
    Fixture f;
    EXPECT_EQ(f.model().diagnosticsHeader(), "App: Chordwell 1.0.0 (42)\n"
                                             "macOS: Version 14.4 (Build 23E214)\n"
                                             "Device: Studio Mac\n"
                                             "\n"
                                             "Recent actions:\n"
                                             "(no recorded actions this session)");
}

TEST(DiagnosticsHeader, DeviceLineAndRecentActions) {
    const struct {
        const char* name;
        std::string localizedName;
        int actions;
        std::string expectedDevice;
        int expectedActionLines;
    } cases[] = {
        {"named computer", "Studio Mac", 3, "Device: Studio Mac", 3},
        {"no computer name falls back to host", "", 1, "Device: studio.local", 1},
        {"only the last twelve actions", "Studio Mac", 25, "Device: Studio Mac", 12},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.desktop.localizedName = c.localizedName;
        for (int i = 1; i <= c.actions; ++i) {
            f.breadcrumbs.add("Action " + std::to_string(i));
        }
        const std::string header = f.model().diagnosticsHeader();
        EXPECT_NE(header.find("\n" + c.expectedDevice + "\n"), std::string::npos) << c.name;
        const std::string tail = header.substr(header.find("Recent actions:\n") + 16);
        std::istringstream lines(tail);
        std::string line;
        int count = 0;
        std::string last;
        while (std::getline(lines, line)) {
            ++count;
            last = line;
        }
        EXPECT_EQ(count, c.expectedActionLines) << c.name;
        EXPECT_EQ(last, "2026-03-05T14:07:09Z  Action " + std::to_string(c.actions)) << c.name;
        EXPECT_NE(header.back(), '\n') << c.name;
    }
}

// -------------------------------------------------------------------- save

TEST(SaveDiagnostics, ReportIsHeaderEmptyLineThenOldLogThenCurrentLog) {
    const struct {
        const char* name;
        std::optional<std::string> previous;
        std::optional<std::string> current;
        std::string expectedLog;
    } cases[] = {
        {"no log files", std::nullopt, std::nullopt, ""},
        {"current only", std::nullopt, "B1\nB2\n", "B1\nB2\n"},
        {"previous only", "A1\n", std::nullopt, "A1\n"},
        {"both, no separator", "A1\nA2\n", "B1\n", "A1\nA2\nB1\n"},
    };
    for (const auto& c : cases) {
        Fixture f(c.previous, c.current);
        DiagnosticsModel model = f.model();
        const std::filesystem::path target =
            std::filesystem::path(f.dir.path().toStdString()) / "report.txt";
        std::string proposed;
        const std::string header = model.diagnosticsHeader();
        model.saveDiagnostics([&](const std::string& name) {
            proposed = name;
            return std::optional(target);
        });
        EXPECT_EQ(proposed, "Chordwell-diagnostics.txt") << c.name;
        EXPECT_EQ(readText(target), header + "\n\n" + c.expectedLog) << c.name;
        // The report holds the log: it is private whatever the umask.
        EXPECT_EQ(std::filesystem::status(target).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        EXPECT_TRUE(model.diagnosticsHeader().ends_with("Diagnostics saved")) << c.name;
        ASSERT_TRUE(model.savedConfirmation().has_value()) << c.name;
        EXPECT_EQ(*model.savedConfirmation(), "Saved to report.txt.") << c.name;
    }
}

TEST(SaveDiagnostics, CancelLeavesEverythingAsItWas) {
    Fixture f;
    DiagnosticsModel model = f.model();
    model.revealLog(); // puts a status line up
    const auto before = model.savedConfirmation();
    ASSERT_TRUE(before.has_value());
    model.saveDiagnostics([](const std::string&) { return std::nullopt; });
    EXPECT_EQ(model.savedConfirmation(), before);
}

TEST(SaveDiagnostics, WriteFailureSaysSoLogsOnceAndKeepsTheOldFile) {
    CapturedLog captured;
    Fixture f(std::nullopt, "line\n");
    DiagnosticsModel model = f.model();
    const std::filesystem::path root(f.dir.path().toStdString());
    const std::filesystem::path missingFolder = root / "missing" / "report.txt";
    // A directory cannot be replaced by the report.
    const std::filesystem::path isFolder = root / "folder";
    std::filesystem::create_directories(isFolder / "inside");
    for (const auto& target : {missingFolder, isFolder}) {
        model.resetConfirmation();
        model.saveDiagnostics([&](const std::string&) { return std::optional(target); });
        ASSERT_TRUE(model.savedConfirmation().has_value());
        EXPECT_EQ(*model.savedConfirmation(), saveFailedMessage());
    }
    EXPECT_TRUE(std::filesystem::is_directory(isFolder / "inside"));
    EXPECT_FALSE(std::filesystem::exists(missingFolder));
    const auto lines = captured.inCategory("diagnostics");
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines) {
        EXPECT_EQ(line.level, LogLevel::error);
        EXPECT_EQ(line.message.rfind("Saving diagnostics failed: ", 0), 0u) << line.message;
        EXPECT_GT(line.message.size(), std::string("Saving diagnostics failed: ").size());
    }
}

// ------------------------------------------------------------------ reveal

TEST(RevealLog, OnlyTheCurrentFileCanBeRevealed) {
    const struct {
        const char* name;
        bool previous;
        bool current;
        bool expectReveal;
    } cases[] = {
        {"no files", false, false, false},
        {"only the previous file", true, false, false},
        {"current file", false, true, true},
        {"both files", true, true, true},
    };
    for (const auto& c : cases) {
        Fixture f(c.previous ? std::optional<std::string>("old\n") : std::nullopt,
                  c.current ? std::optional<std::string>("new\n") : std::nullopt);
        DiagnosticsModel model = f.model();
        model.revealLog();
        if (c.expectReveal) {
            ASSERT_EQ(f.desktop.revealed.size(), 1u) << c.name;
            EXPECT_EQ(f.desktop.revealed.front(), f.logs / "chordwell.log") << c.name;
            EXPECT_FALSE(model.savedConfirmation().has_value()) << c.name;
        } else {
            EXPECT_TRUE(f.desktop.revealed.empty()) << c.name;
            ASSERT_TRUE(model.savedConfirmation().has_value()) << c.name;
            EXPECT_EQ(*model.savedConfirmation(), "No log file has been created yet.") << c.name;
        }
    }
}

// ------------------------------------------------------------------- email

std::string repeated(const std::string& unit, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += unit;
    }
    return text;
}

TEST(EmailDiagnostics, LogIsCutToTheLastTwoThousandPerceivedCharacters) {
    const std::string thumbs = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"; // 👍🏽: two code points
    const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"; // 👩‍👧: three
    const std::string accented = "e\xCC\x81";                                  // é, decomposed
    const std::string marker = "…(truncated)\n";
    const struct {
        const char* name;
        std::string log;
        std::string expected;
    } cases[] = {
        {"empty", "", ""},
        {"exactly 2000", repeated("a", 2000), repeated("a", 2000)},
        {"2001 keeps the last 2000", "X" + repeated("a", 2000), marker + repeated("a", 2000)},
        {"2000 with a two-code-point character is whole", repeated("a", 1999) + thumbs,
         repeated("a", 1999) + thumbs},
        {"2000 decomposed letters are whole", repeated(accented, 2000), repeated(accented, 2000)},
        {"a cluster at the cut is kept whole", "b" + family + repeated("a", 1999),
         marker + family + repeated("a", 1999)},
        {"a cluster just before the cut goes whole", family + repeated("a", 2000),
         marker + repeated("a", 2000)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DiagnosticsModel::logTextForEmail(c.log), c.expected) << c.name;
    }
}

TEST(EmailDiagnostics, MailtoURLEscapesEverythingThatWouldChangeTheMessage) {
    const struct {
        const char* name;
        std::string subject;
        std::string body;
    } cases[] = {
        {"parentheses", "Chordwell — diagnostics", "App: Chordwell 1.0.0 (42)"},
        {"query delimiters", "a&b=c", "x+y&subject=z#frag?q"},
        {"lines and spaces", "two words", "line one\nline two\n\n  indented"},
        {"non-ASCII", "Clavier — é", "⌘C → ⌘␣ “quoted”"},
    };
    for (const auto& c : cases) {
        const auto url = DiagnosticsModel::mailtoURL("support@palvane.com", c.subject, c.body);
        ASSERT_TRUE(url.has_value()) << c.name;
        EXPECT_EQ(url->rfind("mailto:support@palvane.com?subject=", 0), 0u) << c.name;
        for (const char forbidden : {'(', ')', ' ', '\n', '#', '+'}) {
            EXPECT_EQ(url->find(forbidden), std::string::npos) << c.name << ": " << forbidden;
        }
        // Exactly two items, which decode to the original texts.
        const QUrl parsed(QString::fromStdString(*url), QUrl::StrictMode);
        ASSERT_TRUE(parsed.isValid()) << c.name;
        EXPECT_EQ(parsed.scheme(), QStringLiteral("mailto"));
        EXPECT_EQ(parsed.path(), QStringLiteral("support@palvane.com"));
        const QUrlQuery query(parsed);
        ASSERT_EQ(query.queryItems().size(), 2) << c.name;
        EXPECT_EQ(query.queryItems().at(0).first, QStringLiteral("subject"));
        EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded).toStdString(),
                  c.subject)
            << c.name;
        EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded).toStdString(),
                  c.body)
            << c.name;
    }
    EXPECT_EQ(*DiagnosticsModel::mailtoURL("support@palvane.com", "(x)", "a b"),
              "mailto:support@palvane.com?subject=%28x%29&body=a%20b");
}

TEST(EmailDiagnostics, OpenedMailClientGetsSubjectAndBodyAndClearsTheStatus) {
    Fixture f(std::nullopt, "2026-03-05T14:07:09.123Z [INFO] (keyboard) Tap (re)enabled\n");
    DiagnosticsModel model = f.model();
    // A first attempt without a mail client leaves a status line up.
    f.desktop.mailClientPresent = false;
    model.emailDiagnostics();
    ASSERT_TRUE(model.savedConfirmation().has_value());
    f.desktop.clipboard.reset();
    f.desktop.openedURLs.clear();

    f.desktop.mailClientPresent = true;
    const std::string header = model.diagnosticsHeader();
    model.emailDiagnostics();

    ASSERT_EQ(f.desktop.openedURLs.size(), 1u);
    EXPECT_FALSE(model.savedConfirmation().has_value());
    EXPECT_FALSE(f.desktop.clipboard.has_value());
    const QUrlQuery query(QUrl(QString::fromStdString(f.desktop.openedURLs.front())));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded).toStdString(),
              "Chordwell — diagnostics");
    const std::string body =
        query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded).toStdString();
    EXPECT_EQ(body, "Describe what went wrong here:\n\n\n---- Diagnostics (please keep) ----\n" +
                        header + "\n\nRecent log:\n" +
                        "2026-03-05T14:07:09.123Z [INFO] (keyboard) Tap (re)enabled\n");
    EXPECT_NE(f.desktop.openedURLs.front().find("1.0.0%20%2842%29"), std::string::npos)
        << "the header's build number keeps its escaped parentheses";
}

TEST(EmailDiagnostics, WithoutMailClientTheReportGoesToTheClipboard) {
    CapturedLog captured;
    Fixture f(std::nullopt, "log line\n");
    f.desktop.mailClientPresent = false;
    DiagnosticsModel model = f.model();
    const std::string body = model.emailBody("log line\n");
    model.emailDiagnostics();

    const std::string subject = "Chordwell — diagnostics";
    ASSERT_TRUE(f.desktop.clipboard.has_value());
    EXPECT_EQ(*f.desktop.clipboard, "To: support@palvane.com\nSubject: " + subject + "\n\n" + body);
    ASSERT_TRUE(model.savedConfirmation().has_value());
    EXPECT_EQ(*model.savedConfirmation(),
              "No mail app is set up. We copied the diagnostics to your clipboard — paste them "
              "into an email to support@palvane.com.");
    const auto lines = captured.inCategory("diagnostics");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.front().level, LogLevel::warning);
    EXPECT_EQ(lines.front().message, "No mail client could be opened for the diagnostics email.");
}

TEST(EmailDiagnostics, WithNoRegisteredMailClientNothingIsOpenedAndTheClipboardIsUsed) {
    // xdg-open reports success as soon as it starts, mail client or not:
    // the registered handler decides.
    CapturedLog captured;
    Fixture f(std::nullopt, "log line\n");
    f.desktop.mailHandlerRegistered = false;
    DiagnosticsModel model = f.model();
    model.emailDiagnostics();
    EXPECT_TRUE(f.desktop.openedURLs.empty());
    ASSERT_TRUE(f.desktop.clipboard.has_value());
    ASSERT_TRUE(model.savedConfirmation().has_value());
    EXPECT_EQ(model.savedConfirmation()->rfind("No mail app is set up.", 0), 0u);
    EXPECT_TRUE(model.diagnosticsHeader().ends_with("Diagnostics copied to the clipboard"));

    f.desktop.mailHandlerRegistered = true;
    model.emailDiagnostics();
    EXPECT_EQ(f.desktop.openedURLs.size(), 1u);
    EXPECT_TRUE(model.diagnosticsHeader().ends_with("Diagnostics e-mailed"));
}

TEST(SaveDiagnostics, AFailureInsideTheActionNeverEscapesIt) {
    CapturedLog captured;
    Fixture f(std::nullopt, "line\n");
    DiagnosticsSources sources = DiagnosticsSources::from(*f.logFile, f.breadcrumbs);
    sources.readLog = []() -> std::string {
        throw std::bad_alloc();
    };
    DiagnosticsModel model(f.desktop, sources, identity());
    const std::filesystem::path target =
        std::filesystem::path(f.dir.path().toStdString()) / "report.txt";
    EXPECT_NO_THROW(
        model.saveDiagnostics([&](const std::string&) { return std::optional(target); }));
    ASSERT_TRUE(model.savedConfirmation().has_value());
    EXPECT_EQ(*model.savedConfirmation(), saveFailedMessage());
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_NO_THROW(model.emailDiagnostics());
    EXPECT_EQ(captured.inCategory("diagnostics").size(), 2u);
}

// -------------------------------------------------------------------- view

TEST(DiagnosticsView, ButtonsShowTheStatusLineOnlyWhenThereIsOne) {
    Fixture f;
    f.desktop.mailClientPresent = false;
    DiagnosticsView view(f.desktop, DiagnosticsSources::from(*f.logFile, f.breadcrumbs),
                         identity());
    view.show();
    EXPECT_EQ(view.saveButton()->text(), QStringLiteral("Save Diagnostics…"));
    EXPECT_EQ(view.revealButton()->text(), QString::fromStdString(revealButtonTitle()));
    EXPECT_EQ(view.emailButton()->text(), QStringLiteral("Email Diagnostics"));
    EXPECT_FALSE(view.statusLabel()->isVisible());

    QTest::mouseClick(view.revealButton(), Qt::LeftButton);
    EXPECT_TRUE(view.statusLabel()->isVisible());
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("No log file has been created yet."));

    const std::filesystem::path target =
        std::filesystem::path(f.dir.path().toStdString()) / "Chordwell-diagnostics.txt";
    view.setSavePathChooser([&](const std::string&) { return std::optional(target); });
    QTest::mouseClick(view.saveButton(), Qt::LeftButton);
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Saved to Chordwell-diagnostics.txt."));
    EXPECT_TRUE(std::filesystem::exists(target));

    view.reset();
    EXPECT_FALSE(view.statusLabel()->isVisible());
    const auto support = view.findChild<QLabel*>(QStringLiteral("supportAddress"));
    ASSERT_NE(support, nullptr);
    EXPECT_EQ(support->text(), QStringLiteral("support@palvane.com"));
    EXPECT_TRUE(support->textInteractionFlags() & Qt::TextSelectableByMouse);
}

} // namespace
} // namespace chordwell::app
