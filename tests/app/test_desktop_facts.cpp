// What the diagnostics header says about the machine on freedesktop
// systems: the name the user gave it and the distribution's own name.
#include "platform/qt/qt_desktop.hpp"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace chordwell::platform::qt {
namespace {

TEST(DesktopFacts, AssignmentsAreReadAsTheShellWould) {
    const std::string text = "# comment PRETTY_NAME=\"no\"\n"
                             "NAME=Debian\n"
                             "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                             "  PRETTY_HOSTNAME='Studio \"Mac\" a\\b'  \n"
                             "ESCAPED=\"a \\\"quoted\\\" \\$word\"\r\n"
                             "EMPTY=\n"
                             "PRETTY_NAME_SUFFIX=wrong\n";
    struct Case {
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"NAME", "Debian"},
        {"PRETTY_NAME", "Debian GNU/Linux 12 (bookworm)"},
        // Single quotes keep backslashes literally.
        {"PRETTY_HOSTNAME", "Studio \"Mac\" a\\b"},
        {"ESCAPED", "a \"quoted\" $word"},
        {"EMPTY", ""},
        {"MISSING", ""},
        {"PRETTY", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QtDesktop::assignmentValue(text, c.key), c.value) << c.key;
    }
}

TEST(DesktopFacts, TheComputerNameIsThePrettyNameNeverTheHostName) {
    QTemporaryDir dir;
    const std::filesystem::path root(dir.path().toStdString());
    std::filesystem::create_directories(root / "etc");
    std::filesystem::create_directories(root / "usr" / "lib");
    QtDesktop desktop({}, {}, root);

    // Without machine-info the report falls back to the host name itself.
    EXPECT_EQ(desktop.localizedHostName(), "");
    std::ofstream(root / "etc" / "machine-info") << "PRETTY_HOSTNAME=\"Studio Workstation\"\n";
    EXPECT_EQ(desktop.localizedHostName(), "Studio Workstation");

    std::ofstream(root / "usr" / "lib" / "os-release") << "PRETTY_NAME=\"Fedora Linux 39\"\n";
    EXPECT_EQ(desktop.operatingSystemVersionString().rfind("Fedora Linux 39 (kernel ", 0), 0u);
    std::ofstream(root / "etc" / "os-release") << "PRETTY_NAME=\"Debian GNU/Linux 12\"\n";
    EXPECT_EQ(desktop.operatingSystemVersionString().rfind("Debian GNU/Linux 12 (kernel ", 0), 0u);

    // A system adapter's own facts win.
    QtDesktop mac({}, {[] { return std::string("John's MacBook Pro"); },
                       [] { return std::string("Version 14.2 (Build 23C64)"); },
                       [](const std::string&) {
                           return false;
                       }});
    EXPECT_EQ(mac.localizedHostName(), "John's MacBook Pro");
    EXPECT_EQ(mac.operatingSystemVersionString(), "Version 14.2 (Build 23C64)");
    EXPECT_FALSE(mac.hasHandlerForScheme("mailto"));
}

} // namespace
} // namespace chordwell::platform::qt
