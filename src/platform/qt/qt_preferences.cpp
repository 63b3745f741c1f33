#include "platform/qt/qt_preferences.hpp"

#include "fileio/file_io.hpp"
#include "logging/log.hpp"
#include "model/display_text.hpp"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMetaType>
#include <QStandardPaths>
#include <QString>

#include <cmath>

namespace chordwell::platform::qt {

namespace {

constexpr std::string_view kCategory = "settings";

#ifdef __APPLE__
std::unique_ptr<QSettings> applicationSettings() {
    // "palvane.com" is reversed into the defaults domain com.palvane.Chordwell.
    return std::make_unique<QSettings>(QStringLiteral("palvane.com"), QStringLiteral("Chordwell"));
}
#endif

QString keyString(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

QString qtPath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

bool isBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

} // namespace

#ifdef __APPLE__
QtPreferences::QtPreferences() : QtPreferences(applicationSettings()) {}
#else
QtPreferences::QtPreferences() : QtPreferences(applicationIniFile()) {}
#endif

QtPreferences::QtPreferences(const std::filesystem::path& iniFile) : iniFile_(iniFile) {
    textFormat_ = true;
    if (makeFileSafeToOpen(iniFile_)) {
        settings_ = std::make_unique<QSettings>(qtPath(iniFile_), QSettings::IniFormat);
        watchFile();
    }
}

QtPreferences::QtPreferences(std::unique_ptr<QSettings> settings)
    : settings_(std::move(settings)), textFormat_(settings_->format() != QSettings::NativeFormat) {
#ifndef __APPLE__
    // Only macOS's native format (property lists) keeps value types; the
    // native format elsewhere is a text file or the registry's strings.
    textFormat_ = true;
#endif
    watchFile();
}

QtPreferences::~QtPreferences() = default;

std::filesystem::path QtPreferences::applicationIniFile() {
    // Where QSettings puts the user's INI file of organisation "Chordwell",
    // application "preferences".
    return std::filesystem::path(
               QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                   .toStdString()) /
           "Chordwell" / "preferences.ini";
}

QString QtPreferences::fileName() const {
    return settings_ ? settings_->fileName() : QString();
}

std::optional<std::string> QtPreferences::iniTextProblem(std::string_view text) {
    if (isBlank(text)) {
        return "it is empty";
    }
    if (text.find('\0') != std::string_view::npos) {
        return "it is not text";
    }
    for (std::size_t i = 0; i < text.size();) {
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8(text, i, codePoint);
        if (length == 0) {
            return "it is not UTF-8 text";
        }
        i += length;
    }
    int number = 0;
    bool continued = false; // a value that goes on after a backslash
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const bool wasContinued = continued;
        continued = !line.empty() && line.back() == '\\';
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (wasContinued || first == std::string_view::npos) {
            continue;
        }
        line.remove_prefix(first);
        if (line.front() == ';' || line.front() == '#' || line.front() == '[' ||
            line.find('=') != std::string_view::npos) {
            continue;
        }
        return "line " + std::to_string(number) + " is neither a [section] nor KEY=VALUE";
    }
    return std::nullopt;
}

bool QtPreferences::makeFileSafeToOpen(const std::filesystem::path& file) {
    std::error_code error;
    if (std::filesystem::symlink_status(file, error).type() ==
        std::filesystem::file_type::not_found) {
        return true; // QSettings makes it on the first write
    }
    // Read the way the mapping files are read: without blocking, only a
    // regular file, never more than the limit.
    std::string reason;
    if (const auto bytes = fileio::readRegularFile(file, kMaxIniBytes, error)) {
        const auto problem = iniTextProblem(*bytes);
        if (!problem) {
            return true;
        }
        reason = *problem;
    } else if (error == fileio::FileError::tooLarge) {
        reason = "it is larger than " + std::to_string(kMaxIniBytes) + " bytes";
    } else {
        reason = error.message();
    }
    std::error_code moveError;
    if (const auto aside = fileio::moveAside(file, ".unreadable", moveError)) {
        log(LogLevel::warning,
            "Preferences file " + file.string() + " cannot be used (" + reason + "); kept it as " +
                aside->string() + " and started with defaults.",
            kCategory);
        return true;
    }
    log(LogLevel::error,
        "Preferences file " + file.string() + " cannot be used (" + reason +
            ") and cannot be set aside (" + moveError.message() +
            "); preferences stay in memory until Chordwell quits.",
        kCategory);
    return false;
}

bool QtPreferences::fileSafe() const {
    if (!settings_) {
        return false;
    }
    return iniFile_.empty() || makeFileSafeToOpen(iniFile_);
}

void QtPreferences::watchFile() {
    if (!settings_) {
        return;
    }
    const QString file = settings_->fileName();
    if (file.isEmpty() || !QFileInfo(file).isAbsolute()) {
        return; // the registry: nothing to watch
    }
    if (QCoreApplication::instance() == nullptr) {
        // Qt's watcher is served by the application's event loop only; a
        // program without one (the command-line tool) watches the file
        // itself and calls reload().
        return;
    }
    watcher_ = std::make_unique<QFileSystemWatcher>();
    // The file may not exist yet, and a write replaces it (a new inode):
    // watch the folder too, and the file again after each change.
    watcher_->addPath(QFileInfo(file).absolutePath());
    if (QFileInfo::exists(file)) {
        watcher_->addPath(file);
    }
    auto changed = [this, file] {
        if (QFileInfo::exists(file) && !watcher_->files().contains(file)) {
            watcher_->addPath(file);
        }
        reload();
    };
    QObject::connect(watcher_.get(), &QFileSystemWatcher::fileChanged, watcher_.get(), changed);
    QObject::connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, watcher_.get(),
                     changed);
}

void QtPreferences::reload() {
    const std::lock_guard<std::mutex> store(storeMutex_);
    if (!fileSafe()) {
        return; // keep what was read; the file is not opened
    }
    settings_->sync();
    const std::lock_guard<std::mutex> lock(mutex_);
    cache_.clear();
}

std::size_t QtPreferences::cachedValueCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cache_.size();
}

std::optional<PreferenceValue> QtPreferences::fromStored(const QVariant& stored, bool textFormat) {
    if (!stored.isValid() || stored.isNull()) {
        return std::nullopt;
    }
    switch (stored.typeId()) {
    case QMetaType::Bool:
        return PreferenceValue{stored.toBool()};
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return PreferenceValue{stored.toDouble()};
    default:
        break;
    }
    const QString text = stored.toString();
    if (textFormat) {
        if (text == QLatin1String("true")) {
            return PreferenceValue{true};
        }
        if (text == QLatin1String("false")) {
            return PreferenceValue{false};
        }
        bool isNumber = false;
        const double number = text.toDouble(&isNumber);
        if (isNumber && std::isfinite(number)) {
            return PreferenceValue{number};
        }
    }
    return PreferenceValue{text.toStdString()};
}

std::optional<PreferenceValue> QtPreferences::value(std::string_view key) const {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (auto it = cache_.find(key); it != cache_.end()) {
            return it->second;
        }
    }
    if (!settings_) {
        return std::nullopt;
    }
    const std::lock_guard<std::mutex> store(storeMutex_);
    // QSettings read the file when it was made or last synchronised: this
    // reads memory only.
    std::optional<PreferenceValue> read = fromStored(settings_->value(keyString(key)), textFormat_);
    const std::lock_guard<std::mutex> lock(mutex_);
    // A value written meanwhile is in the cache already and wins.
    return cache_.emplace(std::string(key), read).first->second;
}

void QtPreferences::setValue(std::string_view key, const PreferenceValue& value) {
    QVariant stored;
    if (const bool* b = std::get_if<bool>(&value)) {
        stored = *b;
    } else if (const double* d = std::get_if<double>(&value)) {
        stored = *d;
    } else {
        stored = QString::fromStdString(std::get<std::string>(value));
    }
    const std::lock_guard<std::mutex> store(storeMutex_);
    if (!fileSafe()) {
        // The file cannot be used: the value lives for this session only.
        const std::lock_guard<std::mutex> lock(mutex_);
        cache_.insert_or_assign(std::string(key), fromStored(stored, textFormat_));
        return;
    }
    settings_->setValue(keyString(key), stored);
    // Written through at once: another process (the command line tool, a
    // crash right after) sees the change.
    settings_->sync();
    // What a reader gets back is what the store gives for the written value
    // (an INI file keeps text), so read it back rather than copy `value`.
    std::optional<PreferenceValue> back = fromStored(settings_->value(keyString(key)), textFormat_);
    const std::lock_guard<std::mutex> lock(mutex_);
    cache_.insert_or_assign(std::string(key), std::move(back));
}

} // namespace chordwell::platform::qt
