// The key path on a thread of its own (ports/key_path.hpp): the loop that
// runs it, the bells that reach the main thread, and the engine on the
// simulated world driven from that thread while the main thread changes
// records, selection and interception.
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/linux/key_loop.hpp"
#include "platform/linux/poll_loop.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/sim/sim_world.hpp"

#include "support/key_path_sim_platform.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

namespace chordwell {
namespace {

using platform::lnx::KeyLoop;
using platform::lnx::PollLoop;
using platform::sim::SimKeyboard;
using platform::sim::SimWorld;
using std::chrono::milliseconds;

// Turns `loop` until `done`; false when that takes absurdly long (a fault,
// not a slow machine: nothing here waits for time to pass).
bool turnUntil(PollLoop& loop, const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        loop.runOnce(milliseconds(5));
    }
    return true;
}

TEST(KeyLoop, RunsItsTurnsWithTheLockHeldAndFollowsChangesMadeFromOutside) {
    auto main = std::make_shared<PollLoop>();
    KeyLoop own(std::static_pointer_cast<platform::FdWatcher>(main));
    own.start();

    // Work handed over from another thread runs on the key loop's thread,
    // holding the lock, and marked as the key path's.
    std::atomic<bool> ran{false};
    std::atomic<bool> onKeyThread{false};
    std::atomic<bool> lockHeld{false};
    std::thread::id loopThread;
    own.loop()->postToMain([&] {
        loopThread = std::this_thread::get_id();
        onKeyThread = own.isKeyPathThread();
        // A recursive lock held by this thread is taken again; a failure to
        // take it from another thread shows that it is held.
        std::thread probe([&] { lockHeld = !own.mutex().try_lock(); });
        probe.join();
        ran = true;
    });
    ASSERT_TRUE(turnUntil(*main, [&] { return ran.load(); }));
    EXPECT_TRUE(onKeyThread);
    EXPECT_TRUE(lockHeld);
    EXPECT_NE(loopThread, std::this_thread::get_id());
    EXPECT_FALSE(own.isKeyPathThread());

    // A timer armed from the main thread (holding the lock, as the engine
    // does) while the loop waits with no deadline wakes it.
    std::atomic<int> fired{0};
    {
        const std::lock_guard<std::recursive_mutex> guard(own.mutex());
        own.scheduler().scheduleOnce(platform::Scheduler::Duration::zero(), [&] { ++fired; });
    }
    ASSERT_TRUE(turnUntil(*main, [&] { return fired.load() == 1; }));

    // A descriptor watched from outside is served by the loop.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::atomic<int> reads{0};
    platform::FdWatcher::WatchId watch = 0;
    {
        const std::lock_guard<std::recursive_mutex> guard(own.mutex());
        watch = own.loop()->watchReadable(fds[0], [&] {
            char c = 0;
            if (::read(fds[0], &c, 1) == 1) {
                ++reads;
            }
        });
    }
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    ASSERT_TRUE(turnUntil(*main, [&] { return reads.load() == 1; }));
    {
        const std::lock_guard<std::recursive_mutex> guard(own.mutex());
        own.loop()->unwatch(watch);
    }
    own.stop();
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(KeyLoop, BellsRingTheMainThreadOnceAKeyPathThreadIsDone) {
    auto main = std::make_shared<PollLoop>();
    KeyLoop keys(std::static_pointer_cast<platform::FdWatcher>(main));
    int routines = 0;
    std::thread::id routineThread;
    auto bell = keys.makeMainThreadBell([&] {
        ++routines;
        routineThread = std::this_thread::get_id();
    });

    // Rung off the key path: at once.
    bell->ring();
    bell->ring();
    ASSERT_TRUE(turnUntil(*main, [&] { return routines == 1; })) << "two rings before it ran: one";
    EXPECT_EQ(routineThread, std::this_thread::get_id());

    // Rung on a key-path thread: held until the thread is done with its
    // work, so that the system call never comes before a key's output.
    std::atomic<bool> rung{false};
    std::atomic<bool> release{false};
    std::thread worker([&] {
        KeyLoop::markKeyPathThread();
        bell->ring();
        rung = true;
        while (!release) {
            std::this_thread::yield();
        }
        KeyLoop::ringBells();
    });
    while (!rung) {
        std::this_thread::yield();
    }
    for (int turn = 0; turn < 5; ++turn) {
        main->runOnce(milliseconds(1));
    }
    EXPECT_EQ(routines, 1) << "a held ring does not reach the main thread";
    release = true;
    worker.join();
    ASSERT_TRUE(turnUntil(*main, [&] { return routines == 2; }));

    // A bell that goes while a ring is held lets nothing dangle.
    std::thread late([&] {
        KeyLoop::markKeyPathThread();
        bell->ring();
        bell.reset();
        KeyLoop::ringBells();
    });
    late.join();
    main->runOnce(milliseconds(1));
    EXPECT_EQ(routines, 2);
}

// ------------------------------------------------------- the engine on it

constexpr std::int64_t kVendor = 0x05AC;
constexpr std::int64_t kProduct = 0x024F;

KeyMapping mapping(std::vector<HidUsage> keys, OutputBehavior behavior) {
    KeyMapping m;
    m.name = "m";
    m.inputKeyCodes = std::move(keys);
    m.outputBehavior = std::move(behavior);
    return m;
}

DeviceMapping records() {
    DeviceMapping record;
    record.productName = "Magic Keyboard";
    record.vendorID = kVendor;
    record.productID = kProduct;
    record.mappings = {
        mapping({0xE0, 0x04}, OutputBehavior::copyOperation()),
        mapping({0xE1, 0x05}, OutputBehavior::customKeySequence(
                                  "s", {MacKeySignature{7, kMaskShift}, MacKeySignature{8, 0}})),
        mapping({0x06}, OutputBehavior::none()),
    };
    return record;
}

platform::sim::SimKeyboardProperties magicKeyboard() {
    platform::sim::SimKeyboardProperties p;
    p.product = "Magic Keyboard";
    p.vendorID = kVendor;
    p.productID = kProduct;
    p.locationID = 1;
    return p;
}

struct Step {
    HidUsage usage;
    bool down;
};

// Random presses and releases of a few keys (modifiers among them), each
// key pressed only while up; everything released at the end.
std::vector<Step> randomScript(std::uint32_t seed, int steps) {
    static constexpr HidUsage kKeys[] = {0xE0, 0xE1, 0x04, 0x05, 0x06, 0x07};
    std::mt19937 random(seed);
    std::vector<Step> script;
    std::vector<HidUsage> held;
    for (int i = 0; i < steps; ++i) {
        const HidUsage key = kKeys[random() % std::size(kKeys)];
        const auto at = std::find(held.begin(), held.end(), key);
        const bool down = at == held.end();
        if (down) {
            held.push_back(key);
        } else {
            held.erase(at);
        }
        script.push_back({key, down});
    }
    while (!held.empty()) {
        script.push_back({held.back(), false});
        held.pop_back();
    }
    return script;
}

struct AppKey {
    platform::EventType type;
    std::int64_t keyCode;
    EventFlags flags;
    bool synthetic;
    friend bool operator==(const AppKey&, const AppKey&) = default;
};

// How the simulated world delivers: posted events at once or on a later
// turn, and which of a key's two events comes first.
struct Mode {
    platform::sim::PostingMode posting = platform::sim::PostingMode::sync;
    platform::sim::DeliveryOrder order = platform::sim::DeliveryOrder::hidFirst;
    std::uint64_t seed = 0;
};

struct Outcome {
    std::vector<std::uint32_t> announced; // kinds, in the order observers heard them
    std::vector<std::uint32_t> heldOnly;  // what an observer of held keys only heard
    std::vector<AppKey> application;      // what reached the focused application
    bool allOnMainThread = true;
};

std::vector<AppKey> appKeys(const SimWorld& world) {
    std::vector<AppKey> keys;
    for (const auto& e : world.appEvents()) {
        keys.push_back({e.type, e.keyCode, e.flags, e.synthetic});
    }
    return keys;
}

class KeyPathEngine : public ::testing::Test {
protected:
    void SetUp() override {
        logging::configure(std::make_shared<platform::NullSystemLog>(), std::nullopt);
        folder_ = std::filesystem::temp_directory_path() /
                  ("chordwell-key-path-test-" + Uuid::random().toString());
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    static void intercept(RawKeyboardListener& engine, const KeyboardDevice& device) {
        engine.setAllDeviceMappings({records()});
        engine.setSelectedDevice(device);
        engine.setIsIntercepting(true);
        engine.startListening(device);
    }

    // The script typed with everything on one thread.
    Outcome onOneThread(const std::vector<Step>& script, const Mode& mode = {}) {
        auto world = std::make_shared<SimWorld>(folder_ / "one");
        world->memoryPreferences().setValue("key_repeat_enabled", false);
        world->setPostingMode(mode.posting);
        world->setDeliveryOrder(mode.order, mode.seed);
        // The key path's world runs on a real clock, where a key's second
        // event comes at the end of the command's turn: the same here.
        world->setRunLoopTurns(false);
        auto keyboard = world->attachKeyboard(magicKeyboard());
        RawKeyboardListener engine(world, folder_ / "one-mappings");
        world->runMainQueue();
        intercept(engine, engine.discoveredKeyboards().at(0));
        Outcome outcome;
        world->clearAppEvents();
        const auto subscription = engine.subscribeChanges(
            [&](const EngineChanges& what) { outcome.announced.push_back(what.bits()); });
        for (const Step& step : script) {
            step.down ? world->keyDown(*keyboard, step.usage) : world->keyUp(*keyboard, step.usage);
        }
        outcome.application = appKeys(*world);
        return outcome;
    }

    // The same script typed on the key path's thread, the observers on the
    // main thread's loop: `batch` keys at a time, each batch in one turn of
    // the key loop (as one read(2) may bring several).
    Outcome onKeyPathThread(const std::vector<Step>& script, std::size_t batch,
                            const Mode& mode = {}) {
        auto main = std::make_shared<PollLoop>();
        auto platform = std::make_shared<testsupport::KeyPathSimPlatform>(
            main, main, std::optional(folder_ / "threads"));
        std::shared_ptr<SimKeyboard> keyboard;
        {
            const std::lock_guard<std::recursive_mutex> guard(platform->keyLoop().mutex());
            platform->world().memoryPreferences().setValue("key_repeat_enabled", false);
            platform->world().setPostingMode(mode.posting);
            platform->world().setDeliveryOrder(mode.order, mode.seed);
            keyboard = platform->world().attachKeyboard(magicKeyboard());
        }
        Outcome outcome;
        {
            RawKeyboardListener engine(platform, folder_ / "threads-mappings");
            EXPECT_TRUE(turnUntil(*main, [&] { return engine.discoveredKeyboards().size() == 1; }));
            intercept(engine, engine.discoveredKeyboards().at(0));
            {
                const auto guard = engine.lock();
                platform->world().clearAppEvents();
            }
            const std::thread::id mainThread = std::this_thread::get_id();
            const auto subscription = engine.subscribeChanges([&](const EngineChanges& what) {
                outcome.announced.push_back(what.bits());
                outcome.allOnMainThread =
                    outcome.allOnMainThread && std::this_thread::get_id() == mainThread;
            });
            const auto heldOnly = engine.subscribeChanges(
                [&](const EngineChanges& what) { outcome.heldOnly.push_back(what.bits()); },
                EngineChange::heldKeys);
            for (std::size_t first = 0; first < script.size(); first += batch) {
                std::atomic<bool> typed{false};
                platform->run([&, first] {
                    for (std::size_t i = first; i < std::min(script.size(), first + batch); ++i) {
                        const Step& step = script[i];
                        step.down ? platform->world().keyDown(*keyboard, step.usage)
                                  : platform->world().keyUp(*keyboard, step.usage);
                    }
                    typed = true;
                });
                EXPECT_TRUE(turnUntil(*main, [&] { return typed.load(); }));
            }
            // Posted events still on their way come back before a task
            // posted after them (and may post more).
            for (bool drained = false; !drained;) {
                std::atomic<bool> ran{false};
                platform->run([&] {
                    drained = platform->world().pendingPostedEventCount() == 0;
                    ran = true;
                });
                if (!turnUntil(*main, [&] { return ran.load(); })) {
                    ADD_FAILURE() << "the key loop does not turn";
                    break;
                }
            }
            // A change of the main thread's is told after every change the
            // key path made before it; it is left out of what is compared.
            const std::size_t before = outcome.announced.size();
            engine.setSelectedDevice(engine.selectedDevice());
            EXPECT_GE(outcome.announced.size(), before + 1);
            EXPECT_EQ(outcome.announced.back(),
                      static_cast<std::uint32_t>(EngineChange::selection));
            outcome.announced.pop_back();
            const auto guard = engine.lock();
            outcome.application = appKeys(platform->world());
        }
        return outcome;
    }

    std::filesystem::path folder_;
};

// Whatever thread the key path runs on, the application gets the same keys
// and the observers hear the same changes in the same order, on the main
// thread.
// In every mode of the world: a posted event that comes back on a later turn
// does so on a later turn of the key path's loop, so those modes type one
// key per turn, as the single thread's world drains its queue after each.
TEST_F(KeyPathEngine, ObserversHearTheSameChangesInTheSameOrder) {
    using platform::sim::DeliveryOrder;
    using platform::sim::PostingMode;
    std::uint32_t seed = 0;
    for (const PostingMode posting : {PostingMode::sync, PostingMode::async}) {
        for (const DeliveryOrder order :
             {DeliveryOrder::hidFirst, DeliveryOrder::tapFirst, DeliveryOrder::random}) {
            ++seed;
            const Mode mode{posting, order, seed};
            const std::vector<Step> script = randomScript(seed, 300);
            const std::size_t batch = posting == PostingMode::sync ? 1 + seed % 4 : 1;
            const Outcome one = onOneThread(script, mode);
            const Outcome threads = onKeyPathThread(script, batch, mode);
            EXPECT_TRUE(threads.allOnMainThread) << "seed " << seed;
            EXPECT_EQ(threads.announced, one.announced) << "seed " << seed;
            EXPECT_EQ(threads.application, one.application) << "seed " << seed;
            EXPECT_FALSE(one.application.empty());
            // An observer with an interest hears exactly those of the others'.
            std::vector<std::uint32_t> held;
            std::copy_if(threads.announced.begin(), threads.announced.end(),
                         std::back_inserter(held), [](std::uint32_t bits) {
                             return (bits & static_cast<std::uint32_t>(EngineChange::heldKeys)) !=
                                    0;
                         });
            EXPECT_EQ(threads.heldOnly, held) << "seed " << seed;
            EXPECT_FALSE(held.empty());
        }
    }
}

// More changes in one turn of the key path than the queue holds: the first
// ones keep their order and the rest arrive united in the last entry, so a
// view that unites what a turn brought sees the same.
TEST_F(KeyPathEngine, ABurstBeyondTheQueueArrivesUnitedAtTheEnd) {
    const std::vector<Step> script = randomScript(11, 400);
    const Outcome one = onOneThread(script);
    const Outcome threads = onKeyPathThread(script, script.size());
    ASSERT_GT(one.announced.size(), threads.announced.size());
    ASSERT_FALSE(threads.announced.empty());
    const std::size_t kept = threads.announced.size() - 1;
    EXPECT_TRUE(std::equal(threads.announced.begin(), threads.announced.begin() + kept,
                           one.announced.begin()));
    std::uint32_t rest = 0;
    for (std::size_t i = kept; i < one.announced.size(); ++i) {
        rest |= one.announced[i];
    }
    EXPECT_EQ(threads.announced.back(), rest);
    EXPECT_EQ(threads.application, one.application);
}

// The main thread changes records, selection and interception at random
// while keys are typed on the key path's thread; afterwards nothing is held
// and every announcement came on the main thread.
TEST_F(KeyPathEngine, MainThreadChangesWhileKeysAreTyped) {
    auto main = std::make_shared<PollLoop>();
    auto platform = std::make_shared<testsupport::KeyPathSimPlatform>(
        main, main, std::optional(folder_ / "stress"));
    std::shared_ptr<SimKeyboard> keyboard;
    {
        const std::lock_guard<std::recursive_mutex> guard(platform->keyLoop().mutex());
        keyboard = platform->world().attachKeyboard(magicKeyboard());
    }
    RawKeyboardListener engine(platform, folder_ / "stress-mappings");
    ASSERT_TRUE(turnUntil(*main, [&] { return engine.discoveredKeyboards().size() == 1; }));
    const KeyboardDevice device = engine.discoveredKeyboards().at(0);
    intercept(engine, device);
    const std::thread::id mainThread = std::this_thread::get_id();
    std::atomic<int> offMain{0};
    int heard = 0;
    const auto subscription = engine.subscribeChanges([&](const EngineChanges&) {
        ++heard;
        if (std::this_thread::get_id() != mainThread) {
            ++offMain;
        }
    });

    const std::vector<Step> script = randomScript(99, 4000);
    std::atomic<std::size_t> typed{0};
    // One key per turn of the key loop, each turn handing on the next, so
    // that the main thread's changes fall between them.
    std::function<void()> typeNext = [&] {
        const Step& step = script[typed.load()];
        step.down ? platform->world().keyDown(*keyboard, step.usage)
                  : platform->world().keyUp(*keyboard, step.usage);
        if (++typed < script.size()) {
            platform->run(typeNext);
        }
    };
    platform->run(typeNext);
    std::mt19937 random(7);
    while (typed.load() < script.size()) {
        switch (random() % 7) {
        case 0:
            engine.setAllDeviceMappings({records()});
            break;
        case 1:
            engine.mutateRecordsOfModel({kProduct, kVendor}, [](std::vector<DeviceMapping>& all) {
                all.at(0).mappings.push_back(
                    mapping({0xE2, 0x07}, OutputBehavior::pasteOperation()));
            });
            break;
        case 2:
            engine.saveMappings(device);
            engine.loadMappings(device);
            break;
        case 3:
            engine.stopIntercepting();
            toggleInterception(engine);
            break;
        case 4: {
            const auto guard = engine.lock();
            (void)engine.capturedInputCodes().size();
            (void)engine.currentPressedCodes().size();
            (void)engine.findMapping(engine.currentPressedCodes());
            break;
        }
        case 5:
            engine.setSelectedDevice(device);
            break;
        default:
            main->runOnce(milliseconds(0));
            break;
        }
    }
    engine.stopIntercepting();
    main->runOnce(milliseconds(0));
    EXPECT_EQ(offMain.load(), 0);
    EXPECT_GT(heard, 0);
    const auto guard = engine.lock();
    EXPECT_TRUE(engine.currentPressedCodes().empty());
    EXPECT_FALSE(engine.isRepeating());
    EXPECT_EQ(platform->world().keysDownAtApplication(), 0u);
}

} // namespace
} // namespace chordwell
