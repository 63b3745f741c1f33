#include "model/key_labels.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace chordwell {
namespace {

// Encodes Unicode scalars as UTF-8, so that expectations below are written as
// the scalars themselves, independently of how the labels are spelled in code.
std::string utf8(std::initializer_list<char32_t> scalars) {
    std::string out;
    for (char32_t c : scalars) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct LabelCase {
    std::int64_t keyCode;
    std::string label;
};

TEST(KeyLabel, TextLabels) {
    const LabelCase cases[] = {
        {0, "A"},     {1, "S"},     {6, "Z"},     {8, "C"},     {11, "B"},    {18, "1"},
        {22, "6"},    {23, "5"},    {24, "="},    {27, "-"},    {29, "0"},    {30, "]"},
        {33, "["},    {39, "'"},    {41, ";"},    {42, "\\"},   {43, ","},    {44, "/"},
        {47, "."},    {50, "`"},    {53, "Esc"},  {63, "fn"},   {64, "F17"},  {65, "."},
        {69, "+"},    {79, "F18"},  {81, "="},    {82, "0"},    {89, "7"},    {90, "F20"},
        {91, "8"},    {92, "9"},    {94, "_"},    {95, ","},    {96, "F5"},   {99, "F3"},
        {103, "F11"}, {105, "F13"}, {106, "F16"}, {107, "F14"}, {109, "F10"}, {111, "F12"},
        {113, "F15"}, {114, "Ins"}, {118, "F4"},  {120, "F2"},  {122, "F1"},
    };
    for (const LabelCase& c : cases) {
        EXPECT_EQ(keyLabel(c.keyCode), c.label) << "code " << c.keyCode;
    }
}

TEST(KeyLabel, SymbolLabelsAreTheExactScalars) {
    const LabelCase cases[] = {
        {10, utf8({0x00A7})},           {36, utf8({0x23CE})},
        {76, utf8({0x23CE})},           {48, utf8({0x21E5})},
        {49, utf8({0x2423})},           {51, utf8({0x232B})},
        {52, utf8({0x25B6, 0xFE0E})},   {55, utf8({0x2318})},
        {56, utf8({0x21E7})},           {60, utf8({0x21E7})},
        {57, utf8({0x21EA})},           {58, utf8({0x2325})},
        {61, utf8({0x2325})},           {59, utf8({0x2303})},
        {62, utf8({0x2303})},           {66, utf8({0x23ED, 0xFE0E})},
        {67, utf8({0x00D7})},           {71, utf8({0x2327})},
        {72, utf8({0x21E1})},           {73, utf8({0x21E3})},
        {74, utf8({0x1F507})},          {75, utf8({0x00F7})},
        {77, utf8({0x23EE, 0xFE0E})},   {78, utf8({0x2212})},
        {93, utf8({0x00A5})},           {102, utf8({0x82F1})},
        {104, utf8({0x304B, 0x306A})},  {110, utf8({0x2630})},
        {112, utf8({0x21D5})},          {115, utf8({0x2196})},
        {116, utf8({0x21DE})},          {117, utf8({0x2326})},
        {119, utf8({0x2198})},          {121, utf8({0x21DF})},
        {123, utf8({0x2190})},          {124, utf8({0x2192})},
        {125, utf8({0x2193})},          {126, utf8({0x2191})},
        {127, utf8({0x23FB})},          {129, utf8({0x1F50D})},
        {130, utf8({0xF8FF, 0x2318})},  {131, utf8({0x1F680})},
        {144, utf8({0x2600, 0xFE0E})},  {145, utf8({0x2600, 0xFE0E})},
        {146, utf8({0x23CF, 0xFE0E})},  {160, utf8({0x1F5A5})},
        {161, utf8({0x2318, 0x1F5A5})}, {179, utf8({0x1F310})},
    };
    for (const LabelCase& c : cases) {
        EXPECT_EQ(keyLabel(c.keyCode), c.label) << "code " << c.keyCode;
    }
    // The keypad minus is a minus sign, not the hyphen of code 27.
    EXPECT_NE(keyLabel(78), keyLabel(27));
}

TEST(KeyLabel, CodesWithoutLabelShowAsHexadecimal) {
    const LabelCase cases[] = {
        {54, "0x36"}, // right Command has no label of its own
        {68, "0x44"},
        {70, "0x46"},
        {108, "0x6C"},
        {128, "0x80"},
        {200, "0xC8"},
        {255, "0xFF"},
        {256, "0x100"},
        {65535, "0xFFFF"},
        {-1, "0xFFFFFFFFFFFFFFFF"},
        {-256, "0xFFFFFFFFFFFFFF00"},
        {INT64_MIN, "0x8000000000000000"},
        {INT64_MAX, "0x7FFFFFFFFFFFFFFF"},
    };
    for (const LabelCase& c : cases) {
        EXPECT_EQ(keyLabel(c.keyCode), c.label) << "code " << c.keyCode;
    }
}

struct SignatureTextCase {
    std::vector<MacKeySignature> signatures;
    std::string text;
};

TEST(SignatureText, GlyphsInControlOptionShiftCommandOrderJoinedBySpaces) {
    const std::string control = utf8({0x2303});
    const std::string option = utf8({0x2325});
    const std::string shift = utf8({0x21E7});
    const std::string command = utf8({0x2318});
    const SignatureTextCase cases[] = {
        {{}, ""},
        {{{8, 0x100000 | 0x20000}, {9, 0}}, utf8({0x21E7, 0x2318, 'C', ' ', 'V'})},
        {{{0, 0x1E0000}}, control + option + shift + command + "A"},
        {{{0, 0x100000 | 0x40000}}, control + command + "A"},
        {{{0, 0x80000 | 0x20000}}, option + shift + "A"},
        // Bits outside the four modifiers show nothing.
        {{{0, 0x10000 | 0x800000 | 0x1}}, "A"},
        {{{54, 0x100000}, {-1, 0}}, command + "0x36 0xFFFFFFFFFFFFFFFF"},
        {{{55, 0}, {8, 0}}, command + " C"},
    };
    for (const SignatureTextCase& c : cases) {
        EXPECT_EQ(signatureText(c.signatures), c.text);
    }
    EXPECT_EQ(signatureText(MacKeySignature{8, 0x100000}), command + "C");
}

TEST(KeyNamesInWords, ReadTheWayEachPlatformNamesItsKeys) {
    struct Case {
        std::vector<MacKeySignature> keys;
        std::string pc;
        std::string mac;
    };
    const Case cases[] = {
        // A recorded combination: modifier keys first, in the fixed order,
        // whatever order they were pressed in.
        {{{0, 0}, {59, 0}}, "Ctrl+A", "Control+A"},
        {{{56, 0}, {55, 0}, {62, 0}, {40, 0}},
         "Right Ctrl+Shift+Super+K",
         "Right Control+Shift+Command+K"},
        {{{58, 0}, {48, 0}}, "Alt+Tab", "Option+Tab"},
        {{{36, 0}, {51, 0}, {117, 0}}, "Enter+Backspace+Delete", "Return+Delete+Forward Delete"},
        {{{0x44, 0x100000}}, "Super+0x44", "Command+0x44"},
        {{{54, 0}, {8, 0}}, "Right Super+C", "Right Command+C"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(combinationText(c.keys, KeyNames::pcWords), c.pc);
        EXPECT_EQ(combinationText(c.keys, KeyNames::macWords), c.mac);
        EXPECT_EQ(combinationText(c.keys, KeyNames::macSymbols), signatureText(c.keys));
    }
    // Strokes one after another, each with its modifiers.
    const std::vector<MacKeySignature> sequence = {{8, 0x40000}, {9, 0x40000 | 0x20000}};
    EXPECT_EQ(signatureText(sequence, KeyNames::pcWords), "Ctrl+C, Ctrl+Shift+V");
    EXPECT_EQ(signatureText(sequence, KeyNames::macWords), "Control+C, Control+Shift+V");
    EXPECT_EQ(signatureText(sequence, KeyNames::macSymbols), signatureText(sequence));
}

TEST(KeyNamesInWords, EveryCodeHasALabelInEveryStyleAndWordsHoldNoModifierGlyph) {
    const std::string glyphs[] = {utf8({0x2303}), utf8({0x2325}), utf8({0x21E7}), utf8({0x2318})};
    for (std::int64_t code = -2; code < 300; ++code) {
        const std::string symbols = keyLabel(code);
        EXPECT_EQ(keyLabel(code, KeyNames::macSymbols), symbols);
        for (KeyNames names : {KeyNames::pcWords, KeyNames::macWords}) {
            const std::string word = keyLabel(code, names);
            ASSERT_FALSE(word.empty()) << code;
            // Unlabelled codes stay hexadecimal in every style; only the
            // right Command key, unnamed among the symbols, has words.
            EXPECT_EQ(word.rfind("0x", 0) == 0, symbols.rfind("0x", 0) == 0 && code != 54) << code;
            for (const std::string& glyph : glyphs) {
                EXPECT_EQ(word.find(glyph), std::string::npos) << code << " " << word;
            }
            // Every flag combination writes each named modifier once, before the key.
            for (EventFlags flags = 0; flags < 16; ++flags) {
                const EventFlags mask = ((flags & 1) ? 0x40000 : 0) | ((flags & 2) ? 0x80000 : 0) |
                                        ((flags & 4) ? 0x20000 : 0) | ((flags & 8) ? 0x100000 : 0);
                const std::string text = signatureText(MacKeySignature{code, mask}, names);
                EXPECT_TRUE(text.size() >= word.size() &&
                            text.compare(text.size() - word.size(), word.size(), word) == 0)
                    << text;
                const auto plusCount =
                    static_cast<unsigned>(std::count(text.begin(), text.end(), '+')) -
                    static_cast<unsigned>(std::count(word.begin(), word.end(), '+'));
                EXPECT_EQ(plusCount, static_cast<unsigned>(__builtin_popcount(flags))) << text;
            }
        }
    }
}

} // namespace
} // namespace chordwell
