#include "model/json_codec.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <string>

namespace chordwell {
namespace {

const char* const kRecordId = "0F7B1F6A-2B8C-4E4D-9C39-5D1B2A3C4D5E";
const char* const kMappingId = "A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF";

// A valid record with one mapping; `mapping` and `behavior` replace the
// corresponding parts so that each failure case changes one thing only.
std::string record(const std::string& mapping) {
    return std::string(R"({"id":")") + kRecordId +
           R"(","productName":"Board","productID":1,"vendorID":2,"mappings":[)" + mapping + "]}";
}
std::string mappingWith(const std::string& behavior, const std::string& extra = "") {
    return std::string(R"({"id":")") + kMappingId + R"(","name":"M","inputKeyCodes":[224,6],)" +
           extra + R"("outputBehavior":)" + behavior + "}";
}

struct FailureCase {
    std::string text;
    std::string message;
};

TEST(DecodeDeviceMapping, FailuresNameThePathOfTheFault) {
    const std::string copy = R"({"kind":"copyOperation"})";
    const FailureCase cases[] = {
        {"[]", "expected an object"},
        {R"({"productName":"B","productID":1,"vendorID":2,"mappings":[]})", "id: missing"},
        {R"({"id":"x","productName":"B","productID":1,"vendorID":2,"mappings":[]})",
         "id: not a UUID"},
        {R"({"id":5,"productName":"B","productID":1,"vendorID":2,"mappings":[]})",
         "id: expected a string"},
        {std::string(R"({"id":")") + kRecordId + R"(","productID":1,"vendorID":2,"mappings":[]})",
         "productName: missing"},
        {std::string(R"({"id":")") + kRecordId +
             R"(","productName":null,"productID":1,"vendorID":2,"mappings":[]})",
         "productName: expected a string"},
        {std::string(R"({"id":")") + kRecordId +
             R"(","productName":"B","vendorID":2,"mappings":[]})",
         "productID: missing"},
        {std::string(R"({"id":")") + kRecordId +
             R"(","productName":"B","productID":1,"vendorID":"2","mappings":[]})",
         "vendorID: expected an integer"},
        {std::string(R"({"id":")") + kRecordId +
             R"(","productName":"B","productID":1.5,"vendorID":2,"mappings":[]})",
         "productID: expected an integer"},
        {std::string(R"({"id":")") + kRecordId +
             R"(","productName":"B","productID":1.0,"vendorID":2,"mappings":[]})",
         "productID: expected an integer"},
        {std::string(R"({"id":")") + kRecordId +
             R"(","productName":"B","productID":1,"vendorID":9223372036854775808,"mappings":[]})",
         "vendorID: 9223372036854775808 is outside the signed 64-bit range"},
        {std::string(R"({"id":")") + kRecordId +
             R"(","productName":"B","productID":1,"vendorID":2})",
         "mappings: missing"},
        {std::string(R"({"id":")") + kRecordId +
             R"(","productName":"B","productID":1,"vendorID":2,"mappings":{}})",
         "mappings: expected an array"},
        {record("7"), "mappings[0]: expected an object"},
        {record(mappingWith(copy) + "," + mappingWith(R"({"kind":""})")),
         R"(mappings[1].outputBehavior.kind: unknown kind "")"},
        {record(mappingWith(R"({"kind":"Copy"})")),
         R"(mappings[0].outputBehavior.kind: unknown kind "Copy")"},
        {record(mappingWith(R"({"kind":null})")),
         "mappings[0].outputBehavior.kind: expected a string"},
        {record(mappingWith(R"({"name":"x"})")), "mappings[0].outputBehavior.kind: missing"},
        {record(mappingWith("[]")), "mappings[0].outputBehavior: expected an object"},
        {record(R"({"id":"nope","name":"M","inputKeyCodes":[],"outputBehavior":{"kind":"none"}})"),
         "mappings[0].id: not a UUID"},
        {record(std::string(R"({"id":")") + kMappingId +
                R"(","inputKeyCodes":[],"outputBehavior":{"kind":"none"}})"),
         "mappings[0].name: missing"},
        {record(std::string(R"({"id":")") + kMappingId +
                R"(","name":"M","outputBehavior":{"kind":"none"}})"),
         "mappings[0].inputKeyCodes: missing"},
        {record(std::string(R"({"id":")") + kMappingId + R"(","name":"M","inputKeyCodes":[]})"),
         "mappings[0].outputBehavior: missing"},
        {record(std::string(R"({"id":")") + kMappingId +
                R"(","name":"M","inputKeyCodes":[4,5,70000],"outputBehavior":{"kind":"none"}})"),
         "mappings[0].inputKeyCodes[2]: 70000 is outside 0-65535"},
        {record(std::string(R"({"id":")") + kMappingId +
                R"(","name":"M","inputKeyCodes":[-1],"outputBehavior":{"kind":"none"}})"),
         "mappings[0].inputKeyCodes[0]: -1 is outside 0-65535"},
        {record(std::string(R"({"id":")") + kMappingId +
                R"(","name":"M","inputKeyCodes":[65536],"outputBehavior":{"kind":"none"}})"),
         "mappings[0].inputKeyCodes[0]: 65536 is outside 0-65535"},
        {record(std::string(R"({"id":")") + kMappingId +
                R"(","name":"M","inputKeyCodes":[4.0],"outputBehavior":{"kind":"none"}})"),
         "mappings[0].inputKeyCodes[0]: expected an integer"},
        {record(std::string(R"({"id":")") + kMappingId +
                R"(","name":"M","inputKeyCodes":"4","outputBehavior":{"kind":"none"}})"),
         "mappings[0].inputKeyCodes: expected an array"},
        {record(mappingWith(copy, R"("inputTapCodes":{},)")),
         "mappings[0].inputTapCodes: expected an array"},
        {record(mappingWith(copy, R"("inputTapCodes":[{"keyCode":8}],)")),
         "mappings[0].inputTapCodes[0].modifiers: missing"},
        {record(mappingWith(copy, R"("inputTapCodes":[{"modifiers":0}],)")),
         "mappings[0].inputTapCodes[0].keyCode: missing"},
        {record(mappingWith(copy, R"("inputTapCodes":[{"keyCode":8,"modifiers":-1}],)")),
         "mappings[0].inputTapCodes[0].modifiers: -1 is negative"},
        {record(mappingWith(copy, R"("inputTapCodes":[{"keyCode":8,"modifiers":1.5}],)")),
         "mappings[0].inputTapCodes[0].modifiers: expected an integer"},
        {record(mappingWith(
             copy, R"("inputTapCodes":[{"keyCode":8,"modifiers":18446744073709551616}],)")),
         R"(mappings[0].inputTapCodes[0].modifiers: number out of range: "18446744073709551616")"},
        {record(mappingWith(copy,
                            R"("inputTapCodes":[{"keyCode":9223372036854775808,"modifiers":0}],)")),
         "mappings[0].inputTapCodes[0].keyCode: 9223372036854775808 is outside the signed "
         "64-bit range"},
        {record(mappingWith(copy, R"("inputTapCodes":[{"keyCode":true,"modifiers":0}],)")),
         "mappings[0].inputTapCodes[0].keyCode: expected an integer"},
        {record(mappingWith(R"({"kind":"customKeySequence","name":"X"})")),
         "mappings[0].outputBehavior.codes: missing"},
        {record(mappingWith(R"({"kind":"customKeySequence","codes":null})")),
         "mappings[0].outputBehavior.codes: expected an array"},
        {record(mappingWith(R"({"kind":"customKeySequence","codes":[],"name":5})")),
         "mappings[0].outputBehavior.name: expected a string"},
        {record(mappingWith(
             R"({"kind":"customKeySequence","codes":[{"keyCode":1,"modifiers":0},2]})")),
         "mappings[0].outputBehavior.codes[1]: expected an object"},
        // "codes" is read before "name", so its fault is the one reported.
        {record(mappingWith(R"({"kind":"customKeySequence","name":5,"codes":[1]})")),
         "mappings[0].outputBehavior.codes[0]: expected an object"},
    };
    for (const FailureCase& c : cases) {
        const auto result = decodeDeviceMappingText(c.text);
        ASSERT_FALSE(result.ok()) << c.text;
        EXPECT_EQ(result.error(), c.message) << c.text;
    }
}

TEST(DecodeDeviceMapping, MalformedTextIsReportedAsInvalidJson) {
    const char* cases[] = {"", "{", "{\"id\":}", "nul", "{} {}", "\xFF\xFE", "[1,2"};
    for (const char* text : cases) {
        const auto result = decodeDeviceMappingText(text);
        ASSERT_FALSE(result.ok()) << text;
        EXPECT_EQ(result.error().rfind("invalid JSON", 0), 0u) << result.error();
    }
}

TEST(DecodeDeviceMapping, DeepNestingFailsWithoutExhaustingTheStack) {
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    const auto result = decodeDeviceMappingText(deep);
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().find("nested deeper than 64 levels"), std::string::npos);
    const std::string inside =
        record(mappingWith(std::string(100000, '[') + std::string(100000, ']')));
    EXPECT_NE(decodeDeviceMappingText(inside).error().find("nested deeper than 64 levels"),
              std::string::npos);
}

TEST(DecodeMacKeySignature, CWithCommandRoundTrips) {
    const auto result =
        decodeMacKeySignature(nlohmann::json::parse(R"({"keyCode":8,"modifiers":1048576})"));
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result.value(), (MacKeySignature{8, 0x100000}));
    EXPECT_EQ(toJson(result.value()).dump(), R"({"keyCode":8,"modifiers":1048576})");
}

struct SignatureCase {
    const char* text;
    MacKeySignature expected;
};

TEST(DecodeMacKeySignature, KeepsTheFullRangeOfBothFields) {
    const SignatureCase cases[] = {
        {R"({"keyCode":-1,"modifiers":0})", {-1, 0}},
        {R"({"modifiers":18446744073709551615,"keyCode":0})", {0, UINT64_MAX}},
        {R"({"keyCode":9223372036854775807,"modifiers":9223372036854775808})",
         {INT64_MAX, 0x8000000000000000ULL}},
        {R"({"keyCode":-9223372036854775808,"modifiers":65536,"extra":[1]})", {INT64_MIN, 0x10000}},
    };
    for (const SignatureCase& c : cases) {
        const auto result = decodeMacKeySignature(nlohmann::json::parse(c.text));
        ASSERT_TRUE(result.ok()) << c.text << ": " << result.error();
        EXPECT_EQ(result.value(), c.expected) << c.text;
        // The flag word from a file is kept as it is, not masked.
        const auto again =
            decodeMacKeySignature(nlohmann::json::parse(toJson(result.value()).dump()));
        ASSERT_TRUE(again.ok());
        EXPECT_EQ(again.value(), c.expected);
    }
}

struct BehaviorCase {
    const char* text;
    OutputBehavior expected;
    const char* encoded;
};

TEST(DecodeOutputBehavior, KindsAndTheirPayload) {
    const BehaviorCase cases[] = {
        {R"({"kind":"copyOperation"})", OutputBehavior::copyOperation(),
         R"({"kind":"copyOperation"})"},
        // Payload keys of the fixed kinds are ignored on reading, never written.
        {R"({"kind":"pasteOperation","name":7,"codes":"x"})", OutputBehavior::pasteOperation(),
         R"({"kind":"pasteOperation"})"},
        {R"({"kind":"none"})", OutputBehavior::none(), R"({"kind":"none"})"},
        {R"({"name":"n","kind":"openSearchBar"})", OutputBehavior::openSearchBar(),
         R"({"kind":"openSearchBar"})"},
        {R"({"kind":"customKeySequence","codes":[]})",
         OutputBehavior::customKeySequence("Custom", {}),
         R"({"kind":"customKeySequence","name":"Custom","codes":[]})"},
        {R"({"kind":"customKeySequence","codes":[],"name":null})",
         OutputBehavior::customKeySequence("Custom", {}),
         R"({"kind":"customKeySequence","name":"Custom","codes":[]})"},
        {R"({"codes":[{"keyCode":6,"modifiers":1048576},{"keyCode":0,"modifiers":0}],"name":"","kind":"customKeySequence"})",
         OutputBehavior::customKeySequence("", {{6, 0x100000}, {0, 0}}),
         R"({"kind":"customKeySequence","name":"","codes":[{"keyCode":6,"modifiers":1048576},{"keyCode":0,"modifiers":0}]})"},
    };
    for (const BehaviorCase& c : cases) {
        const auto result = decodeOutputBehavior(nlohmann::json::parse(c.text));
        ASSERT_TRUE(result.ok()) << c.text << ": " << result.error();
        EXPECT_EQ(result.value(), c.expected) << c.text;
        EXPECT_EQ(toJson(result.value()).dump(), c.encoded);
    }
}

TEST(DecodeKeyMapping, TapCodesMissingOrNullReadAsAbsentAndAreNotWritten) {
    for (const std::string extra : {"", R"("inputTapCodes":null,)"}) {
        const auto result =
            decodeKeyMapping(nlohmann::json::parse(mappingWith(R"({"kind":"none"})", extra)));
        ASSERT_TRUE(result.ok()) << result.error();
        EXPECT_FALSE(result.value().inputTapCodes.has_value());
        EXPECT_FALSE(toJson(result.value()).contains("inputTapCodes"));
    }
    const auto empty = decodeKeyMapping(
        nlohmann::json::parse(mappingWith(R"({"kind":"none"})", R"("inputTapCodes":[],)")));
    ASSERT_TRUE(empty.ok()) << empty.error();
    ASSERT_TRUE(empty.value().inputTapCodes.has_value());
    EXPECT_TRUE(empty.value().inputTapCodes->empty());
    EXPECT_EQ(toJson(empty.value())["inputTapCodes"].dump(), "[]");
}

TEST(EncodeDeviceMapping, CompactOneLineInTheDocumentedKeyOrder) {
    DeviceMapping r;
    r.id = *Uuid::parse("0f7b1f6a-2b8c-4e4d-9c39-5d1b2a3c4d5e");
    r.productName = "Board \"K\"\n";
    r.productID = 591;
    r.vendorID = 1452;
    KeyMapping a;
    a.id = *Uuid::parse("a1b2c3d4-e5f6-4711-8899-aabbccddeeff");
    a.name = "Copy";
    a.inputKeyCodes = {0xE0, 0x06};
    a.inputTapCodes = std::vector<MacKeySignature>{{59, 0x40000}};
    a.outputBehavior = OutputBehavior::copyOperation();
    KeyMapping b = a;
    b.name = "Seq";
    b.inputTapCodes.reset();
    b.outputBehavior = OutputBehavior::customKeySequence("S", {{1, UINT64_MAX}});
    r.mappings = {a, b};
    const std::string expected =
        R"({"id":"0F7B1F6A-2B8C-4E4D-9C39-5D1B2A3C4D5E","productName":"Board \"K\"\n",)"
        R"("productID":591,"vendorID":1452,"mappings":[)"
        R"({"id":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF","name":"Copy","inputKeyCodes":[224,6],)"
        R"("inputTapCodes":[{"keyCode":59,"modifiers":262144}],"outputBehavior":{"kind":"copyOperation"}},)"
        R"({"id":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF","name":"Seq","inputKeyCodes":[224,6],)"
        R"("outputBehavior":{"kind":"customKeySequence","name":"S","codes":)"
        R"([{"keyCode":1,"modifiers":18446744073709551615}]}}]})";
    EXPECT_EQ(encodeDeviceMapping(r), expected);
}

TEST(EncodeDeviceMapping, InvalidUtf8InNamesIsReplacedInsteadOfFailing) {
    DeviceMapping r;
    r.productName = "Board\xFF";
    const std::string text = encodeDeviceMapping(r);
    const auto back = decodeDeviceMappingText(text);
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(back.value().productName, "Board\xEF\xBF\xBD");
}

TEST(DecodeDeviceMapping, DecodeEncodeDecodeIsTheIdentity) {
    const std::string text =
        R"({"mappings":[)"
        R"({"outputBehavior":{"kind":"customKeySequence","codes":[{"keyCode":-5,"modifiers":18446744073709551615},{"keyCode":0,"modifiers":0}]},)"
        R"("inputKeyCodes":[6,224,65535,0],"name":"Z\u00e9","id":"a1b2c3d4-e5f6-4711-8899-aabbccddeeff","unknown":{"x":1}},)"
        R"({"id":"B1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF","name":"","inputKeyCodes":[],)"
        R"("inputTapCodes":[{"keyCode":8,"modifiers":1179648},{"keyCode":-9223372036854775808,"modifiers":0}],)"
        R"("outputBehavior":{"kind":"openSearchBar"}}],)"
        R"("vendorID":-1,"productID":9223372036854775807,"productName":"","id":")" +
        std::string(kRecordId) + R"("})";
    const auto first = decodeDeviceMappingText(text);
    ASSERT_TRUE(first.ok()) << first.error();
    const DeviceMapping& r = first.value();
    EXPECT_EQ(r.id.toString(), kRecordId);
    EXPECT_EQ(r.productID, INT64_MAX);
    EXPECT_EQ(r.vendorID, -1);
    ASSERT_EQ(r.mappings.size(), 2u);
    EXPECT_EQ(r.mappings[0].name, "Z\xC3\xA9");
    EXPECT_EQ(r.mappings[0].inputKeyCodes, (std::vector<HidUsage>{6, 224, 65535, 0}));
    EXPECT_EQ(r.mappings[0].outputBehavior.name(), "Custom");
    EXPECT_EQ(r.mappings[0].outputBehavior.signatures()[0], (MacKeySignature{-5, UINT64_MAX}));
    EXPECT_EQ(r.mappings[1].inputTapCodes->at(1).keyCode, INT64_MIN);

    const std::string encoded = encodeDeviceMapping(r);
    EXPECT_EQ(encoded.find('\n'), std::string::npos);
    const auto second = decodeDeviceMappingText(encoded);
    ASSERT_TRUE(second.ok()) << second.error();
    EXPECT_EQ(second.value(), r); // same id
    EXPECT_EQ(second.value().productName, r.productName);
    EXPECT_EQ(second.value().mappings, r.mappings);
    EXPECT_EQ(second.value().mappings[0].id, r.mappings[0].id);
    EXPECT_EQ(second.value().mappings[1].id, r.mappings[1].id);
    EXPECT_EQ(encodeDeviceMapping(second.value()), encoded);
}

TEST(DecodeDeviceMapping, EmptyRecordDecodes) {
    const auto result = decodeDeviceMappingText(
        std::string(R"({"id":")") + kRecordId +
        R"(","productName":"Board","productID":0,"vendorID":0,"mappings":[]})");
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_TRUE(result.value().mappings.empty());
    EXPECT_EQ(result.value().productName, "Board");
}

// The record writer writes straight to text;// The record writer writes straight to text; the tree
// of toJson is the reference it must match byte for byte, whatever the names and numbers.
TEST(EncodeDeviceMapping, MatchesTheJsonTreeForRandomRecords) {
    std::mt19937_64 random(20261207);
    const auto pick = [&](std::uint64_t bound) {
        return random() % bound;
    };
    const auto anyText = [&] {
        static const std::string pieces[] = {"a",    "Z",    " ",    "\"",       "\\",
                                             "\n",   "\x01", "\x7F", "\xC3\xA9", "\xE2\x8C\x98",
                                             "\xFF", "\xC3", "/"};
        std::string text;
        for (std::uint64_t n = pick(6); n > 0; --n) {
            text += pieces[pick(std::size(pieces))];
        }
        return text;
    };
    const auto anySignatures = [&] {
        std::vector<MacKeySignature> list(pick(3));
        for (MacKeySignature& s : list) {
            s.keyCode = static_cast<std::int64_t>(random());
            s.modifiers = pick(2) == 0 ? random() : pick(0x200000);
        }
        return list;
    };
    for (int round = 0; round < 300; ++round) {
        DeviceMapping r;
        r.productName = anyText();
        r.productID = pick(2) == 0 ? static_cast<std::int64_t>(random()) : -1;
        r.vendorID = static_cast<std::int64_t>(pick(0x10000));
        r.mappings.resize(pick(4));
        for (KeyMapping& m : r.mappings) {
            m.name = anyText();
            m.inputKeyCodes.resize(pick(4));
            for (HidUsage& usage : m.inputKeyCodes) {
                usage = static_cast<HidUsage>(random());
            }
            if (pick(2) == 0) {
                m.inputTapCodes = anySignatures();
            }
            switch (pick(4)) {
            case 0:
                m.outputBehavior = OutputBehavior::copyOperation();
                break;
            case 1:
                m.outputBehavior = OutputBehavior::none();
                break;
            case 2:
                m.outputBehavior = OutputBehavior::openSearchBar();
                break;
            default:
                m.outputBehavior = OutputBehavior::customKeySequence(anyText(), anySignatures());
            }
        }
        const std::string expected =
            toJson(r).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        ASSERT_EQ(encodeDeviceMapping(r), expected) << "round " << round;
    }
}

} // namespace
} // namespace chordwell
