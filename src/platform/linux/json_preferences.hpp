// The user's preferences in a JSON file: by default
// $XDG_CONFIG_HOME/Chordwell/preferences.json (~/.config/...). Used by the
// native platform when no application supplies its own store (the Qt
// application uses QSettings). Every change is written at once, atomically
// (a temporary file renamed over the old one). A file that cannot be read
// is set aside as "preferences.json.unreadable" (then "-2", "-3" ...)
// rather than overwritten.
// Values are read from memory (the key event path reads the repeat
// preferences at every mapped press); a change of the file by another
// process is picked up within a second.
#pragma once

#include "model/json_codec.hpp"
#include "ports/ports.hpp"

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace chordwell::platform::lnx {

using PreferenceMap = std::map<std::string, PreferenceValue, std::less<>>;

/// The preferences file's text: one JSON object. Booleans, numbers and
/// strings keep their type; any other value is kept as its JSON text.
DecodeResult<PreferenceMap> decodePreferences(std::string_view text);

class JsonFilePreferences final : public Preferences {
public:
    /// `refreshInterval`: how often at most the file is looked at for
    /// changes made by others.
    explicit JsonFilePreferences(
        std::filesystem::path file,
        std::chrono::milliseconds refreshInterval = std::chrono::seconds(1));

    /// $XDG_CONFIG_HOME/Chordwell/preferences.json, else
    /// $HOME/.config/Chordwell/preferences.json; nothing without either.
    static std::optional<std::filesystem::path> defaultFile();

    std::optional<PreferenceValue> value(std::string_view key) const override;
    void setValue(std::string_view key, const PreferenceValue& value) override;

    const std::filesystem::path& file() const { return file_; }

private:
    void load();
    bool save() const;
    // Re-reads the file when its modification time moved (looked at no more
    // than once a second). Called with the lock held.
    void refreshIfChanged() const;
    std::filesystem::file_time_type modificationTime() const;

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    mutable PreferenceMap values_;
    bool writable_ = true;
    mutable std::filesystem::file_time_type loadedTime_{};
    std::chrono::milliseconds refreshInterval_;
    mutable std::chrono::steady_clock::time_point lastCheck_{};
};

} // namespace chordwell::platform::lnx
