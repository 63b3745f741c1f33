// The Preferences port on QSettings.
//
// On macOS the native format is the user-defaults domain com.palvane.Chordwell
// (organisation "palvane.com", application "Chordwell"), so the keys are the
// ones `defaults read com.palvane.Chordwell` shows. Elsewhere an INI file
// under the user's configuration folder holds them.
//
// The engine reads the repeat preferences at every mapped key press, on the
// key event path, which must not allocate; QSettings makes strings and
// variants at every read. So values read are kept here and handed out from
// memory: a write through this object updates its copy, and a change of the
// file by someone else (the command-line tool, another instance) drops the
// copies so that the next read sees it.
#pragma once

#include "platform/ports.hpp"

#include <QSettings>
#include <QVariant>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QFileSystemWatcher;

namespace chordwell::platform::qt {

class QtPreferences : public Preferences {
public:
    /// The application's own store (see above).
    QtPreferences();
    /// A given store (tests use an INI file in a temporary folder).
    explicit QtPreferences(std::unique_ptr<QSettings> settings);
    ~QtPreferences() override;
    QtPreferences(const QtPreferences&) = delete;
    QtPreferences& operator=(const QtPreferences&) = delete;

    std::optional<PreferenceValue> value(std::string_view key) const override;
    void setValue(std::string_view key, const PreferenceValue& value) override;

    QSettings& settings() const { return *settings_; }

    /// Forgets the values read so far and re-reads the store (what a change
    /// of the file by another process triggers). Within a Qt application the
    /// file is watched here; a program without a QCoreApplication watches
    /// it itself and calls this.
    void reload();
    /// How many values are held in memory.
    std::size_t cachedValueCount() const;

    /// The typed value of what QSettings read. Text formats (INI) keep no
    /// types, so with `textFormat` the words true / false become Booleans
    /// and numbers become doubles, as they were written.
    static std::optional<PreferenceValue> fromStored(const QVariant& stored, bool textFormat);

private:
    void watchFile();

    std::unique_ptr<QSettings> settings_;
    bool textFormat_ = false;
    mutable std::mutex mutex_;
    mutable std::map<std::string, std::optional<PreferenceValue>, std::less<>> cache_;
    std::unique_ptr<QFileSystemWatcher> watcher_;
};

} // namespace chordwell::platform::qt
