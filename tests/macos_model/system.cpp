// The model's "computer": keyboards, permissions, the focused application,
// and the accounting at the end of a test.
#include "model_internal.hpp"

#include "model/keys.hpp"

#include <algorithm>
#include <cstdio>

namespace applemodel {

void installState(State* s);

namespace {

Keyboard* findKeyboard(KeyboardId id) {
    for (auto& keyboard : state().keyboards) {
        if (keyboard->id == id) {
            return keyboard.get();
        }
    }
    fault("no keyboard #" + std::to_string(id));
    return nullptr;
}

// The system key code of a keyboard-page usage; the right-hand modifiers
// report codes of their own.
std::optional<std::int64_t> keyCodeOf(std::uint16_t usage) {
    switch (usage) {
    case 0xE4:
        return 62;
    case 0xE5:
        return 60;
    case 0xE6:
        return 61;
    case 0xE7:
        return 54;
    default:
        break;
    }
    if (auto code = chordwell::hidToMacKeyCode(usage)) {
        return static_cast<std::int64_t>(*code);
    }
    return std::nullopt;
}

// Each modifier's flag, and the device-dependent bit that says which side.
constexpr CGEventFlags kModifierFlag[8] = {kCGEventFlagMaskControl,   kCGEventFlagMaskShift,
                                           kCGEventFlagMaskAlternate, kCGEventFlagMaskCommand,
                                           kCGEventFlagMaskControl,   kCGEventFlagMaskShift,
                                           kCGEventFlagMaskAlternate, kCGEventFlagMaskCommand};
constexpr CGEventFlags kSideBit[8] = {0x1, 0x2, 0x20, 0x8, 0x2000, 0x4, 0x40, 0x10};

} // namespace

CGEventFlags currentModifierFlags() {
    CGEventFlags flags = 0;
    for (const auto& keyboard : state().keyboards) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            if (keyboard->attached && (keyboard->heldModifiers & (1u << bit)) != 0) {
                flags |= kModifierFlag[bit] | kSideBit[bit];
            }
        }
    }
    return flags;
}

// ----------------------------------------------------------------- System

System::System() {
    if (hasState()) {
        std::fprintf(stderr, "apple model: only one System at a time\n");
        std::abort();
    }
    auto* s = new State();
    installState(s);
    s->mainLoop = make<AppleModelRunLoop>();
    s->mainLoop->immortal = true;
}

System::~System() {
    if (!finished_) {
        (void)finish();
    }
    State* s = &state();
    installState(nullptr);
    delete s;
}

KeyboardId System::attach(KeyboardTraits traits) {
    State& s = state();
    auto keyboard = std::make_unique<Keyboard>();
    keyboard->id = s.nextKeyboard++;
    keyboard->traits = std::move(traits);
    keyboard->registryID = s.nextRegistryID++;
    keyboard->attached = true;
    Keyboard& k = *keyboard;
    s.keyboards.push_back(std::move(keyboard));
    k.device = createDevice(k);
    deviceArrived(k);
    return k.id;
}

void System::detach(KeyboardId id) {
    Keyboard* keyboard = findKeyboard(id);
    if (keyboard == nullptr || !keyboard->attached) {
        return;
    }
    keyboard->attached = false;
    keyboard->heldModifiers = 0;
    deviceRemoved(*keyboard);
    // The system releases what the keyboard held: the key-ups go through the
    // taps (no HID values: the device is gone).
    const auto held = std::move(keyboard->heldKeys);
    keyboard->heldKeys.clear();
    State& s = state();
    for (const std::uint16_t usage : held) {
        if (auto code = keyCodeOf(usage)) {
            const bool isModifier = usage >= 0xE0 && usage <= 0xE7;
            AppleModelEvent* event =
                makeKeyEvent(isModifier ? kCGEventFlagsChanged : kCGEventKeyUp, *code,
                             currentModifierFlags() | kCGEventFlagMaskNonCoalesced);
            event->fields[kCGEventSourceUserData] = 0;
            enterStream(event, false, s.now, s.turn);
        }
    }
    // The service is gone; the device object lives on while someone holds it.
    AppleModelHIDDevice* device = keyboard->device;
    keyboard->device = nullptr;
    releaseObject(device);
}

DeliveryPlan System::nextPlan() {
    State& s = state();
    if (!s.randomDelivery) {
        return s.delivery;
    }
    // The raw output of the generator, the same on every standard library.
    const RandomDelivery& r = *s.randomDelivery;
    DeliveryPlan plan;
    plan.hidFirst = (s.random() >> 63) != 0;
    plan.turns = r.maxTurns == 0 ? 0 : static_cast<std::uint32_t>(s.random() % (r.maxTurns + 1));
    const auto maxMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(r.maxDelay).count();
    // Half of the keys come within the same millisecond, the others later.
    plan.delay = (s.random() & 1) == 0 || maxMicros <= 0
                     ? Duration{}
                     : std::chrono::microseconds(static_cast<std::int64_t>(
                           s.random() % static_cast<std::uint64_t>(maxMicros + 1)));
    return plan;
}

void System::key(KeyboardId id, std::uint16_t usage, bool down) {
    key(id, usage, down, nextPlan());
}

void System::key(KeyboardId id, std::uint16_t usage, bool down, DeliveryPlan plan) {
    State& s = state();
    Keyboard* keyboard = findKeyboard(id);
    if (keyboard == nullptr || !keyboard->attached) {
        return;
    }
    lastPlan_ = plan;
    auto& held = keyboard->heldKeys;
    if (down && std::find(held.begin(), held.end(), usage) == held.end()) {
        held.push_back(usage);
    } else if (!down) {
        std::erase(held, usage);
    }
    const bool isModifier = usage >= 0xE0 && usage <= 0xE7;
    if (isModifier) {
        const auto bit = static_cast<std::uint8_t>(1u << (usage - 0xE0));
        keyboard->heldModifiers = static_cast<std::uint8_t>(
            down ? (keyboard->heldModifiers | bit) : (keyboard->heldModifiers & ~bit));
    }
    // The first of the two is ready now, the second after the plan's gap;
    // each keeps its place behind what its own path already carries.
    const Duration secondAt = s.now + plan.delay;
    const std::uint64_t secondTurn = s.turn + plan.turns;
    const Duration hidAt = plan.hidFirst ? s.now : secondAt;
    const std::uint64_t hidTurn = plan.hidFirst ? s.turn : secondTurn;
    const Duration tapAt = plan.hidFirst ? secondAt : s.now;
    const std::uint64_t tapTurn = plan.hidFirst ? secondTurn : s.turn;

    const std::uint64_t firstSeq = s.nextSeq++;
    const std::uint64_t secondSeq = s.nextSeq++;
    queueInputValue(*keyboard->device, 7, usage, down ? 1 : 0, hidAt, hidTurn,
                    plan.hidFirst ? firstSeq : secondSeq);
    if (auto code = keyCodeOf(usage)) {
        const CGEventType type = isModifier ? kCGEventFlagsChanged
                                 : down     ? kCGEventKeyDown
                                            : kCGEventKeyUp;
        const CGEventFlags flags =
            currentModifierFlags() | implicitFlags(*code) | kCGEventFlagMaskNonCoalesced;
        AppleModelEvent* event = makeKeyEvent(type, *code, flags);
        event->fields[kCGEventSourceUserData] = 0;
        enterStream(event, false, tapAt, tapTurn, plan.hidFirst ? secondSeq : firstSeq);
    }
}

void System::inputValue(KeyboardId id, std::uint32_t page, std::uint32_t usage,
                        std::int64_t value) {
    State& s = state();
    Keyboard* keyboard = findKeyboard(id);
    if (keyboard != nullptr && keyboard->attached) {
        queueInputValue(*keyboard->device, page, usage, static_cast<CFIndex>(value), s.now, s.turn);
    }
}

void System::setDelivery(DeliveryPlan plan) {
    state().delivery = plan;
    state().randomDelivery.reset();
}

void System::setRandomDelivery(std::optional<RandomDelivery> random) {
    State& s = state();
    s.randomDelivery = random;
    if (random) {
        s.random.seed(random->seed);
    }
}

std::uint64_t System::modifierFlags() const {
    return currentModifierFlags();
}

// ------------------------------------------------------- system settings

void System::setListenAccess(int access) {
    state().listenAccess = static_cast<IOHIDAccessType>(access);
}

void System::setPostAccess(int access) {
    state().postAccess = static_cast<IOHIDAccessType>(access);
}

void System::setAccessibility(bool trusted) {
    state().accessibilityTrusted = trusted;
}

void System::setPromptGrants(bool grants) {
    state().promptGrants = grants;
}

void System::setSecureEventInput(bool on) {
    state().secureEventInput = on;
}

void System::setCallbackSetLookup(CallbackSetLookup lookup) {
    state().lookup = lookup;
}

// ------------------------------------------------------------------ taps

std::size_t System::tapCount() const {
    return ourTaps().size();
}

std::size_t System::activeTapCount() const {
    std::size_t count = 0;
    for (AppleModelMachPort* port : ourTaps()) {
        if (port->tap->enabled && port->port.scheduled()) {
            ++count;
        }
    }
    return count;
}

std::vector<std::uint64_t> System::tapMasks() const {
    std::vector<std::uint64_t> masks;
    for (AppleModelMachPort* port : ourTaps()) {
        masks.push_back(port->tap->mask);
    }
    return masks;
}

void System::timeOutTaps() {
    for (AppleModelMachPort* port : ourTaps()) {
        ++port->tap->timeOutsPending;
    }
}

void System::disableTapsByUserInput() {
    for (AppleModelMachPort* port : ourTaps()) {
        if (port->tap->enabled) {
            port->tap->enabled = false;
            AppleModelEvent* notice = makeKeyEvent(kCGEventTapDisabledByUserInput, 0, 0);
            auto held = hold({port, notice});
            releaseObject(notice);
            postMessage(port->port, state().now, state().turn, [port, notice, held] {
                if (!port->dead && port->valid && port->tap) {
                    static AppleModelEventTapProxy proxy;
                    (void)port->tap->callback(&proxy, notice->type, notice, port->tap->userInfo);
                }
            });
        }
    }
}

void System::addForeignTap(std::function<bool(const AppEvent&)> swallow) {
    State::ChainEntry entry;
    entry.foreign = std::make_shared<ForeignTap>(ForeignTap{std::move(swallow)});
    state().chain.insert(state().chain.begin(), std::move(entry));
}

// --------------------------------------------------- focused application

const std::vector<AppEvent>& System::appEvents() const {
    return state().appEvents;
}

void System::clearAppEvents() {
    state().appEvents.clear();
}

bool System::isDownAtApplication(std::int64_t keyCode) const {
    return state().appKeysDown.count(keyCode) > 0;
}

std::size_t System::keysDownAtApplication() const {
    return state().appKeysDown.size();
}

// ------------------------------------------------------------- inspection

void* System::device(KeyboardId id) const {
    for (const auto& keyboard : state().keyboards) {
        if (keyboard->id == id) {
            return keyboard->device;
        }
    }
    return nullptr;
}

std::size_t System::inputValueRegistrations(KeyboardId id) const {
    for (const auto& keyboard : state().keyboards) {
        if (keyboard->id == id) {
            if (keyboard->device != nullptr) {
                return keyboard->device->inputValueCallbacks.size();
            }
            // Detached: the device object may live on in someone's hands.
            for (const auto& object : state().objects) {
                if (object->kind == Kind::hidDevice && !object->dead &&
                    static_cast<const AppleModelHIDDevice&>(*object).keyboard == id) {
                    return static_cast<const AppleModelHIDDevice&>(*object)
                        .inputValueCallbacks.size();
                }
            }
            return 0;
        }
    }
    return 0;
}

bool System::deviceScheduled(KeyboardId id) const {
    for (const auto& keyboard : state().keyboards) {
        if (keyboard->id == id && keyboard->device != nullptr) {
            return keyboard->device->queuePort.scheduled();
        }
    }
    return false;
}

const Statistics& System::statistics() const {
    return state().stats;
}

std::vector<std::string> System::faults() const {
    return state().faults;
}

std::size_t System::aliveObjects() const {
    std::size_t count = 0;
    for (const auto& object : state().objects) {
        if (!object->dead && !object->immortal) {
            ++count;
        }
    }
    return count;
}

std::vector<std::string> System::finish() {
    State& s = state();
    finished_ = true;
    // What the run loop still holds was left there by its owner.
    for (const AppleModelRunLoopSource* source : s.sources) {
        s.faults.push_back("left in the run loop: " + source->describe());
    }
    for (const AppleModelRunLoopTimer* timer : s.timers) {
        s.faults.push_back("left in the run loop: " + timer->describe());
    }
    for (AppleModelRunLoopSource* source : std::vector<AppleModelRunLoopSource*>(s.sources)) {
        invalidateSource(source);
    }
    for (AppleModelRunLoopTimer* timer : std::vector<AppleModelRunLoopTimer*>(s.timers)) {
        CFRunLoopTimerInvalidate(timer);
    }
    // A power registration or notification port left behind.
    if (!s.power.empty()) {
        s.faults.push_back("power notifications still registered: " +
                           std::to_string(s.power.size()));
    }
    for (AppleModelNotificationPort* port : s.notificationPorts) {
        s.faults.push_back("IONotificationPort not destroyed");
        releaseObject(port->source);
        releaseObject(port->machPort);
        delete port;
    }
    s.notificationPorts.clear();
    // The system lets go of its own references: the stream, the ports'
    // messages, the keyboards, the preferences.
    for (const State::StreamItem& item : s.stream) {
        releaseObject(item.event);
    }
    s.stream.clear();
    for (const auto& object : s.objects) {
        if (object->dead) {
            continue;
        }
        if (object->kind == Kind::machPort) {
            static_cast<AppleModelMachPort&>(*object).port.queue.clear();
        } else if (object->kind == Kind::hidManager) {
            static_cast<AppleModelHIDManager&>(*object).notifyPort.queue.clear();
        } else if (object->kind == Kind::hidDevice) {
            static_cast<AppleModelHIDDevice&>(*object).queuePort.queue.clear();
        }
    }
    for (auto& keyboard : s.keyboards) {
        if (keyboard->device != nullptr) {
            AppleModelHIDDevice* device = keyboard->device;
            keyboard->device = nullptr;
            releaseObject(device);
        }
    }
    for (auto& [app, domain] : s.preferences) {
        for (auto& [key, value] : domain) {
            releaseObject(value);
        }
    }
    s.preferences.clear();
    for (const auto& object : s.objects) {
        if (!object->dead && !object->immortal) {
            s.faults.push_back("still alive (" + std::to_string(object->refs) +
                               " references): " + object->describe());
        }
    }
    return s.faults;
}

} // namespace applemodel
