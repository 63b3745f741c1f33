// Who the application says it is: its display name, its version and the
// addresses it points people to. The addresses are configuration values of
// the build (compile definitions set by the app's CMakeLists.txt).
#pragma once

#include <QString>

namespace chordwell::app {

/// The name shown in window and menu titles and in the texts of the settings
/// and help windows: the application's display name, else its name, else
/// "???". main() sets both on the application object.
QString appDisplayName();

/// The application's own name (the "bundle name" the window searches look
/// for), or an empty string when none was set.
QString appBundleName();

/// "<short version> (<build>)", each part "?" when the build does not know it.
QString appVersionString();

/// The version string for the given parts; an empty part becomes "?".
QString formatVersionString(const QString& shortVersion, const QString& build);

/// Configuration values of the build.
QString supportEmailAddress();
QString websiteURL();
QString websiteDomain();
QString termsURL();
QString privacyURL();

} // namespace chordwell::app
