// The help page: where the display name appears, the platform's own places,
// wrapping without horizontal scrolling, and the two contact links.
#include "test_diagnostics_fakes.hpp"

#include "app/app_info.hpp"
#include "app/help/help_view.hpp"

#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

#include <gtest/gtest.h>

namespace chordwell::app {
namespace {

using testing::RecordingDesktop;

const QString kOtherName = QStringLiteral("Keyflip Pro");

QStringList sectionTitles(const HelpPage& page) {
    QStringList titles;
    for (const HelpSection& section : page.sections) {
        titles << section.title;
    }
    return titles;
}

struct PlatformCase {
    const char* name;
    HelpPlatform platform;
    std::vector<const char*> present;
    std::vector<const char*> absent;
};

// Test names print the case name rather than raw bytes.
[[maybe_unused]] void PrintTo(const PlatformCase& c, std::ostream* os) {
    *os << c.name;
}

class HelpText : public ::testing::TestWithParam<PlatformCase> {};

TEST_P(HelpText, DisplayNameOnlyInHowItWorksAndTroubleshooting) {
    const PlatformCase& c = GetParam();
    const HelpPage page = helpPage(kOtherName, c.platform);
    EXPECT_EQ(page.title, QStringLiteral("Chordwell Help"));
    // Headings in one case: the macOS page keeps its question.
    const QString howItWorks = c.platform == HelpPlatform::macOS
                                   ? QStringLiteral("How does it work?")
                                   : QStringLiteral("How It Works");
    // Linux adds where the keyboard layout is read from, which can be wrong.
    QStringList titles{"Selecting a Keyboard", "Mapping Keys", "Permissions Required",
                       "Activating the Mappings", howItWorks};
    if (c.platform != HelpPlatform::macOS) {
        titles << QStringLiteral("Keyboard Layouts");
    }
    titles << QStringLiteral("Settings & Preferences") << QStringLiteral("Troubleshooting")
           << QStringLiteral("Contact");
    EXPECT_EQ(sectionTitles(page), titles);
    for (const HelpSection& section : page.sections) {
        const bool named =
            section.title == howItWorks || section.title == QStringLiteral("Troubleshooting");
        int mentions = 0;
        for (const QString& text : section.texts) {
            mentions += static_cast<int>(text.count(kOtherName));
        }
        EXPECT_EQ(mentions, named ? 1 : 0) << section.title.toStdString();
    }
    // The fixed texts keep the product name whatever the display name is.
    const HelpSection& permissions = page.sections.at(2);
    EXPECT_EQ(permissions.texts.front(),
              QStringLiteral("Chordwell needs two permissions to work:"));
    EXPECT_EQ(permissions.textSpacing, 8);
    EXPECT_TRUE(page.sections.at(4).texts.front().startsWith(
        kOtherName + QStringLiteral(" listens for your specified key sequences")));
}

TEST_P(HelpText, NamesThePlacesOfItsOwnSystem) {
    const PlatformCase& c = GetParam();
    const HelpPage page = helpPage(QStringLiteral("Chordwell"), c.platform);
    QString all = page.title;
    for (const HelpSection& section : page.sections) {
        all += QStringLiteral("\n") + section.title + QStringLiteral("\n") +
               section.texts.join(QStringLiteral("\n"));
    }
    for (const char* text : c.present) {
        EXPECT_TRUE(all.contains(QString::fromUtf8(text))) << c.name << " lacks: " << text;
    }
    for (const char* text : c.absent) {
        EXPECT_FALSE(all.contains(QString::fromUtf8(text))) << c.name << " has: " << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Help, HelpText,
    ::testing::Values(
        PlatformCase{"mac",
                     HelpPlatform::macOS,
                     {"System Settings → Privacy & Security", "use your Mac keyboard.",
                      "remove Chordwell from both lists, restart your Mac,",
                      "capture the inputs in the ‘From’ field", "If you select ‘Custom’",
                      "⌘C (Copy) to perform the action of ⌘␣ (Open Search)",
                      "• Input Monitoring: to capture global key events.",
                      "has ‘Input Monitoring’ and ‘Accessibility’ permissions in System Settings",
                      "Do you have any suggestions or feedback? Feel free to contact us at: ",
                      "Open Settings from the app menu"},
                     {"udev", "input’ group", "/dev/"}},
        PlatformCase{"linux",
                     HelpPlatform::linuxDesktop,
                     {"‘input’ group", "udev rule", "/dev/uinput", "/dev/input/event*",
                      "your main keyboard is the easiest", "restart your computer",
                      "Open Settings in the Manage menu", "in the ‘To’ field",
                      "are matched; however,", "Caps Lock", "keys on your keyboard",
                      "Note: Some keys", "Ctrl+C (Copy)", "• If key mappings are not working",
                      // What the keyboard layout is read from, and when it is wrong.
                      "X server’s keymap", "XKB_DEFAULT_LAYOUT", "/etc/default/keyboard",
                      "localectl", "a layout per window"},
                     // No Mac places, no Fn (PC keyboards send no Fn key), and
                     // none of the slips the macOS page keeps.
                     {"System Settings", "Mac keyboard", "your Mac", "Finder", "Input Monitoring",
                      "Accessibility", "app menu", "Fn key", "in ‘To’ field", "Capslock",
                      "keys in your keyboard", "PS:", "Click the button to Activate", "- If", "⌘",
                      "⌃", "..."}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(HelpText, TheUdevRuleIsDescribedAsThisCopyWasInstalled) {
    using Kind = InstallFacts::Kind;
    const struct {
        InstallFacts facts;
        const char* says;
        const char* never;
    } cases[] = {
        {{Kind::package, true},
         "The Chordwell package has put its udev rule in place",
         "sudo make install"},
        {{Kind::package, false}, "sudo apt install --reinstall chordwell", "sudo make install"},
        {{Kind::makeInstall, true}, "Chordwell’s udev rule is in place", "sudo make install"},
        {{Kind::makeInstall, false}, "sudo make install", "package"},
        {{Kind::buildFolder, false}, "sudo make install", "package"},
    };
    for (const auto& c : cases) {
        const HelpPage page =
            helpPage(QStringLiteral("Chordwell"), HelpPlatform::linuxDesktop, c.facts);
        const QString permissions = page.sections.at(2).texts.join(QStringLiteral("\n"));
        EXPECT_TRUE(permissions.contains(QString::fromUtf8(c.says))) << c.says;
        EXPECT_FALSE(permissions.contains(QString::fromUtf8(c.never))) << c.never;
    }
}

TEST(HelpView, OneDocumentThatWrapsToTheWindowAndScrollsOnlyVertically) {
    RecordingDesktop desktop;
    HelpView view(desktop, kOtherName, HelpPlatform::linuxDesktop);
    EXPECT_EQ(view.minimumSize(), QSize(360, 400));
    view.resize(360, 400);
    view.show();
    QApplication::processEvents();
    QTextBrowser* page = view.document();
    EXPECT_EQ(page->horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(page->verticalScrollBar()->maximum(), 0) << "the page is longer than 400 points";
    EXPECT_EQ(page->toPlainText().count(kOtherName), 2);
    // One document: no label per paragraph for the focus or a screen reader
    // to stop at.
    EXPECT_TRUE(view.findChildren<QLabel*>().size() <= 1) << "only the hidden link status";
    EXPECT_EQ(page->accessibleName(), "Chordwell Help");

    // Tall enough for everything: nothing left to scroll.
    view.resize(700, 4000);
    QApplication::processEvents();
    EXPECT_EQ(page->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(page->horizontalScrollBar()->maximum(), 0);
}

TEST(HelpView, ContactLinksOpenMailAndWebsite) {
    RecordingDesktop desktop;
    HelpView view(desktop, kOtherName, HelpPlatform::macOS);
    const QString html = view.document()->toHtml();
    for (const QString& url : {QStringLiteral("mailto:") + supportEmailAddress(), websiteURL()}) {
        EXPECT_TRUE(html.contains(QStringLiteral("href=\"") + url + QStringLiteral("\"")))
            << url.toStdString();
        EXPECT_FALSE(view.document()->openExternalLinks());
        desktop.openedURLs.clear();
        Q_EMIT view.document()->anchorClicked(QUrl(url));
        EXPECT_EQ(desktop.openedURLs, std::vector<std::string>{url.toStdString()});
    }
    EXPECT_TRUE(view.document()->toPlainText().contains(supportEmailAddress()));
    EXPECT_TRUE(view.document()->toPlainText().contains(QStringLiteral("Visit our website: ") +
                                                        websiteDomain()));
}

} // namespace
} // namespace chordwell::app
