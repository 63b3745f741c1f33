// The one-pass record reader must never accept what the full decoder (the
// JSON tree, then the record's decoder) refuses or warns about, and must
// give the same record whenever it accepts.
#include "model/json_codec.hpp"
#include "model/json_reader.hpp"
#include "model/record_stream_reader.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace chordwell {
namespace {

struct TreeResult {
    std::optional<DeviceMapping> record;
    bool duplicates = false;
};

// The full path without the one-pass reader in front of it.
TreeResult decodeWithTree(std::string_view text) {
    TreeResult result;
    auto parsed = parseJson(text);
    if (!parsed.ok()) {
        return result;
    }
    result.duplicates = !parsed.value().duplicateKeys.empty();
    auto decoded = decodeDeviceMapping(parsed.value().value);
    if (decoded.ok()) {
        result.record = std::move(decoded).value();
    }
    return result;
}

// Same content, ids included: the encoding writes every field.
std::string everything(const DeviceMapping& record) {
    std::string text = encodeDeviceMapping(record);
    for (const KeyMapping& m : record.mappings) {
        text += m.id.toString();
    }
    return text;
}

// Checks the property on one text; true when the one-pass reader took it.
bool agrees(const std::string& text) {
    const std::optional<DeviceMapping> fast = streamDecodeDeviceMapping(text);
    if (!fast) {
        return false;
    }
    const TreeResult tree = decodeWithTree(text);
    EXPECT_TRUE(tree.record.has_value()) << "accepted what the full decoder refuses: " << text;
    EXPECT_FALSE(tree.duplicates) << "accepted repeated keys: " << text;
    if (tree.record) {
        EXPECT_EQ(everything(*fast), everything(*tree.record)) << text;
    }
    return true;
}

class RandomRecords {
public:
    explicit RandomRecords(std::uint64_t seed) : random_(seed) {}

    std::uint64_t pick(std::uint64_t bound) { return random_() % bound; }

    std::string text() {
        static const std::string pieces[] = {"a",
                                             "Z",
                                             " ",
                                             "\"",
                                             "\\",
                                             "\n",
                                             "\x01",
                                             "\x7F",
                                             "\xC3\xA9",
                                             "/",
                                             "\t",
                                             "é",
                                             "\xF0\x9F\x98\x80",
                                             "\xE2\x8C\x98"};
        std::string t;
        for (std::uint64_t n = pick(6); n > 0; --n) {
            t += pieces[pick(std::size(pieces))];
        }
        return t;
    }

    std::vector<MacKeySignature> signatures() {
        std::vector<MacKeySignature> list(pick(3));
        for (MacKeySignature& s : list) {
            s.keyCode = static_cast<std::int64_t>(random_());
            s.modifiers = pick(2) == 0 ? random_() : pick(0x200000);
        }
        return list;
    }

    DeviceMapping record() {
        DeviceMapping r;
        r.productName = text();
        r.productID = pick(2) == 0 ? static_cast<std::int64_t>(random_()) : -1;
        r.vendorID = static_cast<std::int64_t>(pick(0x10000));
        r.mappings.resize(pick(5));
        for (KeyMapping& m : r.mappings) {
            m.name = text();
            m.inputKeyCodes.resize(pick(4));
            for (HidUsage& usage : m.inputKeyCodes) {
                usage = static_cast<HidUsage>(random_());
            }
            if (pick(2) == 0) {
                m.inputTapCodes = signatures();
            }
            switch (pick(5)) {
            case 0:
                m.outputBehavior = OutputBehavior::copyOperation();
                break;
            case 1:
                m.outputBehavior = OutputBehavior::none();
                break;
            case 2:
                m.outputBehavior = OutputBehavior::openSearchBar();
                break;
            case 3:
                m.outputBehavior = OutputBehavior::pasteOperation();
                break;
            default:
                m.outputBehavior = OutputBehavior::customKeySequence(text(), signatures());
            }
        }
        return r;
    }

    // The same record written otherwise: spaces, unknown members, a key
    // letter escaped; only between tokens, never inside a string.
    std::string rewrite(const std::string& encoded) {
        static const std::string extras[] = {R"("extra":{"a":[1,-2,{"b":null}],"c":"\u00e9"},)",
                                             R"("x":true,)", R"("y":[],)",
                                             R"("z":"\ud83d\ude00",)"};
        std::string out;
        bool inString = false;
        bool escaped = false;
        for (std::size_t i = 0; i < encoded.size(); ++i) {
            const char c = encoded[i];
            if (inString) {
                out += c;
                if (escaped) {
                    escaped = false;
                } else if (c == '\\') {
                    escaped = true;
                } else if (c == '"') {
                    inString = false;
                }
                continue;
            }
            if (c == '"') {
                inString = true;
                // "id" -> "\u0069d"
                if (encoded.compare(i, 4, "\"id\"") == 0 && pick(3) == 0) {
                    out += "\"\\u0069";
                    ++i;
                    continue;
                }
            }
            out += c;
            if ((c == '{' || c == ',' || c == ':') && pick(4) == 0) {
                out += pick(2) == 0 ? " \n\t" : "\r\n  ";
            }
            if (c == '{' && pick(5) == 0) {
                out += extras[pick(std::size(extras))];
            }
        }
        return out;
    }

    // A small random edit of a text: most make it something the full
    // decoder refuses; some change a value or repeat a key.
    std::string mutate(std::string text) {
        static const std::string inserts[] = {"{",
                                              "}",
                                              "[",
                                              "]",
                                              ",",
                                              ":",
                                              "\"",
                                              "\\",
                                              "0",
                                              "-",
                                              "1",
                                              ".5",
                                              "e3",
                                              " ",
                                              "null",
                                              "\xC3",
                                              "\xFF",
                                              "\x00",
                                              "99999999999999999999",
                                              "\"id\":\"x\","};
        const std::size_t at = text.empty() ? 0 : pick(text.size());
        switch (pick(4)) {
        case 0:
            if (!text.empty()) {
                text.erase(at, 1 + pick(3));
            }
            break;
        case 1: {
            const std::string& piece = inserts[pick(std::size(inserts))];
            text.insert(at, piece.empty() ? std::string(1, '\0') : piece);
            break;
        }
        case 2:
            if (!text.empty()) {
                text[at] = static_cast<char>(pick(256));
            }
            break;
        default: {
            // Repeat a member: the text up to the next comma, once more.
            const std::size_t comma = text.find(',', at);
            const std::size_t start = text.rfind(',', at);
            if (comma != std::string::npos && start != std::string::npos && start < comma) {
                text.insert(comma, text.substr(start, comma - start));
            }
        }
        }
        return text;
    }

private:
    std::mt19937_64 random_;
};

TEST(StreamDecodeDeviceMapping, AgreesWithTheFullDecoderOnRandomRecordsAndEdits) {
    RandomRecords random(20270101);
    int acceptedEdits = 0;
    for (int round = 0; round < 400; ++round) {
        const std::string encoded = encodeDeviceMapping(random.record());
        // What this program writes is always read in one pass.
        EXPECT_TRUE(agrees(encoded)) << encoded;
        const std::string rewritten = random.rewrite(encoded);
        EXPECT_TRUE(agrees(rewritten)) << rewritten;
        for (int edit = 0; edit < 10; ++edit) {
            std::string text = rewritten;
            for (std::uint64_t n = 1 + random.pick(2); n > 0; --n) {
                text = random.mutate(std::move(text));
            }
            acceptedEdits += agrees(text) ? 1 : 0;
        }
    }
    // Some edits leave a valid record (a changed digit, a changed letter).
    EXPECT_GT(acceptedEdits, 0);
}

TEST(StreamDecodeDeviceMapping, LeavesToTheFullDecoderWhatNeedsItsWords) {
    const std::string head = R"({"id":"a1b2c3d4-e5f6-4711-8899-aabbccddeeff","productName":"K",)";
    const std::string m = R"({"id":"b1b2c3d4-e5f6-4711-8899-aabbccddeeff","name":"n",)";
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"repeated key", head + R"("productID":1,"productID":2,"vendorID":0,"mappings":[]})"},
        {"repeated unknown key", head + R"("q":1,"q":2,"productID":1,"vendorID":0,"mappings":[]})"},
        {"fraction", head + R"("productID":1.0,"vendorID":0,"mappings":[]})"},
        {"exponent", head + R"("productID":1e3,"vendorID":0,"mappings":[]})"},
        {"beyond 64 bits", head + R"("productID":1,"vendorID":0,"q":18446744073709551616,)"
                                  R"("mappings":[]})"},
        {"leading zero", head + R"("productID":01,"vendorID":0,"mappings":[]})"},
        {"missing member", head + R"("productID":1,"mappings":[]})"},
        {"usage too big", head + R"("productID":1,"vendorID":0,"mappings":[)" + m +
                              R"("inputKeyCodes":[65536],"outputBehavior":{"kind":"none"}}]})"},
        {"negative modifiers",
         head + R"("productID":1,"vendorID":0,"mappings":[)" + m +
             R"("inputKeyCodes":[],"inputTapCodes":[{"keyCode":1,"modifiers":-1}],)"
             R"("outputBehavior":{"kind":"none"}}]})"},
        {"unknown kind", head + R"("productID":1,"vendorID":0,"mappings":[)" + m +
                             R"("inputKeyCodes":[],"outputBehavior":{"kind":"fly"}}]})"},
        {"custom without codes", head + R"("productID":1,"vendorID":0,"mappings":[)" + m +
                                     R"("inputKeyCodes":[],"outputBehavior":)"
                                     R"({"kind":"customKeySequence"}}]})"},
        {"lone surrogate", head + R"("productID":1,"vendorID":0,"q":"\ud800","mappings":[]})"},
        {"invalid UTF-8",
         head + "\"productID\":1,\"vendorID\":0,\"q\":\"\xC0\xAF\",\"mappings\":[]}"},
        {"trailing bytes", head + R"("productID":1,"vendorID":0,"mappings":[]} x)"},
        {"NUL after the value",
         head + R"("productID":1,"vendorID":0,"mappings":[]})" + std::string(1, '\0')},
        {"too deep", head + R"("productID":1,"vendorID":0,"q":)" + std::string(70, '[') +
                         std::string(70, ']') + R"(,"mappings":[]})"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(streamDecodeDeviceMapping(c.text).has_value()) << c.what;
        // The full path still decides, with its words.
        const auto full = decodeDeviceMappingText(c.text);
        const TreeResult tree = decodeWithTree(c.text);
        EXPECT_EQ(full.ok(), tree.record.has_value()) << c.what;
    }
    // Fixed outputs ignore a name and codes of any shape; a custom one
    // without a name is "Custom"; codes may come before the kind; null tap
    // codes are none.
    const std::string fine =
        head + R"("productID":1,"vendorID":0,"mappings":[)" + m +
        R"("inputKeyCodes":[4],"inputTapCodes":null,)"
        R"("outputBehavior":{"codes":"x","kind":"copyOperation","name":7}},)" +
        m.substr(0, m.size() - 1) +
        R"(,"inputKeyCodes":[],"outputBehavior":{"codes":[{"modifiers":0,"keyCode":-3}],)"
        R"("name":null,"kind":"customKeySequence"}}]})";
    // The two mappings share an id: that is no fault.
    ASSERT_TRUE(agrees(fine));
    const auto record = streamDecodeDeviceMapping(fine);
    EXPECT_FALSE(record->mappings.at(0).inputTapCodes.has_value());
    EXPECT_EQ(record->mappings.at(1).outputBehavior.name(), "Custom");
    EXPECT_EQ(record->mappings.at(1).outputBehavior.signatures().at(0).keyCode, -3);
}

} // namespace
} // namespace chordwell
