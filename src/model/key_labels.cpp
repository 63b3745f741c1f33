#include "model/key_labels.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace chordwell {

namespace {

struct LabelEntry {
    int keyCode;
    std::string_view label;
};

// Labels as UTF-8; escapes spell out the exact scalars, including the
// text-presentation selector U+FE0E that keeps some symbols from turning into
// emoji. Code 54, the right Command key, has no label of its own.
constexpr LabelEntry kLabelEntries[] = {
    {0, "A"},
    {1, "S"},
    {2, "D"},
    {3, "F"},
    {4, "H"},
    {5, "G"},
    {6, "Z"},
    {7, "X"},
    {8, "C"},
    {9, "V"},
    {10, "\u00A7"},
    {11, "B"},
    {12, "Q"},
    {13, "W"},
    {14, "E"},
    {15, "R"},
    {16, "Y"},
    {17, "T"},
    {18, "1"},
    {19, "2"},
    {20, "3"},
    {21, "4"},
    {22, "6"},
    {23, "5"},
    {24, "="},
    {25, "9"},
    {26, "7"},
    {27, "-"},
    {28, "8"},
    {29, "0"},
    {30, "]"},
    {31, "O"},
    {32, "U"},
    {33, "["},
    {34, "I"},
    {35, "P"},
    {36, "\u23CE"},
    {37, "L"},
    {38, "J"},
    {39, "'"},
    {40, "K"},
    {41, ";"},
    {42, "\\"},
    {43, ","},
    {44, "/"},
    {45, "N"},
    {46, "M"},
    {47, "."},
    {48, "\u21E5"},
    {49, "\u2423"},
    {50, "`"},
    {51, "\u232B"},
    {52, "\u25B6\uFE0E"},
    {53, "Esc"},
    {55, "\u2318"},
    {56, "\u21E7"},
    {57, "\u21EA"},
    {58, "\u2325"},
    {59, "\u2303"},
    {60, "\u21E7"},
    {61, "\u2325"},
    {62, "\u2303"},
    {63, "fn"},
    {64, "F17"},
    {65, "."},
    {66, "\u23ED\uFE0E"},
    {67, "\u00D7"},
    {69, "+"},
    {71, "\u2327"},
    {72, "\u21E1"},
    {73, "\u21E3"},
    {74, "\U0001F507"},
    {75, "\u00F7"},
    {76, "\u23CE"},
    {77, "\u23EE\uFE0E"},
    {78, "\u2212"},
    {79, "F18"},
    {80, "F19"},
    {81, "="},
    {82, "0"},
    {83, "1"},
    {84, "2"},
    {85, "3"},
    {86, "4"},
    {87, "5"},
    {88, "6"},
    {89, "7"},
    {90, "F20"},
    {91, "8"},
    {92, "9"},
    {93, "\u00A5"},
    {94, "_"},
    {95, ","},
    {96, "F5"},
    {97, "F6"},
    {98, "F7"},
    {99, "F3"},
    {100, "F8"},
    {101, "F9"},
    {102, "\u82F1"},
    {103, "F11"},
    {104, "\u304B\u306A"},
    {105, "F13"},
    {106, "F16"},
    {107, "F14"},
    {109, "F10"},
    {110, "\u2630"},
    {111, "F12"},
    {112, "\u21D5"},
    {113, "F15"},
    {114, "Ins"},
    {115, "\u2196"},
    {116, "\u21DE"},
    {117, "\u2326"},
    {118, "F4"},
    {119, "\u2198"},
    {120, "F2"},
    {121, "\u21DF"},
    {122, "F1"},
    {123, "\u2190"},
    {124, "\u2192"},
    {125, "\u2193"},
    {126, "\u2191"},
    {127, "\u23FB"},
    {129, "\U0001F50D"},
    {130, "\uF8FF\u2318"},
    {131, "\U0001F680"},
    {144, "\u2600\uFE0E"},
    {145, "\u2600\uFE0E"},
    {146, "\u23CF\uFE0E"},
    {160, "\U0001F5A5"},
    {161, "\u2318\U0001F5A5"},
    {179, "\U0001F310"},
};

constexpr int kLabelTableSize = 256;

// Direct-indexed table built at compile time from the entries above.
constexpr std::array<std::string_view, kLabelTableSize> kLabels = [] {
    std::array<std::string_view, kLabelTableSize> table{};
    for (const LabelEntry& entry : kLabelEntries) {
        table[static_cast<std::size_t>(entry.keyCode)] = entry.label;
    }
    return table;
}();

std::string_view labelFor(std::int64_t keyCode) {
    if (keyCode < 0 || keyCode >= kLabelTableSize) {
        return {};
    }
    return kLabels[static_cast<std::size_t>(keyCode)];
}

// The words of the keys that have no character. A code missing here keeps
// its symbol label: letters, digits and function keys read the same
// everywhere. Unlike the symbols, the words name the right Command / Super
// key: a recorded right-hand key matches only itself, so it must read as such.
constexpr LabelEntry kPcWordEntries[] = {
    {36, "Enter"},
    {48, "Tab"},
    {49, "Space"},
    {51, "Backspace"},
    {53, "Esc"},
    {54, "Right Super"},
    {55, "Super"},
    {56, "Shift"},
    {57, "Caps Lock"},
    {58, "Alt"},
    {59, "Ctrl"},
    {60, "Right Shift"},
    {61, "Right Alt"},
    {62, "Right Ctrl"},
    {63, "Fn"},
    {65, "Num ."},
    {67, "Num *"},
    {69, "Num +"},
    {71, "Num Lock"},
    {72, "Volume Up"},
    {73, "Volume Down"},
    {74, "Mute"},
    {75, "Num /"},
    {76, "Num Enter"},
    {78, "Num -"},
    {81, "Num ="},
    {82, "Num 0"},
    {83, "Num 1"},
    {84, "Num 2"},
    {85, "Num 3"},
    {86, "Num 4"},
    {87, "Num 5"},
    {88, "Num 6"},
    {89, "Num 7"},
    {91, "Num 8"},
    {92, "Num 9"},
    {95, "Num ,"},
    {110, "Menu"},
    {114, "Insert"},
    {115, "Home"},
    {116, "Page Up"},
    {117, "Delete"},
    {119, "End"},
    {121, "Page Down"},
    {123, "Left"},
    {124, "Right"},
    {125, "Down"},
    {126, "Up"},
    {127, "Power"},
    {129, "Search"},
    {130, "Apple"},
    {131, "Launchpad"},
    {144, "Brightness Up"},
    {145, "Brightness Down"},
    {146, "Eject"},
    {160, "Mission Control"},
    {161, "Desktop"},
    {179, "Fn"},
};

constexpr LabelEntry kMacWordEntries[] = {
    {36, "Return"},
    {48, "Tab"},
    {49, "Space"},
    {51, "Delete"},
    {53, "Escape"},
    {54, "Right Command"},
    {55, "Command"},
    {56, "Shift"},
    {57, "Caps Lock"},
    {58, "Option"},
    {59, "Control"},
    {60, "Right Shift"},
    {61, "Right Option"},
    {62, "Right Control"},
    {63, "Fn"},
    {65, "Keypad ."},
    {67, "Keypad *"},
    {69, "Keypad +"},
    {71, "Clear"},
    {72, "Volume Up"},
    {73, "Volume Down"},
    {74, "Mute"},
    {75, "Keypad /"},
    {76, "Enter"},
    {78, "Keypad -"},
    {81, "Keypad ="},
    {82, "Keypad 0"},
    {83, "Keypad 1"},
    {84, "Keypad 2"},
    {85, "Keypad 3"},
    {86, "Keypad 4"},
    {87, "Keypad 5"},
    {88, "Keypad 6"},
    {89, "Keypad 7"},
    {91, "Keypad 8"},
    {92, "Keypad 9"},
    {95, "Keypad ,"},
    {110, "Menu"},
    {114, "Help"},
    {115, "Home"},
    {116, "Page Up"},
    {117, "Forward Delete"},
    {119, "End"},
    {121, "Page Down"},
    {123, "Left Arrow"},
    {124, "Right Arrow"},
    {125, "Down Arrow"},
    {126, "Up Arrow"},
    {127, "Power"},
    {129, "Spotlight"},
    {130, "Apple"},
    {131, "Launchpad"},
    {144, "Brightness Up"},
    {145, "Brightness Down"},
    {146, "Eject"},
    {160, "Mission Control"},
    {161, "Desktop"},
    {179, "Globe"},
};

template <std::size_t N>
constexpr std::array<std::string_view, kLabelTableSize> tableOf(const LabelEntry (&entries)[N]) {
    std::array<std::string_view, kLabelTableSize> table{};
    for (const LabelEntry& entry : entries) {
        table[static_cast<std::size_t>(entry.keyCode)] = entry.label;
    }
    return table;
}

constexpr std::array<std::string_view, kLabelTableSize> kPcWords = tableOf(kPcWordEntries);
constexpr std::array<std::string_view, kLabelTableSize> kMacWords = tableOf(kMacWordEntries);

std::string_view labelFor(std::int64_t keyCode, KeyNames names) {
    if (keyCode >= 0 && keyCode < kLabelTableSize && names != KeyNames::macSymbols) {
        const auto& words = names == KeyNames::pcWords ? kPcWords : kMacWords;
        if (std::string_view word = words[static_cast<std::size_t>(keyCode)]; !word.empty()) {
            return word;
        }
    }
    return labelFor(keyCode);
}

struct ModifierName {
    EventFlags mask;
    std::string_view macWord;
    std::string_view pcWord;
};

// In the order they are written: Control, Option, Shift, Command.
constexpr ModifierName kModifierNames[] = {
    {kMaskControl, "Control", "Ctrl"},
    {kMaskAlternate, "Option", "Alt"},
    {kMaskShift, "Shift", "Shift"},
    {kMaskCommand, "Command", "Super"},
};

// Where a modifier key stands in a chord written in words: Control first,
// then Option, Shift, Command, Fn, Caps Lock; every other key after them.
int chordRank(std::int64_t keyCode) {
    switch (keyCode) {
    case 59:
    case 62:
        return 0;
    case 58:
    case 61:
        return 1;
    case 56:
    case 60:
        return 2;
    case 55:
    case 54:
        return 3;
    case 63:
    case 179:
        return 4;
    case 57:
        return 5;
    default:
        return 6;
    }
}

// ⌃ ⌥ ⇧ ⌘, in that order, for the modifiers set in `flags`.
std::string modifierGlyphs(EventFlags flags) {
    std::string text;
    if (flags & kMaskControl) {
        text += "\u2303";
    }
    if (flags & kMaskAlternate) {
        text += "\u2325";
    }
    if (flags & kMaskShift) {
        text += "\u21E7";
    }
    if (flags & kMaskCommand) {
        text += "\u2318";
    }
    return text;
}

std::string hexLabel(std::int64_t keyCode) {
    // Like C's "0x%02lX" of the code as unsigned long: -1 shows as
    // 0xFFFFFFFFFFFFFFFF.
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%02llX",
                  static_cast<unsigned long long>(static_cast<std::uint64_t>(keyCode)));
    return buffer;
}

} // namespace

std::string keyLabel(std::int64_t keyCode, KeyNames names, const KeyLayout* layout) {
    if (layout != nullptr) {
        if (std::string keycap = layout->keyCapLabel(keyCode); !keycap.empty()) {
            return keycap;
        }
    }
    if (std::string_view label = labelFor(keyCode, names); !label.empty()) {
        return std::string(label);
    }
    return hexLabel(keyCode);
}

std::string signatureText(const MacKeySignature& signature, KeyNames names,
                          const KeyLayout* layout) {
    std::string text;
    if (names == KeyNames::macSymbols) {
        text = modifierGlyphs(signature.modifiers);
    } else {
        for (const ModifierName& m : kModifierNames) {
            if ((signature.modifiers & m.mask) != 0) {
                text += names == KeyNames::pcWords ? m.pcWord : m.macWord;
                text += '+';
            }
        }
    }
    text += keyLabel(signature.keyCode, names, layout);
    return text;
}

std::string signatureText(const std::vector<MacKeySignature>& signatures, KeyNames names,
                          const KeyLayout* layout) {
    const std::string_view separator = names == KeyNames::macSymbols ? " " : ", ";
    std::string text;
    for (std::size_t i = 0; i < signatures.size(); ++i) {
        if (i > 0) {
            text += separator;
        }
        text += signatureText(signatures[i], names, layout);
    }
    return text;
}

std::string combinationText(const std::vector<MacKeySignature>& keys, KeyNames names,
                            const KeyLayout* layout) {
    if (names == KeyNames::macSymbols) {
        return signatureText(keys, names, layout);
    }
    std::vector<MacKeySignature> ordered = keys;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const MacKeySignature& a, const MacKeySignature& b) {
                         return chordRank(a.keyCode) < chordRank(b.keyCode);
                     });
    std::string text;
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        if (i > 0) {
            text += '+';
        }
        text += signatureText(ordered[i], names, layout);
    }
    return text;
}

std::string keyLabel(std::int64_t keyCode) {
    if (std::string_view label = labelFor(keyCode); !label.empty()) {
        return std::string(label);
    }
    return hexLabel(keyCode);
}

std::string keyLabel(std::int64_t keyCode, const KeyLayout& layout) {
    if (std::string keycap = layout.keyCapLabel(keyCode); !keycap.empty()) {
        return keycap;
    }
    return keyLabel(keyCode);
}

std::string signatureText(const MacKeySignature& signature) {
    return modifierGlyphs(signature.modifiers) + keyLabel(signature.keyCode);
}

std::string signatureText(const std::vector<MacKeySignature>& signatures) {
    std::string text;
    for (std::size_t i = 0; i < signatures.size(); ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += signatureText(signatures[i]);
    }
    return text;
}

} // namespace chordwell
