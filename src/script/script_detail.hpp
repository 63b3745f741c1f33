// Helpers shared by the script parser and the script runner.
#pragma once

#include "ports/ports.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace chordwell::script::detail {

/// `text` as a quoted literal for messages: escaped for the terminal, and cut
/// after about 80 characters (with its length said).
std::string quote(std::string_view text);
/// Whole milliseconds of a clock duration.
std::int64_t wholeMilliseconds(platform::Scheduler::Duration d);
/// Milliseconds as the clock's duration; a wait beyond the clock's range
/// lasts to its end instead of wrapping around.
platform::Scheduler::Duration clockDuration(std::int64_t milliseconds);

} // namespace chordwell::script::detail
