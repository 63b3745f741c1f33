#include "model/json_reader.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace chordwell {
namespace {

std::string nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

struct ParseCase {
    const char* what;
    std::string text;
    std::string error; // empty: parses
};

// Every fault a hostile or broken file can show, with the exact message the
// user reads: it names where (offset or JSON path) and echoes at most a short
// prefix of the offending text.
TEST(ParseJson, RejectsWhatDecodersMustNeverSeeAndSaysWhere) {
    const std::string longNumber(400, '7');
    const ParseCase cases[] = {
        {"depth at the limit", nested(kMaxJsonDepth), ""},
        {"NUL after the value", std::string("{}\0GARBAGE", 10),
         "invalid JSON at line 1, column 3 (offset 2): a NUL byte after the JSON value"},
        {"NUL first", std::string("\0{}", 3),
         "invalid JSON at line 1, column 1 (offset 0): a NUL byte"},
        {"NUL inside a string", std::string("[\"a\0\"]", 6),
         "invalid JSON at line 1, column 4 (offset 3): a NUL byte"},
        {"fault before a NUL wins", std::string("[x\0", 3),
         "invalid JSON at line 1, column 2 (offset 1): invalid literal; last read: \"[x\""},
        {"trailing bytes", "{}\n {}",
         "invalid JSON at line 2, column 2 (offset 4): unexpected bytes after the JSON value"},
        {"trailing whitespace is fine", "{} \n\t", ""},
        {"integer beyond 64 bits", "{\"m\":[1,18446744073709551616]}",
         "m[1]: number out of range: \"18446744073709551616\""},
        {"negative integer beyond 64 bits", "[-9223372036854775809]",
         "[0]: number out of range: \"-9223372036854775809\""},
        {"float overflow", "{\"a\":{\"b c\":1e400}}", "a[\"b c\"]: number out of range: \"1e400\""},
        {"long number quotes a prefix", "[" + longNumber + "]",
         "[0]: number out of range: \"777777777777777777777777\\u2026\""},
        {"largest integers fit", "[18446744073709551615,-9223372036854775808,1e300]", ""},
        {"control characters in a key are escaped", "{\"\\u001b]0;x\\u0007\xc2\x9b\":[1e999]}",
         "[\"\\u001b]0;x\\u0007\\u009b\"][0]: number out of range: \"1e999\""},
        {"empty text", "",
         "invalid JSON at line 1, column 1 (offset 0): unexpected end of input; "
         "expected '[', '{', or a literal"},
    };
    for (const ParseCase& c : cases) {
        const auto result = parseJson(c.text);
        if (c.error.empty()) {
            EXPECT_TRUE(result.ok()) << c.what << ": " << result.error();
        } else {
            ASSERT_FALSE(result.ok()) << c.what;
            EXPECT_EQ(result.error(), c.error) << c.what;
        }
    }
}

// Paths of deep faults are cut at the front so that a message stays short.
TEST(ParseJson, NestingOneLevelTooDeepFailsAnywhere) {
    const std::string suffix = ": nested deeper than 64 levels";
    const std::string cases[] = {
        nested(kMaxJsonDepth + 1),
        "{\"a\":" + nested(kMaxJsonDepth) + "}",
        "{\"mappings\":[{\"x\":" + nested(kMaxJsonDepth - 2) + "}]}",
        std::string(1000000, '['),
    };
    for (const std::string& text : cases) {
        const auto result = parseJson(text);
        ASSERT_FALSE(result.ok()) << text.substr(0, 80);
        const std::string& error = result.error();
        ASSERT_GT(error.size(), suffix.size());
        EXPECT_EQ(error.substr(error.size() - suffix.size()), suffix);
        EXPECT_EQ(error.rfind("\u2026[0][0]", 0), 0u) << error;
        EXPECT_LT(error.size(), 200u) << error;
    }
}

TEST(ParseJson, RepeatedKeysKeepTheLastValueAndAreReportedWithTheirPath) {
    const auto result = parseJson(R"({"a":1,"list":[{"k":1,"k":2},{"k":3}],"a":{"x":[],"x":5}})");
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result.value().value["a"]["x"], 5);
    EXPECT_EQ(result.value().value["list"][0]["k"], 2);
    const std::vector<std::string> expected = {"list[0].k", "a", "a.x"};
    EXPECT_EQ(result.value().duplicateKeys, expected);

    std::string many = "{";
    for (int i = 0; i < 100; ++i) {
        many += "\"k\":1,";
    }
    many += "\"k\":1}";
    EXPECT_EQ(parseJson(many).value().duplicateKeys.size(), ParsedJson::kMaxReportedDuplicates);
}

// The parsed document is the one the library's own parser builds.
TEST(ParseJson, BuildsTheSameDocumentAsTheLibrary) {
    const char* texts[] = {
        R"({"a":[1,-2,3.5,true,false,null,"s",{"b":[]}],"c":{},"d":"\u00e9"})",
        R"([[],[[]],{"":0}])",
        "\"just a string\"",
        "-0",
    };
    for (const char* text : texts) {
        const auto result = parseJson(text);
        ASSERT_TRUE(result.ok()) << text << ": " << result.error();
        EXPECT_EQ(result.value().value, nlohmann::json::parse(text)) << text;
        EXPECT_TRUE(result.value().duplicateKeys.empty());
    }
}

} // namespace
} // namespace chordwell
