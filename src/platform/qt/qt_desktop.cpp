#include "platform/qt/qt_desktop.hpp"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>

#ifdef CHORDWELL_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusMessage>
#endif

#include <fstream>
#include <iterator>
#include <system_error>

namespace chordwell::platform::qt {

namespace {

QString toQString(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

// A small system file (os-release, machine-info); "" when unreadable.
std::string readSmallFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    char buffer[4096];
    while (in && text.size() < 64 * 1024) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return text;
}

} // namespace

QtDesktop::QtDesktop(RevealFunction reveal, SystemFacts facts, std::filesystem::path systemRoot)
    : reveal_(std::move(reveal)), facts_(std::move(facts)), root_(std::move(systemRoot)) {}

std::string QtDesktop::assignmentValue(const std::string& text, const std::string& key) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 ||
            line[key.size()] != '=') {
            continue;
        }
        std::string_view raw = line.substr(key.size() + 1);
        while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t' || raw.back() == '\r')) {
            raw.remove_suffix(1);
        }
        // Shell quoting as these files use it: "..." with backslash escapes,
        // '...' literally, or a bare word.
        std::string value;
        char quote = 0;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            const char c = raw[i];
            if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
            } else if (quote != 0 && c == quote) {
                quote = 0;
            } else if (c == '\\' && quote != '\'' && i + 1 < raw.size()) {
                value += raw[++i];
            } else {
                value += c;
            }
        }
        return value;
    }
    return {};
}

bool QtDesktop::openURL(const std::string& url) {
    // fromEncoded keeps the percent-escapes as given: a mailto body must
    // reach the mail client exactly as it was encoded.
    const QUrl parsed = QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid()) {
        return false;
    }
    return QDesktopServices::openUrl(parsed);
}

bool QtDesktop::revealFile(const std::filesystem::path& file) {
    if (reveal_) {
        return reveal_(file);
    }
    const QFileInfo info(toQString(file));
    if (!info.exists()) {
        return false;
    }
#ifdef CHORDWELL_HAVE_QTDBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
        if (reply.type() == QDBusMessage::ReplyMessage) {
            return true;
        }
    }
#endif
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

void QtDesktop::setClipboardText(const std::string& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(QString::fromStdString(text));
    }
}

bool QtDesktop::hasHandlerForScheme(const std::string& scheme) const {
    if (facts_.hasSchemeHandler) {
        return facts_.hasSchemeHandler(scheme);
    }
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"),
                 QStringLiteral("x-scheme-handler/") + QString::fromStdString(scheme)});
    if (!query.waitForStarted(2000)) {
        return true; // no xdg-utils: cannot tell, so let the opener try
    }
    if (!query.waitForFinished(3000)) {
        query.kill();
        query.waitForFinished(1000);
        return true;
    }
    return query.exitStatus() == QProcess::NormalExit &&
           !query.readAllStandardOutput().trimmed().isEmpty();
}

std::string QtDesktop::localizedHostName() const {
    if (facts_.computerName) {
        return facts_.computerName();
    }
    // hostnamed keeps the name people gave the machine here; the network
    // host name is only the fallback the report uses when this is empty.
    return assignmentValue(readSmallFile(root_ / "etc" / "machine-info"), "PRETTY_HOSTNAME");
}

std::string QtDesktop::hostName() const {
    return QSysInfo::machineHostName().toStdString();
}

std::string QtDesktop::operatingSystemVersionString() const {
    if (facts_.operatingSystemVersion) {
        return facts_.operatingSystemVersion();
    }
    std::string name = assignmentValue(readSmallFile(root_ / "etc" / "os-release"), "PRETTY_NAME");
    if (name.empty()) {
        name = assignmentValue(readSmallFile(root_ / "usr" / "lib" / "os-release"), "PRETTY_NAME");
    }
    if (name.empty()) {
        name = QSysInfo::prettyProductName().toStdString();
    }
    return name + " (kernel " + QSysInfo::kernelVersion().toStdString() + ")";
}

// ------------------------------------------------------------ autostart

XdgAutostartLoginItem::XdgAutostartLoginItem()
    : XdgAutostartLoginItem(std::filesystem::path(QStandardPaths::writableLocation(
                                                      QStandardPaths::GenericConfigLocation)
                                                      .toStdString()) /
                                "autostart",
                            QCoreApplication::applicationFilePath().toStdString()) {}

XdgAutostartLoginItem::XdgAutostartLoginItem(std::filesystem::path autostartFolder,
                                             std::string executable)
    : folder_(std::move(autostartFolder)), executable_(std::move(executable)) {}

std::filesystem::path XdgAutostartLoginItem::entryFile() const {
    return folder_ / "chordwell.desktop";
}

std::string XdgAutostartLoginItem::desktopEntry(const std::string& executable) {
    // The Exec key quotes its argument: a path with spaces or quotes must
    // still start this executable and nothing else.
    std::string quoted = "\"";
    for (char c : executable) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted += '"';
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Chordwell\n"
           "Comment=Keyboard remapper\n"
           "Exec=" +
           quoted +
           "\n"
           "Icon=chordwell\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

LoginItemStatus XdgAutostartLoginItem::status() const {
    QFile file(toQString(entryFile()));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return LoginItemStatus::notRegistered;
    }
    // An entry the desktop was told to ignore does not start anything.
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") {
            return LoginItemStatus::notRegistered;
        }
    }
    return LoginItemStatus::enabled;
}

bool XdgAutostartLoginItem::registerApp(std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) {
        error = "Could not create " + folder_.string() + ": " + ec.message();
        return false;
    }
    QSaveFile file(toQString(entryFile()));
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    const std::string text = desktopEntry(executable_);
    if (file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

bool XdgAutostartLoginItem::unregisterApp(std::string& error) {
    std::error_code ec;
    std::filesystem::remove(entryFile(), ec); // a missing entry is no failure
    if (ec) {
        error = "Could not remove " + entryFile().string() + ": " + ec.message();
        return false;
    }
    return true;
}

} // namespace chordwell::platform::qt
