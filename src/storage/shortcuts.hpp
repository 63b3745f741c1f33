// The catalog of predefined shortcuts shipped with the application
// ("shortcuts.json"): groups of named key sequences that the mapping editor
// offers as outputs.
#pragma once

#include "model/json_codec.hpp"
#include "model/records.hpp"
#include "ports/ports.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chordwell {

/// One key stroke of a shortcut: a virtual key code and a modifier flag word.
struct KeyCodeEntry {
    std::int64_t keyCode = 0;
    std::int64_t modifiers = 0;

    friend bool operator==(const KeyCodeEntry&, const KeyCodeEntry&) = default;
};

/// A named shortcut; its name is its identity.
struct ShortcutItem {
    std::string name;
    std::vector<KeyCodeEntry> codes;

    friend bool operator==(const ShortcutItem&, const ShortcutItem&) = default;

    /// The key strokes as signatures, modifiers cut to the signature mask.
    std::vector<MacKeySignature> signatures() const;
    /// The name capitalised word by word ("copy to clipboard" → "Copy To
    /// Clipboard").
    std::string displayName() const;
    /// The custom key sequence the editor binds when the item is chosen.
    OutputBehavior outputBehavior() const;
};

/// A titled group of shortcuts; its title is its identity.
struct ShortcutGroup {
    std::string groupName;
    std::vector<ShortcutItem> items;

    friend bool operator==(const ShortcutGroup&, const ShortcutGroup&) = default;
};

/// First letter of every word upper-case, every other letter lower-case;
/// words are separated by spaces, tabs and line breaks. Only ASCII letters
/// change case.
std::string capitalizedWords(std::string_view text);

/// Decodes the catalog text: a JSON array of groups. Keys other than the
/// known ones are ignored. Fails as a whole on the first bad entry, naming
/// its place, e.g. `[1].items[0].codes[2].modifiers: must not be negative`.
/// Key codes must lie in 0...65535 (what can be posted) and modifier words
/// must not be negative. Repeated keys do not fail (the last one counts);
/// their paths go to `duplicateKeys` when given.
DecodeResult<std::vector<ShortcutGroup>>
decodeShortcutCatalog(std::string_view text, std::vector<std::string>* duplicateKeys = nullptr);

/// The shipped catalog: "shortcuts.json" in the resource folder of `paths`
/// (the application bundle's resources, or the installed "share/chordwell").
/// Nothing when it does not exist.
std::optional<std::filesystem::path> defaultShortcutsPath(const platform::Paths& paths);

class ShortcutsLoader {
public:
    /// Reads the catalog at `resourcePath` (nothing: the catalog is missing).
    explicit ShortcutsLoader(std::optional<std::filesystem::path> resourcePath);

    /// The groups in file order; the empty list, with an error line in the
    /// "shortcuts" log, when the file is missing or cannot be decoded.
    std::vector<ShortcutGroup> load() const;

    const std::optional<std::filesystem::path>& resourcePath() const { return resourcePath_; }

private:
    std::optional<std::filesystem::path> resourcePath_;
};

} // namespace chordwell
