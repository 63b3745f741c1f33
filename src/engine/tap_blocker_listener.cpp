#include "engine/tap_blocker_listener.hpp"

#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"

#include <algorithm>
#include <array>

namespace chordwell {

namespace {

constexpr std::string_view kCategory = "keyboard";

bool containsSignature(const std::vector<MacKeySignature>& list, const MacKeySignature& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

// The HID usage behind a system key code (the inverse of the model's table;
// where two usages share a code, the lower one). Modifiers never matter
// here: they arrive as flag changes, which are never swallowed.
std::optional<HidUsage> usageOfKeyCode(std::int64_t keyCode) {
    static const std::array<HidUsage, 256> table = [] {
        std::array<HidUsage, 256> t{};
        for (const auto& [usage, code] : hidToMacKeyCodeTable()) {
            if (code < t.size() && (t[code] == 0 || usage < t[code])) {
                t[code] = usage;
            }
        }
        // The right-hand modifiers report codes of their own.
        t[62] = 0xE4;
        t[60] = 0xE5;
        t[61] = 0xE6;
        t[54] = 0xE7;
        return t;
    }();
    if (keyCode < 0 || keyCode >= static_cast<std::int64_t>(table.size())) {
        return std::nullopt;
    }
    const HidUsage usage = table[static_cast<std::size_t>(keyCode)];
    return usage == 0 ? std::nullopt : std::optional<HidUsage>(usage);
}

bool isModifierUsage(HidUsage usage) {
    return usage >= 0xE0 && usage <= 0xE7;
}

EventFlags modifierFlag(HidUsage usage) {
    static constexpr std::array<EventFlags, 4> kFlags = {kMaskControl, kMaskShift, kMaskAlternate,
                                                         kMaskCommand};
    return kFlags[(usage - 0xE0u) % 4u];
}

} // namespace

TapBlockerListener::TapBlockerListener(RawKeyboardListener& owner) : owner_(owner) {
    // Room for a long custom sequence in flight without growing.
    forceLetItPassKeys_.reserve(64);
}

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
    // Key-downs still waiting for their HID value are settled by nobody now.
    pendingKeyDowns_.clear();
    tapReleased_.clear();
    tapPressed_.clear();
    awaitingTap_.clear();
    tapAhead_.clear();
}

void TapBlockerListener::ensureTapEnabled() {
    if (eventTap_ && sourceAdded_ && !eventTap_->isEnabled()) {
        eventTap_->enable(true);
        log(LogLevel::warning, "Event tap was disabled while the system slept; re-enabled it.",
            kCategory);
    }
}

void TapBlockerListener::registerTapSignatures(std::span<const MacKeySignature> signatures) {
    for (const MacKeySignature& s : signatures) {
        if (!containsSignature(allTapSignaturesIncludingNotCapturedByTap_, s)) {
            allTapSignaturesIncludingNotCapturedByTap_.push_back(s);
        }
    }
}

std::vector<KeyComboSignature> TapBlockerListener::forceLetItPassKeys() const {
    return lockMutateValues([this] { return forceLetItPassKeys_; });
}

bool TapBlockerListener::addPassThrough(const KeyComboSignature& combo) {
    if (!hasLiveTap()) {
        return false;
    }
    lockMutateValues([&] {
        if (forceLetItPassKeys_.size() >= kMaxPassThroughs) {
            // Only a guard of memory: entries leave when their own event
            // comes back, so this many in flight means events were lost.
            forceLetItPassKeys_.erase(forceLetItPassKeys_.begin());
        }
        forceLetItPassKeys_.push_back(combo);
    });
    return true;
}

void TapBlockerListener::withdrawPassThrough(const KeyComboSignature& combo) {
    lockMutateValues([&] {
        for (std::size_t i = forceLetItPassKeys_.size(); i > 0; --i) {
            if (forceLetItPassKeys_[i - 1] == combo) {
                forceLetItPassKeys_.erase(forceLetItPassKeys_.begin() +
                                          static_cast<std::ptrdiff_t>(i - 1));
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
    auto* blocker = static_cast<TapBlockerListener*>(userInfo);
    // An observer told of a recorded signature may stop listening, which
    // drops the engine's reference: keep the blocker alive until it answers.
    const std::shared_ptr<TapBlockerListener> keep = blocker->weak_from_this().lock();
    return blocker->handle(event);
}

void TapBlockerListener::queueSettling() {
    if (settlingQueued_) {
        return;
    }
    settlingQueued_ = true;
    std::weak_ptr<TapBlockerListener> weak = weak_from_this();
    owner_.keyPathScheduler().postToMain([weak] {
        if (auto self = weak.lock()) {
            self->settlePendingKeyDowns();
        }
    });
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
        passRegistered = isKeyDown && event.posted &&
                         std::find(forceLetItPassKeys_.begin(), forceLetItPassKeys_.end(),
                                   passCombo) != forceLetItPassKeys_.end();
    });

    // Our own posts say nothing about the keys the user holds: the
    // book-keeping of tap events ahead of their HID values is the user's.
    if (event.type == EventType::keyUp && !event.posted) {
        if (const auto usage = usageOfKeyCode(event.keyCode)) {
            tapAhead_.eraseFirst(*usage);
        }
        // The key-up of a key-down that still waits for its HID value waits
        // with it, so that the application never sees the up first.
        for (std::size_t i = 0; i < pendingKeyDowns_.size(); ++i) {
            if (pendingKeyDowns_[i].keyCode == event.keyCode && !pendingKeyDowns_[i].released) {
                pendingKeyDowns_[i].released = true;
                pendingKeyDowns_[i].upFlags = event.flags;
                return TapDecision::swallow;
            }
        }
        // A key that is up although its HID value still says down: until
        // that value arrives (at the latest by the end of the turn), the
        // decisions below leave the key out.
        if (const auto usage = usageOfKeyCode(event.keyCode); usage && held.contains(*usage) &&
                                                              !tapReleased_.contains(*usage) &&
                                                              tapReleased_.push_back(*usage)) {
            queueSettling();
        }
    }
    if (event.type == EventType::flagsChanged && !event.posted) {
        // A modifier whose HID value has not arrived yet: the decisions
        // below count it as its flag says, until the value comes.
        if (const auto usage = usageOfKeyCode(event.keyCode); usage && isModifierUsage(*usage)) {
            if ((event.flags & modifierFlag(*usage)) != 0) {
                if (!held.contains(*usage) && !tapPressed_.contains(*usage) &&
                    tapPressed_.push_back(*usage)) {
                    queueSettling();
                }
            } else {
                tapPressed_.eraseFirst(*usage);
                if (held.contains(*usage) && !tapReleased_.contains(*usage) &&
                    tapReleased_.push_back(*usage)) {
                    queueSettling();
                }
            }
        }
    }
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

    // The user's keys never take an output's pass-through, even when they
    // look the same (a mapping of Space to Space, or Command+C held on one
    // keyboard while Command+C is posted for another): only posted events
    // do, which the platform marks.
    const auto usage = usageOfKeyCode(event.keyCode);
    const bool awaited = !event.posted && usage && awaitingTap_.eraseFirst(*usage);

    // One of the engine's own keys coming back. Posted events return in the
    // order they were posted, so entries older than this one whose events
    // have not come back never will (a post the system dropped): they go too.
    if (passRegistered) {
        lockMutateValues([&] {
            auto it = std::find(forceLetItPassKeys_.begin(), forceLetItPassKeys_.end(), passCombo);
            if (it != forceLetItPassKeys_.end()) {
                forceLetItPassKeys_.erase(forceLetItPassKeys_.begin(), it + 1);
            }
        });
        return TapDecision::pass;
    }

    // Only whether the held keys of the listened keyboard match a mapping
    // matters, not the event's own key...
    sortKeys(held);
    const bool heldMatches = owner_.findMapping(held.span()) != nullptr;
    if (!usage || held.contains(*usage)) {
        return heldMatches ? TapDecision::swallow : TapDecision::pass;
    }
    if (!event.posted && !awaited && !tapAhead_.contains(*usage)) {
        if (tapAhead_.full()) {
            tapAhead_.erase(0); // the oldest, most likely another keyboard's
        }
        tapAhead_.push_back(*usage);
    }

    // ...unless the event's HID value has not arrived yet (the two come
    // through separate sources, in no fixed order): then the key it carries
    // decides what the held keys will be, minus keys already seen going up.
    RawKeyboardListener::HeldKeys expected;
    for (HidUsage h : held) {
        if (!tapReleased_.contains(h)) {
            expected.push_back(h);
        }
    }
    for (HidUsage h : tapPressed_) {
        if (!expected.contains(h)) {
            expected.push_back(h);
        }
    }
    expected.push_back(*usage);
    sortKeys(expected);
    const bool completes = owner_.findMapping(expected.span()) != nullptr;
    if (!heldMatches && !completes) {
        return TapDecision::pass;
    }
    // The key may belong to another keyboard and its HID value never come:
    // it waits, swallowed, until its value arrives or the turn ends, and is
    // posted again then if it turned out to complete nothing.
    if (!pendingKeyDowns_.push_back(PendingKeyDown{event.keyCode, event.flags, *usage})) {
        return heldMatches ? TapDecision::swallow : TapDecision::pass;
    }
    queueSettling();
    return TapDecision::swallow;
}

void TapBlockerListener::hidKeyDown(HidUsage usage, bool matched) {
    tapReleased_.eraseFirst(usage);
    tapPressed_.eraseFirst(usage);
    const bool tapCameFirst = tapAhead_.eraseFirst(usage);
    for (std::size_t i = 0; i < pendingKeyDowns_.size(); ++i) {
        if (pendingKeyDowns_[i].usage == usage) {
            const PendingKeyDown key = pendingKeyDowns_[i];
            pendingKeyDowns_.erase(i);
            if (!matched) {
                repost(key);
            }
            return;
        }
    }
    // Its tap event is still to come (when the key has a system key code),
    // unless it came first.
    if (tapCameFirst) {
        return;
    }
    if (!awaitingTap_.contains(usage)) {
        if (awaitingTap_.full()) {
            awaitingTap_.erase(0);
        }
        awaitingTap_.push_back(usage);
    }
}

void TapBlockerListener::hidKeyUp(HidUsage usage) {
    tapReleased_.eraseFirst(usage);
    tapPressed_.eraseFirst(usage);
    awaitingTap_.eraseFirst(usage);
}

void TapBlockerListener::settlePendingKeyDowns() {
    settlingQueued_ = false;
    // Every HID value of the turn has arrived: a key-down still waiting came
    // from another keyboard, and is swallowed only while the listened
    // keyboard's held keys match a mapping.
    if (!pendingKeyDowns_.empty()) {
        RawKeyboardListener::HeldKeys held = owner_.currentPressedCodesSnapshot();
        sortKeys(held);
        const bool heldMatches = owner_.findMapping(held.span()) != nullptr;
        while (!pendingKeyDowns_.empty()) {
            const PendingKeyDown key = pendingKeyDowns_[0];
            pendingKeyDowns_.erase(0);
            if (!heldMatches) {
                repost(key);
            }
        }
    }
    tapReleased_.clear();
    tapPressed_.clear();
}

void TapBlockerListener::repost(const PendingKeyDown& key) {
    // The user's own key, late: it passes this tap through a pass-through.
    auto& poster = owner_.platform().eventPoster();
    const KeyComboSignature combo = KeyComboSignature::passThrough(key.keyCode, key.flags);
    const bool registered = addPassThrough(combo);
    if (!poster.postKeyEvent(key.keyCode, key.flags, true)) {
        if (registered) {
            withdrawPassThrough(combo);
        }
        return;
    }
    if (key.released) {
        (void)poster.postKeyEvent(key.keyCode, key.upFlags, false);
    }
}

} // namespace chordwell
