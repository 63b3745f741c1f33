// Reading the FILE arguments of chordwellctl.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

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

/// A FILE argument read piece by piece, for input that is handled as it
/// arrives (scripts): `path` must be a regular file (refused as readInput
/// refuses it), or "-" for `in`, which is read a line at a time so that a
/// command typed into a pipe runs when its line is complete. There is no size
/// limit: only one piece is held at a time.
class InputPieces {
public:
    /// Opens `path`; false with `failure` set when it cannot be used.
    bool open(const std::string& path, std::istream& in, InputFailure& failure);
    ~InputPieces();
    InputPieces() = default;
    InputPieces(const InputPieces&) = delete;
    InputPieces& operator=(const InputPieces&) = delete;

    /// The next piece (valid until the next call), empty at the end; false
    /// with `failure` set when reading fails.
    bool next(std::string_view& piece, InputFailure& failure);

private:
    std::istream* stream_ = nullptr;
    int fd_ = -1;
    char buffer_[64 * 1024];
};

} // namespace chordwell::cli
