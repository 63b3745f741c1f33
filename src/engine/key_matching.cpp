// Held keys and matching: the raw input of the listened keyboard updates the
// held set, and a held set that equals a mapping's keys triggers its output.
#include "engine/raw_keyboard_listener.hpp"

#include "engine/record_lookup.hpp"

#include <algorithm>

namespace chordwell {

namespace {

// Usage page of keyboards and keypads.
constexpr std::uint32_t kKeyboardUsagePage = 7;
constexpr std::uint32_t kErrorRollOver = 1;

template <typename List> bool containsCode(const List& list, HidUsage code) {
    return std::find(list.begin(), list.end(), code) != list.end();
}
} // namespace

RawKeyboardListener::HeldKeys RawKeyboardListener::currentPressedCodesSnapshot() const {
    const auto guard = lock();
    if (tapBlockerListener_) {
        return tapBlockerListener_->lockMutateValues([this] { return currentPressedCodes_; });
    }
    return currentPressedCodes_;
}

void RawKeyboardListener::clearPressedCodes() {
    announce(EngineChange::heldKeys);
    currentPressedCodes_.clear();
}

const KeyMapping* RawKeyboardListener::findMapping(std::span<const HidUsage> codes) const {
    // No keys held is no combination: a mapping without input keys never
    // matches (it would otherwise swallow every key of every keyboard).
    if (!selectedDeviceMapping_ || codes.empty()) {
        return nullptr;
    }
    if (codes.size() > MappingIndex::kMaxIndexedKeys) {
        return findMappingLinear(keyPath_ != nullptr ? matching_->records : allDeviceMappings_,
                                 modelOf(*selectedDeviceMapping_), codes);
    }
    // The key path hands in held sets it has sorted already.
    if (std::is_sorted(codes.begin(), codes.end())) {
        return matching_->index.find(codes);
    }
    InlineList<HidUsage, MappingIndex::kMaxIndexedKeys> sorted;
    for (HidUsage code : codes) {
        sorted.push_back(code);
    }
    sortKeys(sorted);
    return matching_->index.find(sorted.span());
}

void RawKeyboardListener::handleInputValue(void* context, const platform::HidDevice& sender,
                                           const platform::HidInputValue& value) {
    if (context == nullptr) {
        return;
    }
    static_cast<RawKeyboardListener*>(context)->onInputValue(sender, value);
}

void RawKeyboardListener::onInputValue(const platform::HidDevice& sender,
                                       const platform::HidInputValue& value) {
    if (!selectedDeviceIOHIDDevice_) {
        return;
    }
    if (&sender != selectedDeviceIOHIDDevice_.get() &&
        !selectedDeviceIOHIDDevice_->sameDevice(sender)) {
        return;
    }
    if (value.usagePage != kKeyboardUsagePage || value.usage == 0xFFFFFFFFu ||
        value.usage == kErrorRollOver || value.usage > 0xFFFFu) {
        return;
    }
    const auto code = static_cast<HidUsage>(value.usage);
    const bool keyDown = value.integerValue == 1;

    // Observers hear of each change before it takes effect and may call back
    // into the engine (stop interception, stop listening): after every
    // announcement the state is looked at afresh.
    if (!keyDown) {
        if (!isIntercepting_) {
            return;
        }
        if (tapBlockerListener_ && currentPressedCodes_.contains(code)) {
            announce(EngineChange::heldKeys);
            if (tapBlockerListener_) {
                tapBlockerListener_->lockMutateValues(
                    [&] { currentPressedCodes_.eraseFirst(code); });
            }
        }
        if (repeatTimer_ != 0 && repeatingCombo_.contains(code)) {
            stopRepeat();
        }
        if (tapBlockerListener_) {
            tapBlockerListener_->hidKeyUp(code);
        }
        return; // a key-up never touches the capture
    }

    if (isIntercepting_) {
        if (tapBlockerListener_ && !currentPressedCodes_.contains(code)) {
            announce(EngineChange::heldKeys);
            if (tapBlockerListener_) {
                tapBlockerListener_->lockMutateValues([&] {
                    if (!currentPressedCodes_.contains(code)) {
                        currentPressedCodes_.push_back(code);
                    }
                });
            }
        }
        HeldKeys held = currentPressedCodes_;
        sortKeys(held);
        const KeyMapping* mapping = isIntercepting_ ? findMapping(held.span()) : nullptr;
        if (mapping != nullptr) {
            // Work on a copy: observers told of the output's changes must not
            // be able to pull the mapping away underneath. The copy reuses
            // its storage from one match to the next.
            matchedBehavior_ = mapping->outputBehavior;
            triggerOutput(matchedBehavior_);
            // An observer may have ended interception during the output: a
            // repeat armed now would never see the key-up that stops it.
            if (isIntercepting_ && tapBlockerListener_) {
                startRepeat(held.span(), matchedBehavior_);
            }
        }
        if (tapBlockerListener_) {
            tapBlockerListener_->hidKeyDown(code, mapping != nullptr);
        }
    }

    if (isCapturingInput_ && !containsCode(capturedInputCodes_, code)) {
        announce(EngineChange::capture);
        capturedInputCodes_.push_back(code);
    }
}

} // namespace chordwell
