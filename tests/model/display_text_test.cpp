#include "model/display_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace chordwell {
namespace {

TEST(DisplayText, EscapesWhatCouldDriveOrReorderTheTerminalAndKeepsTheRest) {
    struct Case {
        std::string text;
        std::string safe;
    };
    const Case cases[] = {
        {"Magic Keyboard", "Magic Keyboard"},
        {"\x1b]0;title\x07", "\\u001b]0;title\\u0007"},
        {"tab\there\nnew\x7f", "tab\\u0009here\\u000anew\\u007f"},
        {"\xc2\x80 \xc2\x85 \xc2\x9b \xc2\x9f \xc2\xa0",
         "\\u0080 \\u0085 \\u009b \\u009f \xc2\xa0"},
        {"\xe2\x80\xaa\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c",
         "\\u202a\\u202e\\u2066\\u2069\\u200e\\u200f\\u061c"},
        {"caf\xc3\xa9 \xe2\x8c\x98 \xf0\x9f\x8e\xb9", "caf\xc3\xa9 \xe2\x8c\x98 \xf0\x9f\x8e\xb9"},
        // Not UTF-8: stray continuation, overlong form of ESC, surrogate,
        // truncated sequence at the end.
        {"\x80", "\\x80"},
        {"\xc0\x9b", "\\xc0\\x9b"},
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"a\xe2\x80", "a\\xe2\\x80"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(terminalSafe(c.text), c.safe) << c.safe;
    }
    EXPECT_EQ(quotedForTerminal("a \"b\" \\ \n\x1b\xe2\x80\xae"),
              "\"a \\\"b\\\" \\\\ \\n\\u001b\\u202e\"");
}

} // namespace
} // namespace chordwell
