// Text from files, scripts and devices on its way to a reader: a terminal, a
// log line. A keyboard or mapping name is data: it must not be able to move
// the cursor, retitle the window (C0 and C1 control sequences), start a
// forged line, or reorder what follows it (bidirectional overrides). Every
// place that shows such text decides what to escape with the rules here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace chordwell {

/// The length of the well-formed UTF-8 sequence at `text[i]` and its code
/// point in `codePoint`; 0 when the bytes there are not UTF-8 (a stray or
/// missing continuation byte, an overlong form, a surrogate, beyond
/// U+10FFFF).
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& codePoint);

/// Whether a code point must not reach a reader as it is: C0 controls, DEL,
/// C1 controls (U+0080 to U+009F, among them NEL U+0085 and the 8-bit CSI
/// U+009B), and the bidirectional marks, embeddings, overrides and isolates
/// (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069).
bool isUnsafeForDisplay(char32_t codePoint);

/// Whether `text` is printable ASCII throughout (the common case, which
/// needs no escaping).
bool isPlainPrintableAscii(std::string_view text);

/// `text` with the unsafe code points written as \uXXXX and bytes that are
/// not UTF-8 as \xNN. Everything else, other non-ASCII text included, stays.
std::string terminalSafe(std::string_view text);

/// `text` as a double-quoted string literal: quotes and backslashes escaped,
/// newline, tab and carriage return as \n, \t, \r, then made terminalSafe().
std::string quotedForTerminal(std::string_view text);

} // namespace chordwell
