#include "model/key_labels.hpp"
#include "model/keyboard_layout.hpp"

#include <gtest/gtest.h>

#include <string>

namespace chordwell {
namespace {

using Level = KeyLayout::Level;

// On the US layout every key, with any modifiers, resolves to itself: a
// user who never changed layout sees no output change.
TEST(KeyboardLayout, TheUsLayoutKeepsEveryKey) {
    for (std::int64_t code = -2; code < 300; ++code) {
        for (EventFlags flags :
             {EventFlags{0}, kMaskCommand, kMaskControl, kMaskShift | kMaskCommand,
              kMaskAlternate | kMaskShift, kMaskControl | kMaskAlternate | 0x100u}) {
            const MacKeySignature key{code, flags};
            EXPECT_EQ(resolvedForLayout(usLayout(), key), key) << code << " " << flags;
        }
        EXPECT_EQ(keyLabel(code, usLayout()), keyLabel(code)) << code;
    }
}

// A Russian layout whose second group is Latin, shifted by one key from the
// US places; a dead key; a Command level that differs (as Dvorak-QWERTY ⌘).
KeyLayout twoGroups() {
    KeyLayout layout("ru,xx");
    const std::size_t ru = *layout.addGroup();
    const std::size_t latin = *layout.addGroup();
    layout.setKey(ru, 8, U'с', U'С'); // the US C key types es
    layout.setKey(ru, 18, U'1', U'!');
    layout.setKey(latin, 9, U'c', U'C'); // c one key to the right
    layout.setKey(latin, 8, U'x', U'X');
    layout.setKey(latin, 0, U'a', U'A');
    layout.setKey(latin, 1, U'!', U'1'); // 1 only shifted here
    layout.setKey(latin, 33, KeyLayout::kDeadKey | U'^', KeyLayout::kDeadKey | 0xA8);
    layout.setKey(latin, 34, U'^', U'q');
    layout.setCharacter(ru, 12, Level::plain, U'и');
    layout.setCharacter(ru, 12, Level::command, U'b');
    return layout;
}

TEST(KeyboardLayout, KeysAreFoundInTheActiveGroupFirstThenTheOthers) {
    const KeyLayout layout = twoGroups();
    struct Case {
        MacKeySignature stored;
        MacKeySignature expected;
    };
    const Case cases[] = {
        // c: not in the active group, found in the Latin one.
        {{8, kMaskCommand}, {9, kMaskCommand}},
        // 1: the active group types it plain, before the Latin group's
        // shifted one.
        {{18, kMaskControl}, {18, kMaskControl}},
        // a in the Latin group; Shift held by the shortcut stays.
        {{0, kMaskCommand | kMaskShift}, {0, kMaskCommand | kMaskShift}},
        // b only with Command held, on key 12.
        {{11, kMaskCommand}, {12, kMaskCommand}},
        {{11, kMaskControl}, {11, kMaskControl}}, // not typed: the US key
        // z typed by no group: the US key stays; so do keys without a
        // character (Return) and out of range codes.
        {{6, kMaskCommand}, {6, kMaskCommand}},
        {{36, kMaskCommand}, {36, kMaskCommand}},
        {{-1, kMaskCommand}, {-1, kMaskCommand}},
        {{500, 0}, {500, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(resolvedForLayout(layout, c.stored), c.expected) << c.stored.keyCode;
    }
    // A character typed only with Shift gets Shift added.
    EXPECT_EQ(layout.keyTyping(U'X', false), (MacKeySignature{8, kMaskShift}));
    EXPECT_FALSE(layout.keyTyping(U'b', false));
    // ^ is typed by key 34; the dead key at 33 types it only with the next.
    EXPECT_EQ(layout.keyTyping(U'^', false), (MacKeySignature{34, 0}));
    EXPECT_FALSE(layout.keyTyping(KeyLayout::kDeadKey | U'^', false));
    EXPECT_FALSE(layout.keyTyping(0, false));
}

TEST(KeyboardLayout, KeycapsReadTheFirstLatinGroupInCapitals) {
    const KeyLayout layout = twoGroups();
    EXPECT_EQ(keyLabel(8, layout), "X");           // the Latin group, not the active one
    EXPECT_EQ(keyLabel(33, layout), "^");          // a dead key shows its accent
    EXPECT_EQ(keyLabel(5, layout), "G");           // typing nothing there: the US label
    EXPECT_EQ(keyLabel(36, layout), keyLabel(36)); // not a character key
    EXPECT_EQ(keyLabel(49, layout), keyLabel(49)); // space keeps its symbol

    KeyLayout cyrillic("ru");
    const std::size_t g = *cyrillic.addGroup();
    cyrillic.setKey(g, 0, U'ф', U'Ф');
    EXPECT_EQ(keyLabel(0, cyrillic), "A"); // no Latin group: the US labels
    EXPECT_EQ(cyrillic.typedCharacter(0, kMaskShift | kMaskControl), U'Ф');
}

TEST(KeyboardLayout, CapitalsAndUtf8) {
    const std::pair<char32_t, char32_t> capitals[] = {
        {U'a', U'A'}, {U'é', U'É'}, {U'ß', U'ß'}, {U'ÿ', U'Ÿ'},   {U'ł', U'Ł'}, {U'ž', U'Ž'},
        {U'я', U'Я'}, {U'ё', U'Ё'}, {U'ω', U'Ω'}, {U'ς', U'Σ'},   {U'÷', U'÷'}, {U'1', U'1'},
        {U'ā', U'Ā'}, {U'ŋ', U'Ŋ'}, {U'Ł', U'Ł'}, {U'中', U'中'},
    };
    for (const auto& [small, capital] : capitals) {
        EXPECT_EQ(upperCaseCharacter(small), capital) << static_cast<std::uint32_t>(small);
    }
    EXPECT_EQ(utf8Character(U'A'), "A");
    EXPECT_EQ(utf8Character(U'É'), "\xC3\x89");
    EXPECT_EQ(utf8Character(U'€'), "\xE2\x82\xAC");
    EXPECT_EQ(utf8Character(U'🌐'), "\xF0\x9F\x8C\x90");
    EXPECT_EQ(utf8Character(0xD800), "");
    EXPECT_EQ(utf8Character(0x110000), "");
}

} // namespace
} // namespace chordwell
