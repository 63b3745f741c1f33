// The help page: where the display name appears, the platform's own places,
// wrapping without horizontal scrolling, and the two contact links.
#include "test_diagnostics_fakes.hpp"

#include "app/app_info.hpp"
#include "app/help/help_view.hpp"

#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

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
    EXPECT_EQ(sectionTitles(page),
              (QStringList{"Selecting a Keyboard", "Mapping Keys", "Permissions Required",
                           "Activating the Mappings", "How does it work?", "Settings & Preferences",
                           "Troubleshooting", "Contact"}));
    for (const HelpSection& section : page.sections) {
        const bool named = section.title == QStringLiteral("How does it work?") ||
                           section.title == QStringLiteral("Troubleshooting");
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
                      "use your main keyboard.", "restart your computer",
                      "Note: The Fn key cannot be captured.", "Open Settings in the Manage menu"},
                     {"System Settings", "Mac keyboard", "your Mac", "Finder", "Input Monitoring",
                      "Accessibility", "app menu"}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(HelpView, WrapsToTheWindowAndScrollsOnlyVertically) {
    RecordingDesktop desktop;
    HelpView view(desktop, kOtherName, HelpPlatform::linuxDesktop);
    EXPECT_EQ(view.minimumSize(), QSize(360, 400));
    view.resize(360, 400);
    view.show();
    QApplication::processEvents();
    QScrollArea* area = view.scrollArea();
    EXPECT_EQ(area->horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(area->verticalScrollBar()->maximum(), 0) << "the page is longer than 400 points";
    const int viewportWidth = area->viewport()->width();
    int named = 0;
    for (const QLabel* label : area->widget()->findChildren<QLabel*>()) {
        EXPECT_LE(label->geometry().right(), viewportWidth) << label->text().toStdString();
        named += label->text().contains(kOtherName) ? 1 : 0;
    }
    EXPECT_EQ(named, 2);

    // Tall enough for everything: nothing left to scroll.
    view.resize(700, 4000);
    QApplication::processEvents();
    EXPECT_EQ(area->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(area->horizontalScrollBar()->maximum(), 0);
}

TEST(HelpView, ContactLinksOpenMailAndWebsite) {
    RecordingDesktop desktop;
    HelpView view(desktop, kOtherName, HelpPlatform::macOS);
    const struct {
        const char* object;
        QString text;
        QString url;
    } cases[] = {
        {"supportEmailLink", supportEmailAddress(),
         QStringLiteral("mailto:") + supportEmailAddress()},
        {"websiteLink", websiteDomain(), websiteURL()},
    };
    for (const auto& c : cases) {
        auto* label = view.findChild<QLabel*>(QString::fromLatin1(c.object));
        ASSERT_NE(label, nullptr) << c.object;
        EXPECT_TRUE(
            label->text().contains(QStringLiteral("href=\"") + c.url + QStringLiteral("\"")));
        EXPECT_TRUE(
            label->text().contains(QStringLiteral("<b>") + c.text + QStringLiteral("</b>")));
        EXPECT_FALSE(label->openExternalLinks());
        desktop.openedURLs.clear();
        Q_EMIT label->linkActivated(c.url);
        EXPECT_EQ(desktop.openedURLs, std::vector<std::string>{c.url.toStdString()}) << c.object;
    }
}

} // namespace
} // namespace chordwell::app
