// The Preferences port on QSettings.
//
// On macOS the native format is the user-defaults domain com.palvane.Chordwell
// (organisation "palvane.com", application "Chordwell"), so the keys are the
// ones `defaults read com.palvane.Chordwell` shows. Elsewhere an INI file
// under the user's configuration folder holds them.
#pragma once

#include "platform/ports.hpp"

#include <QSettings>
#include <QVariant>

#include <memory>
#include <optional>

namespace chordwell::platform::qt {

class QtPreferences : public Preferences {
public:
    /// The application's own store (see above).
    QtPreferences();
    /// A given store (tests use an INI file in a temporary folder).
    explicit QtPreferences(std::unique_ptr<QSettings> settings);

    std::optional<PreferenceValue> value(std::string_view key) const override;
    void setValue(std::string_view key, const PreferenceValue& value) override;

    QSettings& settings() const { return *settings_; }

    /// The typed value of what QSettings read. Text formats (INI) keep no
    /// types, so with `textFormat` the words true / false become Booleans
    /// and numbers become doubles, as they were written.
    static std::optional<PreferenceValue> fromStored(const QVariant& stored, bool textFormat);

private:
    std::unique_ptr<QSettings> settings_;
    bool textFormat_ = false;
};

} // namespace chordwell::platform::qt
