// The simulated world's devices: keyboards attached and detached, the HID
// managers that report them, and the keys held on them. How their input and
// the posted events travel to the taps and the application is in
// sim_event_flow.cpp.
#include "platform/sim/sim_world.hpp"
#include "platform/sim/sim_event_flow.hpp"

#include <algorithm>

namespace chordwell::platform::sim {

// ------------------------------------------------------------------ helpers

std::optional<std::int64_t> simOsKeyCode(HidUsage usage) {
    switch (usage) {
    case 0xE4:
        return 62; // right Control
    case 0xE5:
        return 60; // right Shift
    case 0xE6:
        return 61; // right Option
    case 0xE7:
        return 54; // right Command
    default:
        break;
    }
    if (auto code = hidToMacKeyCode(usage)) {
        return static_cast<std::int64_t>(*code);
    }
    return std::nullopt;
}

EventFlags modifierFlagOfUsage(HidUsage usage) {
    switch (usage) {
    case 0xE0:
    case 0xE4:
        return kMaskControl;
    case 0xE1:
    case 0xE5:
        return kMaskShift;
    case 0xE2:
    case 0xE6:
        return kMaskAlternate;
    case 0xE3:
    case 0xE7:
        return kMaskCommand;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------- keyboard

std::optional<std::string> SimKeyboard::stringProperty(std::string_view key) const {
    if (key == "Product") {
        return properties_.product;
    }
    return std::nullopt;
}

std::optional<std::int64_t> SimKeyboard::integerProperty(std::string_view key) const {
    if (key == "VendorID") {
        return properties_.vendorID;
    }
    if (key == "ProductID") {
        return properties_.productID;
    }
    if (key == "LocationID") {
        return properties_.locationID;
    }
    return std::nullopt;
}

void SimKeyboard::registerInputValueCallback(InputValueCallback callback, void* context) {
    callback_ = callback;
    context_ = callback != nullptr ? context : nullptr;
}

// ----------------------------------------------------------- HID manager

class SimWorld::Manager : public HidManager {
public:
    explicit Manager(SimWorld& world) : world_(world) { world_.managers_.push_back(this); }
    ~Manager() override { std::erase(world_.managers_, this); }

    void setDeviceMatching(std::uint32_t usagePage, std::uint32_t usage) override {
        page_ = usagePage;
        usage_ = usage;
    }
    void registerDeviceMatchingCallback(DeviceCallback callback, void* context) override {
        matched_ = callback;
        matchedContext_ = context;
    }
    void registerDeviceRemovalCallback(DeviceCallback callback, void* context) override {
        removed_ = callback;
        removedContext_ = context;
    }
    int open() override {
        open_ = true;
        return 0;
    }
    void scheduleWithRunLoop() override {
        scheduled_ = true;
        // Like IOKit: once scheduled, every keyboard already attached is
        // reported.
        const auto keyboards = world_.keyboards_;
        for (const auto& keyboard : keyboards) {
            deviceMatched(keyboard);
        }
    }
    void unscheduleFromRunLoop() override { scheduled_ = false; }
    void close() override { open_ = false; }

    bool matches(const SimKeyboard& keyboard) const {
        return keyboard.properties().deviceUsagePage == page_ &&
               keyboard.properties().deviceUsage == usage_;
    }
    void deviceMatched(const std::shared_ptr<SimKeyboard>& keyboard) {
        if (scheduled_ && open_ && matched_ != nullptr && matches(*keyboard)) {
            HidDeviceRef ref = keyboard;
            matched_(matchedContext_, 0, ref);
        }
    }
    void deviceRemoved(const std::shared_ptr<SimKeyboard>& keyboard) {
        if (scheduled_ && open_ && removed_ != nullptr && matches(*keyboard)) {
            HidDeviceRef ref = keyboard;
            removed_(removedContext_, 0, ref);
        }
    }

private:
    SimWorld& world_;
    std::uint32_t page_ = 0;
    std::uint32_t usage_ = 0;
    DeviceCallback matched_ = nullptr;
    void* matchedContext_ = nullptr;
    DeviceCallback removed_ = nullptr;
    void* removedContext_ = nullptr;
    bool open_ = false;
    bool scheduled_ = false;
};

// ------------------------------------------------------------------- world

SimWorld::SimWorld(std::optional<std::filesystem::path> applicationSupport)
    : SimWorld(std::make_shared<VirtualScheduler>(), std::move(applicationSupport)) {}

SimWorld::SimWorld(std::shared_ptr<Scheduler> scheduler,
                   std::optional<std::filesystem::path> applicationSupport)
    : scheduler_(std::move(scheduler)),
      paths_(applicationSupport ? FolderPaths(*applicationSupport) : FolderPaths()),
      poster_(std::make_unique<Poster>(*this)) {
    virtual_ = dynamic_cast<VirtualScheduler*>(scheduler_.get());
    // Events are recorded one by one on the key path; keep the recording
    // from growing its storage key by key.
    appEvents_.reserve(256);
    appKeysDown_.assign(65536 / 64, 0);
    queuedInput_.reserve(16);
    deliveringInput_.reserve(16);
    pendingPosts_.reserve(64);
    deliveringPosts_.reserve(64);
}

SimWorld::~SimWorld() = default;

std::unique_ptr<HidManager> SimWorld::createHidManager() {
    return std::make_unique<Manager>(*this);
}

std::shared_ptr<SimKeyboard> SimWorld::attachKeyboard(SimKeyboardProperties properties) {
    auto keyboard = std::make_shared<SimKeyboard>(std::move(properties));
    keyboard->attached_ = true;
    keyboards_.push_back(keyboard);
    const auto managers = managers_;
    for (Manager* manager : managers) {
        manager->deviceMatched(keyboard);
    }
    step();
    return keyboard;
}

void SimWorld::detachKeyboard(const std::shared_ptr<SimKeyboard>& keyboard) {
    // What the keyboard sent before it went away arrives first.
    deliverQueuedInput();
    auto it = std::find(keyboards_.begin(), keyboards_.end(), keyboard);
    if (it == keyboards_.end()) {
        return;
    }
    keyboards_.erase(it);
    keyboard->attached_ = false;
    keyboard->heldModifiers_ = 0;
    const auto managers = managers_;
    for (Manager* manager : managers) {
        manager->deviceRemoved(keyboard);
    }
    const std::vector<HidUsage> held = std::move(keyboard->heldKeys_);
    keyboard->heldKeys_.clear();
    for (HidUsage usage : held) {
        if (auto code = simOsKeyCode(usage)) {
            const bool isModifier = usage >= 0xE0 && usage <= 0xE7;
            dispatch(KeyEvent{isModifier ? EventType::flagsChanged : EventType::keyUp, *code,
                              modifierFlags()},
                     false);
        }
    }
    step();
}

EventFlags SimWorld::modifierFlags() const {
    EventFlags flags = 0;
    for (const auto& keyboard : keyboards_) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((keyboard->heldModifiers_ & (1u << bit)) != 0) {
                flags |= modifierFlagOfUsage(static_cast<HidUsage>(0xE0 + bit));
            }
        }
    }
    return flags;
}

void SimWorld::sendInputValue(SimKeyboard& keyboard, const HidInputValue& value) {
    if (keyboard.attached_ && keyboard.hasListener()) {
        keyboard.callback_(keyboard.context_, keyboard, value);
    }
}

void SimWorld::keyDown(SimKeyboard& keyboard, HidUsage usage) {
    physicalKey(keyboard, usage, true);
}

void SimWorld::keyUp(SimKeyboard& keyboard, HidUsage usage) {
    physicalKey(keyboard, usage, false);
}

void SimWorld::physicalKey(SimKeyboard& keyboard, HidUsage usage, bool down) {
    if (!keyboard.attached_) {
        return;
    }
    const HidInputValue value{7, usage, down ? 1 : 0};
    const bool hidFirst = hidGoesFirst();
    if (hidFirst) {
        // One device's values arrive in order: those still queued go first.
        deliverQueuedInput();
        sendInputValue(keyboard, value);
    } else {
        // Queue the value behind the tap event; the keyboard may be gone by
        // the time it would arrive.
        for (const auto& attached : keyboards_) {
            if (attached.get() == &keyboard) {
                queuedInput_.push_back(QueuedInput{attached, value});
                break;
            }
        }
    }
    if (down) {
        if (std::find(keyboard.heldKeys_.begin(), keyboard.heldKeys_.end(), usage) ==
            keyboard.heldKeys_.end()) {
            keyboard.heldKeys_.push_back(usage);
        }
    } else {
        std::erase(keyboard.heldKeys_, usage);
    }
    const bool isModifier = usage >= 0xE0 && usage <= 0xE7;
    if (isModifier) {
        const auto bit = static_cast<std::uint8_t>(1u << (usage - 0xE0));
        keyboard.heldModifiers_ = static_cast<std::uint8_t>(
            down ? (keyboard.heldModifiers_ | bit) : (keyboard.heldModifiers_ & ~bit));
    }
    if (auto code = simOsKeyCode(usage)) {
        const EventType type = isModifier ? EventType::flagsChanged
                               : down     ? EventType::keyDown
                                          : EventType::keyUp;
        dispatch(KeyEvent{type, *code, modifierFlags()}, false);
    }
    step();
}

void SimWorld::runMainQueue() {
    deliverQueuedInput();
    if (virtual_ != nullptr) {
        virtual_->runMainQueue();
    }
}

void SimWorld::advance(Scheduler::Duration delta) {
    deliverQueuedInput();
    if (virtual_ != nullptr) {
        virtual_->advance(delta);
    }
}

void SimWorld::step() {
    if (drainAfterSteps_) {
        runMainQueue();
    }
}

void SimWorld::triggerEmergencyExit() {
    if (emergencyExit_) {
        emergencyExit_();
    }
    step();
}

void SimWorld::systemWillSleep() {
    deliverQueuedInput();
    power_.deliver(Power::Event::willSleep);
    step();
}

void SimWorld::systemDidWake(bool tapsTurnedOff) {
    if (tapsTurnedOff) {
        for (Tap* tap : taps_) {
            if (tap != nullptr && tap->active()) {
                tap->enable(false);
            }
        }
    }
    power_.deliver(Power::Event::didWake);
    step();
}

} // namespace chordwell::platform::sim
