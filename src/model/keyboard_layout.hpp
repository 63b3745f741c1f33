// Keyboard layouts: which character each key types, and what a shortcut
// means on the layout the user has.
//
// Key codes name positions: code 8 is the key where a US keyboard has C. A
// recorded sequence means those positions, and stays them. A built-in output
// or a catalog shortcut means a character (Copy is "Command with c"), so it
// is resolved through the user's layout: the US character of its key, then
// the key that types that character here. A character no group of the layout
// types (c on a Russian layout) keeps its US position, as desktop toolkits
// fall back for shortcuts.
#pragma once

#include "model/keys.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chordwell {

/// Whether the key of this virtual key code types a character (letters,
/// digits, punctuation, space, the ISO and JIS extra keys). Every other key
/// (Return, arrows, keypad, function and modifier keys) is the same key on
/// every layout.
bool isCharacterKeyCode(std::int64_t keyCode);

/// One layout as a table: for each group (a layout may hold several, as XKB's
/// "us,ru" does) and each character key, the character it types in four
/// modifier states. The Command states exist because some layouts type
/// other characters with Command held (a Dvorak that turns QWERTY under
/// Command); where Command changes nothing they equal the plain ones.
class KeyLayout {
public:
    static constexpr std::size_t kKeyCodeCount = 128;
    static constexpr std::size_t kMaxGroups = 4;

    enum class Level : std::uint8_t { plain = 0, shift = 1, command = 2, commandShift = 3 };
    static constexpr std::size_t kLevelCount = 4;

    /// Marks a dead key's character (the accent it starts): shown as the
    /// key's label, never chosen to type that character.
    static constexpr char32_t kDeadKey = 0x80000000u;

    /// A layout that types nothing, named `name`.
    explicit KeyLayout(std::string name = {});

    /// The layout's name as the system calls it ("fr", "us(dvorak)",
    /// "com.apple.keylayout.French").
    const std::string& name() const { return name_; }
    std::size_t groupCount() const { return groups_.size(); }

    /// Adds a group (the first one added is the active one); nothing beyond
    /// kMaxGroups. Returns its index, or nothing.
    std::optional<std::size_t> addGroup();
    /// What `keyCode` types in `group` at `level` (0: nothing). Codes that are
    /// not character keys are ignored.
    void setCharacter(std::size_t group, std::int64_t keyCode, Level level, char32_t character);
    /// The same character plain and with Command, the Shift ones likewise.
    void setKey(std::size_t group, std::int64_t keyCode, char32_t plain, char32_t shifted);

    /// What the key types (0: nothing or no such group); dead keys carry
    /// kDeadKey.
    char32_t character(std::size_t group, std::int64_t keyCode, Level level) const;
    /// The character an application reads from the key with these flags in
    /// the active group: Shift and Command choose the level, the other
    /// modifiers change nothing. 0 for dead keys and keys typing nothing.
    char32_t typedCharacter(std::int64_t keyCode, EventFlags flags) const;

    /// The key that types `character`: searched in the active group first,
    /// then the others in order; in a group the key without Shift first.
    /// With `command` the Command states are read. The result's modifiers
    /// are Shift when that key needs it, else none. Nothing when no group
    /// types it (dead keys do not count).
    std::optional<MacKeySignature> keyTyping(char32_t character, bool command) const;

    /// What the keycap of `keyCode` says, as UTF-8 ("A" for the key at code
    /// 12 on AZERTY): the upper-case plain character of the first group that
    /// types Latin letters. "" when the key is no character key, or no group
    /// is Latin (then the US labels stand).
    std::string keyCapLabel(std::int64_t keyCode) const;

    friend bool operator==(const KeyLayout&, const KeyLayout&) = default;

private:
    using Keys = std::array<std::array<char32_t, kLevelCount>, kKeyCodeCount>;
    std::string name_;
    std::vector<Keys> groups_;
};

/// The US ANSI layout: what key codes mean, and the layout of a system that
/// cannot tell its own.
const KeyLayout& usLayout();

/// The character the US layout types on this key without modifiers, which is
/// what a shortcut on it means; nothing for keys that type none.
std::optional<char32_t> usCharacter(std::int64_t keyCode);

/// A key of a shortcut, stored as a US position, resolved to the key that
/// means the same on `layout`: the key typing its US character there, with
/// Command held when the shortcut holds it, and with Shift added when that
/// key needs it. Keys without a character, and characters the layout does
/// not type, stay as they are.
MacKeySignature resolvedForLayout(const KeyLayout& layout, const MacKeySignature& key);
std::vector<MacKeySignature> resolvedForLayout(const KeyLayout& layout,
                                               const std::vector<MacKeySignature>& keys);

/// `c` in upper case where Latin-1, Latin Extended-A, Greek and Cyrillic
/// have one; anything else unchanged.
char32_t upperCaseCharacter(char32_t c);
/// `c` as UTF-8 (nothing for surrogates and values beyond U+10FFFF).
std::string utf8Character(char32_t c);

} // namespace chordwell
