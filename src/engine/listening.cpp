// The listening lifecycle: reading one keyboard, with a fresh tap blocker
// while intercepting or recording, and the interception switch.
#include "engine/raw_keyboard_listener.hpp"

#include "logging/log.hpp"

namespace chordwell {

namespace {

constexpr std::string_view kCategory = "keyboard";

} // namespace

// ---------------------------------------------------------------- listening

void RawKeyboardListener::startListening(const KeyboardDevice& device) {
    DeviceMapping listened;
    listened.productName = device.productName;
    listened.productID = device.productID;
    listened.vendorID = device.vendorID;
    // Made before the lock is taken: copying many mappings must not hold up
    // the keys of another keyboard being read.
    std::unique_ptr<Matching> matching = makeMatching(listened);
    const auto guard = lock();
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
    listenedIdentity_ = identityOf(device);
    selectedDeviceMapping_ = std::move(listened);
    installMatching(std::move(matching));

    std::vector<HidUsage> empty;
    // Room for every key a capture can see, so that key-downs do not allocate.
    empty.reserve(64);
    setCapturedInputCodes(std::move(empty));
    setIsCapturingInput(true);
}

ListeningResult RawKeyboardListener::stopListening() {
    const auto guard = lock();
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
    listenedIdentity_.reset();
    selectedDeviceMapping_.reset();
    rebuildIndex();
    setIsCapturingInput(false);
    setCapturedInputCodes({});
    return result;
}

void RawKeyboardListener::stopIntercepting() {
    const auto guard = lock();
    log(LogLevel::info, "In stopIntercepting()...", kCategory);
    setIsIntercepting(false);
    (void)stopListening();
    clearPressedCodes();
    stopRepeat();
    endWaiting();
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
    if (!selected->deviceRef) {
        // Not attached (it went away, and waiting was turned off): wait for
        // it again rather than listen to nothing.
        engine.followKeyboard(identityOf(*selected), true);
        return;
    }
    log(LogLevel::info, "In startIntercepting(...)...", kCategory);
    const KeyboardDevice device = *selected;
    engine.setIsIntercepting(true);
    engine.startListening(device);
}

} // namespace chordwell
