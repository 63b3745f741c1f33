#include "platform/sim/sim_world.hpp"

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

// --------------------------------------------------------------- event tap

class SimWorld::Tap : public EventTap {
public:
    Tap(SimWorld& world, Callback callback, void* userInfo)
        : world_(world), callback_(callback), userInfo_(userInfo) {
        // Head insertion: the newest tap sees events first (the list is kept
        // oldest first and walked from its end).
        world_.taps_.push_back(this);
    }
    ~Tap() override {
        auto it = std::find(world_.taps_.begin(), world_.taps_.end(), this);
        if (it != world_.taps_.end()) {
            *it = nullptr;
            world_.tapsNeedCompaction_ = true;
            world_.compactTaps();
        }
    }

    bool addToRunLoop() override {
        if (world_.runLoopSourceFails_) {
            return false;
        }
        inRunLoop_ = true;
        return true;
    }
    void removeFromRunLoop() override { inRunLoop_ = false; }
    void enable(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }

    bool active() const { return inRunLoop_ && enabled_; }
    TapDecision call(const KeyEvent& event) const { return callback_(userInfo_, event); }
    bool inRunLoop() const { return inRunLoop_; }

private:
    SimWorld& world_;
    Callback callback_;
    void* userInfo_;
    bool inRunLoop_ = false;
    bool enabled_ = false;
};

// ------------------------------------------------------------------ poster

class SimWorld::Poster : public EventPoster {
public:
    explicit Poster(SimWorld& world) : world_(world) {}
    bool postKeyEvent(std::int64_t keyCode, EventFlags flags, bool keyDown) override {
        return world_.post(keyCode, flags, keyDown);
    }

private:
    SimWorld& world_;
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
}

SimWorld::~SimWorld() = default;

std::unique_ptr<HidManager> SimWorld::createHidManager() {
    return std::make_unique<Manager>(*this);
}

std::unique_ptr<EventTap> SimWorld::createKeyboardEventTap(EventTap::Callback callback,
                                                           void* userInfo) {
    if (tapCreationFails_ || callback == nullptr) {
        return nullptr;
    }
    return std::make_unique<Tap>(*this, callback, userInfo);
}

EventPoster& SimWorld::eventPoster() {
    return *poster_;
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
    if (!keyboard.attached_) {
        return;
    }
    sendInputValue(keyboard, HidInputValue{7, usage, 1});
    const bool isModifier = usage >= 0xE0 && usage <= 0xE7;
    if (isModifier) {
        keyboard.heldModifiers_ |= static_cast<std::uint8_t>(1u << (usage - 0xE0));
    }
    if (auto code = simOsKeyCode(usage)) {
        dispatch(KeyEvent{isModifier ? EventType::flagsChanged : EventType::keyDown, *code,
                          modifierFlags()},
                 false);
    }
    step();
}

void SimWorld::keyUp(SimKeyboard& keyboard, HidUsage usage) {
    if (!keyboard.attached_) {
        return;
    }
    sendInputValue(keyboard, HidInputValue{7, usage, 0});
    const bool isModifier = usage >= 0xE0 && usage <= 0xE7;
    if (isModifier) {
        keyboard.heldModifiers_ &= static_cast<std::uint8_t>(~(1u << (usage - 0xE0)));
    }
    if (auto code = simOsKeyCode(usage)) {
        dispatch(KeyEvent{isModifier ? EventType::flagsChanged : EventType::keyUp, *code,
                          modifierFlags()},
                 false);
    }
    step();
}

bool SimWorld::post(std::int64_t keyCode, EventFlags flags, bool keyDown) {
    if (postingFails_) {
        return false;
    }
    ++postedEvents_;
    dispatch(KeyEvent{keyDown ? EventType::keyDown : EventType::keyUp, keyCode, flags}, true);
    return true;
}

void SimWorld::dispatch(const KeyEvent& event, bool synthetic) {
    ++dispatching_;
    bool swallowed = false;
    for (std::size_t i = taps_.size(); i > 0; --i) {
        Tap* tap = taps_[i - 1];
        if (tap == nullptr || !tap->active()) {
            continue;
        }
        if (tap->call(event) == TapDecision::swallow) {
            swallowed = true;
            break;
        }
    }
    --dispatching_;
    compactTaps();
    if (swallowed) {
        return;
    }
    AppEvent delivered{scheduler_->now(), event.type, event.keyCode, event.flags, synthetic};
    if (recordAppEvents_) {
        appEvents_.push_back(delivered);
    }
    if (sink_) {
        sink_(delivered);
    }
}

void SimWorld::compactTaps() {
    if (dispatching_ == 0 && tapsNeedCompaction_) {
        std::erase(taps_, nullptr);
        tapsNeedCompaction_ = false;
    }
}

void SimWorld::disableTapsBySystem(EventType notice) {
    const auto taps = taps_;
    for (Tap* tap : taps) {
        if (tap != nullptr && tap->active()) {
            tap->enable(false);
            (void)tap->call(KeyEvent{notice, 0, 0});
        }
    }
    step();
}

std::size_t SimWorld::activeTapCount() const {
    return static_cast<std::size_t>(std::count_if(
        taps_.begin(), taps_.end(), [](const Tap* t) { return t != nullptr && t->active(); }));
}

std::size_t SimWorld::tapCount() const {
    return static_cast<std::size_t>(
        std::count_if(taps_.begin(), taps_.end(), [](const Tap* t) { return t != nullptr; }));
}

void SimWorld::runMainQueue() {
    if (virtual_ != nullptr) {
        virtual_->runMainQueue();
    }
}

void SimWorld::advance(Scheduler::Duration delta) {
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

} // namespace chordwell::platform::sim
