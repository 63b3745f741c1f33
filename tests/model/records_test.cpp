#include "model/records.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

namespace chordwell {
namespace {

KeyMapping sampleMapping() {
    KeyMapping m;
    m.name = "Copy with Control";
    m.inputKeyCodes = {0xE0, 0x06};
    m.inputTapCodes = std::vector<MacKeySignature>{{59, 0x40000}, {8, 0x40000}};
    m.outputBehavior = OutputBehavior::copyOperation();
    return m;
}

TEST(KeyMapping, MappingsThatDifferOnlyInIdAreEqualAndHashAlike) {
    KeyMapping a = sampleMapping();
    KeyMapping b = sampleMapping();
    ASSERT_NE(a.id, b.id); // fresh UUID each
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<KeyMapping>{}(a), std::hash<KeyMapping>{}(b));
    std::unordered_set<KeyMapping> set{a};
    EXPECT_TRUE(set.contains(b));
}

struct MappingChange {
    const char* what;
    std::function<void(KeyMapping&)> apply;
};

TEST(KeyMapping, EveryFieldButIdTakesPartInEqualityAndHash) {
    const MappingChange changes[] = {
        {"name",
         [](KeyMapping& m) {
             m.name += "!";
         }},
        {"input order",
         [](KeyMapping& m) {
             m.inputKeyCodes = {0x06, 0xE0};
         }},
        {"input usage",
         [](KeyMapping& m) {
             m.inputKeyCodes.push_back(0x07);
         }},
        {"tap codes absent",
         [](KeyMapping& m) {
             m.inputTapCodes.reset();
         }},
        {"tap codes empty",
         [](KeyMapping& m) {
             m.inputTapCodes->clear();
         }},
        {"tap modifiers",
         [](KeyMapping& m) {
             (*m.inputTapCodes)[1].modifiers = 0;
         }},
        {"behaviour kind",
         [](KeyMapping& m) {
             m.outputBehavior = OutputBehavior::pasteOperation();
         }},
        {"custom",
         [](KeyMapping& m) {
             m.outputBehavior = OutputBehavior::customKeySequence("Copy", {{8, 0x100000}});
         }},
    };
    const KeyMapping base = sampleMapping();
    for (const MappingChange& change : changes) {
        KeyMapping changed = base;
        change.apply(changed);
        EXPECT_NE(base, changed) << change.what;
        EXPECT_NE(std::hash<KeyMapping>{}(base), std::hash<KeyMapping>{}(changed)) << change.what;
    }
}

TEST(DeviceMapping, IdentityIsTheId) {
    DeviceMapping a;
    a.productName = "Keyboard";
    a.productID = 1;
    a.vendorID = 2;
    DeviceMapping b = a;
    b.id = Uuid::random();
    EXPECT_NE(a, b);
    DeviceMapping c = a;
    c.productName = "Other";
    c.mappings.push_back(sampleMapping());
    EXPECT_EQ(a, c);
    EXPECT_EQ(std::hash<DeviceMapping>{}(a), std::hash<DeviceMapping>{}(c));
}

TEST(KeyboardDevice, IdentityIsTheId) {
    KeyboardDevice a;
    KeyboardDevice b = a;
    b.productName = "Other";
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.productName, "Unknown");
    EXPECT_EQ(a.productID, -1);
    EXPECT_NE(a, KeyboardDevice{});
}

struct LabelCase {
    OutputBehavior behavior;
    OutputBehavior::Kind kind;
    std::string label;
};

TEST(OutputBehavior, KindsAndLabels) {
    const LabelCase cases[] = {
        {OutputBehavior::none(), OutputBehavior::Kind::none, "No Action"},
        {OutputBehavior(), OutputBehavior::Kind::none, "No Action"},
        {OutputBehavior::openSearchBar(), OutputBehavior::Kind::openSearchBar, "Open Search"},
        {OutputBehavior::copyOperation(), OutputBehavior::Kind::copyOperation, "Copy"},
        {OutputBehavior::pasteOperation(), OutputBehavior::Kind::pasteOperation, "Paste"},
        {OutputBehavior::customKeySequence("", {}), OutputBehavior::Kind::customKeySequence,
         "Custom"},
        {OutputBehavior::customKeySequence("Undo", {{6, 0x100000}}),
         OutputBehavior::Kind::customKeySequence, "Undo"},
    };
    for (const LabelCase& c : cases) {
        EXPECT_EQ(c.behavior.kind(), c.kind);
        EXPECT_EQ(c.behavior.displayLabel(), c.label);
    }
}

TEST(OutputBehavior, RawValuesRoundTripInDeclarationOrder) {
    const char* raw[] = {"none", "openSearchBar", "copyOperation", "pasteOperation",
                         "customKeySequence"};
    ASSERT_EQ(OutputBehavior::allKinds.size(), std::size(raw));
    for (std::size_t i = 0; i < std::size(raw); ++i) {
        EXPECT_EQ(OutputBehavior::rawValue(OutputBehavior::allKinds[i]), raw[i]);
        EXPECT_EQ(OutputBehavior::kindFromRawValue(raw[i]), OutputBehavior::allKinds[i]);
    }
    for (const char* bad : {"", "None", "copy", "customKeySequence ", "paste"}) {
        EXPECT_FALSE(OutputBehavior::kindFromRawValue(bad).has_value()) << bad;
    }
}

TEST(OutputBehavior, EqualityComparesThePayloadOfCustomSequencesOnly) {
    using B = OutputBehavior;
    EXPECT_EQ(B::copyOperation(), B::copyOperation());
    EXPECT_NE(B::copyOperation(), B::pasteOperation());
    EXPECT_NE(B::none(), B::customKeySequence("", {}));
    EXPECT_EQ(B::customKeySequence("X", {{1, 2}}), B::customKeySequence("X", {{1, 2}}));
    EXPECT_NE(B::customKeySequence("X", {{1, 2}}), B::customKeySequence("Y", {{1, 2}}));
    EXPECT_NE(B::customKeySequence("X", {{1, 2}}), B::customKeySequence("X", {{1, 3}}));
    EXPECT_NE(B::customKeySequence("X", {{1, 2}, {3, 4}}),
              B::customKeySequence("X", {{3, 4}, {1, 2}}));
    EXPECT_EQ(std::hash<B>{}(B::customKeySequence("X", {{1, 2}})),
              std::hash<B>{}(B::customKeySequence("X", {{1, 2}})));
}

TEST(OutputBehavior, ConstantBehaviorsAreCustomThenNone) {
    const auto& constant = constantBehaviors();
    ASSERT_EQ(constant.size(), 2u);
    EXPECT_EQ(constant[0], OutputBehavior::customKeySequence("Custom", {}));
    EXPECT_EQ(constant[1], OutputBehavior::none());
}

struct DerivationCase {
    std::vector<HidUsage> usages;
    std::vector<MacKeySignature> expected;
};

TEST(InputSignatures, DerivedFromUsagesInOrderSkippingUnknownAndRepeats) {
    const DerivationCase cases[] = {
        {{}, {}},
        {{0xE3, 0x06}, {{0x37, 0}, {0x08, 0}}},
        {{0x06, 0xE3}, {{0x08, 0}, {0x37, 0}}},
        {{0x46, 0x06, 0x64}, {{0x08, 0}}},
        // Left and right Command give the same key code: shown once.
        {{0xE3, 0xE7, 0x06}, {{0x37, 0}, {0x08, 0}}},
        {{0x00, 0xFFFF}, {}},
    };
    for (const DerivationCase& c : cases) {
        EXPECT_EQ(signaturesFromUsages(c.usages), c.expected);
        KeyMapping m;
        m.inputKeyCodes = c.usages;
        EXPECT_EQ(inputSignatures(m), c.expected);
    }
}

TEST(InputSignatures, RecordedTapCodesWinEvenWhenEmpty) {
    KeyMapping m = sampleMapping();
    EXPECT_EQ(inputSignatures(m), *m.inputTapCodes);
    m.inputTapCodes = std::vector<MacKeySignature>{};
    EXPECT_TRUE(inputSignatures(m).empty());
}

TEST(Uuid, ParsesEitherCaseAndPrintsUpperCase) {
    const auto lower = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(lower->toString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), lower);
    EXPECT_EQ(lower->bytes()[0], 0xE6);
    EXPECT_EQ(lower->bytes()[15], 0x5F);
}

TEST(Uuid, RejectsAnythingButTheHyphenatedForm) {
    const char* bad[] = {
        "",
        "E621E1F8C36C495A93FC0C247A3E6E5F",
        "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}",
        "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
        "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF",
        "E621E1F8-C36C-495A-93FC_0C247A3E6E5F",
        "E621E1F8-C36C-495A93FC-0C247A3E6E5F-",
        "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",
        " 621E1F8-C36C-495A-93FC-0C247A3E6E5F",
    };
    for (const char* text : bad) {
        EXPECT_FALSE(Uuid::parse(text).has_value()) << text;
    }
}

TEST(Uuid, RandomValuesAreVersion4AndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const Uuid u = Uuid::random();
        EXPECT_EQ(u.bytes()[6] >> 4, 4);
        EXPECT_EQ(u.bytes()[8] & 0xC0, 0x80);
        EXPECT_FALSE(u.isNil());
        EXPECT_EQ(Uuid::parse(u.toString()), u);
        seen.insert(u.toString());
    }
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_TRUE(Uuid().isNil());
}

} // namespace
} // namespace chordwell
