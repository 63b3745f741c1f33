#include "platform/qt/qt_preferences.hpp"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMetaType>
#include <QString>

#include <cmath>

namespace chordwell::platform::qt {

namespace {

std::unique_ptr<QSettings> applicationSettings() {
#ifdef __APPLE__
    // "palvane.com" is reversed into the defaults domain com.palvane.Chordwell.
    return std::make_unique<QSettings>(QStringLiteral("palvane.com"), QStringLiteral("Chordwell"));
#else
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Chordwell"), QStringLiteral("preferences"));
#endif
}

QString keyString(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

} // namespace

QtPreferences::QtPreferences() : QtPreferences(applicationSettings()) {}

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

void QtPreferences::watchFile() {
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
    std::lock_guard<std::mutex> lock(mutex_);
    settings_->sync();
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
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = cache_.find(key); it != cache_.end()) {
        return it->second;
    }
    std::optional<PreferenceValue> read = fromStored(settings_->value(keyString(key)), textFormat_);
    cache_.emplace(std::string(key), read);
    return read;
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
    std::lock_guard<std::mutex> lock(mutex_);
    settings_->setValue(keyString(key), stored);
    // Written through at once: another process (the command line tool, a
    // crash right after) sees the change.
    settings_->sync();
    // What a reader gets back is what the store gives for the written value
    // (an INI file keeps text), so read it back rather than copy `value`.
    cache_.insert_or_assign(std::string(key),
                            fromStored(settings_->value(keyString(key)), textFormat_));
}

} // namespace chordwell::platform::qt
