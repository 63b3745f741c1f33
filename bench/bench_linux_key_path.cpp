// The Linux key path without a kernel: one evdev frame decoded, judged by a
// tap and written to the virtual keyboard (a sink that only counts), and one
// posted key stroke with its modifier pressed around it; then the same with
// the engine in front, as a keyboard's reader runs it: the HID value to the
// engine, the key through the engine's tap, the output posted. Linux only.
#include <benchmark/benchmark.h>

#ifdef __linux__
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/linux/event_pipeline.hpp"
#include "platform/linux/input_context.hpp"
#include "platform/linux/poll_loop.hpp"
#include "platform/linux/usage_decoder.hpp"
#include "platform/memory/memory_ports.hpp"

#include <linux/input-event-codes.h>

#include <filesystem>
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

// ----------------------------------------------- with the engine in front

// A keyboard that is both the engine's HID device and the pipeline's
// grabbable keyboard, fed by hand as the evdev reader would feed it.
class BenchKeyboard final : public HidDevice, public GrabbableKeyboard {
public:
    explicit BenchKeyboard(InputContext& context) : context_(context) {}
    std::optional<std::string> stringProperty(std::string_view key) const override {
        return key == "Product" ? std::optional<std::string>("Bench") : std::nullopt;
    }
    std::optional<std::int64_t> integerProperty(std::string_view key) const override {
        if (key == "VendorID") {
            return 1;
        }
        if (key == "ProductID") {
            return 2;
        }
        return key == "LocationID" ? std::optional<std::int64_t>(3) : std::nullopt;
    }
    bool sameDevice(const HidDevice& other) const override { return &other == this; }
    void registerInputValueCallback(InputValueCallback callback, void* context) override {
        callback_ = callback;
        callbackContext_ = context;
    }
    void scheduleWithRunLoop() override { context_.attach(*this); }
    void unscheduleFromRunLoop() override { context_.detach(*this); }

    EventPipeline::SourceId sourceId() const override { return 1; }
    bool anyKeyDown() const override { return false; }
    bool isKeyDown(std::uint16_t) const override { return false; }
    bool setGrabbed(bool) override { return true; }
    void setLed(std::uint16_t, std::int32_t) override {}
    std::string displayName() const override { return "bench"; }

    /// One evdev frame: its scan code, its key, the report.
    void frame(std::uint16_t code, std::int32_t value, std::int32_t scan) {
        decoder_.feed(EV_MSC, MSC_SCAN, scan);
        if (auto key = decoder_.feed(EV_KEY, code, value)) {
            if (callback_ != nullptr && key->usage) {
                callback_(callbackContext_, *this, HidInputValue{7, *key->usage, key->value});
            }
            context_.handleKey(*this, key->code, key->value);
        }
        decoder_.feed(EV_SYN, SYN_REPORT, 0);
        context_.afterEvents(*this);
    }

private:
    InputContext& context_;
    UsageDecoder decoder_;
    InputValueCallback callback_ = nullptr;
    void* callbackContext_ = nullptr;
};

class BenchManager final : public HidManager {
public:
    explicit BenchManager(std::shared_ptr<BenchKeyboard> keyboard)
        : keyboard_(std::move(keyboard)) {}
    void setDeviceMatching(std::uint32_t, std::uint32_t) override {}
    void registerDeviceMatchingCallback(DeviceCallback callback, void* context) override {
        matched_ = callback;
        context_ = context;
    }
    void registerDeviceRemovalCallback(DeviceCallback, void*) override {}
    int open() override { return 0; }
    void scheduleWithRunLoop() override {
        if (matched_ != nullptr) {
            matched_(context_, 0, keyboard_);
        }
    }
    void unscheduleFromRunLoop() override {}
    void close() override {}

private:
    std::shared_ptr<BenchKeyboard> keyboard_;
    DeviceCallback matched_ = nullptr;
    void* context_ = nullptr;
};

class BenchPlatform final : public Platform {
public:
    BenchPlatform() {
        preferences_.setValue("key_repeat_enabled", false);
        keyboard_ = std::make_shared<BenchKeyboard>(context_);
    }
    Scheduler& scheduler() override { return *loop_; }
    std::unique_ptr<HidManager> createHidManager() override {
        return std::make_unique<BenchManager>(keyboard_);
    }
    std::unique_ptr<EventTap> createKeyboardEventTap(EventTap::Callback callback,
                                                     void* userInfo) override {
        return std::make_unique<LinuxEventTap>(pipeline_, callback, userInfo);
    }
    EventPoster& eventPoster() override { return poster_; }
    Preferences& preferences() override { return preferences_; }
    const Paths& paths() const override { return paths_; }
    SystemLog& systemLog() override { return log_; }

    BenchKeyboard& keyboard() { return *keyboard_; }
    PollLoop& loop() { return *loop_; }
    CountingSink sink;

private:
    std::shared_ptr<PollLoop> loop_ = std::make_shared<PollLoop>();
    std::shared_ptr<EventPipeline> pipeline_ = std::make_shared<EventPipeline>(&sink);
    InputContext context_{loop_, pipeline_};
    LinuxEventPoster poster_{pipeline_};
    MemoryPreferences preferences_;
    FolderPaths paths_;
    NullSystemLog log_;
    std::shared_ptr<BenchKeyboard> keyboard_;
};

struct EngineSetup {
    std::shared_ptr<BenchPlatform> platform = std::make_shared<BenchPlatform>();
    std::unique_ptr<RawKeyboardListener> engine;

    EngineSetup() {
        logging::configure(std::make_shared<NullSystemLog>(), std::nullopt);
        engine = std::make_unique<RawKeyboardListener>(platform,
                                                       std::optional<StorageManager>(std::nullopt));
        platform->loop().runOnce(std::chrono::milliseconds(0));
        const KeyboardDevice device = engine->discoveredKeyboards().at(0);
        DeviceMapping record;
        record.productName = "Bench";
        record.vendorID = 1;
        record.productID = 2;
        KeyMapping copy;
        copy.inputKeyCodes = {0xE0, 0x04};
        copy.outputBehavior = OutputBehavior::copyOperation();
        record.mappings.push_back(copy);
        engine->setAllDeviceMappings({record});
        engine->setSelectedDevice(device);
        toggleInterception(*engine);
    }
};

// An unmapped key (B) pressed and released through the engine and its tap.
void BM_LinuxEngineKeyPass(benchmark::State& state) {
    EngineSetup s;
    BenchKeyboard& keyboard = s.platform->keyboard();
    for (auto _ : state) {
        keyboard.frame(KEY_B, 1, 0x70005);
        keyboard.frame(KEY_B, 0, 0x70005);
    }
    state.SetItemsProcessed(state.iterations() * 2);
    benchmark::DoNotOptimize(s.platform->sink.writes);
}
BENCHMARK(BM_LinuxEngineKeyPass);

// A while Control is held: Control+A mapped to Copy, the output posted.
void BM_LinuxEngineKeyMapped(benchmark::State& state) {
    EngineSetup s;
    BenchKeyboard& keyboard = s.platform->keyboard();
    keyboard.frame(KEY_LEFTCTRL, 1, 0x700E0);
    for (auto _ : state) {
        keyboard.frame(KEY_A, 1, 0x70004);
        keyboard.frame(KEY_A, 0, 0x70004);
    }
    state.SetItemsProcessed(state.iterations() * 2);
    benchmark::DoNotOptimize(s.platform->sink.writes);
}
BENCHMARK(BM_LinuxEngineKeyMapped);

} // namespace

#endif // __linux__

BENCHMARK_MAIN();
