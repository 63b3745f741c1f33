#include "platform/qt/qt_desktop.hpp"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>

#ifdef CHORDWELL_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusMessage>
#endif

#include <system_error>

namespace chordwell::platform::qt {

namespace {

QString toQString(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

} // namespace

QtDesktop::QtDesktop(RevealFunction reveal) : reveal_(std::move(reveal)) {}

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

std::string QtDesktop::localizedHostName() const {
    return QSysInfo::machineHostName().toStdString();
}

std::string QtDesktop::hostName() const {
    return QSysInfo::machineHostName().toStdString();
}

std::string QtDesktop::operatingSystemVersionString() const {
    return (QSysInfo::prettyProductName() + QStringLiteral(" (kernel ") +
            QSysInfo::kernelVersion() + QStringLiteral(")"))
        .toStdString();
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
