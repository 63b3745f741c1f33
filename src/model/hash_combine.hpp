// Hash combining shared by the model's value types.
#pragma once

#include <cstddef>
#include <cstdint>

namespace chordwell::detail {

/// Feeds one 64-bit value into a running hash (the 64-bit variant of the
/// well-known boost::hash_combine mixing step).
inline void hashCombine(std::size_t& seed, std::uint64_t value) {
    value ^= value >> 33;
    value *= 0xff51afd7ed558ccdULL;
    value ^= value >> 33;
    seed ^= static_cast<std::size_t>(value) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

} // namespace chordwell::detail
