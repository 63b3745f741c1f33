#include "walk.hpp"
#include "walk_records.hpp"
#include "walk_worlds.hpp"

#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/sim/sim_world.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <set>
#include <sstream>

namespace chordwell::walk {

namespace {

using script::ScriptCommand;
using K = ScriptCommand::Kind;

constexpr std::size_t kKeyboards = 3;
const std::array<const char*, kKeyboards> kNames = {"k0", "k1", "k2"};
// Two keyboards of one model (the first two) and one of another.
constexpr std::array<std::int64_t, kKeyboards> kVendor = {0x05AC, 0x05AC, 0x046D};
constexpr std::array<std::int64_t, kKeyboards> kProduct = {0x024F, 0x024F, 0xC31C};
const std::array<const char*, kKeyboards> kProductName = {"Magic Keyboard", "Magic Keyboard",
                                                          "Logi K120"};
// A, B, C, D, Space, and both Controls, left Shift, Option, Command.
constexpr std::array<HidUsage, 10> kKeys = {0x04, 0x05, 0x06, 0x07, 0x2C,
                                            0xE0, 0xE4, 0xE1, 0xE2, 0xE3};
constexpr std::array<const char*, 6> kMappingNames = {"m0", "m1", "m2", "m3", "m4", "m5"};

bool isModifier(HidUsage usage) {
    return usage >= 0xE0 && usage <= 0xE7;
}

class Generator {
public:
    Generator(std::uint64_t seed, bool everyMode) : random_(seed), everyMode_(everyMode) {}

    std::vector<ScriptCommand> run(std::size_t steps) {
        for (std::size_t i = 0; i < kKeyboards; ++i) {
            plug(i);
        }
        ScriptCommand select;
        select.kind = K::select;
        select.name = kNames[0];
        out_.push_back(select);
        while (out_.size() < steps) {
            step();
        }
        out_.resize(steps);
        return std::move(out_);
    }

private:
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : random_() % n; }
    bool chance(unsigned percent) { return below(100) < percent; }

    void plug(std::size_t i) {
        ScriptCommand c;
        c.kind = K::keyboard;
        c.name = kNames[i];
        c.vendor = kVendor[i];
        c.product = kProduct[i];
        c.location = static_cast<std::int64_t>(i + 1);
        c.productName = kProductName[i];
        out_.push_back(c);
        attached_[i] = true;
    }

    void key(std::size_t kb, HidUsage usage, bool down) {
        ScriptCommand c;
        c.kind = down ? K::down : K::up;
        c.name = kNames[kb];
        c.usage = usage;
        out_.push_back(c);
        if (down) {
            held_[kb].insert(usage);
        } else {
            held_[kb].erase(usage);
        }
    }

    OutputBehavior randomOutput() {
        switch (below(6)) {
        case 0:
            return OutputBehavior::none();
        case 1:
            return OutputBehavior::copyOperation();
        case 2:
            return OutputBehavior::pasteOperation();
        case 3:
            return OutputBehavior::openSearchBar();
        default:
            break;
        }
        // Mostly short sequences, sometimes longer than any fixed bound of
        // in-flight pass-throughs would allow.
        const std::size_t length = chance(15) ? 33 + below(15) : 1 + below(4);
        std::vector<MacKeySignature> keys;
        for (std::size_t i = 0; i < length; ++i) {
            static constexpr std::array<EventFlags, 4> kFlags = {
                0, kMaskCommand, kMaskCommand | kMaskShift, kMaskControl};
            keys.push_back(MacKeySignature{static_cast<std::int64_t>(below(50)),
                                           kFlags[below(kFlags.size())]});
        }
        return OutputBehavior::customKeySequence("", std::move(keys));
    }

    ScriptCommand randomMapping() {
        ScriptCommand c;
        c.kind = K::map;
        c.name = kMappingNames[below(kMappingNames.size())];
        // An empty key set now and then (it must never match).
        if (!everyMode_ || !chance(3)) {
            const std::size_t count = 1 + below(3);
            std::set<HidUsage> keys;
            while (keys.size() < count) {
                keys.insert(kKeys[below(kKeys.size())]);
            }
            c.usages.assign(keys.begin(), keys.end());
            if (chance(50)) {
                std::reverse(c.usages.begin(), c.usages.end());
            }
        }
        c.output = randomOutput();
        return c;
    }

    void step() {
        const auto roll = below(1000);
        if (roll < 600) {
            // A key on a keyboard that is plugged in: mostly releases of held
            // keys when many are down, presses otherwise.
            std::size_t kb = below(kKeyboards);
            if (!attached_[kb]) {
                return;
            }
            const bool release = !held_[kb].empty() && (held_[kb].size() >= 4 || chance(45));
            if (release) {
                auto it = held_[kb].begin();
                std::advance(it, static_cast<std::ptrdiff_t>(below(held_[kb].size())));
                key(kb, *it, false);
            } else {
                const HidUsage usage = kKeys[below(kKeys.size())];
                if (held_[kb].count(usage) == 0) {
                    key(kb, usage, true);
                }
            }
            return;
        }
        ScriptCommand c;
        if (roll < 720) {
            c.kind = K::wait;
            c.milliseconds = chance(85) ? static_cast<std::int64_t>(below(25))
                                        : static_cast<std::int64_t>(100 + below(600));
        } else if (roll < 760) {
            c.kind = K::select;
            c.name = kNames[below(kKeyboards)];
        } else if (roll < 800) {
            c.kind = K::intercept;
        } else if (roll < 860) {
            c = randomMapping();
        } else if (roll < 870) {
            c.kind = K::unmap;
            c.name = kMappingNames[below(kMappingNames.size())];
        } else if (roll < 880) {
            // An import: the model's mappings replaced by a new list.
            c.kind = K::clear;
            out_.push_back(c);
            const std::size_t count = 1 + below(4);
            for (std::size_t i = 0; i < count; ++i) {
                out_.push_back(randomMapping());
            }
            return;
        } else if (roll < 920) {
            c.kind = K::set;
            switch (below(3)) {
            case 0:
                c.key = "key_repeat_enabled";
                c.value = chance(75);
                break;
            case 1: {
                static constexpr std::array<double, 5> kDelays = {0, -1, 0.02, 0.1, 0.5};
                c.key = "key_repeat_initial_delay";
                c.value = kDelays[below(kDelays.size())];
                break;
            }
            default: {
                static constexpr std::array<double, 5> kIntervals = {0, -1, 0.005, 0.03, 0.1};
                c.key = "key_repeat_interval";
                c.value = kIntervals[below(kIntervals.size())];
                break;
            }
            }
        } else if (roll < 950) {
            const std::size_t kb = below(kKeyboards);
            if (attached_[kb]) {
                // Mostly the keys come up before the keyboard goes; else the
                // system releases what the keyboard held as it goes.
                if (chance(60)) {
                    const auto held = held_[kb];
                    for (HidUsage usage : held) {
                        key(kb, usage, false);
                    }
                }
                held_[kb].clear();
                c.kind = K::remove;
                c.name = kNames[kb];
                attached_[kb] = false;
            } else {
                plug(kb);
                return;
            }
        } else if (!everyMode_) {
            c.kind = K::wait;
            c.milliseconds = static_cast<std::int64_t>(below(25));
        } else if (roll < 975) {
            c.kind = K::posting;
            c.posting =
                chance(50) ? platform::sim::PostingMode::async : platform::sim::PostingMode::sync;
        } else {
            c.kind = K::order;
            switch (below(3)) {
            case 0:
                c.order = platform::sim::DeliveryOrder::hidFirst;
                break;
            case 1:
                c.order = platform::sim::DeliveryOrder::tapFirst;
                break;
            default:
                c.order = platform::sim::DeliveryOrder::random;
                c.seed = below(1000);
                break;
            }
        }
        out_.push_back(c);
    }

    std::mt19937_64 random_;
    bool everyMode_;
    std::vector<ScriptCommand> out_;
    std::array<bool, kKeyboards> attached_{};
    std::array<std::set<HidUsage>, kKeyboards> held_;
};

// Plays commands and checks the engine after each.
class Player {
public:
    explicit Player(WalkWorld kind) : world_(makeWorld(kind, files_.path())) {
        recordsWatch_ = world_->engine().subscribeChanges([this](const EngineChanges& changes) {
            recordsChanged_ = recordsChanged_ || changes.contains(EngineChange::records);
        });
    }

    // Runs one command; nullopt when all checks hold. `skipped` is set when
    // the command failed as a script line.
    std::optional<std::string> play(const ScriptCommand& command, bool& skipped) {
        RawKeyboardListener& engine = world_->engine();
        const bool interceptingBefore = engine.isIntercepting();
        const std::optional<KeyboardIdentity> awaitedBefore = engine.awaitedKeyboard();
        const std::size_t listenedBefore = listened_;
        const std::uint64_t postedBefore = world_->postedEventCount();
        const std::uint64_t eventsBefore = world_->appEventCount();
        const auto timeBefore = world_->now();
        recordsChanged_ = false;
        // A key already down on a keyboard cannot go down again there (the
        // shrinker, dropping its key-up, would make one): the checks count
        // a key as held or not, and the engine meets no such thing.
        if (const std::size_t slot = slotOf(command.name);
            command.kind == K::down && slot < kKeyboards && held_[slot].count(command.usage) != 0) {
            skipped = true;
            return std::nullopt;
        }
        skipped = !world_->execute(command);
        if (skipped) {
            return std::nullopt;
        }
        track(command, interceptingBefore);
        records_.apply(command, engine);
        if (auto fault = records_.check(engine, world_->hasUnsavedChanges())) {
            return fault;
        }
        const auto stepEvents = world_->eventsSince(eventsBefore);

        if (!interceptingBefore && !engine.isIntercepting() &&
            world_->postedEventCount() != postedBefore) {
            return "posted while interception was off";
        }
        if (auto repeat = engine.repeatingCombo()) {
            if (!engine.isIntercepting()) {
                return "a repeat runs while interception is off";
            }
            for (HidUsage usage : *repeat) {
                if (listenedHeld_.count(usage) == 0) {
                    return "a repeat runs although a key of its combination is up";
                }
            }
        }
        bool anyHeld = false;
        for (const auto& held : held_) {
            anyHeld = anyHeld || !held.empty();
        }
        if (!anyHeld && !engine.isRepeating() && world_->keysDownAtApplication() != 0) {
            return "a key stays down at the application with every key up";
        }
        if (auto fault =
                checkFollowing(command, interceptingBefore, listenedBefore, awaitedBefore)) {
            return fault;
        }
        // The key-down's own check first: a key of another keyboard given
        // back late in this very step is still known to be on its way.
        // When time passed within the step (a key's two deliveries apart)
        // and the mappings changed meanwhile (the delayed half of an edit),
        // what the key met is not known here.
        const bool recordsSettled = !recordsChanged_ || world_->now() == timeBefore;
        if (command.kind == K::down && stepEvents && recordsSettled) {
            if (auto failure =
                    checkKeyDown(command, *stepEvents, eventsBefore, world_->now() == timeBefore)) {
                return failure;
            }
        } else if (command.kind == K::down && stepEvents) {
            // Whether the key may be swallowed is not known, but when it
            // waits it may still be given back later, looking like a key of
            // its code that a later step's mapping must not let through.
            noteWaiting(command, *stepEvents, eventsBefore, false);
        }
        return checkLateKeyDowns();
    }

private:
    // A key-down that waits, swallowed, for a HID value that never comes (a
    // key of another keyboard that would complete a mapping): it must reach
    // the application by its deadline.
    struct LateKeyDown {
        std::int64_t keyCode = 0;
        platform::Scheduler::Duration deadline{};
        std::uint64_t eventsBefore = 0;
        // Known to have met no mapping: it must arrive by its deadline.
        bool mustArrive = true;
    };

    // Notes a key-down that did not arrive in its step and may wait in the
    // blocker; false when nothing waits there.
    bool noteWaiting(const ScriptCommand& command, const std::vector<WorldEvent>& stepEvents,
                     std::uint64_t eventsBefore, bool mustArrive) {
        const auto code = platform::sim::simOsKeyCode(command.usage);
        if (isModifier(command.usage) || !code) {
            return true;
        }
        const bool arrived = std::any_of(stepEvents.begin(), stepEvents.end(), [&](const auto& e) {
            return e.type == platform::EventType::keyDown && e.keyCode == *code;
        });
        if (arrived) {
            return true;
        }
        const auto* blocker = world_->engine().tapBlockerListener();
        if (blocker == nullptr || blocker->pendingKeyDownCount() == 0) {
            return false;
        }
        late_.push_back(LateKeyDown{*code, world_->now() + TapBlockerListener::kHidValueDeadline,
                                    eventsBefore, mustArrive});
        return true;
    }

    std::optional<std::string> checkLateKeyDowns() {
        const auto* blocker = world_->engine().tapBlockerListener();
        const bool waiting = blocker != nullptr && blocker->pendingKeyDownCount() > 0;
        for (std::size_t i = 0; i < late_.size();) {
            const LateKeyDown& late = late_[i];
            if (waiting && world_->now() < late.deadline) {
                ++i;
                continue;
            }
            if (const auto events = world_->eventsSince(late.eventsBefore)) {
                const bool arrived =
                    std::any_of(events->begin(), events->end(), [&](const WorldEvent& e) {
                        return e.type == platform::EventType::keyDown && e.keyCode == late.keyCode;
                    });
                if (!arrived && late.mustArrive) {
                    return "a key-down was swallowed while no mapping was held (and never given "
                           "back)";
                }
            }
            late_.erase(late_.begin() + static_cast<std::ptrdiff_t>(i));
        }
        return std::nullopt;
    }

    std::size_t slotOf(const std::string& name) const {
        for (std::size_t i = 0; i < kKeyboards; ++i) {
            if (name == kNames[i]) {
                return i;
            }
        }
        return kKeyboards;
    }

    void track(const ScriptCommand& command, bool interceptingBefore) {
        const std::size_t slot = slotOf(command.name);
        if (command.kind == K::down && slot < kKeyboards) {
            held_[slot].insert(command.usage);
            if (slot == listened_) {
                listenedHeld_.insert(command.usage);
            }
        } else if (command.kind == K::up && slot < kKeyboards) {
            held_[slot].erase(command.usage);
            if (slot == listened_) {
                listenedHeld_.erase(command.usage);
            }
        } else if (command.kind == K::remove && slot < kKeyboards) {
            held_[slot].clear();
        }
        if (!world_->engine().isIntercepting()) {
            listened_ = kKeyboards;
            listenedHeld_.clear();
        } else if (!interceptingBefore || listenedSlot() != listened_) {
            // Listening began (or resumed on a keyboard that came back, or
            // paused): keys already down then are not tracked.
            listened_ = listenedSlot();
            listenedHeld_.clear();
        }
    }

    // The slot of the keyboard the engine listens to, or kKeyboards.
    std::size_t listenedSlot() const {
        for (std::size_t i = 0; i < kKeyboards; ++i) {
            if (world_->listensTo(static_cast<std::int64_t>(i + 1))) {
                return i;
            }
        }
        return kKeyboards;
    }

    // The listened keyboard that goes away pauses interception with nothing
    // left down or repeating; the same keyboard plugged in again (the same
    // model at its place, or the only one of its model) resumes it.
    std::optional<std::string> checkFollowing(const ScriptCommand& command, bool interceptingBefore,
                                              std::size_t listenedBefore,
                                              const std::optional<KeyboardIdentity>& awaited) {
        const std::size_t slot = slotOf(command.name);
        if (slot >= kKeyboards || (command.kind != K::remove && command.kind != K::keyboard)) {
            return std::nullopt;
        }
        // Every key down at the application is held on some keyboard.
        for (std::int64_t code = 0; code < 128; ++code) {
            if (!world_->isDownAtApplication(code)) {
                continue;
            }
            bool held = false;
            for (const auto& keys : held_) {
                for (HidUsage usage : keys) {
                    held = held || platform::sim::simOsKeyCode(usage) == code;
                }
            }
            if (!held) {
                return "key code " + std::to_string(code) +
                       " stays down at the application after a keyboard came or went";
            }
        }
        if (command.kind == K::remove && interceptingBefore && slot == listenedBefore) {
            if (!world_->engine().isIntercepting() || !world_->engine().awaitedKeyboard()) {
                return "interception did not pause for the keyboard that went away";
            }
            if (world_->engine().isRepeating() || world_->activeTapCount() != 0 ||
                world_->engine().selectedDeviceIOHIDDevice()) {
                return "a repeat, a tap or a listened device is left after the keyboard went away";
            }
        }
        if (command.kind == K::keyboard && interceptingBefore && awaited) {
            std::size_t ofModel = 0;
            for (std::size_t i = 0; i < kKeyboards; ++i) {
                ofModel += runnerKeyboard(i) && kVendor[i] == awaited->vendorID &&
                           kProduct[i] == awaited->productID;
            }
            const bool sameModel =
                kVendor[slot] == awaited->vendorID && kProduct[slot] == awaited->productID;
            const bool comesBack =
                sameModel &&
                (awaited->locationID == static_cast<std::int64_t>(slot + 1) || ofModel == 1);
            if (comesBack &&
                (!world_->engine().isIntercepting() || world_->engine().awaitedKeyboard() ||
                 listenedSlot() != slot || world_->activeTapCount() != 1)) {
                return "interception did not resume on the keyboard that came back";
            }
            if (!comesBack &&
                (!world_->engine().awaitedKeyboard() || listenedSlot() != kKeyboards)) {
                return "interception resumed on a keyboard that is not the one that went away";
            }
        }
        return std::nullopt;
    }

    bool runnerKeyboard(std::size_t slot) const {
        return world_->isAttached(static_cast<std::int64_t>(slot + 1));
    }

    // The mapping the held keys of the listened keyboard complete, as the
    // engine's records say: first record of the model, first mapping.
    const KeyMapping* heldMapping() {
        RawKeyboardListener& engine = world_->engine();
        if (listened_ >= kKeyboards || !engine.isIntercepting()) {
            return nullptr;
        }
        const auto* blocker = engine.tapBlockerListener();
        if (blocker == nullptr || !blocker->hasLiveTap()) {
            return nullptr;
        }
        std::vector<HidUsage> held(listenedHeld_.begin(), listenedHeld_.end());
        for (const DeviceMapping& record : engine.allDeviceMappings()) {
            if (record.vendorID != kVendor[listened_] || record.productID != kProduct[listened_]) {
                continue;
            }
            for (const KeyMapping& mapping : record.mappings) {
                std::vector<HidUsage> keys = mapping.inputKeyCodes;
                std::sort(keys.begin(), keys.end());
                if (!keys.empty() && keys == held) {
                    return &mapping;
                }
            }
        }
        return nullptr;
    }

    std::optional<std::string> checkKeyDown(const ScriptCommand& command,
                                            const std::vector<WorldEvent>& stepEvents,
                                            std::uint64_t eventsBefore, bool noTimePassed) {
        const std::size_t slot = slotOf(command.name);
        const auto code = platform::sim::simOsKeyCode(command.usage);
        const KeyMapping* mapping = heldMapping();
        const bool completes = mapping != nullptr && slot == listened_;
        if (completes) {
            // Its output arrives, in order, and the key itself does not.
            std::vector<MacKeySignature> expected;
            const OutputBehavior& output = mapping->outputBehavior;
            if (output.isCustomKeySequence()) {
                for (const MacKeySignature& s : output.signatures()) {
                    if (s.keyCode >= 0 && s.keyCode <= 0xFFFF) {
                        expected.push_back(s);
                    }
                }
            } else if (auto stroke = world_->builtInShortcut(output.kind())) {
                expected.push_back(MacKeySignature{stroke->keyCode, stroke->flags});
            }
            std::size_t next = 0;
            for (const auto& e : stepEvents) {
                if (next < expected.size() && e.synthetic &&
                    e.type == platform::EventType::keyDown && e.keyCode == expected[next].keyCode &&
                    (e.flags & kSignatureModifierMask) == expected[next].modifiers) {
                    ++next;
                }
            }
            if (next < expected.size()) {
                return "the output of a completed mapping did not arrive (" + std::to_string(next) +
                       " of " + std::to_string(expected.size()) + " keys)";
            }
            // The key itself carries the modifiers held; an output key of the
            // same code carries its own (a repeat may post it again meanwhile
            // when time passed in the step).
            if (!isModifier(command.usage) && code) {
                // A key of another keyboard that waited may be given back now:
                // it looks like this one.
                const auto lateOfKey = static_cast<std::size_t>(
                    std::count_if(late_.begin(), late_.end(),
                                  [&](const LateKeyDown& l) { return l.keyCode == *code; }));
                std::size_t downsOfKey = 0;
                std::size_t outputDownsOfKey = 0;
                for (const auto& e : stepEvents) {
                    downsOfKey += e.type == platform::EventType::keyDown && e.keyCode == *code;
                }
                for (const MacKeySignature& s : expected) {
                    outputDownsOfKey += s.keyCode == *code;
                }
                // Within one instant the output came once: any more of the
                // key is the key itself.
                if (noTimePassed && downsOfKey > outputDownsOfKey + lateOfKey) {
                    return "the key that completed a mapping reached the application";
                }
                std::size_t unlikeOutputs = 0;
                for (const auto& e : stepEvents) {
                    if (e.type != platform::EventType::keyDown || e.keyCode != *code) {
                        continue;
                    }
                    const bool likeAnOutput = std::any_of(
                        expected.begin(), expected.end(), [&](const MacKeySignature& s) {
                            return s.keyCode == *code &&
                                   s.modifiers == (e.flags & kSignatureModifierMask);
                        });
                    unlikeOutputs += likeAnOutput ? 0 : 1;
                }
                if (unlikeOutputs > lateOfKey) {
                    return "the key that completed a mapping reached the application";
                }
            }
            return std::nullopt;
        }
        if (mapping == nullptr && !noteWaiting(command, stepEvents, eventsBefore, true)) {
            return "a key-down was swallowed while no mapping was held";
        }
        return std::nullopt;
    }

    ScratchFolder files_; // first: it outlives the engine, which saves into it
    RecordsModel records_;
    std::unique_ptr<World> world_;
    Subscription recordsWatch_;
    bool recordsChanged_ = false;
    std::array<std::set<HidUsage>, kKeyboards> held_;
    std::size_t listened_ = kKeyboards;
    std::set<HidUsage> listenedHeld_;
    std::vector<LateKeyDown> late_;
};

} // namespace

std::vector<ScriptCommand> generateWalk(std::uint64_t seed, std::size_t steps, bool everyMode) {
    return Generator(seed, everyMode).run(steps);
}

std::optional<WalkFailure> playWalk(const std::vector<ScriptCommand>& commands, WalkWorld world) {
    Player player(world);
    for (std::size_t i = 0; i < commands.size(); ++i) {
        bool skipped = false;
        if (auto message = player.play(commands[i], skipped)) {
            return WalkFailure{i, *message};
        }
    }
    return std::nullopt;
}

std::vector<ScriptCommand> shrinkWalk(std::vector<ScriptCommand> commands, std::size_t maxPlays,
                                      WalkWorld world) {
    auto failure = playWalk(commands, world);
    if (!failure) {
        return commands;
    }
    commands.resize(failure->step + 1);
    std::size_t plays = 0;
    // Delta debugging: drop ever smaller chunks while the walk still fails.
    for (std::size_t chunk = commands.size() / 2; chunk >= 1 && plays < maxPlays; chunk /= 2) {
        for (std::size_t start = 0; start < commands.size() && plays < maxPlays;) {
            std::vector<ScriptCommand> candidate;
            candidate.reserve(commands.size());
            candidate.insert(candidate.end(), commands.begin(),
                             commands.begin() + static_cast<std::ptrdiff_t>(start));
            const std::size_t end = std::min(commands.size(), start + chunk);
            candidate.insert(candidate.end(), commands.begin() + static_cast<std::ptrdiff_t>(end),
                             commands.end());
            ++plays;
            if (auto f = playWalk(candidate, world)) {
                candidate.resize(f->step + 1);
                commands = std::move(candidate);
            } else {
                start += chunk;
            }
        }
    }
    // Keep only the commands that run as script lines (the others changed
    // nothing), so that chordwellctl simulate replays it to the end.
    Player player(world);
    std::vector<ScriptCommand> runnable;
    for (const ScriptCommand& command : commands) {
        bool skipped = false;
        (void)player.play(command, skipped);
        if (!skipped) {
            runnable.push_back(command);
        }
    }
    return runnable;
}

std::string walkScript(const std::vector<ScriptCommand>& commands) {
    std::string text;
    for (const ScriptCommand& command : commands) {
        text += script::formatCommand(command) + "\n";
    }
    return text;
}

} // namespace chordwell::walk
