// The one JSON form of mapping records (mapping files, exports, imports).
//
// Decoding never throws and never yields a partial record: it returns either
// a value or an error message that names the JSON path of the first fault,
// e.g. `mappings[1].outputBehavior.kind: unknown kind ""`,
// `mappings[0].inputKeyCodes[2]: 70000 is outside 0-65535`,
// `productName: missing`, `vendorID: expected an integer`.
//
// Reading rules beyond the shape of the records:
// - integers must be JSON integers: 1.0 and 1e3 are rejected, not truncated;
// - "keyCode", "productID" and "vendorID" are signed 64-bit, "modifiers" is
//   the full unsigned 64-bit flag word (negative values fail);
// - unknown keys are ignored; "inputTapCodes" and a custom sequence's "name"
//   read as absent when missing or null (the name then is "Custom");
// - "name" and "codes" of the four fixed behaviours are ignored.
// Encoding writes keys in the documented order, UUIDs upper-case, compact.
#pragma once

#include "model/records.hpp"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace chordwell {

template <typename T> class DecodeResult {
public:
    static DecodeResult success(T value) {
        DecodeResult r;
        r.value_ = std::move(value);
        return r;
    }
    static DecodeResult failure(std::string message) {
        DecodeResult r;
        r.error_ = std::move(message);
        return r;
    }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return *value_; }
    T&& value() && { return std::move(*value_); }
    const T* operator->() const { return &*value_; }
    /// Empty when ok().
    const std::string& error() const { return error_; }

private:
    DecodeResult() = default;
    std::optional<T> value_;
    std::string error_;
};

// Encoding (never fails). Keys are emitted in the documented order.
nlohmann::ordered_json toJson(const MacKeySignature& signature);
nlohmann::ordered_json toJson(const OutputBehavior& behavior);
nlohmann::ordered_json toJson(const KeyMapping& mapping);
nlohmann::ordered_json toJson(const DeviceMapping& record);

/// Compact one-line JSON text of a record, as stored in mapping files.
std::string encodeDeviceMapping(const DeviceMapping& record);

// Decoding from parsed JSON. `path` prefixes error messages ("" at the root).
DecodeResult<MacKeySignature> decodeMacKeySignature(const nlohmann::json& json,
                                                    const std::string& path = "");
DecodeResult<OutputBehavior> decodeOutputBehavior(const nlohmann::json& json,
                                                  const std::string& path = "");
DecodeResult<KeyMapping> decodeKeyMapping(const nlohmann::json& json, const std::string& path = "");
DecodeResult<DeviceMapping> decodeDeviceMapping(const nlohmann::json& json,
                                                const std::string& path = "");

/// Parses (with parseJson's limits, see json_reader.hpp) and decodes JSON text
/// holding one record. Invalid JSON yields a failure whose message starts
/// with "invalid JSON". Keys repeated inside an object do not fail decoding
/// (the last one counts, as it always has); their paths go to
/// `duplicateKeys` when given, for the caller to warn about or refuse.
DecodeResult<DeviceMapping>
decodeDeviceMappingText(std::string_view text, std::vector<std::string>* duplicateKeys = nullptr);

} // namespace chordwell
