// Text from files, scripts and devices on its way to a terminal. A keyboard
// or mapping name is data: it must not be able to move the cursor, retitle
// the window (C0 and C1 control sequences) or reorder what follows it on the
// line (bidirectional overrides).
#pragma once

#include <string>
#include <string_view>

namespace chordwell::cli {

/// `text` with C0 controls, DEL, C1 controls and the bidirectional marks,
/// embeddings, overrides and isolates written as \uXXXX, and bytes that are
/// not UTF-8 as \xNN. Everything else, other non-ASCII text included, stays.
std::string terminalSafe(std::string_view text);

/// `text` as a double-quoted string literal: quotes and backslashes escaped,
/// then made terminalSafe().
std::string quotedForTerminal(std::string_view text);

} // namespace chordwell::cli
