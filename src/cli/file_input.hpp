// Reading the FILE arguments of chordwellctl.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace chordwell::cli {

/// Mapping files and scripts are small; anything beyond this is refused rather
/// than read into memory.
inline constexpr std::size_t kMaxInputBytes = 64 * 1024 * 1024;

/// Why a FILE argument gave no text: `message` such as "cannot read: No such
/// file or directory", and the exit status it calls for. A FIFO, a device or
/// a folder (which could block for ever or never end) and a file over the cap
/// are usage errors (status 2); a file that cannot be opened or read is a
/// failure (status 1).
struct InputFailure {
    std::string message;
    int status = 1;
};

/// Reads the whole of `path`, which must be a regular file of at most
/// kMaxInputBytes, or at most kMaxInputBytes of `in` when `path` is "-".
bool readInput(const std::string& path, std::istream& in, std::string& text, InputFailure& failure);

} // namespace chordwell::cli
