// The simulated world's hand-written layouts: whole, and labelled as their
// keycaps are.
#include "model/key_labels.hpp"
#include "platform/sim/sim_layouts.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace chordwell::platform::sim {
namespace {

using Level = KeyLayout::Level;

// Each Latin layout types every letter and digit exactly once, plain or
// shifted; the Russian one types every digit but no Latin letter.
TEST(SimLayouts, EachTypesTheLettersAndDigitsOnce) {
    for (std::string_view name : simLayoutNames()) {
        SCOPED_TRACE(std::string(name));
        const auto layout = simLayout(name);
        ASSERT_TRUE(layout);
        EXPECT_EQ(layout->name(), name);
        std::map<char32_t, int> typed;
        for (std::int64_t code = 0; code < 128; ++code) {
            for (auto level : {Level::plain, Level::shift}) {
                const char32_t c = layout->character(0, code, level);
                if ((c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9')) {
                    ++typed[c];
                }
                // Command changes nothing on these layouts.
                const Level command = level == Level::plain ? Level::command : Level::commandShift;
                EXPECT_EQ(layout->character(0, code, command), c);
            }
        }
        const std::size_t expected = name == "ru" ? 10u : 36u;
        EXPECT_EQ(typed.size(), expected);
        for (const auto& [c, count] : typed) {
            EXPECT_EQ(count, 1) << static_cast<std::uint32_t>(c);
        }
        EXPECT_EQ(layout->keyTyping(U' ', false), (MacKeySignature{49, 0}));
    }
    EXPECT_FALSE(simLayout("azerty"));
}

TEST(SimLayouts, KeysAreLabelledAsTheirKeycaps) {
    struct Case {
        const char* layout;
        std::int64_t code;
        const char* label;
    };
    const Case cases[] = {
        {"fr", 12, "A"},     {"fr", 0, "Q"},      {"fr", 6, "W"},      {"fr", 46, ","},
        {"fr", 18, "&"},     {"fr", 33, "^"},     {"fr", 36, "⏎"},     {"de", 16, "Z"},
        {"de", 6, "Y"},      {"de", 41, "Ö"},     {"de", 50, "^"},     {"de", 27, "ß"},
        {"dvorak", 34, "C"}, {"dvorak", 47, "V"}, {"dvorak", 12, "'"}, {"ru", 12, "Q"},
        {"ru", 8, "C"},      {"us", 12, "Q"},     {"us", 49, "␣"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(keyLabel(c.code, *simLayout(c.layout)), c.label) << c.layout << " " << c.code;
    }
}

TEST(SimLayouts, TheWorldStartsOnUsAndTellsEveryChange) {
    SimKeyboardLayout layout;
    EXPECT_EQ(layout.activeLayout()->name(), "us");
    int told = 0;
    layout.setChangeObserver([&] { ++told; });
    EXPECT_TRUE(layout.select("dvorak"));
    EXPECT_EQ(layout.activeLayout()->name(), "dvorak");
    EXPECT_EQ(layout.keyTyping(U'c', true), (MacKeySignature{34, 0}));
    EXPECT_FALSE(layout.select("qwertz"));
    EXPECT_EQ(layout.activeLayout()->name(), "dvorak");
    EXPECT_EQ(told, 1);
}

} // namespace
} // namespace chordwell::platform::sim
