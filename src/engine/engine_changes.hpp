// What changed in the engine: the fine-grained announcements that sit beside
// the coarse "will change". A view subscribes to the kinds it shows and skips
// the rest, so that a held key or a pass-through (one per key press while
// intercepting) never makes the mapping table or the keyboard list redraw.
#pragma once

#include <cstdint>
#include <optional>

namespace chordwell {

/// One kind of published state. Each is one bit of EngineChanges.
enum class EngineChange : std::uint32_t {
    /// allDeviceMappings: a record's mappings, a record added or removed.
    records = 1u << 0,
    /// discoveredKeyboards: a keyboard attached or removed.
    discoveredKeyboards = 1u << 1,
    /// selectedDevice.
    selection = 1u << 2,
    /// currentPressedCodes (key path).
    heldKeys = 1u << 3,
    /// isCapturingInput and capturedInputCodes: the recording of a combination
    /// (key path).
    capture = 1u << 4,
    /// isIntercepting and isForceBlockTap.
    interception = 1u << 5,
    /// The tap blocker of the listening period was made or dropped.
    tapBlocker = 1u << 6,
    /// A one-shot pass-through was registered with the blocker (key path).
    passThroughs = 1u << 7,
    /// The blocker's recorded signatures (persistentCapturedTapSignatures)
    /// grew (key path, while recording).
    tapSignatures = 1u << 8,
    /// The user's keyboard layout (keyboardLayout()): key labels and the
    /// keys outputs resolve to.
    keyboardLayout = 1u << 9,
};

/// A keyboard model: the pair of identifiers its mapping file is named by,
/// and for keyboards whose identifiers name no model (both 0, or not
/// reported) a key of the product name, which tells them apart (0 when the
/// identifiers suffice). See record_lookup.hpp.
struct KeyboardModelId {
    std::int64_t productID = -1;
    std::int64_t vendorID = -1;
    std::uint64_t nameKey = 0;

    friend bool operator==(const KeyboardModelId&, const KeyboardModelId&) = default;
};

/// A set of EngineChange kinds, with the detail of a records change. A plain
/// value (no heap): announcements on the key path copy it freely.
class EngineChanges {
public:
    constexpr EngineChanges() = default;
    constexpr EngineChanges(EngineChange kind) : bits_(static_cast<std::uint32_t>(kind)) {}

    /// A change of the records of one model only.
    static constexpr EngineChanges recordsOf(KeyboardModelId model) {
        EngineChanges changes(EngineChange::records);
        changes.recordsModel_ = model;
        return changes;
    }

    constexpr bool contains(EngineChange kind) const {
        return (bits_ & static_cast<std::uint32_t>(kind)) != 0;
    }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr std::uint32_t bits() const { return bits_; }

    /// When records changed: the one model whose record changed, or nothing
    /// when any record may have changed (the whole list was replaced or
    /// edited by a caller that did not name a model).
    constexpr const std::optional<KeyboardModelId>& recordsModel() const { return recordsModel_; }
    /// True when the records of `model` may have changed.
    constexpr bool touchesRecordsOf(KeyboardModelId model) const {
        return contains(EngineChange::records) && (!recordsModel_ || *recordsModel_ == model);
    }

    /// Union; the records detail survives only when both sides name the same
    /// model (or one side has no records change).
    constexpr EngineChanges& operator|=(const EngineChanges& other) {
        const bool mine = contains(EngineChange::records);
        const bool theirs = other.contains(EngineChange::records);
        if (mine && theirs) {
            if (recordsModel_ != other.recordsModel_) {
                recordsModel_.reset();
            }
        } else if (theirs) {
            recordsModel_ = other.recordsModel_;
        }
        bits_ |= other.bits_;
        return *this;
    }
    friend constexpr EngineChanges operator|(EngineChanges a, const EngineChanges& b) {
        a |= b;
        return a;
    }
    friend constexpr bool operator==(const EngineChanges&, const EngineChanges&) = default;

private:
    std::uint32_t bits_ = 0;
    std::optional<KeyboardModelId> recordsModel_;
};

constexpr EngineChanges operator|(EngineChange a, EngineChange b) {
    return EngineChanges(a) | EngineChanges(b);
}

} // namespace chordwell
