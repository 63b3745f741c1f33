// The engine object itself: construction and tear-down, and the setters of
// the published fields. The jobs live beside it: discovery
// (keyboard_discovery.cpp), the listening lifecycle (listening.cpp), held
// keys and matching (key_matching.cpp), output and key repeat
// (key_output.cpp), the mapping records (mapping_records.cpp) and the
// keyboard layout that outputs resolve through (layout_following.cpp).
#include "engine/raw_keyboard_listener.hpp"

#include "logging/log.hpp"

#include <string>

namespace chordwell {

namespace {

constexpr std::string_view kCategory = "keyboard";

} // namespace

// ------------------------------------------------------------ construction

RawKeyboardListener::RawKeyboardListener(std::shared_ptr<platform::Platform> platform,
                                         std::optional<std::filesystem::path> storageFolder)
    : platform_(std::move(platform)) {
    attachKeyPath();
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
    followKeyboardLayout();
}

RawKeyboardListener::RawKeyboardListener(std::shared_ptr<platform::Platform> platform,
                                         std::optional<StorageManager> storage)
    : platform_(std::move(platform)), storage_(std::move(storage)) {
    attachKeyPath();
    if (!storage_) {
        storageError_ = "no storage";
    }
    setupHIDManager();
    followKeyboardLayout();
}

RawKeyboardListener::~RawKeyboardListener() {
    const auto guard = lock();
    platform_->setEmergencyExitHandler(nullptr);
    if (auto* layout = platform_->keyboardLayout()) {
        layout->setChangeObserver(nullptr);
    }
    if (auto* power = platform_->power()) {
        power->registerCallback(nullptr, nullptr);
    }
    auto& scheduler = platform_->scheduler();
    if (repeatTimer_ != 0) {
        keyPathScheduler().cancel(repeatTimer_);
        repeatTimer_ = 0;
    }
    // An edit whose second half has not run yet is finished now, so that
    // quitting right after an edit keeps it. Nobody is told: observers may
    // be half gone by now.
    std::vector<PendingEdit> due;
    due.swap(pendingEdits_);
    for (PendingEdit& edit : due) {
        scheduler.cancel(edit.timer);
        completeEdit(std::move(edit), false);
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
    keyPathBell_.reset();
}

void RawKeyboardListener::attachKeyPath() {
    keyPath_ = platform_->keyPath();
    if (keyPath_ != nullptr) {
        keyPathBell_ = keyPath_->makeMainThreadBell([this] { deliverKeyPathChanges(); });
    }
}

// ---------------------------------------------------------------- published

void RawKeyboardListener::setAllDeviceMappings(std::vector<DeviceMapping> records) {
    finishPendingEdits();
    changeRecords(EngineChange::records,
                  [&](std::vector<DeviceMapping>& all) { all = std::move(records); });
}

void RawKeyboardListener::setIsCapturingInput(bool value) {
    const auto guard = lock();
    announce(EngineChange::capture);
    isCapturingInput_ = value;
}

void RawKeyboardListener::setIsIntercepting(bool value) {
    const auto guard = lock();
    announce(EngineChange::interception);
    isIntercepting_ = value;
}

void RawKeyboardListener::setIsForceBlockTap(bool value) {
    const auto guard = lock();
    announce(EngineChange::interception);
    isForceBlockTap_ = value;
}

void RawKeyboardListener::setCapturedInputCodes(std::vector<HidUsage> codes) {
    const auto guard = lock();
    announce(EngineChange::capture);
    capturedInputCodes_ = std::move(codes);
}

void RawKeyboardListener::setSelectedDevice(std::optional<KeyboardDevice> device) {
    const bool sameSelection = device && selectedDevice_ && device->id == selectedDevice_->id;
    if (awaitedKeyboard_ && !sameSelection) {
        // Another keyboard chosen: the absent one is no longer wanted.
        if (isIntercepting_) {
            stopIntercepting();
        } else {
            endWaiting();
        }
    }
    selectDevice(std::move(device));
}

void RawKeyboardListener::selectDevice(std::optional<KeyboardDevice> device) {
    announce(EngineChange::selection);
    selectedDevice_ = std::move(device);
}

void RawKeyboardListener::setTapBlockerListener(std::shared_ptr<TapBlockerListener> blocker) {
    announce(EngineChange::tapBlocker);
    tapBlockerListener_ = std::move(blocker);
    // Forward the blocker's announcements (its recorded signatures) as the
    // engine's own. Re-assigning the same blocker keeps the subscription it
    // already has: the forwarding is the same either way.
    if (tapBlockerListener_.get() != blockerSubscribedTo_ || !tapBlockerListener_) {
        blockerCancellable_.cancel();
        blockerSubscribedTo_ = nullptr;
        if (tapBlockerListener_) {
            blockerCancellable_ = tapBlockerListener_->subscribeWillChange(
                [this] { announce(EngineChange::tapSignatures); });
            blockerSubscribedTo_ = tapBlockerListener_.get();
        }
    }
}

} // namespace chordwell
