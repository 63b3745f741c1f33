// Lookup of the mapping whose key set equals the held keys.
//
// Matching happens at every key-down (twice: once for the raw input, once for
// the system event in the tap), so it must not grow with the number of loaded
// mappings and must not allocate. The index maps each sorted key set of the
// selected keyboard model to the first mapping with that set, in the order of
// the records and of their mappings: the same answer as walking the lists.
#pragma once

#include "engine/engine_changes.hpp"
#include "model/keys.hpp"
#include "model/records.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace chordwell {

/// The reference walk: records of the model in list order, mappings in list
/// order, first mapping whose sorted `inputKeyCodes` equal the sorted codes.
/// Sorts copies at every call; kept for comparison and as the fallback for
/// key sets larger than the index handles.
const KeyMapping* findMappingLinear(const std::vector<DeviceMapping>& records,
                                    const KeyboardModelId& model, std::span<const HidUsage> codes);
/// The same for a model its identifiers name.
inline const KeyMapping* findMappingLinear(const std::vector<DeviceMapping>& records,
                                           std::int64_t productID, std::int64_t vendorID,
                                           std::span<const HidUsage> codes) {
    return findMappingLinear(records, KeyboardModelId{productID, vendorID}, codes);
}

class MappingIndex {
public:
    /// Held sets larger than this are looked up by the linear walk.
    static constexpr std::size_t kMaxIndexedKeys = 32;

    /// Rebuilds the index for one keyboard model. The index points into
    /// `records`: rebuild (or clear) whenever the records change.
    void rebuild(const std::vector<DeviceMapping>& records, const KeyboardModelId& model);
    /// The same for a model its identifiers name.
    void rebuild(const std::vector<DeviceMapping>& records, std::int64_t productID,
                 std::int64_t vendorID) {
        rebuild(records, KeyboardModelId{productID, vendorID});
    }
    void clear();

    /// The mapping for `sortedCodes` (ascending), or nullptr.
    const KeyMapping* find(std::span<const HidUsage> sortedCodes) const;

    std::size_t size() const { return entries_.size(); }
    /// True when some mapping of the model has more keys than the index holds.
    bool hasOversizedMappings() const { return hasOversized_; }

    static std::uint64_t hashKeys(std::span<const HidUsage> sortedCodes);

private:
    struct Entry {
        std::vector<HidUsage> sortedKeys;
        const KeyMapping* mapping = nullptr;
        std::uint32_t next = kNone; // next entry with the same hash
    };
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    std::vector<Entry> entries_;
    std::unordered_map<std::uint64_t, std::uint32_t> heads_;
    bool hasOversized_ = false;
};

} // namespace chordwell
