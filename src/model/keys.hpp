// Key codes, modifier flags and key signatures.
//
// A key reaches Chordwell in three forms: the HID usage of the raw keyboard
// input (page 0x07), the virtual key code that the system's keyboard events
// carry, and the modifier flag word that accompanies that key code.
#pragma once

#include "model/inline_list.hpp"

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>

namespace chordwell {

/// A usage of the USB HID Keyboard/Keypad page (0x07).
using HidUsage = std::uint16_t;
/// The platform's 64-bit keyboard event flag word (CGEventFlags on macOS).
using EventFlags = std::uint64_t;

inline constexpr EventFlags kMaskShift = 0x20000;
inline constexpr EventFlags kMaskControl = 0x40000;
inline constexpr EventFlags kMaskAlternate = 0x80000;
inline constexpr EventFlags kMaskCommand = 0x100000;
/// The only bits that take part in comparing or registering a signature.
inline constexpr EventFlags kSignatureModifierMask =
    kMaskShift | kMaskControl | kMaskAlternate | kMaskCommand;
static_assert(kSignatureModifierMask == 0x1E0000);

/// The read-only table from HID usage to virtual key code, built once on first
/// use (thread-safe) and shared by the whole process. 110 entries.
const std::unordered_map<HidUsage, std::uint16_t>& hidToMacKeyCodeTable();

/// Lookup in the table: the virtual key code of a usage, or nothing.
std::optional<std::uint16_t> hidToMacKeyCode(HidUsage usage);

/// One key press as the system's keyboard event stream reports it.
struct MacKeySignature {
    std::int64_t keyCode = 0;
    EventFlags modifiers = 0;

    friend bool operator==(const MacKeySignature&, const MacKeySignature&) = default;
    /// Order: by keyCode as a signed number, then by modifiers as unsigned.
    friend std::strong_ordering operator<=>(const MacKeySignature& a, const MacKeySignature& b) {
        if (auto c = a.keyCode <=> b.keyCode; c != 0) {
            return c;
        }
        return a.modifiers <=> b.modifiers;
    }

    /// The signature of a key about to be posted or seen in an event: the
    /// modifiers are reduced to the signature mask.
    static MacKeySignature masked(std::int64_t keyCode, EventFlags flags) {
        return MacKeySignature{keyCode, flags & kSignatureModifierMask};
    }
};

std::size_t hashValue(const MacKeySignature& signature);

/// The signatures of one combination, sorted ascending. Every combination the
/// system builds holds exactly one signature (a one-shot pass-through entry).
struct KeyComboSignature {
    InlineList<MacKeySignature, 4> keys;

    /// The pass-through combination of one key (modifiers masked).
    static KeyComboSignature passThrough(std::int64_t keyCode, EventFlags flags) {
        KeyComboSignature combo;
        combo.keys.push_back(MacKeySignature::masked(keyCode, flags));
        return combo;
    }

    friend bool operator==(const KeyComboSignature&, const KeyComboSignature&) = default;
};

std::size_t hashValue(const KeyComboSignature& combo);

} // namespace chordwell

template <> struct std::hash<chordwell::MacKeySignature> {
    std::size_t operator()(const chordwell::MacKeySignature& s) const noexcept {
        return chordwell::hashValue(s);
    }
};
template <> struct std::hash<chordwell::KeyComboSignature> {
    std::size_t operator()(const chordwell::KeyComboSignature& c) const noexcept {
        return chordwell::hashValue(c);
    }
};
