// Decoding a mapping record in one pass over its text, without a JSON tree.
//
// A keyboard with ten thousand mappings has a file of a few megabytes; a
// generic JSON tree of it costs most of the time it takes to show the
// keyboard's table. This reader goes through the text once and fills the
// record directly. It accepts only what the full decoder
// (decodeDeviceMappingText: parseJson, then the record's decoder) accepts,
// with the same result: whenever the text is anything but a well-formed
// record (a fault of any kind, a key repeated in an object, a number that
// is not a plain integer where an integer is read, nesting beyond
// kMaxJsonDepth ...) it gives up, and the full decoder runs instead and says
// what is wrong.
#pragma once

#include "model/records.hpp"

#include <optional>
#include <string_view>

namespace chordwell {

/// The record of `text`, or nothing when the full decoder must decide.
std::optional<DeviceMapping> streamDecodeDeviceMapping(std::string_view text);

} // namespace chordwell
