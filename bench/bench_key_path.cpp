// The key-event path: mapping lookup (index against the linear walk) and one
// whole key press through the engine on the simulated platform, with a count
// of heap allocations per key event.
#include "engine/mapping_index.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/sim/sim_world.hpp"

#include "support/allocation_counter.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace chordwell {
namespace {

using platform::sim::SimKeyboard;
using platform::sim::SimWorld;

constexpr std::int64_t kVendor = 0x05AC;
constexpr std::int64_t kProduct = 0x024F;

// `count` mappings of the keyboard's model, each with a distinct two-key set;
// the Control+A mapping to "Copy" comes last, the worst case for the walk.
std::vector<DeviceMapping> makeRecords(int count) {
    DeviceMapping other; // another model first: the walk must skip it
    other.productName = "Other";
    other.vendorID = 1;
    other.productID = 1;
    for (int i = 0; i < 100; ++i) {
        KeyMapping m;
        m.inputKeyCodes = {0xE0, 0x04};
        other.mappings.push_back(m);
    }
    DeviceMapping record;
    record.productName = "Magic Keyboard";
    record.vendorID = kVendor;
    record.productID = kProduct;
    for (int i = 0; i < count - 1; ++i) {
        KeyMapping m;
        m.name = "m" + std::to_string(i);
        m.inputKeyCodes = {static_cast<HidUsage>(0xE1 + i % 3), static_cast<HidUsage>(0x100 + i)};
        m.outputBehavior = OutputBehavior::pasteOperation();
        record.mappings.push_back(m);
    }
    KeyMapping copy;
    copy.name = "Copy";
    copy.inputKeyCodes = {0xE0, 0x04};
    copy.outputBehavior = OutputBehavior::copyOperation();
    record.mappings.push_back(copy);
    return {other, record};
}

// The engine intercepting one keyboard with `count` mappings, Control held.
struct Rig {
    explicit Rig(int count) {
        logging::configure(std::make_shared<platform::NullSystemLog>(), std::nullopt);
        world = std::make_shared<SimWorld>();
        world->setAppEventLimit(0);
        world->setRunMainQueueAfterSteps(false);
        platform::sim::SimKeyboardProperties properties;
        properties.product = "Magic Keyboard";
        properties.vendorID = kVendor;
        properties.productID = kProduct;
        properties.locationID = 1;
        keyboard = world->attachKeyboard(properties);
        engine = std::make_unique<RawKeyboardListener>(world);
        world->runMainQueue();
        engine->setAllDeviceMappings(makeRecords(count));
        engine->setSelectedDevice(engine->discoveredKeyboards().at(0));
        toggleInterception(*engine);
        world->keyDown(*keyboard, 0xE0);
    }

    std::shared_ptr<SimWorld> world;
    std::shared_ptr<SimKeyboard> keyboard;
    std::unique_ptr<RawKeyboardListener> engine;
};

const std::vector<HidUsage> kHeld = {0x04, 0xE0};

void BM_FindMappingIndexed(benchmark::State& state) {
    Rig rig(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(rig.engine->findMapping(kHeld));
    }
}

void BM_FindMappingLinear(benchmark::State& state) {
    const auto records = makeRecords(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(findMappingLinear(records, kProduct, kVendor, kHeld));
    }
}

// One whole key press of A while Control is held: the HID value, the match,
// the posted C with Command through the tap to the application, the repeat
// armed, the system's own A swallowed; then the key-up, which stops the
// repeat. Reports heap allocations per key event (down and up are two).
void BM_KeyPress(benchmark::State& state) {
    Rig rig(static_cast<int>(state.range(0)));
    for (int i = 0; i < 100; ++i) { // warm up: buffers reach their size
        rig.world->keyDown(*rig.keyboard, 0x04);
        rig.world->keyUp(*rig.keyboard, 0x04);
    }
    testsupport::AllocationCounter counter;
    const std::size_t postedBefore = rig.world->postedEventCount();
    for (auto _ : state) {
        rig.world->keyDown(*rig.keyboard, 0x04);
        rig.world->keyUp(*rig.keyboard, 0x04);
    }
    const auto allocations = static_cast<double>(counter.stop());
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["allocs_per_key_event"] = allocations / (2 * iterations);
    state.counters["posted_per_press"] =
        static_cast<double>(rig.world->postedEventCount() - postedBefore) / iterations;
}

// The same key press with observers of both announcement kinds, as the
// application subscribes them: each only notes what changed.
void BM_KeyPressObserved(benchmark::State& state) {
    Rig rig(static_cast<int>(state.range(0)));
    std::size_t coarse = 0;
    EngineChanges seen;
    auto willChange = rig.engine->subscribeWillChange([&] { ++coarse; });
    auto changes = rig.engine->subscribeChanges([&](const EngineChanges& c) { seen |= c; });
    for (int i = 0; i < 100; ++i) {
        rig.world->keyDown(*rig.keyboard, 0x04);
        rig.world->keyUp(*rig.keyboard, 0x04);
    }
    testsupport::AllocationCounter counter;
    for (auto _ : state) {
        rig.world->keyDown(*rig.keyboard, 0x04);
        rig.world->keyUp(*rig.keyboard, 0x04);
    }
    const auto allocations = static_cast<double>(counter.stop());
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["allocs_per_key_event"] = allocations / (2 * iterations);
    state.counters["announcements_per_press"] = static_cast<double>(coarse) / (iterations + 100);
    benchmark::DoNotOptimize(seen);
}

} // namespace
} // namespace chordwell

BENCHMARK(chordwell::BM_FindMappingIndexed)->Arg(10)->Arg(1000)->Arg(10000);
BENCHMARK(chordwell::BM_FindMappingLinear)->Arg(10)->Arg(1000)->Arg(10000);
BENCHMARK(chordwell::BM_KeyPress)->Arg(10)->Arg(10000)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(chordwell::BM_KeyPressObserved)
    ->Arg(10)
    ->Arg(10000)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
