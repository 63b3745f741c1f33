#include "platform/macos/handle_registry.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace chordwell::platform::mac {
namespace {

struct Wrapper {
    int handle;
};

using Registry = HandleRegistry<int, Wrapper>;

// Counts the wrappers made, as the HID manager's factory would make them.
struct Factory {
    int made = 0;
    std::shared_ptr<Wrapper> operator()(int handle) {
        ++made;
        return std::make_shared<Wrapper>(Wrapper{handle});
    }
};

TEST(HandleRegistry, MatchingAndRemovalOfOneHandleShareOneWrapper) {
    Registry registry;
    Factory factory;
    auto matched = registry.findOrCreate(7, [&] { return factory(7); });
    auto removed = registry.findOrCreate(7, [&] { return factory(7); });
    EXPECT_EQ(matched.get(), removed.get());
    EXPECT_EQ(factory.made, 1);
    EXPECT_EQ(registry.find(7).get(), matched.get());
}

TEST(HandleRegistry, DistinctHandlesGetDistinctWrappers) {
    Registry registry;
    Factory factory;
    auto a = registry.findOrCreate(1, [&] { return factory(1); });
    auto b = registry.findOrCreate(2, [&] { return factory(2); });
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(a->handle, 1);
    EXPECT_EQ(b->handle, 2);
    EXPECT_EQ(registry.liveCount(), 2u);
}

TEST(HandleRegistry, WrapperNobodyHoldsIsReplacedByAFreshOne) {
    Registry registry;
    Factory factory;
    registry.findOrCreate(3, [&] { return factory(3); }); // dropped at once
    EXPECT_EQ(registry.find(3), nullptr);
    auto again = registry.findOrCreate(3, [&] { return factory(3); });
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(factory.made, 2);
}

TEST(HandleRegistry, ForgottenHandleKeepsItsOldWrapperValidButGetsANewOne) {
    Registry registry;
    Factory factory;
    auto held = registry.findOrCreate(4, [&] { return factory(4); });
    registry.forget(4);
    EXPECT_EQ(registry.find(4), nullptr);
    auto fresh = registry.findOrCreate(4, [&] { return factory(4); });
    EXPECT_NE(fresh.get(), held.get());
    EXPECT_EQ(held->handle, 4); // the engine's copy is still usable
}

TEST(HandleRegistry, NullWrapperIsNotRemembered) {
    Registry registry;
    auto none = registry.findOrCreate(5, [] { return std::shared_ptr<Wrapper>(); });
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(registry.entryCount(), 0u);
    Factory factory;
    EXPECT_NE(registry.findOrCreate(5, [&] { return factory(5); }), nullptr);
}

TEST(HandleRegistry, DeadEntriesDoNotAccumulateOverManyPlugCycles) {
    Registry registry;
    Factory factory;
    std::vector<std::shared_ptr<Wrapper>> attached;
    for (int handle = 0; handle < 1000; ++handle) {
        auto wrapper = registry.findOrCreate(handle, [&] { return factory(handle); });
        if (handle % 100 == 0) {
            attached.push_back(wrapper);
        }
    }
    EXPECT_EQ(registry.liveCount(), attached.size());
    // Only the entry added last can be dead and still be remembered.
    EXPECT_LE(registry.entryCount(), attached.size() + 1);
}

} // namespace
} // namespace chordwell::platform::mac
