// Display text of keys and key signatures.
#pragma once

#include "model/keyboard_layout.hpp"
#include "model/keys.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace chordwell {

/// Short display text of a virtual key code ("A", "⏎", or "0x36" for codes
/// without a label).
std::string keyLabel(std::int64_t keyCode);
/// The label of a key code on the user's layout: what its keycap says for
/// the keys that type a character ("A" for code 12 on AZERTY), the label
/// above for every other key, and where the layout has no Latin letters.
std::string keyLabel(std::int64_t keyCode, const KeyLayout& layout);

/// Modifier glyphs (⌃ ⌥ ⇧ ⌘ in that order) and the key label of one signature.
std::string signatureText(const MacKeySignature& signature);

/// The signatures' texts joined with a single space; "" for an empty list.
std::string signatureText(const std::vector<MacKeySignature>& signatures);

} // namespace chordwell
