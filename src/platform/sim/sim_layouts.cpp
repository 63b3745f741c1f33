#include "platform/sim/sim_layouts.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <utility>

namespace chordwell::platform::sim {

namespace {

// The four rows of character keys, as the key codes of a US keyboard name
// them, left to right (-1: the row has no key there).
constexpr std::array<std::array<std::int8_t, 13>, 4> kRowCodes = {{
    {50, 18, 19, 20, 21, 23, 22, 26, 28, 25, 29, 27, 24},
    {12, 13, 14, 15, 17, 16, 32, 34, 31, 35, 33, 30, 42},
    {0, 1, 2, 3, 5, 4, 38, 40, 37, 41, 39, -1, -1},
    {6, 7, 8, 9, 11, 45, 46, 43, 47, 44, -1, -1, -1},
}};

// One layout: each row's keys without and with Shift. A combining accent
// (U+0300-U+036F) stands for the dead key of that accent.
struct LayoutText {
    std::string_view name;
    std::array<std::u32string_view, 4> plain;
    std::array<std::u32string_view, 4> shifted;
};

constexpr LayoutText kLayouts[] = {
    {"fr",
     {U"²&é\"'(-è_çà)=", U"azertyuiop\u0302$*", U"qsdfghjklmù", U"wxcvbn,;:!"},
     {U"~1234567890°+", U"AZERTYUIOP\u0308£µ", U"QSDFGHJKLM%", U"WXCVBN?./§"}},
    {"de",
     {U"\u03021234567890ß\u0301", U"qwertzuiopü+#", U"asdfghjklöä", U"yxcvbnm,.-"},
     {U"°!\"§$%&/()=?\u0300", U"QWERTZUIOPÜ*'", U"ASDFGHJKLÖÄ", U"YXCVBNM;:_"}},
    {"dvorak",
     {U"`1234567890[]", U"',.pyfgcrl/=\\", U"aoeuidhtns-", U";qjkxbmwvz"},
     {U"~!@#$%^&*(){}", U"\"<>PYFGCRL?+|", U"AOEUIDHTNS_", U":QJKXBMWVZ"}},
    {"ru",
     {U"ё1234567890-=", U"йцукенгшщзхъ\\", U"фывапролджэ", U"ячсмитьбю."},
     {U"Ё!\"№;%:?*()_+", U"ЙЦУКЕНГШЩЗХЪ/", U"ФЫВАПРОЛДЖЭ", U"ЯЧСМИТЬБЮ,"}},
};

constexpr std::string_view kNames[] = {"us", "fr", "de", "dvorak", "ru"};

// A combining accent as the dead key that types it: its spacing form,
// marked dead.
char32_t keyCharacter(char32_t c) {
    switch (c) {
    case 0x300:
        return KeyLayout::kDeadKey | U'`';
    case 0x301:
        return KeyLayout::kDeadKey | 0xB4; // acute accent
    case 0x302:
        return KeyLayout::kDeadKey | U'^';
    case 0x308:
        return KeyLayout::kDeadKey | 0xA8; // diaeresis
    default:
        return c;
    }
}

KeyLayout makeLayout(const LayoutText& text) {
    KeyLayout layout{std::string(text.name)};
    const std::size_t group = *layout.addGroup();
    for (std::size_t row = 0; row < kRowCodes.size(); ++row) {
        const std::u32string_view plain = text.plain[row];
        const std::u32string_view shifted = text.shifted[row];
        for (std::size_t i = 0; i < plain.size() && i < shifted.size(); ++i) {
            layout.setKey(group, kRowCodes[row][i], keyCharacter(plain[i]),
                          keyCharacter(shifted[i]));
        }
    }
    layout.setKey(group, 49, U' ', U' ');
    return layout;
}

} // namespace

std::span<const std::string_view> simLayoutNames() {
    return kNames;
}

std::shared_ptr<const KeyLayout> simLayout(std::string_view name) {
    if (name == "us") {
        return std::make_shared<const KeyLayout>(usLayout());
    }
    for (const LayoutText& text : kLayouts) {
        if (text.name == name) {
            return std::make_shared<const KeyLayout>(makeLayout(text));
        }
    }
    return nullptr;
}

SimKeyboardLayout::SimKeyboardLayout() : active_(simLayout("us")) {}

bool SimKeyboardLayout::select(std::string_view name) {
    auto layout = simLayout(name);
    if (!layout) {
        return false;
    }
    active_ = std::move(layout);
    if (observer_) {
        observer_();
    }
    return true;
}

} // namespace chordwell::platform::sim
