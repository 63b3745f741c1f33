// What the background mode (chordwellctl run) says and reads the same way on
// Linux and macOS: its argument, the names it prints and its progress lines.
#pragma once

#include "model/records.hpp"

#include <cstddef>
#include <ostream>
#include <string>

namespace chordwell {
class RawKeyboardListener;
}

namespace chordwell::cli::background {

// Reads --keyboard SELECTOR (or --keyboard=SELECTOR); false on anything else
// or without it.
bool readSelector(int argc, char** argv, std::string& selector);

// Keyboards name themselves and selectors may hold anything: escaped before
// they reach the terminal or the log. (A plain `quoted` would lose to
// std::quoted by argument-dependent lookup for a non-const string.)
std::string curlyQuoted(const std::string& text);

// VENDOR:PRODUCT in hex, as `chordwellctl keyboards` lists them.
std::string identifiers(const KeyboardDevice& device);

// How many mappings the engine holds for the keyboard's model.
std::size_t mappingCount(RawKeyboardListener& engine, const KeyboardDevice& device);

// A progress line: logged, and printed at once.
void say(std::ostream& out, const std::string& text);

} // namespace chordwell::cli::background
