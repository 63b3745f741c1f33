#include "app/help/help_view.hpp"

#include "app/app_info.hpp"
#include "app/controls/text_styles.hpp"
#include "logging/log.hpp"
#include "ports/desktop.hpp"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QStyle>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <filesystem>

namespace chordwell::app {

HelpPlatform currentHelpPlatform() {
    return thisDesktop().platform;
}

InstallFacts currentInstallFacts() {
    InstallFacts facts;
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const char* rules : {"/lib/udev/rules.d", "/usr/lib/udev/rules.d", "/etc/udev/rules.d"}) {
        facts.udevRuleInstalled = facts.udevRuleInstalled ||
                                  fs::exists(fs::path(rules) / "60-chordwell-uinput.rules", ec);
    }
    const fs::path program = QCoreApplication::applicationDirPath().toStdString();
    if (program == "/usr/bin") {
        facts.kind = InstallFacts::Kind::package;
    } else if (program.filename() == "bin" &&
               fs::is_directory(program.parent_path() / "share" / "chordwell", ec)) {
        facts.kind = InstallFacts::Kind::makeInstall;
    }
    return facts;
}

namespace {

// The macOS page keeps its texts as they have always read; the Linux page
// says the same in corrected English and in this desktop's words.
HelpPage macPage(const QString& displayName) {
    HelpPage page;
    page.title = QStringLiteral("Chordwell Help");
    page.sections.push_back(
        {QStringLiteral("Selecting a Keyboard"),
         {QStringLiteral("In the main window, you will see all keyboards detected by your system. "
                         "Click on the keyboard you want to configure to begin creating "
                         "mappings.")}});
    page.sections.push_back(
        {QStringLiteral("Mapping Keys"),
         {QStringLiteral("Once a keyboard is selected, you will be able to create mappings for "
                         "it. Use your desired keyboard to capture the inputs in the ‘From’ "
                         "field. Select the desired behavior to be reproduced in ‘To’ field. If "
                         "you select ‘Custom’, you may use any keyboard to capture the keys that "
                         "will be triggered when your input in ‘From’ is matched, however it is "
                         "suggested to use your Mac keyboard.")}});
    page.sections.push_back(
        {QStringLiteral("Permissions Required"),
         {QStringLiteral("Chordwell needs two permissions to work:"),
          QStringLiteral("• Input Monitoring: to capture global key events."),
          QStringLiteral("• Accessibility: to override original key behavior and trigger mapped "
                         "actions."),
          QStringLiteral(
              "You may be prompted to grant access to these permissions when using the "
              "application. You can grant or revoke access for both permissions at any time in "
              "System Settings → Privacy & Security. If mappings are not recorded after granting "
              "permission, remove Chordwell from both lists, restart your Mac, and launch the "
              "application again to reauthorize. Additionally, ensure that no other application "
              "is intercepting your keyboard events."),
          QStringLiteral("Note: The Fn key cannot be captured. Use Control as an alternative if "
                         "needed.")},
         8});
    page.sections.push_back(
        {QStringLiteral("Activating the Mappings"),
         {QStringLiteral("After you have created your keyboard mappings, it is time to activate "
                         "them so that you can use your computer normally and the app will work "
                         "in the background. Click the button to Activate, and then you can use "
                         "your computer as usual.")}});
    page.sections.push_back(
        {QStringLiteral("How does it work?"),
         {displayName +
              QStringLiteral(" listens for your specified key sequences and, on a match, "
                             "suppresses the original behavior and performs the mapped action. "
                             "For example, if you map ⌘C (Copy) to perform the action of ⌘␣ "
                             "(Open Search), then it will block the Copy action and perform the "
                             "target action, opening the search."),
          QStringLiteral("PS: Some keys in your keyboard may not be blocked, such as Capslock. "
                         "The original behavior will still be triggered.")}});
    page.sections.push_back(
        {QStringLiteral("Settings & Preferences"),
         {QStringLiteral("Open Settings from the app menu to configure global options such as "
                         "startup launch and confirmation dialogs.")}});
    page.sections.push_back(
        {QStringLiteral("Troubleshooting"),
         {QStringLiteral("- If key mappings are not working, ensure ") + displayName +
              QStringLiteral(" has ‘Input Monitoring’ and ‘Accessibility’ permissions in System "
                             "Settings → Privacy & Security."),
          QStringLiteral("- If it is still not working, make sure you do not have another app "
                         "taking control of your keyboard."),
          QStringLiteral("- If the issue persists, attempt to disable both permissions and remove "
                         "the application from the permission lists. Subsequently, restart your "
                         "computer and repeat the process.")}});
    page.sections.push_back(
        {QStringLiteral("Contact"),
         {QStringLiteral(
             "Do you have any suggestions or feedback? Feel free to contact us at: ")}});
    return page;
}

// What the page says about the udev rule: true to how this copy came.
QString udevRuleText(const InstallFacts& install) {
    if (install.udevRuleInstalled) {
        return install.kind == InstallFacts::Kind::package
                   ? QStringLiteral("The Chordwell package has put its udev rule in place, which "
                                    "opens the keyboards and /dev/uinput to the ‘input’ group.")
                   : QStringLiteral("Chordwell’s udev rule is in place: it opens the keyboards "
                                    "and /dev/uinput to the ‘input’ group.");
    }
    switch (install.kind) {
    case InstallFacts::Kind::package:
        return QStringLiteral("Chordwell’s udev rule, which opens the keyboards and /dev/uinput "
                              "to the ‘input’ group, is missing: reinstall the Chordwell package "
                              "(sudo apt install --reinstall chordwell).");
    case InstallFacts::Kind::makeInstall:
    case InstallFacts::Kind::buildFolder:
        break;
    }
    return QStringLiteral("Chordwell’s udev rule opens the keyboards and /dev/uinput to the "
                          "‘input’ group: install it from Chordwell’s source folder with "
                          "sudo make install.");
}

// What the layout that outputs follow is read from on Linux, and where that
// can be wrong.
HelpSection keyboardLayoutsSection() {
    return {QStringLiteral("Keyboard Layouts"),
            {QStringLiteral("Copy, Paste, Open Search and the shortcuts of the ‘To’ menu mean "
                            "letters, not key positions: on a French, German or Dvorak layout, "
                            "Copy presses the key that types c there. A layout without Latin "
                            "letters (Russian, Greek) uses the US keys, as applications do for "
                            "their shortcuts. Keys you record stay the keys you pressed."),
             QStringLiteral("When an X server answers (X11, or XWayland on Wayland), Chordwell "
                            "reads the X server’s keymap and follows its changes. Otherwise "
                            "(Wayland alone, the background mode) it reads the configured "
                            "layout: XKB_DEFAULT_LAYOUT, then /etc/default/keyboard, then the "
                            "X11 layout localectl shows. That can be wrong when the desktop "
                            "chooses another layout of its own, or a layout per window; of a "
                            "list such as us,ru the first layout counts.")}};
}

HelpPage linuxPage(const QString& displayName, const InstallFacts& install) {
    const auto combo = [](std::initializer_list<MacKeySignature> keys) {
        return QString::fromStdString(combinationText(keys, KeyNames::pcWords));
    };
    HelpPage page;
    page.title = QStringLiteral("Chordwell Help");
    page.sections.push_back(
        {QStringLiteral("Selecting a Keyboard"),
         {QStringLiteral("In the main window, you will see all keyboards detected by your system. "
                         "Click the keyboard you want to configure to begin creating mappings.")}});
    page.sections.push_back(
        {QStringLiteral("Mapping Keys"),
         {QStringLiteral("Once a keyboard is selected, you will be able to create mappings for "
                         "it. Use that keyboard to capture the keys in the ‘From’ field. Select "
                         "the behavior to be reproduced in the ‘To’ field. If you select "
                         "‘Custom’, you may use any keyboard to capture the keys that will be "
                         "typed when your keys in ‘From’ are matched; however, your main "
                         "keyboard is the easiest to use.")}});
    page.sections.push_back(
        {QStringLiteral("Permissions Required"),
         {QStringLiteral("Chordwell needs two permissions to work:"),
          QStringLiteral("• Reading keyboards (the ‘input’ group, /dev/input/event*): to capture "
                         "global key events."),
          QStringLiteral("• Creating a virtual keyboard (/dev/uinput, opened to the ‘input’ group "
                         "by Chordwell’s udev rule): to override original key behavior and "
                         "trigger mapped actions."),
          udevRuleText(install) +
              QStringLiteral(" Add your user to the group (sudo usermod -aG input $USER) to "
                             "grant access; remove it from the group to revoke access. The new "
                             "membership applies after you log out and in again, or restart "
                             "your computer; then launch Chordwell again. Additionally, ensure "
                             "that no other application is intercepting your keyboard events.")},
         8});
    page.sections.push_back(
        {QStringLiteral("Activating the Mappings"),
         {QStringLiteral("After you have created your keyboard mappings, activate them so that "
                         "you can use your computer normally while Chordwell works in the "
                         "background: click the switch “Chordwell is: OFF” (or choose Activate "
                         "Chordwell in the Manage menu), and then use your computer as usual.")}});
    page.sections.push_back(
        {QStringLiteral("How It Works"),
         {displayName +
              QStringLiteral(" listens for your specified key sequences and, on a "
                             "match, suppresses the original behavior and performs "
                             "the mapped action. For example, if you map ") +
              combo({{8, kMaskControl}}) +
              QStringLiteral(" (Copy) to perform the action of Super (Open Search), it blocks "
                             "the Copy action and opens the search instead."),
          QStringLiteral("Note: Some keys on your keyboard may not be blocked, such as Caps "
                         "Lock. Their original behavior is still triggered.")}});
    page.sections.push_back(keyboardLayoutsSection());
    page.sections.push_back(
        {QStringLiteral("Settings & Preferences"),
         {QStringLiteral("Choose Open Settings in the Manage menu to configure global options "
                         "such as startup launch and confirmation dialogs.")}});
    page.sections.push_back(
        {QStringLiteral("Troubleshooting"),
         {QStringLiteral("• If key mappings are not working, ensure that ") + displayName +
              QStringLiteral(" runs as a user in the ‘input’ group and that its udev rule is "
                             "installed."),
          QStringLiteral("• If it is still not working, make sure that no other app is taking "
                         "control of your keyboard."),
          QStringLiteral("• If the problem persists, remove your user from the ‘input’ group and "
                         "add it again, restart your computer, and try again.")}});
    page.sections.push_back(
        {QStringLiteral("Contact"),
         {QStringLiteral(
             "Do you have any suggestions or feedback? Feel free to contact us at: ")}});
    return page;
}

} // namespace

HelpPage helpPage(const QString& displayName, HelpPlatform platform, const InstallFacts& install) {
    return platform == HelpPlatform::macOS ? macPage(displayName) : linuxPage(displayName, install);
}

QString helpDocument(const HelpPage& page) {
    // Section titles stand 16 points from their texts, as the texts from
    // each other; the permissions list keeps its tighter spacing.
    QString html = QStringLiteral("<h1 style=\"margin-top:0; margin-bottom:16px\">") +
                   page.title.toHtmlEscaped() + QStringLiteral("</h1>");
    for (const HelpSection& section : page.sections) {
        html += QStringLiteral("<h3 style=\"margin-top:0; margin-bottom:16px\">") +
                section.title.toHtmlEscaped() + QStringLiteral("</h3>");
        for (qsizetype i = 0; i < section.texts.size(); ++i) {
            const int after = i + 1 < section.texts.size() ? section.textSpacing : 16;
            html += QStringLiteral("<p style=\"margin-top:0; margin-bottom:%1px\">").arg(after) +
                    section.texts[i].toHtmlEscaped() + QStringLiteral("</p>");
        }
    }
    const QString email = supportEmailAddress();
    html += QStringLiteral("<p style=\"margin-top:0; margin-bottom:4px\"><a href=\"mailto:%1\">"
                           "<b>%2</b></a></p>")
                .arg(email.toHtmlEscaped(), email.toHtmlEscaped());
    html += QStringLiteral("<p style=\"margin-top:0\">Visit our website: <a href=\"%1\"><b>%2</b>"
                           "</a></p>")
                .arg(websiteURL().toHtmlEscaped(), websiteDomain().toHtmlEscaped());
    return html;
}

HelpView::HelpView(platform::Desktop& desktop, QWidget* parent)
    : HelpView(desktop, appDisplayName(), currentHelpPlatform(), currentInstallFacts(), parent) {}

HelpView::HelpView(platform::Desktop& desktop, const QString& displayName,
                   HelpPlatform helpPlatform, const InstallFacts& install, QWidget* parent)
    : QWidget(parent), desktop_(desktop) {
    build(displayName, helpPlatform, install);
}

void HelpView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && document_ != nullptr) {
        // Links take the theme's link colour when the text is laid out.
        document_->setHtml(html_);
    }
}

void HelpView::openLink(const QString& url) {
    if (desktop_.openURL(url.toStdString())) {
        linkStatus_->clear();
        linkStatus_->hide();
        return;
    }
    log(LogLevel::warning, "No application could open a link of the help window", "ui");
    linkStatus_->setText(linkFailureText(url));
    linkStatus_->show();
}

void HelpView::build(const QString& displayName, HelpPlatform helpPlatform,
                     const InstallFacts& install) {
    setMinimumSize(360, 400);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(4);

    document_ = new QTextBrowser(this);
    document_->setObjectName(QStringLiteral("helpDocument"));
    document_->setAccessibleName(QStringLiteral("Chordwell Help"));
    document_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    document_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    document_->setFrameShape(QFrame::NoFrame);
    document_->setOpenLinks(false);
    document_->setOpenExternalLinks(false);
    document_->setLineWrapMode(QTextEdit::WidgetWidth);
    // The page sits on the window's colour, as a page of text in a window.
    document_->viewport()->setAutoFillBackground(false);
    document_->setAttribute(Qt::WA_TranslucentBackground);
    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    document_->document()->setDocumentMargin(margin);
    html_ = helpDocument(helpPage(displayName, helpPlatform, install));
    document_->setHtml(html_);
    connect(document_, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& url) { openLink(url.toString()); });
    outer->addWidget(document_, 1);

    linkStatus_ = new QLabel(this);
    linkStatus_->setObjectName(QStringLiteral("linkStatus"));
    linkStatus_->setTextFormat(Qt::PlainText);
    linkStatus_->setWordWrap(true);
    linkStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    linkStatus_->setContentsMargins(margin, 0, margin, margin);
    linkStatus_->setForegroundRole(QPalette::PlaceholderText);
    linkStatus_->hide();
    outer->addWidget(linkStatus_);
}

} // namespace chordwell::app
