// What the engine says changed: each step of a session announces exactly the
// kinds of state it touches, and the key path allocates nothing to say so.
#include "engine_fixture.hpp"

#include "support/allocation_counter.hpp"

#include <functional>

namespace chordwell::testing {
namespace {

/// Records every fine announcement and checks that each one comes right after
/// a coarse one, as the header promises.
class ChangeLog {
public:
    explicit ChangeLog(RawKeyboardListener& engine)
        : coarse_(engine.subscribeWillChange([this] { ++coarseCount_; })),
          fine_(engine.subscribeChanges([this](const EngineChanges& c) {
              EXPECT_EQ(coarseCount_, fineCount_ + 1) << "fine announcement without coarse";
              ++fineCount_;
              seen_ |= c;
          })) {}

    /// The union since the last take, and starts afresh.
    EngineChanges take() {
        EXPECT_EQ(coarseCount_, fineCount_) << "coarse announcement without fine";
        return std::exchange(seen_, EngineChanges{});
    }

private:
    std::size_t coarseCount_ = 0;
    std::size_t fineCount_ = 0;
    EngineChanges seen_;
    Subscription coarse_;
    Subscription fine_;
};

constexpr KeyboardModelId kModel{kProduct, kVendor};

} // namespace

// Readable failures: the kinds as bits, and the model of a records change.
void PrintTo(const EngineChanges& c, std::ostream* os) {
    *os << "bits 0x" << std::hex << c.bits() << std::dec;
    if (c.recordsModel()) {
        *os << " records of " << c.recordsModel()->productID << "/" << c.recordsModel()->vendorID;
    }
}

namespace {

TEST_F(EngineTest, EachStepAnnouncesWhatItChanges) {
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation(), "copy")});
    auto& e = engine();
    ChangeLog changes(e);
    std::shared_ptr<SimKeyboard> kb;

    using C = EngineChange;
    const EngineChanges ofModel = EngineChanges::recordsOf(kModel);
    // A fresh blocker starts with empty recording lists.
    const EngineChanges listening =
        C::interception | C::tapBlocker | C::capture | EngineChanges(C::tapSignatures);
    struct Step {
        const char* what;
        std::function<void()> run;
        EngineChanges expected;
    };
    const std::vector<Step> steps = {
        {"attach",
         [&] {
             kb = attach();
             world_->runMainQueue();
         },
         C::discoveredKeyboards},
        {"select", [&] { e.setSelectedDevice(listed(kb)); }, C::selection},
        {"load", [&] { e.loadMappings(listed(kb)); }, ofModel},
        {"replace all", [&] { e.setAllDeviceMappings(e.allDeviceMappings()); }, C::records},
        {"change by the interface",
         [&] { e.mutateAllDeviceMappings([](std::vector<DeviceMapping>&) {}); }, C::records},
        {"change one model",
         [&] {
             e.mutateRecordsOfModel(kModel, [](std::vector<DeviceMapping>& r) {
                 r.at(0).mappings = {
                     makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation(), "copy")};
             });
         },
         ofModel},
        {"intercept", [&] { toggleInterception(e); }, listening},
        {"control down", [&] { world_->keyDown(*kb, 0xE0); }, C::heldKeys | C::capture},
        // The match registers a pass-through; the tap records the signatures
        // of the captured keys.
        {"A down", [&] { world_->keyDown(*kb, 0x04); },
         C::heldKeys | C::capture | C::passThroughs | EngineChanges(C::tapSignatures)},
        {"repeat", [&] { world_->advance(milliseconds(500)); }, C::passThroughs},
        {"A up", [&] { world_->keyUp(*kb, 0x04); }, C::heldKeys},
        {"unmapped tap", [&] { tap(*kb, 0x05); },
         C::heldKeys | C::capture | EngineChanges(C::tapSignatures)},
        {"edit, first half",
         [&] {
             KeyMapping changed = e.allDeviceMappings().at(0).mappings.at(0);
             changed.name = "edited";
             e.editMapping(listed(kb), e.allDeviceMappings().at(0), changed);
         },
         ofModel},
        {"edit, second half", [&] { world_->advance(RawKeyboardListener::kEditRestoreDelay); },
         ofModel},
        {"delete",
         [&] {
             const DeviceMapping& r = e.allDeviceMappings().at(0);
             e.deleteMapping(listed(kb), r.id, r.mappings.at(0));
         },
         ofModel},
        {"clear", [&] { e.clearAllMappings(listed(kb), e.allDeviceMappings().at(0).id); }, ofModel},
        {"stop intercepting", [&] { toggleInterception(e); },
         C::interception | C::tapBlocker | C::capture | EngineChanges(C::heldKeys)},
        {"record",
         [&] {
             e.setIsForceBlockTap(true);
             e.startListening(listed(kb));
         },
         listening},
        {"recorded key", [&] { world_->keyDown(*kb, 0x06); },
         C::capture | EngineChanges(C::tapSignatures)},
        // Unplugging the listened keyboard ends the listening period (a
        // recording: interception was off and stays off).
        {"unplug",
         [&] {
             world_->detachKeyboard(kb);
             world_->runMainQueue();
         },
         C::discoveredKeyboards | C::tapBlocker | C::capture | EngineChanges(C::heldKeys)},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.run();
        EXPECT_EQ(changes.take(), step.expected);
    }
}

TEST(EngineChanges, UnionKeepsTheModelOnlyWhenAllRecordChangesNameIt) {
    const KeyboardModelId other{1, 2};
    const EngineChanges ofModel = EngineChanges::recordsOf(kModel);
    const EngineChanges ofOther = EngineChanges::recordsOf(other);
    const EngineChanges held(EngineChange::heldKeys);
    const EngineChanges all(EngineChange::records);
    struct Case {
        EngineChanges a, b;
        std::optional<KeyboardModelId> model;
        bool touchesModel, touchesOther;
    };
    const Case cases[] = {
        {ofModel, ofModel, kModel, true, false},  {ofModel, held, kModel, true, false},
        {held, ofModel, kModel, true, false},     {ofModel, ofOther, std::nullopt, true, true},
        {ofModel, all, std::nullopt, true, true}, {all, ofModel, std::nullopt, true, true},
        {held, held, std::nullopt, false, false},
    };
    for (const Case& c : cases) {
        const EngineChanges u = c.a | c.b;
        EXPECT_EQ(u.recordsModel(), c.model);
        EXPECT_EQ(u.touchesRecordsOf(kModel), c.touchesModel);
        EXPECT_EQ(u.touchesRecordsOf(other), c.touchesOther);
        EXPECT_EQ(u.contains(EngineChange::heldKeys),
                  c.a.contains(EngineChange::heldKeys) || c.b.contains(EngineChange::heldKeys));
    }
}

TEST(ValueSignal, ObserversAfterANestedEmissionStillSeeTheOuterValue) {
    ValueSignal<int> signal;
    std::vector<std::pair<int, int>> seen; // (observer, value)
    auto first = signal.subscribe([&](const int& v) {
        seen.emplace_back(1, v);
        if (v == 1) {
            signal.emit(2);
        }
    });
    auto second = signal.subscribe([&](const int& v) { seen.emplace_back(2, v); });
    signal.emit(1);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 2}, {2, 1}}));
}

TEST_F(EngineTest, AnnouncingOnTheKeyPathAllocatesNothing) {
    addRecord({makeMapping({0xE0, 0x04}, OutputBehavior::copyOperation())});
    world_->setAppEventLimit(0);
    auto kb = attach();
    intercept(listed(kb));
    auto& e = engine();
    EngineChanges seen;
    auto subscription = e.subscribeChanges([&](const EngineChanges& c) { seen |= c; });
    world_->keyDown(*kb, 0xE0);
    for (int i = 0; i < 50; ++i) { // buffers reach their size
        tap(*kb, 0x04);
    }
    seen = {};
    testsupport::AllocationCounter counter;
    for (int i = 0; i < 100; ++i) {
        tap(*kb, 0x04);
    }
    EXPECT_EQ(counter.stop(), 0u);
    EXPECT_TRUE(seen.contains(EngineChange::heldKeys));
    EXPECT_TRUE(seen.contains(EngineChange::passThroughs));
}

} // namespace
} // namespace chordwell::testing
