// Display text of keys and key signatures.
#pragma once

#include "model/keyboard_layout.hpp"
#include "model/keys.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace chordwell {

/// How keys are named. Every platform has its own words for the modifier
/// keys and for the keys without a character; letters, digits and function
/// keys read the same in every style.
enum class KeyNames {
    /// macOS as it shows keys: the ⌃ ⌥ ⇧ ⌘ glyphs and symbol labels ("⌃A", "⏎").
    macSymbols,
    /// macOS read aloud: "Control+Option+Shift+Command+A", "Return".
    macWords,
    /// PC keyboards (Linux): "Ctrl+Alt+Shift+Super+A", "Enter", "Backspace".
    pcWords,
};

/// The names this platform shows keys with: glyphs on macOS, words elsewhere.
constexpr KeyNames displayKeyNames() {
#if defined(__APPLE__)
    return KeyNames::macSymbols;
#else
    return KeyNames::pcWords;
#endif
}

/// The names a screen reader is given: glyphs read as nothing useful, so
/// macOS gets its words; elsewhere the shown words already read well.
constexpr KeyNames spokenKeyNames() {
#if defined(__APPLE__)
    return KeyNames::macWords;
#else
    return KeyNames::pcWords;
#endif
}

/// Short display text of a virtual key code ("A", "⏎", or "0x36" for codes
/// without a label), in macOS symbols.
std::string keyLabel(std::int64_t keyCode);
/// The label of a key code in the given style ("Enter", "Right Ctrl"); codes
/// without a label show as hexadecimal in every style. With a `layout`, the
/// keys that type a character read as their keycap there (below).
std::string keyLabel(std::int64_t keyCode, KeyNames names, const KeyLayout* layout = nullptr);
/// The label of a key code on the user's layout: what its keycap says for
/// the keys that type a character ("A" for code 12 on AZERTY), the label
/// above for every other key, and where the layout has no Latin letters.
std::string keyLabel(std::int64_t keyCode, const KeyLayout& layout);

/// Modifier glyphs (⌃ ⌥ ⇧ ⌘ in that order) and the key label of one signature.
std::string signatureText(const MacKeySignature& signature);

/// The signatures' texts joined with a single space; "" for an empty list.
std::string signatureText(const std::vector<MacKeySignature>& signatures);

/// One key press in the given style: "⇧⌘C" (symbols), "Shift+Command+C",
/// "Ctrl+Shift+C" (words: the modifiers in the order Control, Option / Alt,
/// Shift, Command / Super, each followed by "+").
std::string signatureText(const MacKeySignature& signature, KeyNames names,
                          const KeyLayout* layout = nullptr);

/// Key presses that follow one another (a custom output): in symbols as
/// above; in words separated by ", " ("Ctrl+C, Ctrl+V").
std::string signatureText(const std::vector<MacKeySignature>& signatures, KeyNames names,
                          const KeyLayout* layout = nullptr);

/// Keys held together (a recorded combination, where each modifier key is a
/// key of its own): in symbols as signatureText ("⌃ A"); in words one chord
/// joined with "+", modifier keys first in the order Control, Option / Alt,
/// Shift, Command / Super and the other keys in the order they came
/// ("Ctrl+Shift+K").
std::string combinationText(const std::vector<MacKeySignature>& keys, KeyNames names,
                            const KeyLayout* layout = nullptr);

} // namespace chordwell
