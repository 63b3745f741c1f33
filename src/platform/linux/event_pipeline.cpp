#include "platform/linux/event_pipeline.hpp"

#include <linux/input-event-codes.h>

#include <algorithm>

namespace chordwell::platform::lnx {

// ------------------------------------------------------------ LinuxEventTap

LinuxEventTap::LinuxEventTap(std::weak_ptr<EventPipeline> pipeline, Callback callback,
                             void* userInfo)
    : pipeline_(std::move(pipeline)), callback_(callback), userInfo_(userInfo) {
    if (auto p = pipeline_.lock()) {
        p->addTap(this);
    }
}

LinuxEventTap::~LinuxEventTap() {
    if (auto p = pipeline_.lock()) {
        const bool wasActive = isActive();
        p->removeTap(this);
        if (wasActive) {
            p->tapStateChanged();
        }
    }
}

bool LinuxEventTap::addToRunLoop() {
    if (!inRunLoop_) {
        inRunLoop_ = true;
        changed();
    }
    return true;
}

void LinuxEventTap::removeFromRunLoop() {
    if (inRunLoop_) {
        inRunLoop_ = false;
        changed();
    }
}

void LinuxEventTap::enable(bool enabled) {
    if (enabled_ != enabled) {
        enabled_ = enabled;
        changed();
    }
}

void LinuxEventTap::setCoversEveryKeyboard(bool covers) {
    if (coversEveryKeyboard_ != covers) {
        coversEveryKeyboard_ = covers;
        changed();
    }
}

void LinuxEventTap::changed() {
    if (auto p = pipeline_.lock()) {
        p->tapStateChanged();
    }
}

// ------------------------------------------------------------ EventPipeline

namespace {

bool isFlagsChangedKey(std::uint16_t code) {
    return modifierForEvdevCode(code).has_value() || code == KEY_CAPSLOCK || code == KEY_FN;
}

} // namespace

EventPipeline::EventPipeline(KeySink* sink) : sink_(sink) {}

EventPipeline::~EventPipeline() {
    releaseAll();
}

void EventPipeline::addTap(LinuxEventTap* tap) {
    taps_.push_back(tap);
}

void EventPipeline::removeTap(LinuxEventTap* tap) {
    auto it = std::find(taps_.begin(), taps_.end(), tap);
    if (it == taps_.end()) {
        return;
    }
    if (dispatchDepth_ > 0) {
        // A callback removed a tap while the event is still on its way:
        // keep the positions stable and tidy up afterwards.
        *it = nullptr;
        tapsNeedCompaction_ = true;
    } else {
        taps_.erase(it);
    }
}

bool EventPipeline::hasActiveTap() const {
    return std::any_of(taps_.begin(), taps_.end(),
                       [](const LinuxEventTap* t) { return t != nullptr && t->isActive(); });
}

bool EventPipeline::hasActiveCoveringTap() const {
    return std::any_of(taps_.begin(), taps_.end(), [](const LinuxEventTap* t) {
        return t != nullptr && t->isActive() && t->coversEveryKeyboard();
    });
}

void EventPipeline::tapStateChanged() {
    if (tapObserver_) {
        tapObserver_();
    }
}

TapDecision EventPipeline::dispatch(const KeyEvent& event) {
    TapDecision decision = TapDecision::pass;
    ++dispatchDepth_;
    // Index-based: a callback may create taps (appended) or remove them
    // (nulled) while the event travels.
    for (std::size_t i = 0; i < taps_.size(); ++i) {
        const LinuxEventTap* tap = taps_[i];
        if (tap == nullptr || !tap->isActive()) {
            continue;
        }
        if (tap->deliver(event) == TapDecision::swallow) {
            decision = TapDecision::swallow;
            break;
        }
    }
    --dispatchDepth_;
    if (dispatchDepth_ == 0 && tapsNeedCompaction_) {
        taps_.erase(std::remove(taps_.begin(), taps_.end(), nullptr), taps_.end());
        tapsNeedCompaction_ = false;
    }
    return decision;
}

bool EventPipeline::write(std::uint16_t code, bool down, SourceId owner, bool guarded) {
    if (sink_ == nullptr || code > kMaxEvdevKeyCode) {
        return false;
    }
    if (down) {
        if (virtualDown_.test(code)) {
            return true;
        }
        if (!sink_->writeKey(code, 1)) {
            return false;
        }
        interrupted_ |= virtualDown_; // whatever was held now has company
        virtualDown_.set(code);
        virtualOwner_[code] = owner;
        guarded_.set(code, guarded && modifierForEvdevCode(code).has_value());
        interrupted_.reset(code);
        return true;
    }
    if (!virtualDown_.test(code)) {
        return true; // its key-down never reached the virtual keyboard
    }
    if (guarded_.test(code) && !interrupted_.test(code)) {
        // Through write() itself, so that a neutral key whose release
        // failed is known to be down. Best effort otherwise: if it cannot be
        // written, the release below most likely fails too and says so.
        if (write(kNeutralKey, true, kSynthetic)) {
            write(kNeutralKey, false, kSynthetic);
        }
    }
    if (!sink_->writeKey(code, 0)) {
        return false; // still down on the virtual keyboard
    }
    virtualDown_.reset(code);
    guarded_.reset(code);
    interrupted_.reset(code);
    return true;
}

void EventPipeline::guardHeldModifiers() {
    for (const ModifierKey& modifier : modifierKeys()) {
        if (virtualDown_.test(modifier.evdevCode)) {
            guarded_.set(modifier.evdevCode);
        }
    }
}

bool EventPipeline::holdsModifier(SourceId source, std::uint16_t code) const {
    const HeldModifier wanted{source, code};
    return std::find(heldModifiers_.begin(), heldModifiers_.end(), wanted) != heldModifiers_.end();
}

EventFlags EventPipeline::physicalFlags() const {
    EventFlags flags = 0;
    for (const HeldModifier& held : heldModifiers_) {
        if (auto m = modifierForEvdevCode(held.code)) {
            flags |= m->flag | m->deviceFlag;
        }
    }
    return flags;
}

bool EventPipeline::isVirtuallyDown(std::uint16_t code) const {
    return code <= kMaxEvdevKeyCode && virtualDown_.test(code);
}

void EventPipeline::physicalKey(SourceId source, std::uint16_t code, std::int32_t value) {
    if (code > kMaxEvdevKeyCode) {
        return;
    }
    if (value == 2) {
        if (sink_ != nullptr && virtualDown_.test(code) && virtualOwner_[code] == source) {
            sink_->writeKey(code, 2);
        }
        return;
    }
    const bool down = value != 0;
    if (modifierForEvdevCode(code)) {
        const HeldModifier held{source, code};
        auto it = std::find(heldModifiers_.begin(), heldModifiers_.end(), held);
        if (down && it == heldModifiers_.end()) {
            heldModifiers_.push_back(held);
        } else if (!down && it != heldModifiers_.end()) {
            removeHeld([&](const HeldModifier& h) { return h == held; });
        }
    }
    const auto tapCode = tapKeyCodeForEvdevCode(code);
    KeyEvent event;
    event.keyCode = tapCode.value_or(kPrivateKeyCodeBase + code);
    event.flags = physicalFlags();
    if (isFlagsChangedKey(code)) {
        event.type = EventType::flagsChanged;
    } else {
        event.type = down ? EventType::keyDown : EventType::keyUp;
    }
    if (dispatch(event) == TapDecision::pass) {
        write(code, down, source);
    } else if (down) {
        guardHeldModifiers(); // they no longer come up alone by the user's doing
    }
}

void EventPipeline::releaseSource(SourceId source) {
    removeHeld([&](const HeldModifier& h) { return h.source == source; });
    for (std::uint16_t code = 0; code <= kMaxEvdevKeyCode; ++code) {
        if (virtualDown_.test(code) && virtualOwner_[code] == source) {
            write(code, false, source);
        }
    }
}

void EventPipeline::releaseAll() {
    heldModifiers_.clear();
    adjustment_ = Adjustment{};
    for (std::uint16_t code = 0; code <= kMaxEvdevKeyCode; ++code) {
        if (virtualDown_.test(code)) {
            write(code, false, kSynthetic);
        }
    }
}

void EventPipeline::restoreAdjustment() {
    if (!adjustment_.active) {
        return;
    }
    for (std::uint16_t code : adjustment_.pressed) {
        if (virtualDown_.test(code) && virtualOwner_[code] == kSynthetic) {
            write(code, false, kSynthetic);
        }
    }
    for (const HeldModifier& lifted : adjustment_.lifted) {
        // Put back only what the keyboard still holds. Its release will
        // follow with nothing in between: guarded.
        if (holdsModifier(lifted.source, lifted.code)) {
            write(lifted.code, true, lifted.source, true);
        }
    }
    adjustment_ = Adjustment{};
}

bool EventPipeline::postKey(std::int64_t keyCode, EventFlags flags, bool keyDown) {
    if (sink_ == nullptr) {
        return false;
    }
    const auto code = evdevCodeForTapKeyCode(keyCode);
    if (!code) {
        return false;
    }
    const KeyEvent event{keyDown ? EventType::keyDown : EventType::keyUp, keyCode, flags, true};
    if (dispatch(event) == TapDecision::swallow) {
        return true; // posted; a tap decided to drop it
    }
    if (!keyDown) {
        const bool released = write(*code, false, kSynthetic);
        restoreAdjustment();
        return released;
    }

    restoreAdjustment();
    const auto ownModifier = modifierForEvdevCode(*code);
    const std::span<const ModifierKey> modifiers = modifierKeys();
    // Families come in (left, right) pairs. The held modifiers the key must
    // not carry are lifted before the ones it needs go down, so that the
    // desktop never sees the two sets held together: Alt+Shift or
    // Control+Shift switch the keyboard layout on many desktops the moment
    // the second goes down, although neither the user nor the output asked
    // for that combination.
    const auto ownFamily = [&](const ModifierKey& left) {
        return ownModifier && ownModifier->flag == left.flag; // the posted key itself
    };
    bool written = true;
    for (std::size_t i = 0; written && i + 1 < modifiers.size(); i += 2) {
        const ModifierKey& left = modifiers[i];
        if (ownFamily(left) || (flags & left.flag) != 0) {
            continue;
        }
        for (const ModifierKey* side : {&left, &modifiers[i + 1]}) {
            if (written && virtualDown_.test(side->evdevCode)) {
                const SourceId owner = virtualOwner_[side->evdevCode];
                adjustment_.active = true;
                guarded_.set(side->evdevCode); // lifted for us, not by the user
                written = write(side->evdevCode, false, owner);
                if (written && owner != kSynthetic) {
                    adjustment_.lifted.push_back(HeldModifier{owner, side->evdevCode});
                }
            }
        }
    }
    for (std::size_t i = 0; written && i + 1 < modifiers.size(); i += 2) {
        const ModifierKey& left = modifiers[i];
        const ModifierKey& right = modifiers[i + 1];
        if (ownFamily(left) || (flags & left.flag) == 0 || virtualDown_.test(left.evdevCode) ||
            virtualDown_.test(right.evdevCode)) {
            continue;
        }
        const bool useRight = (flags & right.deviceFlag) != 0 && (flags & left.deviceFlag) == 0;
        const std::uint16_t press = useRight ? right.evdevCode : left.evdevCode;
        adjustment_.active = true;
        written = write(press, true, kSynthetic);
        if (written) {
            adjustment_.pressed.push_back(press);
        }
    }
    if (written && write(*code, true, kSynthetic)) {
        return true;
    }
    // The key would come out with the wrong modifiers, or not at all: put
    // the modifiers back as they were and report the failure.
    restoreAdjustment();
    return false;
}

// ------------------------------------------------------- LinuxEventPoster

std::optional<KeyStroke> linuxBuiltInShortcut(OutputBehavior::Kind kind) {
    switch (kind) {
    case OutputBehavior::Kind::openSearchBar:
        return KeyStroke{55, 0}; // Super alone opens the desktop's search
    case OutputBehavior::Kind::copyOperation:
        return KeyStroke{8, kMaskControl}; // Control+C
    case OutputBehavior::Kind::pasteOperation:
        return KeyStroke{9, kMaskControl}; // Control+V
    case OutputBehavior::Kind::none:
    case OutputBehavior::Kind::customKeySequence:
        break;
    }
    return std::nullopt;
}

bool LinuxEventPoster::postKeyEvent(std::int64_t keyCode, EventFlags flags, bool keyDown) {
    return pipeline_ && pipeline_->postKey(keyCode, flags, keyDown);
}

std::optional<KeyStroke> LinuxEventPoster::builtInShortcut(OutputBehavior::Kind kind) const {
    return linuxBuiltInShortcut(kind);
}

void LinuxEventPoster::releaseHeldKeys() {
    if (pipeline_) {
        pipeline_->releaseAll();
    }
}

} // namespace chordwell::platform::lnx
