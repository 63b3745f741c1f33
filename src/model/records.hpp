// Mapping records: what the user configured, and the live keyboard value.
#pragma once

#include "model/keys.hpp"
#include "model/uuid.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chordwell {

namespace platform {
class HidDevice; // opaque platform device (see ports/ports.hpp)
} // namespace platform

/// Opaque, reference-counted handle of an attached HID device.
using HidDeviceRef = std::shared_ptr<platform::HidDevice>;

/// One attached keyboard as discovery found it. Equality and hash use `id` only.
struct KeyboardDevice {
    Uuid id = Uuid::random();
    std::string productName = "Unknown";
    std::int64_t productID = -1;
    std::int64_t vendorID = -1;
    HidDeviceRef deviceRef;

    friend bool operator==(const KeyboardDevice& a, const KeyboardDevice& b) {
        return a.id == b.id;
    }
};

/// Whether a keyboard's vendor and product identifiers tell its model apart.
/// Some Bluetooth and virtual keyboards report 0 for both, and one that
/// reports neither has -1 for both: such keyboards are told apart by their
/// product name as well (the record they use, the mapping file it lives in).
constexpr bool identifiersNameModel(std::int64_t vendorID, std::int64_t productID) {
    return vendorID > 0 || productID > 0;
}

/// What a matched combination produces.
class OutputBehavior {
public:
    enum class Kind { none, openSearchBar, copyOperation, pasteOperation, customKeySequence };

    /// All five kinds, in declaration order.
    static constexpr std::array<Kind, 5> allKinds = {Kind::none, Kind::openSearchBar,
                                                     Kind::copyOperation, Kind::pasteOperation,
                                                     Kind::customKeySequence};
    static std::string_view rawValue(Kind kind);
    static std::optional<Kind> kindFromRawValue(std::string_view raw);

    OutputBehavior() = default; // none
    static OutputBehavior none() { return OutputBehavior(Kind::none); }
    static OutputBehavior openSearchBar() { return OutputBehavior(Kind::openSearchBar); }
    static OutputBehavior copyOperation() { return OutputBehavior(Kind::copyOperation); }
    static OutputBehavior pasteOperation() { return OutputBehavior(Kind::pasteOperation); }
    static OutputBehavior customKeySequence(std::string name,
                                            std::vector<MacKeySignature> signatures);

    Kind kind() const { return kind_; }
    bool isCustomKeySequence() const { return kind_ == Kind::customKeySequence; }
    /// Payload of a custom key sequence (empty for the other kinds).
    const std::string& name() const { return name_; }
    const std::vector<MacKeySignature>& signatures() const { return signatures_; }

    /// What the user interface shows: the fixed label, or for a custom
    /// sequence its name ("Custom" when the name is empty).
    std::string displayLabel() const;

    friend bool operator==(const OutputBehavior& a, const OutputBehavior& b);

private:
    explicit OutputBehavior(Kind kind) : kind_(kind) {}
    Kind kind_ = Kind::none;
    std::string name_;
    std::vector<MacKeySignature> signatures_;
};

std::size_t hashValue(const OutputBehavior& behavior);

/// The fixed part of the editor's output menu: "Custom" (no keys), then none.
const std::vector<OutputBehavior>& constantBehaviors();

/// One binding from a key combination to an output. Equality and hash leave
/// out `id`.
struct KeyMapping {
    Uuid id = Uuid::random();
    std::string name;
    std::vector<HidUsage> inputKeyCodes;
    std::optional<std::vector<MacKeySignature>> inputTapCodes;
    OutputBehavior outputBehavior;

    friend bool operator==(const KeyMapping& a, const KeyMapping& b) {
        return a.name == b.name && a.inputKeyCodes == b.inputKeyCodes &&
               a.inputTapCodes == b.inputTapCodes && a.outputBehavior == b.outputBehavior;
    }
};

std::size_t hashValue(const KeyMapping& mapping);

/// All mappings of one keyboard model. Equality and hash use `id` only.
struct DeviceMapping {
    Uuid id = Uuid::random();
    std::string productName;
    std::int64_t productID = -1;
    std::int64_t vendorID = -1;
    std::vector<KeyMapping> mappings;

    friend bool operator==(const DeviceMapping& a, const DeviceMapping& b) { return a.id == b.id; }
};

/// Signatures shown for a mapping's input: its `inputTapCodes` when present,
/// otherwise derived from `inputKeyCodes` through hidToMacKeyCode (unknown
/// usages skipped, no signature twice, no modifiers).
std::vector<MacKeySignature> inputSignatures(const KeyMapping& mapping);
/// The derivation alone, from HID usages.
std::vector<MacKeySignature> signaturesFromUsages(const std::vector<HidUsage>& usages);

} // namespace chordwell

template <> struct std::hash<chordwell::KeyboardDevice> {
    std::size_t operator()(const chordwell::KeyboardDevice& d) const noexcept {
        return chordwell::hashValue(d.id);
    }
};
template <> struct std::hash<chordwell::OutputBehavior> {
    std::size_t operator()(const chordwell::OutputBehavior& b) const noexcept {
        return chordwell::hashValue(b);
    }
};
template <> struct std::hash<chordwell::KeyMapping> {
    std::size_t operator()(const chordwell::KeyMapping& m) const noexcept {
        return chordwell::hashValue(m);
    }
};
template <> struct std::hash<chordwell::DeviceMapping> {
    std::size_t operator()(const chordwell::DeviceMapping& d) const noexcept {
        return chordwell::hashValue(d.id);
    }
};
