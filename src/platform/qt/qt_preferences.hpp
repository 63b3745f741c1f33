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
//
// QSettings opens and reads its file in blocking calls, whole, and quietly
// ignores what it cannot parse (then rewrites the file without it). So the
// INI file is checked before Qt ever opens it, as the mapping files are: a
// regular file of at most 1 MB, text, lines of sections and KEY=VALUE. A
// FIFO, a folder, a huge, empty, binary or garbled file is set aside as
// "<name>.unreadable" (with a log line) and the defaults are used; when it
// cannot even be set aside, the preferences live in memory for the session.
#pragma once

#include "ports/ports.hpp"

#include <QSettings>
#include <QVariant>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class QFileSystemWatcher;

namespace chordwell::platform::qt {

class QtPreferences : public Preferences {
public:
    /// The application's own store (see above).
    QtPreferences();
    /// An INI file of our own, checked as above before it is opened.
    explicit QtPreferences(const std::filesystem::path& iniFile);
    /// A given store (tests; the demo's INI file in its scratch folder).
    explicit QtPreferences(std::unique_ptr<QSettings> settings);
    ~QtPreferences() override;
    QtPreferences(const QtPreferences&) = delete;
    QtPreferences& operator=(const QtPreferences&) = delete;

    std::optional<PreferenceValue> value(std::string_view key) const override;
    void setValue(std::string_view key, const PreferenceValue& value) override;

    /// The file the values live in ("" for the registry, or when they live
    /// in memory because the file could not be used).
    QString fileName() const;
    /// Whether the values live in memory only this session.
    bool inMemoryOnly() const { return settings_ == nullptr; }

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

    /// The largest preferences file read; a handful of keys is far below.
    static constexpr std::uintmax_t kMaxIniBytes = 1024 * 1024;
    /// What is wrong with the text of an INI file, or nothing when it is one
    /// (sections, KEY=VALUE lines, comments; not empty, UTF-8, no NUL).
    static std::optional<std::string> iniTextProblem(std::string_view text);
    /// Checks `file` before anything opens it and sets it aside when it is
    /// no usable INI file. False when the file is unusable and still there:
    /// it must not be opened.
    static bool makeFileSafeToOpen(const std::filesystem::path& file);
    /// Where the application's INI file is on this system (not macOS).
    static std::filesystem::path applicationIniFile();

private:
    void watchFile();
    // Checks the file again before QSettings reads or writes it (it may have
    // been replaced since); false: keep to memory.
    bool fileSafe() const;

    std::unique_ptr<QSettings> settings_; // nullptr: in memory only
    std::filesystem::path iniFile_;       // checked before each access; empty: not ours
    bool textFormat_ = false;
    // Two locks, always taken in this order: storeMutex_ serialises every
    // use of settings_ (whose sync() writes or reads the file), mutex_
    // guards the cache only. A read the cache answers (the key path reads
    // its repeat settings on a thread of its own) never waits for a file.
    mutable std::mutex storeMutex_;
    mutable std::mutex mutex_;
    mutable std::map<std::string, std::optional<PreferenceValue>, std::less<>> cache_;
    std::unique_ptr<QFileSystemWatcher> watcher_;
};

} // namespace chordwell::platform::qt
