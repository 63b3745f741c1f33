// Following the keyboard: the listened keyboard that goes away while
// intercepting (unplugged, a KVM switch turned, a Bluetooth connection lost)
// pauses interception until it comes back; the application asks for its last
// keyboard at launch the same way; sleep and wake.
#include "engine/raw_keyboard_listener.hpp"

#include "engine/record_lookup.hpp"
#include "logging/log.hpp"

namespace chordwell {

namespace {

constexpr std::string_view kCategory = "keyboard";

} // namespace

std::optional<KeyboardIdentity> RawKeyboardListener::selectedKeyboardIdentity() const {
    if (awaitedKeyboard_) {
        return awaitedKeyboard_;
    }
    if (!selectedDevice_) {
        return std::nullopt;
    }
    return identityOf(*selectedDevice_);
}

void RawKeyboardListener::endWaiting() {
    if (!awaitedKeyboard_) {
        return;
    }
    announce(EngineChange::interception);
    awaitedKeyboard_.reset();
}

void RawKeyboardListener::loadMappingsIfAbsent(const KeyboardDevice& keyboard) {
    // Loading replaces the record's mappings with the file's: a record
    // already in memory may hold changes the file lacks (a save that failed).
    if (findRecordOfModel(allDeviceMappings_, modelOf(keyboard)) == allDeviceMappings_.end()) {
        loadMappings(keyboard);
    }
}

void RawKeyboardListener::pauseForAbsentKeyboard(const HidDeviceRef& gone) {
    KeyboardIdentity identity;
    if (listenedIdentity_) {
        identity = *listenedIdentity_;
    } else if (selectedDeviceMapping_) {
        identity.vendorID = selectedDeviceMapping_->vendorID;
        identity.productID = selectedDeviceMapping_->productID;
        identity.productName = selectedDeviceMapping_->productName;
    }
    stopRepeat();
    (void)stopListening(); // the tap goes, and with it any grab of the keyboard
    clearPressedCodes();

    announce(EngineChange::interception);
    awaitedKeyboard_ = identity;
    // The selection stays the same keyboard (the same id, so the windows do
    // not reload it), now without a device: nothing may listen to a device
    // that is gone.
    KeyboardDevice absent = absentKeyboard(identity);
    if (selectedDevice_ && platform::sameDevice(selectedDevice_->deviceRef, gone)) {
        absent.id = selectedDevice_->id;
    }
    selectDevice(absent);
    log(LogLevel::info,
        "Interception paused: " + identity.productName +
            " went away; it resumes when the keyboard comes back.",
        kCategory);
}

void RawKeyboardListener::keyboardArrived(const KeyboardDevice& keyboard) {
    if (!awaitedKeyboard_) {
        return;
    }
    // Only the keyboard that arrives can end the waiting: one that was
    // already there when the awaited one went away was not chosen then.
    const auto again = findKeyboardAgain(*awaitedKeyboard_, discoveredKeyboards_);
    if (again && again->id == keyboard.id) {
        resumeWithKeyboard(*again);
    }
}

void RawKeyboardListener::resumeWithKeyboard(const KeyboardDevice& keyboard) {
    endWaiting();
    selectDevice(keyboard);
    loadMappingsIfAbsent(keyboard);
    if (!isIntercepting_) {
        log(LogLevel::info, keyboard.productName + " is attached; selected it again.", kCategory);
        return;
    }
    log(LogLevel::info, "Interception resumes: " + keyboard.productName + " is back.", kCategory);
    startListening(keyboard);
}

void RawKeyboardListener::followKeyboard(const KeyboardIdentity& identity, bool intercept) {
    if (isIntercepting_) {
        stopIntercepting();
    }
    endWaiting();
    if (const auto present = findKeyboardAgain(identity, discoveredKeyboards_)) {
        selectDevice(*present);
        loadMappingsIfAbsent(*present);
        if (intercept) {
            log(LogLevel::info, "In startIntercepting(...)...", kCategory);
            setIsIntercepting(true);
            startListening(*present);
        }
        return;
    }
    announce(EngineChange::interception);
    awaitedKeyboard_ = identity;
    if (intercept) {
        // The absent keyboard is selected, so that its mappings show and the
        // switch that turns interception off is there.
        const KeyboardDevice absent = absentKeyboard(identity);
        selectDevice(absent);
        loadMappingsIfAbsent(absent);
        setIsIntercepting(true);
    } else if (selectedDevice_) {
        selectDevice(std::nullopt);
    }
    log(LogLevel::info,
        "Waiting for " + identity.productName + " to be attached" +
            (intercept ? "; interception starts when it is." : "."),
        kCategory);
}

// ------------------------------------------------------------ sleep and wake

void RawKeyboardListener::handlePowerEvent(void* context, platform::Power::Event event) {
    if (context == nullptr) {
        return;
    }
    auto* engine = static_cast<RawKeyboardListener*>(context);
    const auto guard = engine->lock(); // held keys, repeat and grabs are the key path's
    if (event == platform::Power::Event::willSleep) {
        engine->systemWillSleep();
    } else {
        engine->systemDidWake();
    }
}

void RawKeyboardListener::systemWillSleep() {
    log(LogLevel::info, "The system is going to sleep: releasing every held key.", kCategory);
    // A repeat would fire on waking for keys long released, and keys down at
    // the output would stay down for the desktop all through the sleep.
    stopRepeat();
    if (!currentPressedCodes_.empty()) {
        clearPressedCodes();
    }
    platform_->eventPoster().releaseHeldKeys();
}

void RawKeyboardListener::systemDidWake() {
    log(LogLevel::info, "The system woke: checking the keyboards again.", kCategory);
    if (manager_) {
        manager_->recheckDevices();
    }
    if (tapBlockerListener_) {
        tapBlockerListener_->ensureTapEnabled();
    }
}

} // namespace chordwell
