#include "platform/linux/input_context.hpp"

#include "logging/log.hpp"

#include <linux/input-event-codes.h>

#include <algorithm>

namespace chordwell::platform::lnx {

namespace {
constexpr const char* kCategory = "keyboard";
} // namespace

std::string noticeText(PlatformProblem problem) {
    const std::string fix =
        "Join the input group (sudo usermod -aG input $USER), install Chordwell's udev rule "
        "(sudo make install), then log out and log in again.";
    switch (problem) {
    case PlatformProblem::cannotReadKeyboards:
        return "Chordwell cannot read your keyboards: your user may not read the keyboard "
               "devices (/dev/input/event*). " +
               fix;
    case PlatformProblem::cannotCreateVirtualKeyboard:
        return "Chordwell cannot create its virtual keyboard: /dev/uinput is not writable for "
               "your user, so mapped keys can be neither blocked nor sent. " +
               fix;
    case PlatformProblem::uinputMissing:
        return "Chordwell cannot create its virtual keyboard: /dev/uinput does not exist. Load "
               "the uinput module (sudo modprobe uinput; sudo make install loads it at every "
               "start), then start Chordwell again.";
    }
    return {};
}

InputContext::InputContext(std::shared_ptr<Scheduler> scheduler,
                           std::shared_ptr<EventPipeline> pipeline)
    : scheduler_(std::move(scheduler)), pipeline_(std::move(pipeline)) {
    pipeline_->setTapStateObserver([this] {
        if (!pipeline_->hasActiveTap()) {
            emergencyLatched_ = false; // interception ended: the next one may grab
        }
        updateGrabs();
    });
}

InputContext::~InputContext() {
    *alive_ = false;
    pipeline_->setTapStateObserver(nullptr);
    for (Attached& entry : attached_) {
        release(entry);
    }
}

InputContext::Attached* InputContext::find(const GrabbableKeyboard& keyboard) {
    auto it = std::find_if(attached_.begin(), attached_.end(),
                           [&](const Attached& a) { return a.keyboard == &keyboard; });
    return it == attached_.end() ? nullptr : &*it;
}

const InputContext::Attached* InputContext::find(const GrabbableKeyboard& keyboard) const {
    auto it = std::find_if(attached_.begin(), attached_.end(),
                           [&](const Attached& a) { return a.keyboard == &keyboard; });
    return it == attached_.end() ? nullptr : &*it;
}

bool InputContext::isAttached(const GrabbableKeyboard& keyboard) const {
    return find(keyboard) != nullptr;
}

bool InputContext::isGrabbed(const GrabbableKeyboard& keyboard) const {
    const Attached* entry = find(keyboard);
    return entry != nullptr && entry->grabbed;
}

bool InputContext::wantsGrab() const {
    return pipeline_->canWrite() && pipeline_->hasActiveTap() && !emergencyLatched_;
}

void InputContext::tryGrab(Attached& entry) {
    if (entry.grabbed) {
        return;
    }
    const auto waitForKeys = [&] {
        if (!entry.waitsForKeys) {
            entry.waitsForKeys = true;
            log(LogLevel::info,
                "Keyboard " + entry.keyboard->displayName() +
                    " has keys held down; it is grabbed once they are up, so that the desktop "
                    "sees them released.",
                kCategory);
        }
    };
    if (entry.keyboard->anyKeyDown()) {
        waitForKeys();
        return;
    }
    KeyboardLockResult claim = acquireKeyboardLock(entry.keyboard->lockName());
    if (claim.heldBy) {
        refuseGrab(entry, *claim.heldBy);
        return;
    }
    if (entry.keyboard->setGrabbed(true)) {
        if (entry.keyboard->anyKeyDown()) {
            // Pressed between the look and the grab: its release would come
            // to us alone. Let go and wait for it.
            entry.keyboard->setGrabbed(false);
            waitForKeys();
            return;
        }
        entry.waitsForKeys = false;
        entry.grabbed = true;
        entry.lock = std::move(claim.lock);
        setHeldElsewhere(*entry.keyboard, std::nullopt);
        log(LogLevel::info, "Grabbed keyboard " + entry.keyboard->displayName() + ".", kCategory);
    } else {
        log(LogLevel::warning,
            "Could not grab keyboard " + entry.keyboard->displayName() +
                " (another program holds it); its keys also reach the desktop.",
            kCategory);
    }
}

void InputContext::release(Attached& entry) {
    if (!entry.grabbed) {
        return;
    }
    entry.keyboard->setGrabbed(false);
    entry.grabbed = false;
    pipeline_->releaseSource(entry.keyboard->sourceId());
    entry.lock.reset(); // only now may another Chordwell process grab it
    log(LogLevel::info, "Released keyboard " + entry.keyboard->displayName() + ".", kCategory);
}

void InputContext::registerKeyboard(GrabbableKeyboard& keyboard) {
    if (std::find(known_.begin(), known_.end(), &keyboard) != known_.end()) {
        return;
    }
    known_.push_back(&keyboard);
    if (covering_) {
        keyboard.setCovered(true); // plugged in during a recording
    }
}

void InputContext::unregisterKeyboard(GrabbableKeyboard& keyboard) {
    known_.erase(std::remove(known_.begin(), known_.end(), &keyboard), known_.end());
}

void InputContext::updateCovering() {
    const bool want = wantsGrab() && pipeline_->hasActiveCoveringTap();
    if (want == covering_) {
        return;
    }
    covering_ = want;
    log(LogLevel::info,
        want ? "Reading every keyboard for the recording." : "Reading only the listened keyboard.",
        kCategory);
    // A copy: opening or closing a node may change the lists.
    const std::vector<GrabbableKeyboard*> keyboards = known_;
    for (GrabbableKeyboard* keyboard : keyboards) {
        if (std::find(known_.begin(), known_.end(), keyboard) != known_.end()) {
            keyboard->setCovered(want);
        }
    }
}

void InputContext::updateGrabs() {
    updateCovering();
    const bool want = wantsGrab();
    for (Attached& entry : attached_) {
        if (want) {
            tryGrab(entry);
        } else {
            release(entry);
        }
    }
}

void InputContext::attach(GrabbableKeyboard& keyboard) {
    if (find(keyboard) != nullptr) {
        return;
    }
    attached_.push_back(Attached{&keyboard, false, nullptr, false});
    if (wantsGrab()) {
        tryGrab(attached_.back());
    }
}

void InputContext::detach(GrabbableKeyboard& keyboard) {
    auto it = std::find_if(attached_.begin(), attached_.end(),
                           [&](const Attached& a) { return a.keyboard == &keyboard; });
    if (it == attached_.end()) {
        return;
    }
    release(*it);
    attached_.erase(it);
    setHeldElsewhere(keyboard, std::nullopt);
}

void InputContext::handleKey(GrabbableKeyboard& keyboard, std::uint16_t code, std::int32_t value) {
    Attached* entry = find(keyboard);
    if (entry == nullptr || !entry->grabbed) {
        return; // the desktop reads this keyboard itself
    }
    pipeline_->physicalKey(keyboard.sourceId(), code, value);
    if (value == 1 && (code == KEY_BACKSPACE || code == KEY_ESC || code == KEY_ENTER) &&
        keyboard.isKeyDown(KEY_BACKSPACE) && keyboard.isKeyDown(KEY_ESC) &&
        keyboard.isKeyDown(KEY_ENTER)) {
        triggerEmergencyExit();
    }
}

void InputContext::afterEvents(GrabbableKeyboard& keyboard) {
    Attached* entry = find(keyboard);
    // A keyboard another process holds is tried again when the taps change,
    // not after every key.
    const bool heldElsewhere = std::any_of(heldElsewhere_.begin(), heldElsewhere_.end(),
                                           [&](const auto& h) { return h.first == &keyboard; });
    if (entry != nullptr && !entry->grabbed && !heldElsewhere && wantsGrab()) {
        tryGrab(*entry);
    }
}

void InputContext::triggerEmergencyExit() {
    log(LogLevel::warning,
        "Emergency exit: Backspace, Escape and Enter held together; interception ends.", kCategory);
    emergencyLatched_ = true;
    updateGrabs();
    // The handler stops the engine, which closes keyboards: not from inside
    // the read of one of them.
    std::weak_ptr<bool> alive = alive_;
    scheduler_->postToMain([this, alive] {
        if (alive.expired()) {
            return;
        }
        if (emergencyHandler_) {
            const auto handler = emergencyHandler_;
            handler();
        }
    });
}

void InputContext::refuseGrab(Attached& entry, const std::string& holder) {
    const bool known = std::any_of(heldElsewhere_.begin(), heldElsewhere_.end(),
                                   [&](const auto& h) { return h.first == entry.keyboard; });
    if (!known) {
        log(LogLevel::warning,
            "Keyboard " + entry.keyboard->displayName() + " is held by " + holder +
                "; not grabbing it, interception ends.",
            kCategory);
    }
    setHeldElsewhere(*entry.keyboard, "Interception unavailable: the keyboard " +
                                          entry.keyboard->displayName() + " is in use by " +
                                          holder + ".");
    // Reading the keyboard ungrabbed would let the mapped keys reach the
    // desktop beside their outputs: interception ends as after the
    // emergency chord, but nothing is latched.
    std::weak_ptr<bool> alive = alive_;
    scheduler_->postToMain([this, alive] {
        if (!alive.expired() && emergencyHandler_) {
            const auto handler = emergencyHandler_;
            handler();
        }
    });
}

void InputContext::setHeldElsewhere(const GrabbableKeyboard& keyboard,
                                    std::optional<std::string> text) {
    auto it = std::find_if(heldElsewhere_.begin(), heldElsewhere_.end(),
                           [&](const auto& h) { return h.first == &keyboard; });
    if (!text) {
        if (it != heldElsewhere_.end()) {
            heldElsewhere_.erase(it);
            noticesChanged();
        }
        return;
    }
    if (it == heldElsewhere_.end()) {
        heldElsewhere_.emplace_back(&keyboard, std::move(*text));
    } else if (it->second != *text) {
        it->second = std::move(*text);
    } else {
        return;
    }
    noticesChanged();
}

void InputContext::setNoticesObserver(std::function<void()> observer) {
    noticesObserver_ = std::move(observer);
}

void InputContext::noticesChanged() {
    if (noticesObserver_) {
        const auto observer = noticesObserver_;
        observer();
    }
}

void InputContext::setEmergencyExitHandler(std::function<void()> handler) {
    emergencyHandler_ = std::move(handler);
}

void InputContext::mirrorLed(std::uint16_t code, std::int32_t value) {
    for (Attached& entry : attached_) {
        if (entry.grabbed) {
            entry.keyboard->setLed(code, value);
        }
    }
}

void InputContext::reportProblem(PlatformProblem problem, const std::string& detail) {
    if (!problems_.insert(problem).second) {
        return;
    }
    std::string message;
    switch (problem) {
    case PlatformProblem::cannotReadKeyboards:
        message = "Cannot read keyboard device " + detail +
                  ": permission denied (the user is not in the input group?).";
        break;
    case PlatformProblem::cannotCreateVirtualKeyboard:
        message = "Cannot create the virtual keyboard: " + detail +
                  " is not writable (udev rule for uinput not installed?).";
        break;
    case PlatformProblem::uinputMissing:
        message = "Cannot create the virtual keyboard: " + detail +
                  " does not exist (uinput module not loaded?).";
        break;
    }
    log(LogLevel::error, message, kCategory);
    noticesChanged();
}

std::vector<PlatformNotice> InputContext::notices() const {
    std::vector<PlatformNotice> result;
    for (PlatformProblem problem : problems_) {
        result.push_back(PlatformNotice{noticeText(problem), "", ""});
    }
    for (const auto& [keyboard, text] : heldElsewhere_) {
        result.push_back(PlatformNotice{text, "", ""});
    }
    return result;
}

} // namespace chordwell::platform::lnx
