#include "app/help/help_view.hpp"

#include "app/app_info.hpp"
#include "app/controls/text_styles.hpp"
#include "logging/log.hpp"
#include "platform/desktop.hpp"

#include <QEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

namespace chordwell::app {

HelpPlatform currentHelpPlatform() {
#if defined(__APPLE__)
    return HelpPlatform::macOS;
#else
    return HelpPlatform::linuxDesktop;
#endif
}

HelpPage helpPage(const QString& displayName, HelpPlatform platform) {
    const bool mac = platform == HelpPlatform::macOS;
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
                         "suggested to use your ") +
          (mac ? QStringLiteral("Mac keyboard.") : QStringLiteral("main keyboard."))}});

    const QString grantText =
        mac ? QStringLiteral(
                  "You may be prompted to grant access to these permissions when using the "
                  "application. You can grant or revoke access for both permissions at any time "
                  "in System Settings → Privacy & Security. If mappings are not recorded after "
                  "granting permission, remove Chordwell from both lists, restart your Mac, and "
                  "launch the application again to reauthorize. Additionally, ensure that no "
                  "other application is intercepting your keyboard events.")
            : QStringLiteral(
                  "On Linux both permissions come from membership in the ‘input’ group together "
                  "with Chordwell's udev rule (installed by sudo make install), which lets that "
                  "group read keyboards and create the virtual keyboard. Add your user to the "
                  "group (sudo usermod -aG input $USER) to grant access; remove it from the "
                  "group to revoke access. If mappings are not recorded after granting "
                  "permission, log out and in again or restart your computer so that the new "
                  "group membership applies, and launch the application again. Additionally, "
                  "ensure that no other application is intercepting your keyboard events.");
    // Linux has neither permission by these names: reading a keyboard and
    // typing through the virtual keyboard are what the input group and the
    // udev rule grant there.
    const QString firstPermission =
        mac ? QStringLiteral("• Input Monitoring: to capture global key events.")
            : QStringLiteral("• Reading keyboards (the ‘input’ group, /dev/input/event*): to "
                             "capture global key events.");
    const QString secondPermission =
        mac ? QStringLiteral("• Accessibility: to override original key behavior and trigger "
                             "mapped actions.")
            : QStringLiteral("• Creating a virtual keyboard (/dev/uinput, opened to the ‘input’ "
                             "group by Chordwell's udev rule): to override original key behavior "
                             "and trigger mapped actions.");
    page.sections.push_back(
        {QStringLiteral("Permissions Required"),
         {QStringLiteral("Chordwell needs two permissions to work:"), firstPermission,
          secondPermission, grantText,
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

    // macOS has an application menu with a Settings command; elsewhere the
    // command is "Open Settings" in the main window's "Manage" menu.
    page.sections.push_back(
        {QStringLiteral("Settings & Preferences"),
         {mac ? QStringLiteral("Open Settings from the app menu to configure global options such "
                               "as startup launch and confirmation dialogs.")
              : QStringLiteral("Choose Open Settings in the Manage menu to configure global "
                               "options such as startup launch and confirmation dialogs.")}});

    if (mac) {
        page.sections.push_back(
            {QStringLiteral("Troubleshooting"),
             {QStringLiteral("- If key mappings are not working, ensure ") + displayName +
                  QStringLiteral(" has ‘Input Monitoring’ and ‘Accessibility’ permissions in "
                                 "System Settings → Privacy & Security."),
              QStringLiteral("- If it is still not working, make sure you do not have another "
                             "app taking control of your keyboard."),
              QStringLiteral("- If the issue persists, attempt to disable both permissions and "
                             "remove the application from the permission lists. Subsequently, "
                             "restart your computer and repeat the process.")}});
    } else {
        page.sections.push_back(
            {QStringLiteral("Troubleshooting"),
             {QStringLiteral("- If key mappings are not working, ensure ") + displayName +
                  QStringLiteral(" runs as a user in the ‘input’ group and that its udev rule "
                                 "is installed."),
              QStringLiteral("- If it is still not working, make sure you do not have another "
                             "app taking control of your keyboard."),
              QStringLiteral("- If the issue persists, attempt to remove your user from the "
                             "‘input’ group and reinstall the udev rule. Subsequently, restart "
                             "your computer and repeat the process.")}});
    }

    page.sections.push_back(
        {QStringLiteral("Contact"),
         {QStringLiteral(
             "Do you have any suggestions or feedback? Feel free to contact us at: ")}});
    return page;
}

namespace {

QLabel* textLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    // The page is plain text: nothing in it is markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLabel* linkLabel(const QString& text, const QString& url, QWidget* parent) {
    return richLinkLabel(QStringLiteral("<a href=\"%1\"><b>%2</b></a>")
                             .arg(url.toHtmlEscaped(), text.toHtmlEscaped()),
                         url, parent);
}

QFont withPointScale(QFont font, qreal factor, bool bold) {
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    }
    font.setBold(bold);
    return font;
}

} // namespace

HelpView::HelpView(platform::Desktop& desktop, QWidget* parent)
    : HelpView(desktop, appDisplayName(), currentHelpPlatform(), parent) {}

HelpView::HelpView(platform::Desktop& desktop, const QString& displayName,
                   HelpPlatform helpPlatform, QWidget* parent)
    : QWidget(parent), desktop_(desktop) {
    build(displayName, helpPlatform);
}

void HelpView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        relayoutLinks(links_);
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
    scrollArea_->ensureWidgetVisible(linkStatus_);
}

void HelpView::build(const QString& displayName, HelpPlatform helpPlatform) {
    setMinimumSize(360, 400);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);

    scrollArea_ = new QScrollArea(this);
    scrollArea_->setObjectName(QStringLiteral("helpScrollArea"));
    scrollArea_->setWidgetResizable(true);
    scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scrollArea_->setFrameShape(QFrame::NoFrame);
    outer->addWidget(scrollArea_);

    auto* content = new QWidget(scrollArea_);
    content->setObjectName(QStringLiteral("helpContent"));
    auto* stack = new QVBoxLayout(content);
    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    stack->setContentsMargins(margin, margin, margin, margin);
    stack->setSpacing(16);

    const HelpPage page = helpPage(displayName, helpPlatform);
    auto* title = textLabel(page.title, content);
    title->setObjectName(QStringLiteral("helpTitle"));
    title->setFont(withPointScale(font(), 1.6, true));
    stack->addWidget(title);

    const QFont headline = withPointScale(font(), 1.1, true);
    for (const HelpSection& section : page.sections) {
        auto* heading = textLabel(section.title, content);
        heading->setFont(headline);
        stack->addWidget(heading);
        if (section.textSpacing == stack->spacing()) {
            for (const QString& text : section.texts) {
                stack->addWidget(textLabel(text, content));
            }
        } else {
            auto* group = new QVBoxLayout;
            group->setSpacing(section.textSpacing);
            for (const QString& text : section.texts) {
                group->addWidget(textLabel(text, content));
            }
            stack->addLayout(group);
        }
    }

    // The contact section ends in its two links.
    const QString email = supportEmailAddress();
    auto* mail = linkLabel(email, QStringLiteral("mailto:") + email, content);
    mail->setObjectName(QStringLiteral("supportEmailLink"));
    connect(mail, &QLabel::linkActivated, this, &HelpView::openLink);
    links_.push_back(mail);
    stack->addWidget(mail);

    auto* websiteRow = new QHBoxLayout;
    websiteRow->setSpacing(4);
    websiteRow->addWidget(textLabel(QStringLiteral("Visit our website:"), content));
    auto* website = linkLabel(websiteDomain(), websiteURL(), content);
    website->setObjectName(QStringLiteral("websiteLink"));
    connect(website, &QLabel::linkActivated, this, &HelpView::openLink);
    links_.push_back(website);
    websiteRow->addWidget(website);
    websiteRow->addStretch(1);
    stack->addLayout(websiteRow);
    linkStatus_ = textLabel(QString(), content);
    linkStatus_->setObjectName(QStringLiteral("linkStatus"));
    linkStatus_->setForegroundRole(QPalette::PlaceholderText);
    linkStatus_->hide();
    stack->addWidget(linkStatus_);
    stack->addStretch(1);

    scrollArea_->setWidget(content);
}

} // namespace chordwell::app
