// The user's preferences in a JSON file: by default
// $XDG_CONFIG_HOME/Chordwell/preferences.json (~/.config/...). Used by the
// native platform when no application supplies its own store (the Qt
// application uses QSettings). Every change is written at once, atomically
// (a temporary file renamed over the old one). A file that cannot be read
// is set aside as "preferences.json.unreadable" rather than overwritten.
#pragma once

#include "model/json_codec.hpp"
#include "platform/ports.hpp"

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
    explicit JsonFilePreferences(std::filesystem::path file);

    /// $XDG_CONFIG_HOME/Chordwell/preferences.json, else
    /// $HOME/.config/Chordwell/preferences.json; nothing without either.
    static std::optional<std::filesystem::path> defaultFile();

    std::optional<PreferenceValue> value(std::string_view key) const override;
    void setValue(std::string_view key, const PreferenceValue& value) override;

    const std::filesystem::path& file() const { return file_; }

private:
    void load();
    bool save() const;

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    PreferenceMap values_;
    bool writable_ = true;
};

} // namespace chordwell::platform::lnx
