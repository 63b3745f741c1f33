#include "model/keys.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace chordwell {
namespace {

TEST(HidToMacKeyCode, HoldsExactly110DistinctUsagesWithinTheVirtualKeyRange) {
    const auto& table = hidToMacKeyCodeTable();
    EXPECT_EQ(table.size(), 110u);
    for (const auto& [usage, keyCode] : table) {
        EXPECT_LE(keyCode, 0x7F) << "usage " << usage;
        EXPECT_EQ(hidToMacKeyCode(usage), keyCode);
    }
}

struct LookupCase {
    HidUsage usage;
    std::optional<std::uint16_t> keyCode;
};

TEST(HidToMacKeyCode, MapsUsagesAsTheHidTablesAndTheSystemDefineThem) {
    const LookupCase cases[] = {
        {0x04, 0x00},
        {0x1D, 0x06},
        {0x06, 0x08},
        {0x1E, 0x12},
        {0x27, 0x1D},
        {0x28, 0x24},
        {0x2C, 0x31},
        {0x32, 0x0A},
        {0x39, 0x39},
        {0x3A, 0x7A},
        {0x45, 0x6F},
        {0x68, 0x69},
        {0x6F, 0x5A},
        {0x49, 0x72},
        {0x4F, 0x7C},
        {0x52, 0x7E},
        {0x53, 0x47},
        {0x58, 0x4C},
        {0x59, 0x53},
        {0x62, 0x52},
        {0x63, 0x41},
        {0x67, 0x51},
        // Right-hand modifiers share the left-hand key codes.
        {0xE0, 0x3B},
        {0xE4, 0x3B},
        {0xE1, 0x38},
        {0xE5, 0x38},
        {0xE2, 0x3A},
        {0xE6, 0x3A},
        {0xE3, 0x37},
        {0xE7, 0x37},
        // No key code: error codes, Print Screen / Scroll Lock / Pause,
        // Non-US \, Application, Power, F21-F24, beyond.
        {0x00, std::nullopt},
        {0x01, std::nullopt},
        {0x03, std::nullopt},
        {0x46, std::nullopt},
        {0x47, std::nullopt},
        {0x48, std::nullopt},
        {0x64, std::nullopt},
        {0x65, std::nullopt},
        {0x66, std::nullopt},
        {0x70, std::nullopt},
        {0x73, std::nullopt},
        {0x74, std::nullopt},
        {0xDF, std::nullopt},
        {0xE8, std::nullopt},
        {0xFFFF, std::nullopt},
    };
    for (const LookupCase& c : cases) {
        EXPECT_EQ(hidToMacKeyCode(c.usage), c.keyCode) << "usage 0x" << std::hex << c.usage;
    }
}

TEST(HidToMacKeyCode, ConcurrentFirstUseSeesOneCompleteTable) {
    std::vector<std::thread> threads;
    std::vector<std::size_t> sizes(8);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        threads.emplace_back([&sizes, i] { sizes[i] = hidToMacKeyCodeTable().size(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (std::size_t size : sizes) {
        EXPECT_EQ(size, 110u);
    }
}

struct MaskCase {
    EventFlags flags;
    EventFlags expected;
};

TEST(MacKeySignature, MaskedKeepsOnlyTheFourModifierBits) {
    const MaskCase cases[] = {
        {0, 0},
        {0x10000, 0},                            // Caps Lock
        {0x200000, 0},                           // numeric pad
        {0x800000, 0},                           // Fn
        {0x100 | 0x2 | 0x8, 0},                  // device-dependent low bits
        {0x100000 | 0x10000, 0x100000},          // Command with Caps Lock on
        {0x20000 | 0x200000, 0x20000},           // Shift on the numeric pad
        {0xFFFFFFFFFFFFFFFFULL, 0x1E0000},       // everything set
        {0x40000 | 0x80000 | 0x800100, 0xC0000}, // Control+Option with Fn
    };
    for (const MaskCase& c : cases) {
        const MacKeySignature s = MacKeySignature::masked(8, c.flags);
        EXPECT_EQ(s.keyCode, 8);
        EXPECT_EQ(s.modifiers, c.expected) << std::hex << c.flags;
    }
}

TEST(MacKeySignature, SortsByKeyCodeSignedThenModifiersUnsigned) {
    std::vector<MacKeySignature> signatures = {
        {8, 0x100000}, {8, 0x8000000000000000ULL}, {0, 0}, {-1, 0x1E0000}, {8, 0x20000}, {55, 0},
    };
    std::sort(signatures.begin(), signatures.end());
    const std::vector<MacKeySignature> expected = {
        {-1, 0x1E0000}, {0, 0}, {8, 0x20000}, {8, 0x100000}, {8, 0x8000000000000000ULL}, {55, 0},
    };
    EXPECT_EQ(signatures, expected);
}

TEST(MacKeySignature, EqualValuesHashAlikeAndFieldsAreNotInterchangeable) {
    const MacKeySignature a{8, 0x100000};
    EXPECT_EQ(std::hash<MacKeySignature>{}(a), std::hash<MacKeySignature>{}({8, 0x100000}));
    EXPECT_NE(a, (MacKeySignature{8, 0}));
    EXPECT_NE(a, (MacKeySignature{9, 0x100000}));
    // keyCode is fed before modifiers, so swapping them changes the hash.
    EXPECT_NE(std::hash<MacKeySignature>{}({1, 2}), std::hash<MacKeySignature>{}({2, 1}));
    std::set<std::size_t> hashes;
    for (std::int64_t code = 0; code < 128; ++code) {
        hashes.insert(std::hash<MacKeySignature>{}({code, 0x100000}));
    }
    EXPECT_EQ(hashes.size(), 128u);
}

TEST(KeyComboSignature, PassThroughHoldsOneMaskedSignature) {
    const KeyComboSignature combo = KeyComboSignature::passThrough(8, 0x100000 | 0x10000 | 0x100);
    ASSERT_EQ(combo.keys.size(), 1u);
    EXPECT_EQ(combo.keys[0], (MacKeySignature{8, 0x100000}));
    EXPECT_EQ(combo, KeyComboSignature::passThrough(8, 0x100000));
    EXPECT_EQ(std::hash<KeyComboSignature>{}(combo),
              std::hash<KeyComboSignature>{}(KeyComboSignature::passThrough(8, 0x100000)));
    EXPECT_NE(combo, KeyComboSignature::passThrough(8, 0));
    KeyComboSignature empty;
    EXPECT_NE(combo, empty);
    EXPECT_NE(std::hash<KeyComboSignature>{}(combo), std::hash<KeyComboSignature>{}(empty));
}

TEST(InlineList, DropsValuesBeyondCapacityAndComparesOnlyHeldItems) {
    InlineList<int, 2> list;
    EXPECT_TRUE(list.push_back(1));
    EXPECT_TRUE(list.push_back(2));
    EXPECT_FALSE(list.push_back(3));
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(list, (InlineList<int, 2>{1, 2}));
    list.clear();
    EXPECT_TRUE(list.empty());
    // Stale storage behind the count must not take part in equality.
    list.push_back(1);
    EXPECT_EQ(list, (InlineList<int, 2>{1}));
}

} // namespace
} // namespace chordwell
