#include "platform/linux/linux_platform.hpp"

#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace chordwell::platform::lnx {
namespace {

TapDecision passAll(void*, const KeyEvent&) {
    return TapDecision::pass;
}

LinuxPlatformOptions quietOptions(const std::string& uinputPath) {
    LinuxPlatformOptions options;
    options.uinputPath = uinputPath;
    options.preferences = std::make_shared<MemoryPreferences>();
    options.paths = std::make_shared<FolderPaths>();
    options.systemLog = std::make_shared<NullSystemLog>();
    return options;
}

TEST(LinuxPlatform, WithoutVirtualKeyboardNothingIsGrabbedOrPosted) {
    struct Case {
        const char* name;
        std::string uinputPath;
        bool missingNotice;
    };
    const Case cases[] = {
        {"no uinput device", "/nonexistent/uinput", true},
        {"not a uinput device", "/dev/null", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto log = std::make_shared<CapturingSystemLog>();
        logging::configure(log, std::nullopt);
        auto platform = makeLinuxPlatform(quietOptions(c.uinputPath));
        EXPECT_EQ(platform->virtualKeyboard(), nullptr);
        EXPECT_EQ(platform->createKeyboardEventTap(&passAll, nullptr), nullptr);
        EXPECT_FALSE(platform->eventPoster().postKeyEvent(8, kMaskControl, true));
        const auto notices = platform->notices();
        EXPECT_EQ(notices.size(), c.missingNotice ? 1u : 0u);
        if (c.missingNotice && !notices.empty()) {
            EXPECT_NE(notices[0].message.find("modprobe uinput"), std::string::npos);
        }
        bool logged = false;
        for (const auto& e : log->entries()) {
            logged = logged || (e.level == LogLevel::error && e.category == "keyboard");
        }
        EXPECT_TRUE(logged) << "the cause is logged";
        logging::configure(std::make_shared<NullSystemLog>(), std::nullopt);
    }
}

TEST(LinuxPlatform, MakesItsOwnLoopOnlyWhenNoneIsGiven) {
    logging::configure(std::make_shared<NullSystemLog>(), std::nullopt);
    auto own = makeLinuxPlatform(quietOptions("/nonexistent/uinput"));
    ASSERT_NE(own->pollLoop(), nullptr);
    EXPECT_EQ(&own->scheduler(), static_cast<Scheduler*>(own->pollLoop().get()));

    auto loop = std::make_shared<PollLoop>();
    auto options = quietOptions("/nonexistent/uinput");
    options.scheduler = loop;
    options.fdWatcher = loop;
    auto injected = makeLinuxPlatform(options);
    EXPECT_EQ(injected->pollLoop(), nullptr);
    EXPECT_EQ(&injected->scheduler(), static_cast<Scheduler*>(loop.get()));
    EXPECT_EQ(&injected->preferences(), options.preferences.get());
}

TEST(LinuxPlatform, BuiltInOutputsAreTheLinuxDesktopOnes) {
    logging::configure(std::make_shared<NullSystemLog>(), std::nullopt);
    auto platform = makeLinuxPlatform(quietOptions("/nonexistent/uinput"));
    const auto search =
        platform->eventPoster().builtInShortcut(OutputBehavior::Kind::openSearchBar);
    ASSERT_TRUE(search.has_value());
    EXPECT_EQ(search->keyCode, 55);
    EXPECT_EQ(search->flags, 0u);
    const auto copy = platform->eventPoster().builtInShortcut(OutputBehavior::Kind::copyOperation);
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(copy->flags, kMaskControl);
}

TEST(LinuxPlatform, HidManagerWithOtherMatchingFindsNothing) {
    logging::configure(std::make_shared<NullSystemLog>(), std::nullopt);
    auto platform = makeLinuxPlatform(quietOptions("/nonexistent/uinput"));
    auto manager = platform->createHidManager();
    ASSERT_NE(manager, nullptr);
    struct Seen {
        int matched = 0;
    } seen;
    manager->setDeviceMatching(1, 2); // mice: never reported here
    manager->registerDeviceMatchingCallback(
        [](void* context, int, const HidDeviceRef&) { ++static_cast<Seen*>(context)->matched; },
        &seen);
    ASSERT_EQ(manager->open(), 0);
    manager->scheduleWithRunLoop();
    platform->pollLoop()->runOnce(std::chrono::milliseconds(0));
    EXPECT_EQ(seen.matched, 0) << "only keyboards (page 1, usage 6) are ever matched";
    manager->unscheduleFromRunLoop();
    manager->close();
}

} // namespace
} // namespace chordwell::platform::lnx
