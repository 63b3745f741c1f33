#include "platform/qt/qt_preferences.hpp"

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
    return fromStored(settings_->value(keyString(key)), textFormat_);
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
    settings_->setValue(keyString(key), stored);
    // Written through at once: another process (the command line tool, a
    // crash right after) sees the change.
    settings_->sync();
}

} // namespace chordwell::platform::qt
