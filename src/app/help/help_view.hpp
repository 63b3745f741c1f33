// The help window's page: how to use the application, the permissions it
// needs, troubleshooting and how to reach support. One document with two
// links, opened through the desktop port, so that a screen reader reads it
// as a document and Tab stops only at the page and its links.
#pragma once

#include "app/conventions.hpp"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

namespace chordwell::platform {
class Desktop;
}

class QLabel;
class QTextBrowser;
class QUrl;

namespace chordwell::app {

/// Which system's places and permissions the page talks about.
using HelpPlatform = UiPlatform;

/// The system this build runs on.
HelpPlatform currentHelpPlatform();

/// How this copy of Chordwell came onto a Linux system, which decides what
/// the page says about the udev rule.
struct InstallFacts {
    enum class Kind {
        /// The Debian package: the rule came with it.
        package,
        /// `sudo make install` into a prefix.
        makeInstall,
        /// Running from a build folder.
        buildFolder,
    };
    Kind kind = Kind::buildFolder;
    /// Chordwell's udev rule is in place (in any of the rule folders).
    bool udevRuleInstalled = false;
};

/// What this process finds about itself.
InstallFacts currentInstallFacts();

struct HelpSection {
    QString title;
    QStringList texts;
    /// Spacing between the texts; the permissions list is tighter than the page.
    int textSpacing = 16;
};

/// The page's text, top to bottom (the contact links come after the last
/// section). `displayName` is inserted where the page names the application
/// as it is shown; the product name stands as written elsewhere.
struct HelpPage {
    QString title;
    std::vector<HelpSection> sections;
};

HelpPage helpPage(const QString& displayName, HelpPlatform platform,
                  const InstallFacts& install = {});

/// The page as one HTML document, the contact links at its end.
QString helpDocument(const HelpPage& page);

class HelpView : public QWidget {
    Q_OBJECT

public:
    explicit HelpView(platform::Desktop& desktop, QWidget* parent = nullptr);
    HelpView(platform::Desktop& desktop, const QString& displayName, HelpPlatform helpPlatform,
             const InstallFacts& install = {}, QWidget* parent = nullptr);

    /// Hands a link's address to the system (mail client or web browser).
    void openLink(const QString& url);

    /// The page: one document, scrolled vertically only.
    QTextBrowser* document() const { return document_; }
    /// Says that a link could not be opened (hidden until one fails).
    QLabel* linkStatus() const { return linkStatus_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void build(const QString& displayName, HelpPlatform helpPlatform, const InstallFacts& install);

    platform::Desktop& desktop_;
    QTextBrowser* document_ = nullptr;
    QLabel* linkStatus_ = nullptr;
    QString html_;
};

} // namespace chordwell::app
