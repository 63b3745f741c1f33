// Reading the FILE arguments of chordwellctl.
#pragma once

#include <istream>
#include <string>

namespace chordwell::cli {

/// Mapping files are small; anything beyond this is refused rather than read
/// into memory (think of /dev/zero given by mistake).
inline constexpr std::size_t kMaxInputBytes = 64 * 1024 * 1024;

/// Reads the whole of `path`, or of `in` when `path` is "-". On failure
/// returns false and sets `error` to a message such as
/// "cannot read: No such file or directory".
bool readInput(const std::string& path, std::istream& in, std::string& text, std::string& error);

} // namespace chordwell::cli
