#include "app/app_info.hpp"

#include <QCoreApplication>
#include <QGuiApplication>

// A build that forgot to pass the configuration values still gets working
// addresses; CMake normally defines all of these.
#ifndef CHORDWELL_SUPPORT_EMAIL
#define CHORDWELL_SUPPORT_EMAIL "support@palvane.com"
#endif
#ifndef CHORDWELL_WEBSITE_URL
#define CHORDWELL_WEBSITE_URL "https://palvane.com/chordwell"
#endif
#ifndef CHORDWELL_WEBSITE_DOMAIN
#define CHORDWELL_WEBSITE_DOMAIN "palvane.com"
#endif
#ifndef CHORDWELL_TERMS_URL
#define CHORDWELL_TERMS_URL "https://palvane.com/chordwell/terms"
#endif
#ifndef CHORDWELL_PRIVACY_URL
#define CHORDWELL_PRIVACY_URL "https://palvane.com/chordwell/privacy"
#endif
// The version parts are unknown ("?") unless the build says otherwise.
#ifndef CHORDWELL_VERSION
#define CHORDWELL_VERSION ""
#endif
#ifndef CHORDWELL_BUILD_NUMBER
#define CHORDWELL_BUILD_NUMBER ""
#endif

namespace chordwell::app {

QString appDisplayName() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        // Falls back to applicationName() by itself when no display name is set.
        const QString display = QGuiApplication::applicationDisplayName();
        if (!display.isEmpty()) {
            return display;
        }
    }
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("???") : name;
}

QString appBundleName() {
    return QCoreApplication::applicationName();
}

QString formatVersionString(const QString& shortVersion, const QString& build) {
    const QString unknown = QStringLiteral("?");
    return (shortVersion.isEmpty() ? unknown : shortVersion) + QStringLiteral(" (") +
           (build.isEmpty() ? unknown : build) + QStringLiteral(")");
}

QString appVersionString() {
    QString shortVersion = QStringLiteral(CHORDWELL_VERSION);
    if (shortVersion.isEmpty()) {
        shortVersion = QCoreApplication::applicationVersion();
    }
    return formatVersionString(shortVersion, QStringLiteral(CHORDWELL_BUILD_NUMBER));
}

QString supportEmailAddress() {
    return QStringLiteral(CHORDWELL_SUPPORT_EMAIL);
}
QString websiteURL() {
    return QStringLiteral(CHORDWELL_WEBSITE_URL);
}
QString websiteDomain() {
    return QStringLiteral(CHORDWELL_WEBSITE_DOMAIN);
}
QString termsURL() {
    return QStringLiteral(CHORDWELL_TERMS_URL);
}
QString privacyURL() {
    return QStringLiteral(CHORDWELL_PRIVACY_URL);
}

} // namespace chordwell::app
