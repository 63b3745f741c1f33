// Which record holds the mappings of a keyboard model. A model is its
// vendor and product identifiers, the pair the mapping files are named by;
// loading, saving, editing and matching all choose records by this one rule.
// Keyboards whose identifiers name no model (both 0, as some Bluetooth and
// virtual keyboards report, or not reported at all) would otherwise all
// share one record: for them the product name is part of the model.
#pragma once

#include "engine/engine_changes.hpp"
#include "model/records.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace chordwell {

/// The name part of a model: 0 when the identifiers name the model, else
/// a hash of the product name (never 0).
inline std::uint64_t modelNameKey(std::int64_t vendorID, std::int64_t productID,
                                  std::string_view productName) {
    if (identifiersNameModel(vendorID, productID)) {
        return 0;
    }
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const char c : productName) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash | 1u;
}

inline KeyboardModelId modelOf(std::int64_t vendorID, std::int64_t productID,
                               std::string_view productName) {
    return {productID, vendorID, modelNameKey(vendorID, productID, productName)};
}
inline KeyboardModelId modelOf(const DeviceMapping& record) {
    return modelOf(record.vendorID, record.productID, record.productName);
}
inline KeyboardModelId modelOf(const KeyboardDevice& keyboard) {
    return modelOf(keyboard.vendorID, keyboard.productID, keyboard.productName);
}

inline bool isRecordOfModel(const DeviceMapping& record, const KeyboardModelId& model) {
    return record.productID == model.productID && record.vendorID == model.vendorID &&
           modelNameKey(record.vendorID, record.productID, record.productName) == model.nameKey;
}

/// The first record of the model in `records` (a vector of DeviceMapping,
/// const or not), or end().
template <typename Records> auto findRecordOfModel(Records& records, const KeyboardModelId& model) {
    return std::find_if(records.begin(), records.end(),
                        [&](const DeviceMapping& r) { return isRecordOfModel(r, model); });
}

} // namespace chordwell
