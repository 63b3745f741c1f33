// The engine's older name for the model's fixed-capacity list.
#pragma once

#include "model/inline_list.hpp"

#include <cstddef>

namespace chordwell {

template <typename T, std::size_t Capacity> using FixedList = InlineList<T, Capacity>;

} // namespace chordwell
