// Output synthesis and key repeat: posting the keys of a mapped output, each
// registered first as a one-shot pass-through with the tap blocker, and
// repeating it while the combination stays held.
#include "engine/raw_keyboard_listener.hpp"

#include "logging/log.hpp"
#include "storage/settings.hpp"

#include <chrono>
#include <string>

namespace chordwell {

namespace {

constexpr std::string_view kCategory = "keyboard";

// Seconds as the clock's nanoseconds. Beyond the clock's range (about 292
// years) is "never"; the conversion itself would overflow.
platform::Scheduler::Duration seconds(double s) {
    using Duration = platform::Scheduler::Duration;
    constexpr double kMaxSeconds = 9.2e9;
    if (!(s > 0)) {
        return Duration::zero();
    }
    if (s >= kMaxSeconds) {
        return Duration::max();
    }
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

} // namespace

std::optional<std::vector<HidUsage>> RawKeyboardListener::repeatingCombo() const {
    const auto guard = lock();
    if (repeatTimer_ == 0) {
        return std::nullopt;
    }
    return std::vector<HidUsage>(repeatingCombo_.begin(), repeatingCombo_.end());
}

// ------------------------------------------------------------------ output

void RawKeyboardListener::triggerOutput(const OutputBehavior& behavior) {
    // An observer told of a pass-through may end interception or listening:
    // the rest of the output is then not posted.
    const TapBlockerListener* const blocker = tapBlockerListener_.get();
    auto emitKey = [this, blocker](std::int64_t keyCode, EventFlags flags) {
        if (tapBlockerListener_.get() != blocker) {
            return;
        }
        const bool registered = allowThrough(keyCode, flags);
        if (tapBlockerListener_.get() != blocker) {
            return;
        }
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
        // The key that types the built-in's character on the user's layout,
        // worked out when the layout changed.
        if (const auto stroke = builtInStroke(behavior.kind())) {
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
    announce(EngineChange::passThroughs);
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
    repeatTimer_ = keyPathScheduler().scheduleRepeating(
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
        keyPathScheduler().cancel(repeatTimer_);
    }
    repeatTimer_ = 0;
    repeatingCombo_.clear();
    ++repeatGeneration_;
}

} // namespace chordwell
