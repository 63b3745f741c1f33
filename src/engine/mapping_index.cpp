#include "engine/mapping_index.hpp"

#include "engine/record_lookup.hpp"

#include <algorithm>

namespace chordwell {

const KeyMapping* findMappingLinear(const std::vector<DeviceMapping>& records,
                                    const KeyboardModelId& model, std::span<const HidUsage> codes) {
    std::vector<HidUsage> sorted(codes.begin(), codes.end());
    std::sort(sorted.begin(), sorted.end());
    for (const DeviceMapping& record : records) {
        if (!isRecordOfModel(record, model)) {
            continue;
        }
        for (const KeyMapping& mapping : record.mappings) {
            if (mapping.inputKeyCodes.empty()) {
                continue; // never matches; kept in the record as it is
            }
            std::vector<HidUsage> keys = mapping.inputKeyCodes;
            std::sort(keys.begin(), keys.end());
            if (keys == sorted) {
                return &mapping;
            }
        }
    }
    return nullptr;
}

std::uint64_t MappingIndex::hashKeys(std::span<const HidUsage> sortedCodes) {
    // FNV-1a over the usages, then the count.
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (HidUsage code : sortedCodes) {
        h ^= code;
        h *= 0x100000001b3ULL;
    }
    h ^= sortedCodes.size();
    h *= 0x100000001b3ULL;
    return h;
}

void MappingIndex::clear() {
    entries_.clear();
    heads_.clear();
    hasOversized_ = false;
}

void MappingIndex::rebuild(const std::vector<DeviceMapping>& records,
                           const KeyboardModelId& model) {
    clear();
    for (const DeviceMapping& record : records) {
        if (!isRecordOfModel(record, model)) {
            continue;
        }
        for (const KeyMapping& mapping : record.mappings) {
            if (mapping.inputKeyCodes.empty()) {
                continue; // a mapping without input keys never matches
            }
            std::vector<HidUsage> keys = mapping.inputKeyCodes;
            std::sort(keys.begin(), keys.end());
            if (keys.size() > kMaxIndexedKeys) {
                hasOversized_ = true;
                continue;
            }
            const std::uint64_t h = hashKeys(keys);
            auto [it, inserted] = heads_.try_emplace(h, kNone);
            // The first mapping of a key set wins; later equal sets are shadowed.
            bool shadowed = false;
            for (std::uint32_t i = it->second; i != kNone; i = entries_[i].next) {
                if (entries_[i].sortedKeys == keys) {
                    shadowed = true;
                    break;
                }
            }
            if (shadowed) {
                continue;
            }
            entries_.push_back({std::move(keys), &mapping, it->second});
            it->second = static_cast<std::uint32_t>(entries_.size() - 1);
            (void)inserted;
        }
    }
}

const KeyMapping* MappingIndex::find(std::span<const HidUsage> sortedCodes) const {
    if (entries_.empty()) {
        return nullptr;
    }
    const auto it = heads_.find(hashKeys(sortedCodes));
    if (it == heads_.end()) {
        return nullptr;
    }
    for (std::uint32_t i = it->second; i != kNone; i = entries_[i].next) {
        const auto& keys = entries_[i].sortedKeys;
        if (std::equal(keys.begin(), keys.end(), sortedCodes.begin(), sortedCodes.end())) {
            return entries_[i].mapping;
        }
    }
    return nullptr;
}

} // namespace chordwell
