#include "platform/linux/keyboard_selector.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace chordwell::platform::lnx {

namespace {

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// "046d", "0x046D": a 16-bit identifier in hex.
std::optional<std::int64_t> hexIdentifier(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

KeyboardSelection selectKeyboard(const std::vector<KeyboardNodeInfo>& keyboards,
                                 std::string_view selector) {
    KeyboardSelection result;
    if (selector.empty()) {
        result.error = "the keyboard selector is empty";
        return result;
    }
    const std::string count = std::to_string(keyboards.size());
    if (allDigits(selector)) {
        std::size_t number = 0;
        const auto [end, ec] =
            std::from_chars(selector.data(), selector.data() + selector.size(), number);
        if (ec == std::errc() && end == selector.data() + selector.size() && number >= 1 &&
            number <= keyboards.size()) {
            result.index = number - 1;
        } else {
            result.error = "there is no keyboard number " + std::string(selector) + " (" + count +
                           " listed by chordwellctl keyboards)";
        }
        return result;
    }
    if (const auto colon = selector.find(':'); colon != std::string_view::npos) {
        const auto vendor = hexIdentifier(selector.substr(0, colon));
        const auto product = hexIdentifier(selector.substr(colon + 1));
        if (vendor && product) {
            for (std::size_t i = 0; i < keyboards.size(); ++i) {
                if (keyboards[i].vendor == vendor && keyboards[i].product == product) {
                    result.index = i;
                    return result;
                }
            }
            result.error = "no keyboard has vendor:product " + std::string(selector);
            return result;
        }
        // Not a pair of identifiers: a product name with a colon in it.
    }
    for (std::size_t i = 0; i < keyboards.size(); ++i) {
        if (keyboards[i].name == selector) {
            result.index = i;
            return result;
        }
    }
    for (std::size_t i = 0; i < keyboards.size(); ++i) {
        if (equalIgnoringCase(keyboards[i].name, selector)) {
            result.index = i;
            return result;
        }
    }
    result.error = "no keyboard is named \"" + std::string(selector) + "\"";
    return result;
}

} // namespace chordwell::platform::lnx
