#include "engine/tap_blocker_listener.hpp"

#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"

#include <algorithm>

namespace chordwell {

namespace {

constexpr std::string_view kCategory = "keyboard";

bool containsSignature(const std::vector<MacKeySignature>& list, const MacKeySignature& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

} // namespace

TapBlockerListener::TapBlockerListener(RawKeyboardListener& owner) : owner_(owner) {}

TapBlockerListener::~TapBlockerListener() {
    stop();
}

void TapBlockerListener::start() {
    // The engine starts each blocker once; a second start replaces the tap
    // rather than leaving two taps calling back into one blocker.
    stop();

    willChange_.emit();
    persistentCapturedTapSignatures_.clear();
    allTapSignaturesIncludingNotCapturedByTap_.clear();
    // Room for a whole recording, so that recording in the tap callback does
    // not allocate key by key.
    persistentCapturedTapSignatures_.reserve(32);
    allTapSignaturesIncludingNotCapturedByTap_.reserve(32);

    eventTap_ = owner_.platform().createKeyboardEventTap(&TapBlockerListener::handleTapEvent, this);
    if (!eventTap_) {
        log(LogLevel::error,
            "Failed to create event tap (check permissions in System Settings → Privacy & "
            "Security → Accessibility).",
            kCategory);
        return;
    }
    // A recording blocks, and records, keys typed on any keyboard.
    eventTap_->setCoversEveryKeyboard(owner_.isForceBlockTap_);
    if (eventTap_->addToRunLoop()) {
        sourceAdded_ = true;
        eventTap_->enable(true);
        log(LogLevel::info, "Event tap enabled for blocking OS shortcuts.", kCategory);
    }
}

void TapBlockerListener::stop() {
    if (eventTap_) {
        eventTap_->enable(false);
        if (sourceAdded_) {
            eventTap_->removeFromRunLoop();
        }
    }
    eventTap_.reset();
    sourceAdded_ = false;
}

void TapBlockerListener::registerTapSignatures(std::span<const MacKeySignature> signatures) {
    for (const MacKeySignature& s : signatures) {
        if (!containsSignature(allTapSignaturesIncludingNotCapturedByTap_, s)) {
            allTapSignaturesIncludingNotCapturedByTap_.push_back(s);
        }
    }
}

std::vector<KeyComboSignature> TapBlockerListener::forceLetItPassKeys() const {
    return lockMutateValues([this] {
        return std::vector<KeyComboSignature>(forceLetItPassKeys_.begin(),
                                              forceLetItPassKeys_.end());
    });
}

bool TapBlockerListener::addPassThrough(const KeyComboSignature& combo) {
    if (!hasLiveTap()) {
        return false;
    }
    lockMutateValues([&] {
        if (forceLetItPassKeys_.full()) {
            forceLetItPassKeys_.erase(0); // oldest first
        }
        forceLetItPassKeys_.push_back(combo);
    });
    return true;
}

void TapBlockerListener::withdrawPassThrough(const KeyComboSignature& combo) {
    lockMutateValues([&] {
        for (std::size_t i = forceLetItPassKeys_.size(); i > 0; --i) {
            if (forceLetItPassKeys_[i - 1] == combo) {
                forceLetItPassKeys_.erase(i - 1);
                return;
            }
        }
    });
}

void TapBlockerListener::appendPersistent(const MacKeySignature& signature) {
    willChange_.emit();
    persistentCapturedTapSignatures_.push_back(signature);
}

platform::TapDecision TapBlockerListener::handleTapEvent(void* userInfo,
                                                         const platform::KeyEvent& event) {
    if (userInfo == nullptr) {
        return platform::TapDecision::pass;
    }
    return static_cast<TapBlockerListener*>(userInfo)->handle(event);
}

platform::TapDecision TapBlockerListener::handle(const platform::KeyEvent& event) {
    using platform::EventType;
    using platform::TapDecision;

    // The system disables a tap that stalls or on some user input, and tells
    // the tap through its own callback; the notice itself goes nowhere.
    if (event.type == EventType::tapDisabledByTimeout ||
        event.type == EventType::tapDisabledByUserInput) {
        if (eventTap_) {
            eventTap_->enable(true);
            log(LogLevel::warning, "Event tap was disabled by the system; re-enabled it.",
                kCategory);
        }
        return TapDecision::swallow;
    }

    const bool isKeyDown = event.type == EventType::keyDown;
    const KeyComboSignature passCombo = KeyComboSignature::passThrough(event.keyCode, event.flags);

    // Snapshot under the lock. Whether the pass-through list holds this
    // event's combination is all the decision needs of it, so that is what
    // is taken instead of a copy of the list.
    RawKeyboardListener::HeldKeys held;
    bool forceBlock = false;
    bool passRegistered = false;
    lockMutateValues([&] {
        held = owner_.currentPressedCodes_;
        forceBlock = owner_.isForceBlockTap_;
        passRegistered = isKeyDown && forceLetItPassKeys_.contains(passCombo);
    });

    // Key-ups and modifier changes always pass, also those of mapped keys.
    if (!isKeyDown) {
        return TapDecision::pass;
    }

    const MacKeySignature signature = passCombo.keys[0];

    // Recording.
    if (!containsSignature(persistentCapturedTapSignatures_, signature)) {
        for (std::size_t i = 0; i < allTapSignaturesIncludingNotCapturedByTap_.size(); ++i) {
            const MacKeySignature known = allTapSignaturesIncludingNotCapturedByTap_[i];
            if (!containsSignature(persistentCapturedTapSignatures_, known)) {
                appendPersistent(known);
            }
        }
        const bool recording = owner_.isCapturingInput() && !owner_.isIntercepting();
        const bool record = recording || persistentCapturedTapSignatures_.size() <
                                             owner_.capturedInputCodes().size();
        if (record) {
            appendPersistent(signature);
            allTapSignaturesIncludingNotCapturedByTap_.push_back(signature);
        }
    }

    if (forceBlock) {
        return TapDecision::swallow;
    }

    // Only whether the held keys of the listened keyboard match a mapping
    // matters, not the event's own key.
    std::sort(held.begin(), held.end());
    if (owner_.findMapping(held.span()) == nullptr) {
        return TapDecision::pass;
    }

    if (passRegistered) {
        lockMutateValues([&] { forceLetItPassKeys_.eraseFirst(passCombo); });
        return TapDecision::pass;
    }
    return TapDecision::swallow;
}

} // namespace chordwell
