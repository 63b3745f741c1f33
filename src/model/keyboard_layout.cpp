#include "model/keyboard_layout.hpp"

#include <utility>

namespace chordwell {

namespace {

// The US ANSI layout, plain and shifted, one row of keys at a time: the key
// codes of a row and what its keys type, as ASCII text.
struct UsRow {
    std::array<std::int8_t, 13> codes;
    std::string_view plain;
    std::string_view shifted;
};

constexpr UsRow kUsRows[] = {
    {{50, 18, 19, 20, 21, 23, 22, 26, 28, 25, 29, 27, 24}, "`1234567890-=", "~!@#$%^&*()_+"},
    {{12, 13, 14, 15, 17, 16, 32, 34, 31, 35, 33, 30, 42}, "qwertyuiop[]\\", "QWERTYUIOP{}|"},
    {{0, 1, 2, 3, 5, 4, 38, 40, 37, 41, 39, -1, -1}, "asdfghjkl;'", "ASDFGHJKL:\""},
    {{6, 7, 8, 9, 11, 45, 46, 43, 47, 44, -1, -1, -1}, "zxcvbnm,./", "ZXCVBNM<>?"},
};

constexpr std::int64_t kSpaceKeyCode = 49;

KeyLayout makeUsLayout() {
    KeyLayout layout("us");
    const std::size_t group = *layout.addGroup();
    for (const UsRow& row : kUsRows) {
        for (std::size_t i = 0; i < row.plain.size(); ++i) {
            layout.setKey(group, row.codes[i], static_cast<unsigned char>(row.plain[i]),
                          static_cast<unsigned char>(row.shifted[i]));
        }
    }
    layout.setKey(group, kSpaceKeyCode, U' ', U' ');
    return layout;
}

constexpr bool isLatinLetter(char32_t c) {
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
}

} // namespace

bool isCharacterKeyCode(std::int64_t keyCode) {
    // 0-50 is the main block but Return (36) and Tab (48); 10 is the ISO
    // key, 93 and 94 the JIS yen and underscore keys.
    if (keyCode >= 0 && keyCode <= 50) {
        return keyCode != 36 && keyCode != 48;
    }
    return keyCode == 93 || keyCode == 94;
}

KeyLayout::KeyLayout(std::string name) : name_(std::move(name)) {}

std::optional<std::size_t> KeyLayout::addGroup() {
    if (groups_.size() >= kMaxGroups) {
        return std::nullopt;
    }
    groups_.emplace_back();
    return groups_.size() - 1;
}

void KeyLayout::setCharacter(std::size_t group, std::int64_t keyCode, Level level,
                             char32_t character) {
    if (group >= groups_.size() || !isCharacterKeyCode(keyCode)) {
        return;
    }
    groups_[group][static_cast<std::size_t>(keyCode)][static_cast<std::size_t>(level)] = character;
}

void KeyLayout::setKey(std::size_t group, std::int64_t keyCode, char32_t plain, char32_t shifted) {
    setCharacter(group, keyCode, Level::plain, plain);
    setCharacter(group, keyCode, Level::command, plain);
    setCharacter(group, keyCode, Level::shift, shifted);
    setCharacter(group, keyCode, Level::commandShift, shifted);
}

char32_t KeyLayout::character(std::size_t group, std::int64_t keyCode, Level level) const {
    if (group >= groups_.size() || keyCode < 0 ||
        keyCode >= static_cast<std::int64_t>(kKeyCodeCount)) {
        return 0;
    }
    return groups_[group][static_cast<std::size_t>(keyCode)][static_cast<std::size_t>(level)];
}

char32_t KeyLayout::typedCharacter(std::int64_t keyCode, EventFlags flags) const {
    const bool shift = (flags & kMaskShift) != 0;
    const bool command = (flags & kMaskCommand) != 0;
    const Level level = command ? (shift ? Level::commandShift : Level::command)
                                : (shift ? Level::shift : Level::plain);
    const char32_t c = character(0, keyCode, level);
    return (c & kDeadKey) != 0 ? 0 : c;
}

std::optional<MacKeySignature> KeyLayout::keyTyping(char32_t character, bool command) const {
    if (character == 0 || (character & kDeadKey) != 0) {
        return std::nullopt;
    }
    const std::pair<Level, EventFlags> levels[] = {
        {command ? Level::command : Level::plain, 0},
        {command ? Level::commandShift : Level::shift, kMaskShift},
    };
    for (const Keys& keys : groups_) {
        for (const auto& [level, modifiers] : levels) {
            for (std::size_t code = 0; code < kKeyCodeCount; ++code) {
                if (keys[code][static_cast<std::size_t>(level)] == character) {
                    return MacKeySignature{static_cast<std::int64_t>(code), modifiers};
                }
            }
        }
    }
    return std::nullopt;
}

std::string KeyLayout::keyCapLabel(std::int64_t keyCode) const {
    if (!isCharacterKeyCode(keyCode) || keyCode == kSpaceKeyCode) {
        return {};
    }
    for (const Keys& keys : groups_) {
        bool latin = false;
        for (const auto& key : keys) {
            if (isLatinLetter(key[static_cast<std::size_t>(Level::plain)])) {
                latin = true;
                break;
            }
        }
        if (!latin) {
            continue;
        }
        const char32_t c =
            keys[static_cast<std::size_t>(keyCode)][static_cast<std::size_t>(Level::plain)] &
            ~kDeadKey;
        // Controls and blanks are no keycap text; the US label stands then.
        if (c <= U' ' || (c >= 0x7F && c <= 0xA0)) {
            return {};
        }
        return utf8Character(upperCaseCharacter(c));
    }
    return {};
}

const KeyLayout& usLayout() {
    static const KeyLayout layout = makeUsLayout();
    return layout;
}

std::optional<char32_t> usCharacter(std::int64_t keyCode) {
    const char32_t c = usLayout().character(0, keyCode, KeyLayout::Level::plain);
    if (c == 0) {
        return std::nullopt;
    }
    return c;
}

MacKeySignature resolvedForLayout(const KeyLayout& layout, const MacKeySignature& key) {
    const auto character = usCharacter(key.keyCode);
    if (!character) {
        return key;
    }
    const auto typing = layout.keyTyping(*character, (key.modifiers & kMaskCommand) != 0);
    if (!typing) {
        return key;
    }
    return MacKeySignature{typing->keyCode, key.modifiers | typing->modifiers};
}

std::vector<MacKeySignature> resolvedForLayout(const KeyLayout& layout,
                                               const std::vector<MacKeySignature>& keys) {
    std::vector<MacKeySignature> resolved;
    resolved.reserve(keys.size());
    for (const MacKeySignature& key : keys) {
        resolved.push_back(resolvedForLayout(layout, key));
    }
    return resolved;
}

char32_t upperCaseCharacter(char32_t c) {
    if (c >= U'a' && c <= U'z') {
        return c - 0x20;
    }
    // Latin-1: à-þ but the division sign; ÿ's capital lives elsewhere.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return c - 0x20;
    }
    if (c == 0xFF) {
        return 0x178;
    }
    // Latin Extended-A pairs capital and small letters, capital first, in
    // two runs whose parity differs.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
        return (c % 2 == 1) ? c - 1 : c;
    }
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
        return (c % 2 == 0) ? c - 1 : c;
    }
    // Greek α-ω (final sigma has the capital of sigma).
    if (c >= 0x3B1 && c <= 0x3C9) {
        return c == 0x3C2 ? 0x3A3 : c - 0x20;
    }
    // Cyrillic а-я, then ѐ-џ.
    if (c >= 0x430 && c <= 0x44F) {
        return c - 0x20;
    }
    if (c >= 0x450 && c <= 0x45F) {
        return c - 0x50;
    }
    return c;
}

std::string utf8Character(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            return {};
        }
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c <= 0x10FFFF) {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    return out;
}

} // namespace chordwell
