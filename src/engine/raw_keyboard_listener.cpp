#include "engine/raw_keyboard_listener.hpp"

#include "logging/log.hpp"
#include "storage/settings.hpp"

#include <algorithm>
#include <chrono>
#include <string>

namespace chordwell {

namespace {

constexpr std::string_view kCategory = "keyboard";

// Usage page of keyboards and keypads.
constexpr std::uint32_t kKeyboardUsagePage = 7;
// Generic Desktop / Keyboard: the usage every keyboard interface declares.
constexpr std::uint32_t kGenericDesktopPage = 1;
constexpr std::uint32_t kKeyboardUsage = 6;
constexpr std::uint32_t kErrorRollOver = 1;

platform::Scheduler::Duration seconds(double s) {
    return std::chrono::duration_cast<platform::Scheduler::Duration>(
        std::chrono::duration<double>(s));
}

template <typename List> bool containsCode(const List& list, HidUsage code) {
    return std::find(list.begin(), list.end(), code) != list.end();
}

} // namespace

// ------------------------------------------------------------ construction

RawKeyboardListener::RawKeyboardListener(std::shared_ptr<platform::Platform> platform,
                                         std::optional<std::filesystem::path> storageFolder)
    : platform_(std::move(platform)) {
    std::error_code error;
    storage_ = storageFolder ? StorageManager::createAt(*storageFolder, error)
                             : StorageManager::create(platform_->paths(), error);
    if (!storage_) {
        storageError_ = error ? error.message() : std::string("unknown error");
        log(LogLevel::error,
            "Mapping storage unavailable, running without saved mappings: " + storageError_,
            kCategory);
    }
    setupHIDManager();
}

RawKeyboardListener::RawKeyboardListener(std::shared_ptr<platform::Platform> platform,
                                         std::optional<StorageManager> storage)
    : platform_(std::move(platform)), storage_(std::move(storage)) {
    if (!storage_) {
        storageError_ = "no storage";
    }
    setupHIDManager();
}

RawKeyboardListener::~RawKeyboardListener() {
    platform_->setEmergencyExitHandler(nullptr);
    auto& scheduler = platform_->scheduler();
    if (repeatTimer_ != 0) {
        scheduler.cancel(repeatTimer_);
        repeatTimer_ = 0;
    }
    for (auto id : pendingEditTimers_) {
        scheduler.cancel(id);
    }
    if (selectedDeviceIOHIDDevice_) {
        selectedDeviceIOHIDDevice_->registerInputValueCallback(nullptr, nullptr);
        selectedDeviceIOHIDDevice_->unscheduleFromRunLoop();
    }
    blockerCancellable_.cancel();
    if (tapBlockerListener_) {
        tapBlockerListener_->stop();
    }
    if (manager_) {
        manager_->registerDeviceMatchingCallback(nullptr, nullptr);
        manager_->registerDeviceRemovalCallback(nullptr, nullptr);
        manager_->unscheduleFromRunLoop();
        manager_->close();
    }
}

void RawKeyboardListener::setupHIDManager() {
    platform_->setEmergencyExitHandler([this] {
        if (isIntercepting_) {
            stopIntercepting();
        }
    });
    manager_ = platform_->createHidManager();
    if (!manager_) {
        log(LogLevel::error, "Could not create the HID manager; no keyboards will be found.",
            kCategory);
        return;
    }
    manager_->setDeviceMatching(kGenericDesktopPage, kKeyboardUsage);
    manager_->registerDeviceMatchingCallback(&RawKeyboardListener::handleDeviceMatched, this);
    manager_->registerDeviceRemovalCallback(&RawKeyboardListener::handleDeviceRemoved, this);
    (void)manager_->open(); // a failure shows as no keyboards; nothing to report
    log(LogLevel::debug, "Calling IOHIDManagerScheduleWithRunLoop(...)...", kCategory);
    manager_->scheduleWithRunLoop();
}

// ---------------------------------------------------------------- published

void RawKeyboardListener::setAllDeviceMappings(std::vector<DeviceMapping> records) {
    willChange_.emit();
    allDeviceMappings_ = std::move(records);
    recordsChanged();
}

void RawKeyboardListener::setIsCapturingInput(bool value) {
    willChange_.emit();
    isCapturingInput_ = value;
}

void RawKeyboardListener::setIsIntercepting(bool value) {
    willChange_.emit();
    isIntercepting_ = value;
}

void RawKeyboardListener::setIsForceBlockTap(bool value) {
    willChange_.emit();
    isForceBlockTap_ = value;
}

void RawKeyboardListener::setCapturedInputCodes(std::vector<HidUsage> codes) {
    willChange_.emit();
    capturedInputCodes_ = std::move(codes);
}

void RawKeyboardListener::setSelectedDevice(std::optional<KeyboardDevice> device) {
    willChange_.emit();
    selectedDevice_ = std::move(device);
}

RawKeyboardListener::HeldKeys RawKeyboardListener::currentPressedCodesSnapshot() const {
    if (tapBlockerListener_) {
        return tapBlockerListener_->lockMutateValues([this] { return currentPressedCodes_; });
    }
    return currentPressedCodes_;
}

std::optional<std::vector<HidUsage>> RawKeyboardListener::repeatingCombo() const {
    if (repeatTimer_ == 0) {
        return std::nullopt;
    }
    return std::vector<HidUsage>(repeatingCombo_.begin(), repeatingCombo_.end());
}

void RawKeyboardListener::setTapBlockerListener(std::shared_ptr<TapBlockerListener> blocker) {
    willChange_.emit();
    tapBlockerListener_ = std::move(blocker);
    // Forward the blocker's announcements as the engine's own. Re-assigning
    // the same blocker (after each pass-through) keeps the subscription it
    // already has: the forwarding is the same either way.
    if (tapBlockerListener_.get() != blockerSubscribedTo_ || !tapBlockerListener_) {
        blockerCancellable_.cancel();
        blockerSubscribedTo_ = nullptr;
        if (tapBlockerListener_) {
            blockerCancellable_ =
                tapBlockerListener_->subscribeWillChange([this] { willChange_.emit(); });
            blockerSubscribedTo_ = tapBlockerListener_.get();
        }
    }
}

void RawKeyboardListener::clearPressedCodes() {
    willChange_.emit();
    currentPressedCodes_.clear();
}

void RawKeyboardListener::recordsChanged() {
    rebuildIndex();
}

void RawKeyboardListener::rebuildIndex() {
    if (selectedDeviceMapping_) {
        index_.rebuild(allDeviceMappings_, selectedDeviceMapping_->productID,
                       selectedDeviceMapping_->vendorID);
    } else {
        index_.clear();
    }
}

// ---------------------------------------------------------------- discovery

void RawKeyboardListener::handleDeviceMatched(void* context, int /*result*/,
                                              const HidDeviceRef& device) {
    if (context == nullptr || !device) {
        return;
    }
    static_cast<RawKeyboardListener*>(context)->onDeviceMatched(device);
}

void RawKeyboardListener::handleDeviceRemoved(void* context, int /*result*/,
                                              const HidDeviceRef& device) {
    if (context == nullptr || !device) {
        return;
    }
    static_cast<RawKeyboardListener*>(context)->onDeviceRemoved(device);
}

void RawKeyboardListener::onDeviceMatched(const HidDeviceRef& device) {
    const std::int64_t locationID = device->integerProperty("LocationID").value_or(-1);
    // One entry per location: a keyboard with several keyboard interfaces is
    // listed once, by the first interface reported.
    if (!seenKeyboardLocationIDs_.insert(locationID).second) {
        return;
    }
    KeyboardDevice keyboard;
    keyboard.productName = device->stringProperty("Product").value_or("Unknown");
    keyboard.productID = device->integerProperty("ProductID").value_or(-1);
    keyboard.vendorID = device->integerProperty("VendorID").value_or(-1);
    keyboard.deviceRef = device;

    std::weak_ptr<bool> alive = alive_;
    platform_->scheduler().postToMain([this, alive, keyboard = std::move(keyboard), locationID] {
        if (alive.expired()) {
            return;
        }
        willChange_.emit();
        discoveredKeyboards_.push_back(keyboard);
        log(LogLevel::info,
            "Matched Device: " + keyboard.productName +
                ", productID=" + std::to_string(keyboard.productID) + ", vendorID=" +
                std::to_string(keyboard.vendorID) + " (locID=" + std::to_string(locationID) + ")",
            kCategory);
    });
}

void RawKeyboardListener::onDeviceRemoved(const HidDeviceRef& device) {
    const std::string productName = device->stringProperty("Product").value_or("Unknown");
    const std::int64_t vendorID = device->integerProperty("VendorID").value_or(-1);
    const std::int64_t locationID = device->integerProperty("LocationID").value_or(-1);

    std::weak_ptr<bool> alive = alive_;
    platform_->scheduler().postToMain([this, alive, device, productName, vendorID, locationID] {
        if (alive.expired()) {
            return;
        }
        seenKeyboardLocationIDs_.erase(locationID);
        willChange_.emit();
        std::erase_if(discoveredKeyboards_, [&](const KeyboardDevice& k) {
            return platform::sameDevice(k.deviceRef, device);
        });
        log(LogLevel::info,
            "Removed Device: " + productName + ", vendorID=" + std::to_string(vendorID), kCategory);
        if (platform::sameDevice(device, selectedDeviceIOHIDDevice_)) {
            setIsIntercepting(false);
            stopRepeat();
            (void)stopListening();
            clearPressedCodes();
        }
    });
}

// ---------------------------------------------------------------- listening

void RawKeyboardListener::startListening(const KeyboardDevice& device) {
    (void)stopListening();

    if (isIntercepting_ || isForceBlockTap_) {
        log(LogLevel::info, "Initializing TAP Blocker...", kCategory);
        auto blocker = std::make_shared<TapBlockerListener>(*this);
        setTapBlockerListener(blocker);
        blocker->start();
    }

    if (device.deviceRef) {
        device.deviceRef->registerInputValueCallback(&RawKeyboardListener::handleInputValue, this);
        device.deviceRef->scheduleWithRunLoop();
    }

    selectedDeviceIOHIDDevice_ = device.deviceRef;
    DeviceMapping listened;
    listened.productName = device.productName;
    listened.productID = device.productID;
    listened.vendorID = device.vendorID;
    selectedDeviceMapping_ = std::move(listened);
    rebuildIndex();

    std::vector<HidUsage> empty;
    // Room for every key a capture can see, so that key-downs do not allocate.
    empty.reserve(64);
    setCapturedInputCodes(std::move(empty));
    setIsCapturingInput(true);
}

ListeningResult RawKeyboardListener::stopListening() {
    ListeningResult result;
    result.codes = capturedInputCodes_;

    if (selectedDeviceIOHIDDevice_) {
        selectedDeviceIOHIDDevice_->registerInputValueCallback(nullptr, nullptr);
        selectedDeviceIOHIDDevice_->unscheduleFromRunLoop();
    }
    if (tapBlockerListener_) {
        tapBlockerListener_->stop();
        result.taps = tapBlockerListener_->persistentCapturedTapSignatures();
        setTapBlockerListener(nullptr);
    }

    selectedDeviceIOHIDDevice_.reset();
    selectedDeviceMapping_.reset();
    index_.clear();
    setIsCapturingInput(false);
    setCapturedInputCodes({});
    return result;
}

void RawKeyboardListener::stopIntercepting() {
    log(LogLevel::info, "In stopIntercepting()...", kCategory);
    setIsIntercepting(false);
    (void)stopListening();
    clearPressedCodes();
    stopRepeat();
}

const KeyMapping* RawKeyboardListener::findMapping(std::span<const HidUsage> codes) const {
    if (!selectedDeviceMapping_) {
        return nullptr;
    }
    if (codes.size() > MappingIndex::kMaxIndexedKeys) {
        return findMappingLinear(allDeviceMappings_, selectedDeviceMapping_->productID,
                                 selectedDeviceMapping_->vendorID, codes);
    }
    FixedList<HidUsage, MappingIndex::kMaxIndexedKeys> sorted;
    for (HidUsage code : codes) {
        sorted.push_back(code);
    }
    std::sort(sorted.begin(), sorted.end());
    return index_.find(sorted.span());
}

void RawKeyboardListener::handleInputValue(void* context, const platform::HidDevice& sender,
                                           const platform::HidInputValue& value) {
    if (context == nullptr) {
        return;
    }
    static_cast<RawKeyboardListener*>(context)->onInputValue(sender, value);
}

void RawKeyboardListener::onInputValue(const platform::HidDevice& sender,
                                       const platform::HidInputValue& value) {
    if (!selectedDeviceIOHIDDevice_) {
        return;
    }
    if (&sender != selectedDeviceIOHIDDevice_.get() &&
        !selectedDeviceIOHIDDevice_->sameDevice(sender)) {
        return;
    }
    if (value.usagePage != kKeyboardUsagePage || value.usage == 0xFFFFFFFFu ||
        value.usage == kErrorRollOver || value.usage > 0xFFFFu) {
        return;
    }
    const auto code = static_cast<HidUsage>(value.usage);
    const bool keyDown = value.integerValue == 1;

    if (!keyDown) {
        if (!isIntercepting_) {
            return;
        }
        if (tapBlockerListener_ && currentPressedCodes_.contains(code)) {
            willChange_.emit();
            tapBlockerListener_->lockMutateValues([&] { currentPressedCodes_.eraseFirst(code); });
        }
        if (repeatTimer_ != 0 && repeatingCombo_.contains(code)) {
            stopRepeat();
        }
        return; // a key-up never touches the capture
    }

    if (isIntercepting_) {
        if (tapBlockerListener_ && !currentPressedCodes_.contains(code)) {
            willChange_.emit();
            tapBlockerListener_->lockMutateValues([&] {
                if (!currentPressedCodes_.contains(code)) {
                    currentPressedCodes_.push_back(code);
                }
            });
        }
        HeldKeys held = currentPressedCodes_;
        std::sort(held.begin(), held.end());
        if (const KeyMapping* mapping = findMapping(held.span())) {
            // Work on a copy: observers told of the output's changes must not
            // be able to pull the mapping away underneath. The copy reuses
            // its storage from one match to the next.
            matchedBehavior_ = mapping->outputBehavior;
            triggerOutput(matchedBehavior_);
            startRepeat(held.span(), matchedBehavior_);
        }
    }

    if (isCapturingInput_ && !containsCode(capturedInputCodes_, code)) {
        willChange_.emit();
        capturedInputCodes_.push_back(code);
    }
}

// ------------------------------------------------------------------ output

void RawKeyboardListener::triggerOutput(const OutputBehavior& behavior) {
    auto emitKey = [this](std::int64_t keyCode, EventFlags flags) {
        const bool registered = allowThrough(keyCode, flags);
        const bool posted = postKeyStroke(keyCode, flags);
        if (registered && !posted && tapBlockerListener_) {
            // Nothing will ever consume it; left in place it would later let
            // a real key-down through.
            tapBlockerListener_->withdrawPassThrough(
                KeyComboSignature::passThrough(keyCode, flags));
        }
    };

    switch (behavior.kind()) {
    case OutputBehavior::Kind::none:
        return;
    case OutputBehavior::Kind::customKeySequence: {
        std::size_t skipped = 0;
        for (const MacKeySignature& s : behavior.signatures()) {
            if (s.keyCode < 0 || s.keyCode > 0xFFFF) {
                ++skipped;
                continue;
            }
            emitKey(s.keyCode, s.modifiers);
        }
        if (skipped > 0 && !isRepeatFiring_) {
            log(LogLevel::warning,
                "Skipped " + std::to_string(skipped) +
                    " key code(s) outside 0 to 65535 in a custom key sequence.",
                kCategory);
        }
        return;
    }
    case OutputBehavior::Kind::openSearchBar:
    case OutputBehavior::Kind::copyOperation:
    case OutputBehavior::Kind::pasteOperation:
        if (auto stroke = platform_->eventPoster().builtInShortcut(behavior.kind())) {
            emitKey(stroke->keyCode, stroke->flags);
        }
        return;
    }
}

bool RawKeyboardListener::allowThrough(std::int64_t keyCode, EventFlags flags) {
    if (!tapBlockerListener_) {
        return false;
    }
    if (!tapBlockerListener_->addPassThrough(KeyComboSignature::passThrough(keyCode, flags))) {
        return false;
    }
    setTapBlockerListener(tapBlockerListener_);
    return true;
}

bool RawKeyboardListener::postKeyStroke(std::int64_t keyCode, EventFlags flags) {
    if (keyCode < 0 || keyCode > 0xFFFF) {
        return false;
    }
    auto& poster = platform_->eventPoster();
    const bool down = poster.postKeyEvent(keyCode, flags, true);
    (void)poster.postKeyEvent(keyCode, flags, false);
    return down;
}

void RawKeyboardListener::startRepeat(std::span<const HidUsage> combination,
                                      const OutputBehavior& behavior) {
    const platform::Preferences& prefs = platform_->preferences();
    if (!settings::keyRepeatEnabled(prefs)) {
        return;
    }
    if (behavior.kind() == OutputBehavior::Kind::none) {
        return;
    }
    stopRepeat();

    repeatingCombo_.clear();
    for (HidUsage code : combination) {
        repeatingCombo_.push_back(code);
    }
    if (&behavior != &repeatingBehavior_) {
        repeatingBehavior_ = behavior;
    }
    const std::uint64_t generation = ++repeatGeneration_;
    const auto initialDelay = seconds(settings::keyRepeatInitialDelay(prefs));
    const auto interval = seconds(settings::keyRepeatInterval(prefs));
    // The closure holds two words, within std::function's inline storage.
    repeatTimer_ = platform_->scheduler().scheduleRepeating(
        initialDelay, interval, [this, generation] { fireRepeat(generation); });
}

void RawKeyboardListener::fireRepeat(std::uint64_t generation) {
    if (generation != repeatGeneration_ || repeatTimer_ == 0) {
        return;
    }
    isRepeatFiring_ = true;
    triggerOutput(repeatingBehavior_);
    isRepeatFiring_ = false;
}

void RawKeyboardListener::stopRepeat() {
    if (repeatTimer_ != 0) {
        platform_->scheduler().cancel(repeatTimer_);
    }
    repeatTimer_ = 0;
    repeatingCombo_.clear();
    ++repeatGeneration_;
}

// ------------------------------------------------------- mapping management

void RawKeyboardListener::loadMappings(const KeyboardDevice& keyboard) {
    std::vector<KeyMapping> loaded;
    if (storage_) {
        loaded = storage_->loadMappings(keyboard);
    }
    auto it = std::find_if(
        allDeviceMappings_.begin(), allDeviceMappings_.end(), [&](const DeviceMapping& r) {
            return r.productID == keyboard.productID && r.vendorID == keyboard.vendorID;
        });
    if (!storage_ && it != allDeviceMappings_.end()) {
        // Without storage the record in memory is the only copy there is;
        // "loading" nothing over it would throw the user's mappings away.
        return;
    }
    mutateAllDeviceMappings([&](std::vector<DeviceMapping>& records) {
        if (it == records.end()) {
            DeviceMapping record;
            record.productName = keyboard.productName;
            record.productID = keyboard.productID;
            record.vendorID = keyboard.vendorID;
            record.mappings = std::move(loaded);
            records.push_back(std::move(record));
        } else {
            it->mappings = std::move(loaded);
        }
    });
}

void RawKeyboardListener::saveMappings(const KeyboardDevice& keyboard) {
    auto it = std::find_if(
        allDeviceMappings_.begin(), allDeviceMappings_.end(), [&](const DeviceMapping& r) {
            return r.productID == keyboard.productID && r.vendorID == keyboard.vendorID;
        });
    if (it == allDeviceMappings_.end()) {
        return;
    }
    std::string errorText;
    if (!storage_) {
        errorText = "no mapping storage (" + storageError_ + ")";
    } else if (storage_->saveMappings(it->mappings, keyboard, errorText)) {
        return;
    }
    log(LogLevel::error, "Failed to save mappings for " + keyboard.productName + ": " + errorText,
        kCategory);
}

void RawKeyboardListener::editMapping(const KeyboardDevice& keyboard, const DeviceMapping& templ,
                                      const KeyMapping& mapping) {
    auto record = std::find_if(
        allDeviceMappings_.begin(), allDeviceMappings_.end(), [&](const DeviceMapping& r) {
            return r.productName == templ.productName && r.vendorID == templ.vendorID;
        });
    if (record == allDeviceMappings_.end()) {
        log(LogLevel::warning, "editMapping: device not found", kCategory);
        return;
    }
    auto target = std::find_if(record->mappings.begin(), record->mappings.end(),
                               [&](const KeyMapping& m) { return m.id == mapping.id; });
    if (target == record->mappings.end()) {
        log(LogLevel::warning, "editMapping: mapping not found", kCategory);
        return;
    }
    std::vector<KeyMapping> edited = record->mappings;
    edited[static_cast<std::size_t>(target - record->mappings.begin())] = mapping;
    const Uuid recordId = record->id;

    mutateAllDeviceMappings([&](std::vector<DeviceMapping>&) { record->mappings.clear(); });

    // The list on screen empties, then comes back with the change: the
    // second half runs a moment later on the main thread.
    std::weak_ptr<bool> alive = alive_;
    auto shared = std::make_shared<std::pair<std::vector<KeyMapping>, KeyboardDevice>>(
        std::move(edited), keyboard);
    auto timer = std::make_shared<platform::Scheduler::TimerId>(0);
    *timer = platform_->scheduler().scheduleOnce(
        kEditRestoreDelay, [this, alive, shared, timer, recordId] {
            if (alive.expired()) {
                return;
            }
            std::erase(pendingEditTimers_, *timer);
            restoreEditedRecord(recordId, std::move(shared->first), shared->second);
        });
    pendingEditTimers_.push_back(*timer);
}

void RawKeyboardListener::restoreEditedRecord(const Uuid& recordId,
                                              std::vector<KeyMapping> mappings,
                                              const KeyboardDevice& keyboard) {
    // The records may have changed in the meantime: find the record again by
    // its id, and give up when it is gone.
    auto record = std::find_if(allDeviceMappings_.begin(), allDeviceMappings_.end(),
                               [&](const DeviceMapping& r) { return r.id == recordId; });
    if (record == allDeviceMappings_.end()) {
        log(LogLevel::warning, "editMapping: device record is gone; edit not restored", kCategory);
        return;
    }
    mutateAllDeviceMappings(
        [&](std::vector<DeviceMapping>&) { record->mappings = std::move(mappings); });
    saveMappings(keyboard);
}

void RawKeyboardListener::deleteMapping(const KeyboardDevice& keyboard, const Uuid& recordId,
                                        const KeyMapping& mapping) {
    auto record = std::find_if(allDeviceMappings_.begin(), allDeviceMappings_.end(),
                               [&](const DeviceMapping& r) { return r.id == recordId; });
    if (record == allDeviceMappings_.end()) {
        return;
    }
    const Uuid mappingId = mapping.id;
    mutateAllDeviceMappings([&](std::vector<DeviceMapping>&) {
        std::erase_if(record->mappings, [&](const KeyMapping& m) { return m.id == mappingId; });
    });
    saveMappings(keyboard);
}

void RawKeyboardListener::clearAllMappings(const KeyboardDevice& keyboard, const Uuid& recordId) {
    auto record = std::find_if(allDeviceMappings_.begin(), allDeviceMappings_.end(),
                               [&](const DeviceMapping& r) { return r.id == recordId; });
    if (record == allDeviceMappings_.end()) {
        return;
    }
    mutateAllDeviceMappings([&](std::vector<DeviceMapping>&) { record->mappings.clear(); });
    saveMappings(keyboard);
}

// --------------------------------------------------------------- interface

void toggleInterception(RawKeyboardListener& engine) {
    const auto& selected = engine.selectedDevice();
    if (!selected) {
        return;
    }
    if (engine.isIntercepting()) {
        engine.stopIntercepting();
        return;
    }
    log(LogLevel::info, "In startIntercepting(...)...", kCategory);
    const KeyboardDevice device = *selected;
    engine.setIsIntercepting(true);
    engine.startListening(device);
}

} // namespace chordwell
