// The key path (evdev event in, tap decision, key written) must not touch the
// heap once running: this binary counts every operator new while a test asks.
#include "logging/log.hpp"
#include "platform/linux/input_context.hpp"
#include "platform/linux/poll_loop.hpp"
#include "platform/linux/usage_decoder.hpp"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include "support/allocation_counter.hpp"

#include <chrono>
#include <memory>

namespace chordwell::platform::lnx {
namespace {

class NullSink : public KeySink {
public:
    bool writeKey(std::uint16_t, std::int32_t) override {
        ++writes;
        return true;
    }
    long writes = 0;
};

class StillKeyboard : public GrabbableKeyboard {
public:
    EventPipeline::SourceId sourceId() const override { return 1; }
    bool anyKeyDown() const override { return false; }
    bool isKeyDown(std::uint16_t) const override { return false; }
    bool setGrabbed(bool) override { return true; }
    void setLed(std::uint16_t, std::int32_t) override {}
    std::string displayName() const override { return "still"; }
};

// Swallows key-downs of A while Control is held, like a blocker with a
// matching mapping.
TapDecision blockControlA(void*, const KeyEvent& event) {
    return event.type == EventType::keyDown && event.keyCode == 0 &&
                   (event.flags & kMaskControl) != 0
               ? TapDecision::swallow
               : TapDecision::pass;
}

struct Frame {
    std::uint16_t type;
    std::uint16_t code;
    std::int32_t value;
};

TEST(KeyPath, SteadyStateAllocatesNothing) {
    // The counter itself works.
    {
        testsupport::AllocationCounter counter;
        static std::unique_ptr<int> probe; // kept, so the allocation cannot be elided
        probe = std::make_unique<int>(1);
        ASSERT_EQ(counter.stop(), 1u);
    }

    NullSink sink;
    auto pipeline = std::make_shared<EventPipeline>(&sink);
    auto loop = std::make_shared<PollLoop>();
    InputContext context(loop, pipeline);
    StillKeyboard keyboard;
    context.attach(keyboard);
    LinuxEventTap tap(pipeline, &blockControlA, nullptr);
    tap.addToRunLoop();
    tap.enable(true);
    ASSERT_TRUE(context.isGrabbed(keyboard));
    UsageDecoder decoder;

    const Frame frames[] = {
        {EV_MSC, MSC_SCAN, 0x700e0}, {EV_KEY, KEY_LEFTCTRL, 1}, {EV_SYN, SYN_REPORT, 0},
        {EV_MSC, MSC_SCAN, 0x70004}, {EV_KEY, KEY_A, 1},        {EV_SYN, SYN_REPORT, 0},
        {EV_KEY, KEY_A, 2},          {EV_SYN, SYN_REPORT, 0},   {EV_MSC, MSC_SCAN, 0x70004},
        {EV_KEY, KEY_A, 0},          {EV_SYN, SYN_REPORT, 0},   {EV_MSC, MSC_SCAN, 0x700e0},
        {EV_KEY, KEY_LEFTCTRL, 0},   {EV_SYN, SYN_REPORT, 0},   {EV_KEY, KEY_B, 1},
        {EV_KEY, KEY_B, 0},          {EV_SYN, SYN_REPORT, 0},
    };
    const auto run = [&] {
        for (const Frame& f : frames) {
            if (auto key = decoder.feed(f.type, f.code, f.value)) {
                context.handleKey(keyboard, key->code, key->value);
            }
        }
        context.afterEvents(keyboard);
        // What a mapping's output posts.
        pipeline->postKey(8, kMaskControl, true);
        pipeline->postKey(8, kMaskControl, false);
    };
    run(); // warm-up
    // The grab above was logged; the log file's writer thread formats and
    // writes that line on its own time, and its allocations are not the key
    // path's. Let it finish before counting.
    logging::flush();
    testsupport::AllocationCounter counter;
    for (int i = 0; i < 100; ++i) {
        run();
    }
    EXPECT_EQ(counter.stop(), 0u);
    EXPECT_GT(sink.writes, 0);
    EXPECT_FALSE(pipeline->anyVirtualKeyDown());
}

// The loop that serves the key path: a descriptor becoming readable, its
// callback run, and a key repeat armed and cancelled (what a mapped key press
// does), turn after turn.
TEST(KeyPath, LoopTurnsWithKeyRepeatAllocateNothing) {
    PollLoop loop;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int fired = 0;
    int served = 0;
    const FdWatcher::WatchId watch = loop.watchReadable(fds[0], [&] {
        char c = 0;
        if (::read(fds[0], &c, 1) == 1) {
            ++served;
        }
        // Two words of closure, as the engine's repeat has.
        const auto id = loop.scheduleRepeating(std::chrono::hours(1), std::chrono::hours(1),
                                               [&fired, c] { fired += c; });
        loop.cancel(id);
    });
    const auto turn = [&] {
        ASSERT_EQ(::write(fds[1], "k", 1), 1);
        loop.runOnce(std::chrono::milliseconds(1000));
    };
    turn(); // warm-up: the timer's slot is made once
    testsupport::AllocationCounter counter;
    for (int i = 0; i < 100; ++i) {
        turn();
    }
    EXPECT_EQ(counter.stop(), 0u);
    EXPECT_EQ(served, 101);
    EXPECT_EQ(fired, 0);
    loop.unwatch(watch);
    ::close(fds[0]);
    ::close(fds[1]);
}

} // namespace
} // namespace chordwell::platform::lnx
