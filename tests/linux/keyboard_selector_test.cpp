#include "platform/linux/keyboard_selector.hpp"

#include <gtest/gtest.h>

namespace chordwell::platform::lnx {
namespace {

KeyboardNodeInfo keyboard(std::string name, std::int64_t vendor, std::int64_t product) {
    KeyboardNodeInfo info;
    info.name = std::move(name);
    info.vendor = vendor;
    info.product = product;
    return info;
}

TEST(KeyboardSelector, NumberIdentifiersOrName) {
    const std::vector<KeyboardNodeInfo> listed = {
        keyboard("Logitech K120", 0x046d, 0xc31c),  keyboard("Magic Keyboard", 0x05ac, 0x024f),
        keyboard("Magic Keyboard", 0x05ac, 0x0250), keyboard("42", 0x1234, 0x5678),
        keyboard("Pad: left", 0x1111, 0x2222),
    };
    struct Case {
        const char* selector;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        {"1", 0},
        {"5", 4},
        {"0", std::nullopt},  // numbers start at 1
        {"6", std::nullopt},  // past the end
        {"42", std::nullopt}, // digits are always a number, never a name
        {"99999999999999999999999", std::nullopt},
        {"046d:c31c", 0},
        {"046D:C31C", 0},
        {"0x05ac:0x0250", 2},
        {"5ac:24f", 1},
        {"05ac:ffff", std::nullopt},
        {"Magic Keyboard", 1}, // the first of two identical names
        {"magic keyboard", 1}, // letter case ignored when nothing matches exactly
        {"Pad: left", 4},      // a colon in a name that is not a pair of identifiers
        {"Logitech", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector);
        const KeyboardSelection selection = selectKeyboard(listed, c.selector);
        EXPECT_EQ(selection.index, c.expected);
        EXPECT_EQ(selection.error.empty(), c.expected.has_value()) << selection.error;
    }
    EXPECT_FALSE(selectKeyboard({}, "1").index.has_value());
}

} // namespace
} // namespace chordwell::platform::lnx
