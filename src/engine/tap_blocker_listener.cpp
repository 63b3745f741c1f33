#include "engine/tap_blocker_listener.hpp"

#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"

#include <algorithm>
#include <array>
#include <type_traits>

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

// Whether the key's tap event is a key-down (modifiers bring flag changes,
// and a usage without a system key code brings nothing).
bool usageHasKeyDownEvent(HidUsage usage) {
    if (usage >= 0xE0 && usage <= 0xE7) {
        return false;
    }
    return hidToMacKeyCode(usage).has_value();
}

template <typename List> bool containsUsage(const List& list, HidUsage usage) {
    for (const auto& entry : list) {
        if (entry.usage == usage) {
            return true;
        }
    }
    return false;
}

template <typename List> void eraseUsage(List& list, HidUsage usage) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].usage == usage) {
            list.erase(i);
            return;
        }
    }
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
    // Key-downs still waiting for their HID value go to the application now
    // that nothing is swallowed any more (past no tap of ours), each with its
    // key-up: their own key-up may already be on its way past the tap that
    // is gone (a keyboard unplugged with the key held has its keys released
    // by the system, in no set order with the removal), and a key-down
    // arriving after it would stay down at the application.
    cancelSettleTimer();
    const auto waiting = pendingKeyDowns_;
    pendingKeyDowns_.clear();
    for (PendingKeyDown key : waiting) {
        if (!key.pairedWithHid && !key.heldMatchedAtTap) {
            if (!key.released) {
                key.released = true;
                key.upFlags = key.flags;
            }
            repost(key);
        }
    }
    tapReleased_.clear();
    tapPressed_.clear();
    awaitingTap_.clear();
    tapAhead_.clear();
    givenBackDown_.clear();
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

// ------------------------------------------------------------- the decision

platform::TapDecision TapBlockerListener::handle(const platform::KeyEvent& event) {
    using platform::EventType;
    using platform::TapDecision;

    if (event.type == EventType::tapDisabledByTimeout ||
        event.type == EventType::tapDisabledByUserInput) {
        return reEnableAfterNotice();
    }
    forgetExpired();
    const KeyComboSignature passCombo = KeyComboSignature::passThrough(event.keyCode, event.flags);
    Snapshot snapshot = takeSnapshot(event, passCombo);

    // Our own posts say nothing about the keys the user holds: the
    // book-keeping of tap events ahead of their HID values is the user's.
    if (event.type == EventType::keyUp && !event.posted && noteUserKeyUp(event, snapshot.held)) {
        return TapDecision::swallow;
    }
    if (event.type == EventType::flagsChanged && !event.posted) {
        noteUserModifier(event, snapshot.held);
    }
    // Key-ups and modifier changes always pass, also those of mapped keys.
    if (event.type != EventType::keyDown) {
        return TapDecision::pass;
    }
    recordKeyDown(passCombo.keys[0]);
    if (snapshot.forceBlock) {
        return TapDecision::swallow;
    }
    return decideKeyDown(event, passCombo, snapshot);
}

platform::TapDecision TapBlockerListener::reEnableAfterNotice() {
    // The system disables a tap that stalls or on some user input, and tells
    // the tap through its own callback; the notice itself goes nowhere.
    if (eventTap_) {
        eventTap_->enable(true);
        log(LogLevel::warning, "Event tap was disabled by the system; re-enabled it.", kCategory);
    }
    return platform::TapDecision::swallow;
}

TapBlockerListener::Snapshot TapBlockerListener::takeSnapshot(const platform::KeyEvent& event,
                                                              const KeyComboSignature& combo) {
    static_assert(std::is_same_v<HeldKeys, RawKeyboardListener::HeldKeys>);
    // Whether the pass-through list holds this event's combination is all the
    // decision needs of it, so that is what is taken instead of a copy.
    Snapshot snapshot;
    lockMutateValues([&] {
        snapshot.held = owner_.currentPressedCodes_;
        snapshot.forceBlock = owner_.isForceBlockTap_;
        snapshot.passRegistered = event.type == platform::EventType::keyDown && event.posted &&
                                  std::find(forceLetItPassKeys_.begin(), forceLetItPassKeys_.end(),
                                            combo) != forceLetItPassKeys_.end();
    });
    return snapshot;
}

bool TapBlockerListener::noteUserKeyUp(const platform::KeyEvent& event, const HeldKeys& held) {
    const auto usage = usageOfKeyCode(event.keyCode);
    if (usage) {
        tapAhead_.eraseFirst(*usage);
    }
    // The key-up of a key-down that still waits for its HID value waits with
    // it, so that the application never sees the up first.
    for (std::size_t i = 0; i < pendingKeyDowns_.size(); ++i) {
        if (pendingKeyDowns_[i].keyCode == event.keyCode && !pendingKeyDowns_[i].released) {
            pendingKeyDowns_[i].released = true;
            pendingKeyDowns_[i].upFlags = event.flags;
            // One a HID value answered is most likely a mapped key of the
            // listened keyboard, whose key-up passes like any; should it turn
            // out to be another keyboard's, it is given back down and up.
            return !pendingKeyDowns_[i].pairedWithHid;
        }
    }
    // A key that is up although its HID value still says down: until that
    // value arrives, or its deadline, the decisions leave the key out.
    if (usage && held.contains(*usage) && !containsUsage(tapReleased_, *usage)) {
        (void)tapReleased_.push_back(TapAhead{*usage, deadlineFromNow()});
    }
    // The key-up of a key-down given back late follows it through the
    // poster, so that it cannot overtake it; should the post fail, the up
    // passes as it is.
    return givenBackDown_.eraseFirst(event.keyCode) &&
           owner_.platform().eventPoster().postKeyEvent(event.keyCode, event.flags, false);
}

void TapBlockerListener::noteUserModifier(const platform::KeyEvent& event, const HeldKeys& held) {
    // A modifier whose HID value has not arrived yet: the decisions count it
    // as its flag says, until the value comes or its deadline passes.
    const auto usage = usageOfKeyCode(event.keyCode);
    if (!usage || !isModifierUsage(*usage)) {
        return;
    }
    if ((event.flags & modifierFlag(*usage)) != 0) {
        if (!held.contains(*usage) && !containsUsage(tapPressed_, *usage)) {
            (void)tapPressed_.push_back(TapAhead{*usage, deadlineFromNow()});
        }
        return;
    }
    eraseUsage(tapPressed_, *usage);
    if (held.contains(*usage) && !containsUsage(tapReleased_, *usage)) {
        (void)tapReleased_.push_back(TapAhead{*usage, deadlineFromNow()});
    }
}

void TapBlockerListener::recordKeyDown(const MacKeySignature& signature) {
    if (containsSignature(persistentCapturedTapSignatures_, signature)) {
        return;
    }
    for (std::size_t i = 0; i < allTapSignaturesIncludingNotCapturedByTap_.size(); ++i) {
        const MacKeySignature known = allTapSignaturesIncludingNotCapturedByTap_[i];
        if (!containsSignature(persistentCapturedTapSignatures_, known)) {
            appendPersistent(known);
        }
    }
    const bool recording = owner_.isCapturingInput() && !owner_.isIntercepting();
    const bool record =
        recording || persistentCapturedTapSignatures_.size() < owner_.capturedInputCodes().size();
    if (record) {
        appendPersistent(signature);
        allTapSignaturesIncludingNotCapturedByTap_.push_back(signature);
    }
}

// A key-down of the user's: a key already held here settles the other
// keyboards' waiting key-downs; a HID value that came first is taken with
// what it decided.
std::optional<TapBlockerListener::Awaited>
TapBlockerListener::noteUserKeyDown(HidUsage usage, const HeldKeys& held) {
    if (held.contains(usage)) {
        settleOtherKeyboards(usage);
    }
    for (std::size_t i = 0; i < awaitingTap_.size(); ++i) {
        if (awaitingTap_[i].usage == usage) {
            const Awaited awaited = awaitingTap_[i];
            awaitingTap_.erase(i);
            return awaited;
        }
    }
    return std::nullopt;
}

// One of the engine's own keys coming back. Posted events return in the
// order they were posted, so entries older than this one whose events have
// not come back never will (a post the system dropped): they go too.
void TapBlockerListener::takePassThrough(const KeyComboSignature& combo) {
    lockMutateValues([&] {
        auto it = std::find(forceLetItPassKeys_.begin(), forceLetItPassKeys_.end(), combo);
        if (it != forceLetItPassKeys_.end()) {
            forceLetItPassKeys_.erase(forceLetItPassKeys_.begin(), it + 1);
        }
    });
}

// A user's tap event ahead of its HID value.
void TapBlockerListener::noteTapAhead(HidUsage usage) {
    if (tapAhead_.contains(usage)) {
        return;
    }
    if (tapAhead_.full()) {
        tapAhead_.erase(0); // the oldest, most likely another keyboard's
    }
    tapAhead_.push_back(usage);
}

platform::TapDecision TapBlockerListener::decideKeyDown(const platform::KeyEvent& event,
                                                        const KeyComboSignature& combo,
                                                        Snapshot& snapshot) {
    using platform::TapDecision;
    // The user's keys never take an output's pass-through, even when they
    // look the same (a mapping of Space to Space, or Command+C held on one
    // keyboard while Command+C is posted for another): only posted events
    // do, which the platform marks.
    const auto usage = usageOfKeyCode(event.keyCode);
    std::optional<Awaited> awaited;
    if (!event.posted && usage) {
        awaited = noteUserKeyDown(*usage, snapshot.held);
    }
    if (snapshot.passRegistered) {
        takePassThrough(combo);
        return TapDecision::pass;
    }

    // Only whether the held keys of the listened keyboard match a mapping
    // matters, not the event's own key...
    sortKeys(snapshot.held);
    const bool heldMatches = owner_.findMapping(snapshot.held.span()) != nullptr;
    if (!usage || snapshot.held.contains(*usage)) {
        return heldMatches ? TapDecision::swallow : TapDecision::pass;
    }
    // ...its HID value came first and the key is up again by now: what the
    // value decided then holds for its event.
    if (awaited) {
        return heldMatches || awaited->matched ? TapDecision::swallow : TapDecision::pass;
    }
    if (!event.posted) {
        noteTapAhead(*usage);
    }
    // ...or the event's HID value has not arrived yet: then the key it
    // carries decides what the held keys will be.
    if (!heldMatches && !heldWillMatch(snapshot.held, *usage)) {
        return TapDecision::pass;
    }
    return holdUntilHidValue(event, *usage, heldMatches);
}

bool TapBlockerListener::heldWillMatch(const HeldKeys& held, HidUsage usage) const {
    // What the held keys will be once the key's HID value is in: they, with
    // or without the keys the tap saw go up first, with or without the
    // modifiers it saw go down first (either may be another keyboard's),
    // plus the key itself. Should any of them match, the key waits for its
    // value to tell.
    for (const bool minusReleased : {true, false}) {
        for (const bool plusPressed : {true, false}) {
            HeldKeys expected;
            for (HidUsage h : held) {
                if (!minusReleased || !containsUsage(tapReleased_, h)) {
                    expected.push_back(h);
                }
            }
            if (plusPressed) {
                for (const TapAhead& pressed : tapPressed_) {
                    if (!expected.contains(pressed.usage)) {
                        expected.push_back(pressed.usage);
                    }
                }
            }
            if (!expected.contains(usage)) {
                expected.push_back(usage);
            }
            sortKeys(expected);
            if (owner_.findMapping(expected.span()) != nullptr) {
                return true;
            }
        }
    }
    return false;
}

platform::TapDecision TapBlockerListener::holdUntilHidValue(const platform::KeyEvent& event,
                                                            HidUsage usage, bool heldMatches) {
    // The key may belong to another keyboard and its HID value never come:
    // it waits, swallowed, until its value arrives or its deadline passes,
    // and is posted again then if it turned out to complete nothing.
    const Time deadline = deadlineFromNow();
    if (!pendingKeyDowns_.push_back(PendingKeyDown{event.keyCode, event.flags, usage, false, 0,
                                                   deadline, heldMatches, false})) {
        return heldMatches ? platform::TapDecision::swallow : platform::TapDecision::pass;
    }
    armSettleTimer(deadline);
    return platform::TapDecision::swallow;
}

// ------------------------------------------------------------- HID values

void TapBlockerListener::hidKeyDown(HidUsage usage, bool matched) {
    forgetExpired();
    eraseUsage(tapReleased_, usage);
    eraseUsage(tapPressed_, usage);
    const bool tapCameFirst = tapAhead_.eraseFirst(usage);
    // The newest waiting key-down of the key first: a value follows its own
    // tap event by tens of milliseconds at most, so an older one still
    // waiting is more likely another keyboard's, sitting out its deadline.
    for (std::size_t i = pendingKeyDowns_.size(); i-- > 0;) {
        if (pendingKeyDowns_[i].usage == usage && !pendingKeyDowns_[i].pairedWithHid) {
            if (!matched) {
                const PendingKeyDown key = pendingKeyDowns_[i];
                pendingKeyDowns_.erase(i);
                repost(key);
                return;
            }
            // Most likely its own value, behind its tap event: it stays
            // swallowed. But it may be the same key pressed just before on
            // another keyboard, and this value's own tap event still to
            // come; which one it was shows by the deadline. That tap event
            // trails this value by the usual drift however long the waiting
            // one had waited already, so its deadline counts from here on.
            pendingKeyDowns_[i].pairedWithHid = true;
            pendingKeyDowns_[i].deadline =
                std::max(pendingKeyDowns_[i].deadline, deadlineFromNow());
            return;
        }
    }
    // Its tap event is still to come (when the key has a system key code),
    // unless it came first.
    if (tapCameFirst || !usageHasKeyDownEvent(usage)) {
        return;
    }
    if (awaitingTap_.full()) {
        awaitingTap_.erase(0);
    }
    awaitingTap_.push_back(Awaited{usage, matched, deadlineFromNow()});
}

void TapBlockerListener::hidKeyUp(HidUsage usage) {
    // An awaited tap event keeps what its key-down decided: it may still be
    // on its way although the key is up again.
    eraseUsage(tapReleased_, usage);
    eraseUsage(tapPressed_, usage);
    // The key went up with no second tap event of it: the key-down its value
    // answered was its own, and stays swallowed.
    for (std::size_t i = 0; i < pendingKeyDowns_.size(); ++i) {
        if (pendingKeyDowns_[i].usage == usage && pendingKeyDowns_[i].pairedWithHid) {
            pendingKeyDowns_.erase(i);
            return;
        }
    }
}

// ---------------------------------------------------------------- waiting

bool TapBlockerListener::isWaiting() const {
    const Time now = owner_.keyPathScheduler().now();
    auto live = [now](const auto& list) {
        return std::any_of(list.begin(), list.end(),
                           [now](const auto& entry) { return entry.deadline > now; });
    };
    return !pendingKeyDowns_.empty() || live(tapReleased_) || live(tapPressed_) ||
           live(awaitingTap_);
}

TapBlockerListener::Time TapBlockerListener::deadlineFromNow() const {
    return owner_.keyPathScheduler().now() + kHidValueDeadline;
}

std::optional<TapBlockerListener::Time> TapBlockerListener::earliestDeadline() const {
    std::optional<Time> earliest;
    for (const PendingKeyDown& key : pendingKeyDowns_) {
        if (!earliest || key.deadline < *earliest) {
            earliest = key.deadline;
        }
    }
    return earliest;
}

void TapBlockerListener::forgetExpired() {
    // What only shapes decisions needs no timer: it is dropped when the next
    // decision looks at it. The key path arms nothing for it.
    const Time now = owner_.keyPathScheduler().now();
    auto expire = [now](auto& list) {
        for (std::size_t i = list.size(); i > 0; --i) {
            if (list[i - 1].deadline <= now) {
                list.erase(i - 1);
            }
        }
    };
    expire(tapReleased_);
    expire(tapPressed_);
    expire(awaitingTap_);
}

void TapBlockerListener::armSettleTimer(Time deadline) {
    // Deadlines only grow, so an armed timer is never later than this one.
    // Only a key-down that waits needs one: it must be given back on time
    // even when no other event comes.
    if (settleTimer_ != 0) {
        return;
    }
    auto& scheduler = owner_.keyPathScheduler();
    const Time now = scheduler.now();
    settleAt_ = deadline;
    // The closure holds one pointer, within std::function's inline storage;
    // stop() cancels the timer before the blocker can go.
    settleTimer_ = scheduler.scheduleOnce(deadline > now ? deadline - now : Time::zero(), [this] {
        settleTimer_ = 0;
        const std::shared_ptr<TapBlockerListener> keep = weak_from_this().lock();
        settleDue();
    });
}

void TapBlockerListener::cancelSettleTimer() {
    if (settleTimer_ != 0) {
        owner_.keyPathScheduler().cancel(settleTimer_);
        settleTimer_ = 0;
    }
}

void TapBlockerListener::settleDue() {
    // A timer may fire a hair before its date (dates are rounded to what the
    // run loop's clock resolves): what is due within a millisecond is due.
    const Time now = owner_.keyPathScheduler().now() + std::chrono::milliseconds(1);
    forgetExpired();
    // A key-down still waiting that no HID value answered came from another
    // keyboard: it is swallowed when the listened keyboard's held keys
    // matched a mapping as it came, and goes on otherwise. One a HID value
    // answered, and no second tap event of its key followed, was the
    // listened keyboard's own and completed a mapping: it stays swallowed.
    for (std::size_t i = 0; i < pendingKeyDowns_.size();) {
        if (pendingKeyDowns_[i].deadline > now) {
            ++i;
            continue;
        }
        const PendingKeyDown key = pendingKeyDowns_[i];
        pendingKeyDowns_.erase(i);
        if (!key.pairedWithHid && !key.heldMatchedAtTap) {
            repost(key);
        }
    }
    if (settleTimer_ == 0) {
        if (auto next = earliestDeadline()) {
            armSettleTimer(*next);
        }
    }
}

void TapBlockerListener::settleOtherKeyboards(HidUsage usage) {
    // A key-down of a key whose HID value already answered a waiting
    // key-down: that value was this event's, and the waiting one came from
    // another keyboard. It goes on as it would have then.
    for (std::size_t i = 0; i < pendingKeyDowns_.size(); ++i) {
        if (pendingKeyDowns_[i].usage == usage && pendingKeyDowns_[i].pairedWithHid) {
            const PendingKeyDown key = pendingKeyDowns_[i];
            pendingKeyDowns_.erase(i);
            if (!key.heldMatchedAtTap) {
                repost(key);
            }
            return;
        }
    }
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
        return;
    }
    if (givenBackDown_.full()) {
        givenBackDown_.erase(0);
    }
    (void)givenBackDown_.push_back(key.keyCode);
}

} // namespace chordwell
