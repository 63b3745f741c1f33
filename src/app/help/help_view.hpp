// The help window's page: how to use the application, the permissions it
// needs, troubleshooting and how to reach support. Static text plus two
// links, opened through the desktop port.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

namespace chordwell::platform {
class Desktop;
}

class QLabel;
class QScrollArea;

namespace chordwell::app {

/// Which system's places and permissions the page talks about.
enum class HelpPlatform { macOS, linuxDesktop };

/// The system this build runs on.
HelpPlatform currentHelpPlatform();

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

HelpPage helpPage(const QString& displayName, HelpPlatform platform);

class HelpView : public QWidget {
    Q_OBJECT

public:
    explicit HelpView(platform::Desktop& desktop, QWidget* parent = nullptr);
    HelpView(platform::Desktop& desktop, const QString& displayName, HelpPlatform helpPlatform,
             QWidget* parent = nullptr);

    /// Hands a link's address to the system (mail client or web browser).
    void openLink(const QString& url);

    QScrollArea* scrollArea() const { return scrollArea_; }
    /// Says that a link could not be opened (hidden until one fails).
    QLabel* linkStatus() const { return linkStatus_; }

private:
    void build(const QString& displayName, HelpPlatform helpPlatform);

    platform::Desktop& desktop_;
    QScrollArea* scrollArea_ = nullptr;
    QLabel* linkStatus_ = nullptr;
};

} // namespace chordwell::app
