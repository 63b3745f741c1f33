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

bool SimWorld::hidGoesFirst() {
    switch (order_) {
    case DeliveryOrder::hidFirst:
        return true;
    case DeliveryOrder::tapFirst:
        return false;
    case DeliveryOrder::random:
        break;
    }
    // The top bit: the raw output of the generator is the same on every
    // standard library, unlike its distributions.
    return (orderRandom_() >> 63) != 0;
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

void SimWorld::deliverQueuedInput() {
    // Values queued while these are delivered (an engine reacting to one)
    // wait for the next round, in order.
    while (!queuedInput_.empty()) {
        std::swap(queuedInput_, deliveringInput_);
        for (const QueuedInput& queued : deliveringInput_) {
            if (auto keyboard = queued.keyboard.lock()) {
                sendInputValue(*keyboard, queued.value);
            }
        }
        deliveringInput_.clear();
    }
}

void SimWorld::setPostingMode(PostingMode mode) {
    postingMode_ = mode;
    if (mode == PostingMode::sync) {
        // Nothing posted earlier may overtake what is posted from now on.
        deliverPostedEvents();
    }
}

void SimWorld::setDeliveryOrder(DeliveryOrder order, std::uint64_t seed) {
    deliverQueuedInput();
    order_ = order;
    orderRandom_.seed(seed);
}

bool SimWorld::post(std::int64_t keyCode, EventFlags flags, bool keyDown) {
    if (postingFails_) {
        return false;
    }
    ++postedEvents_;
    const KeyEvent event{keyDown ? EventType::keyDown : EventType::keyUp, keyCode, flags};
    if (postingMode_ == PostingMode::sync) {
        dispatch(event, true);
        return true;
    }
    pendingPosts_.push_back(event);
    if (!postDeliveryQueued_) {
        postDeliveryQueued_ = true;
        std::weak_ptr<bool> alive = alive_;
        scheduler_->postToMain([this, alive] {
            if (!alive.expired()) {
                deliverPostedEvents();
            }
        });
    }
    return true;
}

void SimWorld::deliverPostedEvents() {
    postDeliveryQueued_ = false;
    // Events posted while these travel (an output triggered meanwhile) keep
    // their place behind them; in async mode they wait for the next turn.
    std::swap(pendingPosts_, deliveringPosts_);
    for (const KeyEvent& event : deliveringPosts_) {
        dispatch(event, true);
    }
    deliveringPosts_.clear();
    if (postingMode_ == PostingMode::sync && !pendingPosts_.empty()) {
        deliverPostedEvents();
    }
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
    if (!swallowed) {
        deliver(event, synthetic);
    }
}

void SimWorld::deliver(const KeyEvent& event, bool synthetic) {
    ++appEventCount_;
    if (event.keyCode >= 0 && event.keyCode <= 0xFFFF &&
        (event.type == EventType::keyDown || event.type == EventType::keyUp)) {
        const auto code = static_cast<std::size_t>(event.keyCode);
        std::uint64_t& word = appKeysDown_[code / 64];
        const std::uint64_t bit = std::uint64_t{1} << (code % 64);
        const bool wasDown = (word & bit) != 0;
        if (event.type == EventType::keyDown && !wasDown) {
            word |= bit;
            ++appKeysDownCount_;
        } else if (event.type == EventType::keyUp && wasDown) {
            word &= ~bit;
            --appKeysDownCount_;
        }
    }
    AppEvent delivered{scheduler_->now(), event.type, event.keyCode, event.flags, synthetic};
    if (appEventLimit_ > 0) {
        if (appEvents_.size() >= appEventLimit_) {
            // Drop the older half at once: amortised constant time, and the
            // storage is reused rather than grown.
            const auto keep = static_cast<std::ptrdiff_t>(appEventLimit_ / 2);
            appEvents_.erase(appEvents_.begin(), appEvents_.end() - keep);
        }
        appEvents_.push_back(delivered);
    }
    if (sink_) {
        sink_(delivered);
    }
}

void SimWorld::setAppEventLimit(std::size_t limit) {
    appEventLimit_ = limit;
    if (appEvents_.size() > limit) {
        appEvents_.erase(appEvents_.begin(), appEvents_.end() - static_cast<std::ptrdiff_t>(limit));
    }
}

bool SimWorld::isDownAtApplication(std::int64_t keyCode) const {
    if (keyCode < 0 || keyCode > 0xFFFF) {
        return false;
    }
    const auto code = static_cast<std::size_t>(keyCode);
    return (appKeysDown_[code / 64] & (std::uint64_t{1} << (code % 64))) != 0;
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

} // namespace chordwell::platform::sim
