#include "model/key_labels.hpp"

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

} // namespace

std::string keyLabel(std::int64_t keyCode) {
    if (std::string_view label = labelFor(keyCode); !label.empty()) {
        return std::string(label);
    }
    // Like C's "0x%02lX" of the code as unsigned long: -1 shows as
    // 0xFFFFFFFFFFFFFFFF.
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%02llX",
                  static_cast<unsigned long long>(static_cast<std::uint64_t>(keyCode)));
    return buffer;
}

std::string keyLabel(std::int64_t keyCode, const KeyLayout& layout) {
    if (std::string keycap = layout.keyCapLabel(keyCode); !keycap.empty()) {
        return keycap;
    }
    return keyLabel(keyCode);
}

std::string signatureText(const MacKeySignature& signature) {
    std::string text;
    if (signature.modifiers & kMaskControl) {
        text += "\u2303";
    }
    if (signature.modifiers & kMaskAlternate) {
        text += "\u2325";
    }
    if (signature.modifiers & kMaskShift) {
        text += "\u21E7";
    }
    if (signature.modifiers & kMaskCommand) {
        text += "\u2318";
    }
    text += keyLabel(signature.keyCode);
    return text;
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
