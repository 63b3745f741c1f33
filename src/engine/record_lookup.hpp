// Which record holds the mappings of a keyboard model. A model is its
// vendor and product identifiers, the pair the mapping files are named by;
// loading, saving, editing and matching all choose records by this one rule.
#pragma once

#include "engine/engine_changes.hpp"
#include "model/records.hpp"

#include <algorithm>
#include <cstdint>

namespace chordwell {

inline KeyboardModelId modelOf(const DeviceMapping& record) {
    return {record.productID, record.vendorID};
}
inline KeyboardModelId modelOf(const KeyboardDevice& keyboard) {
    return {keyboard.productID, keyboard.vendorID};
}

inline bool isRecordOfModel(const DeviceMapping& record, std::int64_t productID,
                            std::int64_t vendorID) {
    return record.productID == productID && record.vendorID == vendorID;
}

/// The first record of the model in `records` (a vector of DeviceMapping,
/// const or not), or end().
template <typename Records>
auto findRecordOfModel(Records& records, std::int64_t productID, std::int64_t vendorID) {
    return std::find_if(records.begin(), records.end(), [&](const DeviceMapping& r) {
        return isRecordOfModel(r, productID, vendorID);
    });
}

} // namespace chordwell
