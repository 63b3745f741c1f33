// The Linux key path without a kernel: one evdev frame decoded, judged by a
// tap and written to the virtual keyboard (a sink that only counts), and one
// posted key stroke with its modifier pressed around it. Linux only.
#include <benchmark/benchmark.h>

#ifdef __linux__
#include "platform/linux/input_context.hpp"
#include "platform/linux/poll_loop.hpp"
#include "platform/linux/usage_decoder.hpp"

#include <linux/input-event-codes.h>

#include <memory>

namespace {

using namespace chordwell;
using namespace chordwell::platform;
using namespace chordwell::platform::lnx;

class CountingSink : public KeySink {
public:
    bool writeKey(std::uint16_t, std::int32_t) override {
        ++writes;
        return true;
    }
    std::int64_t writes = 0;
};

class StillKeyboard : public GrabbableKeyboard {
public:
    EventPipeline::SourceId sourceId() const override { return 1; }
    bool anyKeyDown() const override { return false; }
    bool isKeyDown(std::uint16_t) const override { return false; }
    bool setGrabbed(bool) override { return true; }
    void setLed(std::uint16_t, std::int32_t) override {}
    std::string displayName() const override { return "bench"; }
};

TapDecision passAll(void*, const KeyEvent&) {
    return TapDecision::pass;
}

struct Setup {
    CountingSink sink;
    std::shared_ptr<EventPipeline> pipeline = std::make_shared<EventPipeline>(&sink);
    std::shared_ptr<PollLoop> loop = std::make_shared<PollLoop>();
    InputContext context{loop, pipeline};
    StillKeyboard keyboard;
    LinuxEventTap tap{pipeline, &passAll, nullptr};
    UsageDecoder decoder;

    Setup() {
        context.attach(keyboard);
        tap.addToRunLoop();
        tap.enable(true);
    }
    void frame(std::uint16_t code, std::int32_t value, std::int32_t scan) {
        decoder.feed(EV_MSC, MSC_SCAN, scan);
        if (auto key = decoder.feed(EV_KEY, code, value)) {
            context.handleKey(keyboard, key->code, key->value);
        }
        decoder.feed(EV_SYN, SYN_REPORT, 0);
    }
};

// One key pressed and released: two frames through decoder, tap and sink.
void BM_LinuxPhysicalKeyPress(benchmark::State& state) {
    Setup s;
    for (auto _ : state) {
        s.frame(KEY_A, 1, 0x70004);
        s.frame(KEY_A, 0, 0x70004);
    }
    state.SetItemsProcessed(state.iterations() * 2);
    benchmark::DoNotOptimize(s.sink.writes);
}
BENCHMARK(BM_LinuxPhysicalKeyPress);

// Control+C posted by a mapping: the taps see two events, the virtual
// keyboard gets Control down, C down, C up, Control up.
void BM_LinuxPostedKeyStroke(benchmark::State& state) {
    Setup s;
    for (auto _ : state) {
        s.pipeline->postKey(8, kMaskControl, true);
        s.pipeline->postKey(8, kMaskControl, false);
    }
    state.SetItemsProcessed(state.iterations());
    benchmark::DoNotOptimize(s.sink.writes);
}
BENCHMARK(BM_LinuxPostedKeyStroke);

} // namespace

#endif // __linux__

BENCHMARK_MAIN();
