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
    if (entry.grabbed || entry.keyboard->anyKeyDown()) {
        return; // already grabbed, or waiting for the keys to come up
    }
    if (entry.keyboard->setGrabbed(true)) {
        entry.grabbed = true;
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
    attached_.push_back(Attached{&keyboard, false});
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
    if (entry != nullptr && !entry->grabbed && wantsGrab()) {
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
}

std::vector<PlatformNotice> InputContext::notices() const {
    std::vector<PlatformNotice> result;
    for (PlatformProblem problem : problems_) {
        result.push_back(PlatformNotice{noticeText(problem), "", ""});
    }
    return result;
}

} // namespace chordwell::platform::lnx
