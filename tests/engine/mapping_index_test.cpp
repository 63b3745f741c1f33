#include "engine/fixed_list.hpp"
#include "engine/mapping_index.hpp"
#include "engine/observable.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace chordwell {
namespace {

KeyMapping mappingWith(std::vector<HidUsage> keys, std::string name) {
    KeyMapping m;
    m.name = std::move(name);
    m.inputKeyCodes = std::move(keys);
    return m;
}

DeviceMapping record(std::int64_t vendor, std::int64_t product, std::vector<KeyMapping> mappings) {
    DeviceMapping r;
    r.vendorID = vendor;
    r.productID = product;
    r.mappings = std::move(mappings);
    return r;
}

// The index must give exactly the answer of the linear walk, first-wins
// included, for random records of several models and random held sets.
TEST(MappingIndex, AgreesWithTheLinearWalk) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> usage(0x04, 0x0C); // few keys: many collisions
    std::uniform_int_distribution<int> size(0, 4);
    std::uniform_int_distribution<int> model(0, 2);
    auto randomKeys = [&] {
        std::vector<HidUsage> keys;
        const int n = size(random);
        for (int i = 0; i < n; ++i) {
            const auto u = static_cast<HidUsage>(usage(random));
            if (std::find(keys.begin(), keys.end(), u) == keys.end()) {
                keys.push_back(u);
            }
        }
        return keys;
    };
    for (int round = 0; round < 20; ++round) {
        std::vector<DeviceMapping> records;
        for (int r = 0; r < 4; ++r) {
            std::vector<KeyMapping> mappings;
            for (int m = 0; m < 30; ++m) {
                mappings.push_back(mappingWith(randomKeys(), std::to_string(r * 100 + m)));
            }
            records.push_back(record(model(random), 7, std::move(mappings)));
        }
        MappingIndex index;
        index.rebuild(records, 7, 1);
        for (int q = 0; q < 200; ++q) {
            auto held = randomKeys();
            const KeyMapping* linear = findMappingLinear(records, 7, 1, held);
            std::sort(held.begin(), held.end());
            EXPECT_EQ(index.find(held), linear);
        }
    }
}

TEST(MappingIndex, FirstMappingOfASetWinsAndOtherModelsAreLeftOut) {
    std::vector<DeviceMapping> records = {
        record(2, 7, {mappingWith({0xE0, 0x04}, "other model")}),
        record(1, 7, {mappingWith({0x04, 0xE0}, "first"), mappingWith({0xE0, 0x04}, "second")}),
        record(1, 7, {mappingWith({0xE0, 0x04}, "later record"), mappingWith({0x05}, "b")}),
    };
    MappingIndex index;
    index.rebuild(records, 7, 1);
    EXPECT_EQ(index.size(), 2u);
    const std::vector<HidUsage> held = {0x04, 0xE0};
    ASSERT_NE(index.find(held), nullptr);
    EXPECT_EQ(index.find(held)->name, "first");
    EXPECT_EQ(index.find(std::vector<HidUsage>{0x05})->name, "b");
    EXPECT_EQ(index.find(std::vector<HidUsage>{0x04}), nullptr);
    EXPECT_EQ(index.find(std::vector<HidUsage>{}), nullptr);
    index.clear();
    EXPECT_EQ(index.find(held), nullptr);
}

TEST(MappingIndex, EmptyKeySetsMatchTheEmptyHeldSet) {
    // Releasing every key never looks up, but the walk would match {} == {}.
    std::vector<DeviceMapping> records = {record(1, 7, {mappingWith({}, "empty")})};
    MappingIndex index;
    index.rebuild(records, 7, 1);
    EXPECT_EQ(index.find(std::vector<HidUsage>{}), findMappingLinear(records, 7, 1, {}));
}

TEST(MappingIndex, OversizedKeySetsAreLeftToTheLinearWalk) {
    std::vector<HidUsage> many;
    for (HidUsage u = 0x04; u < 0x04 + MappingIndex::kMaxIndexedKeys + 1; ++u) {
        many.push_back(u);
    }
    std::vector<DeviceMapping> records = {record(1, 7, {mappingWith(many, "big")})};
    MappingIndex index;
    index.rebuild(records, 7, 1);
    EXPECT_TRUE(index.hasOversizedMappings());
    EXPECT_EQ(index.size(), 0u);
    EXPECT_NE(findMappingLinear(records, 7, 1, many), nullptr);
}

TEST(FixedList, KeepsOrderOnRemovalAndRefusesOverflow) {
    FixedList<int, 3> list;
    EXPECT_TRUE(list.push_back(1));
    EXPECT_TRUE(list.push_back(2));
    EXPECT_TRUE(list.push_back(3));
    EXPECT_FALSE(list.push_back(4));
    EXPECT_TRUE(list.eraseFirst(2));
    EXPECT_FALSE(list.eraseFirst(9));
    EXPECT_EQ(std::vector<int>(list.begin(), list.end()), (std::vector<int>{1, 3}));
    FixedList<int, 3> copy = list;
    list.erase(0);
    EXPECT_EQ(std::vector<int>(copy.begin(), copy.end()), (std::vector<int>{1, 3}));
    EXPECT_EQ(std::vector<int>(list.begin(), list.end()), (std::vector<int>{3}));
}

TEST(WillChangeSignal, CallsObserversInOrderUntilCancelled) {
    WillChangeSignal signal;
    std::vector<int> calls;
    Subscription a = signal.subscribe([&] { calls.push_back(1); });
    Subscription b = signal.subscribe([&] { calls.push_back(2); });
    signal.emit();
    b.cancel();
    signal.emit();
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 1}));
    EXPECT_FALSE(b.active());
    {
        Subscription moved = std::move(a);
        EXPECT_FALSE(a.active()); // NOLINT(bugprone-use-after-move)
        EXPECT_TRUE(moved.active());
    }
    signal.emit(); // the moved-to token ended the subscription
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(signal.subscriberCount(), 0u);
}

TEST(WillChangeSignal, ObserversMayCancelAndSubscribeWhileBeingCalled) {
    WillChangeSignal signal;
    std::vector<int> calls;
    Subscription self;
    Subscription added;
    self = signal.subscribe([&] {
        calls.push_back(1);
        self.cancel(); // cancels itself while running
        added = signal.subscribe([&] { calls.push_back(2); });
    });
    signal.emit();
    EXPECT_EQ(calls, std::vector<int>{1}); // new observers wait for the next emission
    signal.emit();
    EXPECT_EQ(calls, (std::vector<int>{1, 2}));
}

TEST(WillChangeSignal, TokensMayOutliveTheSignal) {
    Subscription token;
    {
        WillChangeSignal signal;
        token = signal.subscribe([] {});
        EXPECT_TRUE(token.active());
    }
    EXPECT_FALSE(token.active());
    token.cancel();
}

} // namespace
} // namespace chordwell
