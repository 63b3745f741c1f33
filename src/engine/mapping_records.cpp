// The loaded mapping records: load, save, edit, delete and clear, each
// handing the record of one keyboard model to the storage.
#include "engine/raw_keyboard_listener.hpp"

#include "engine/record_lookup.hpp"
#include "logging/log.hpp"

#include <algorithm>
#include <string>

namespace chordwell {

namespace {

constexpr std::string_view kCategory = "keyboard";

} // namespace

// ------------------------------------------------------- mapping management

void RawKeyboardListener::loadMappings(const KeyboardDevice& keyboard) {
    std::vector<KeyMapping> loaded;
    if (storage_) {
        loaded = storage_->loadMappings(keyboard);
    }
    auto it = findRecordOfModel(allDeviceMappings_, modelOf(keyboard));
    if (!storage_ && it != allDeviceMappings_.end()) {
        // Without storage the record in memory is the only copy there is;
        // "loading" nothing over it would throw the user's mappings away.
        return;
    }
    mutateRecordsOfModel(modelOf(keyboard), [&](std::vector<DeviceMapping>& records) {
        if (it == records.end()) {
            DeviceMapping record;
            record.productName = keyboard.productName;
            record.productID = keyboard.productID;
            record.vendorID = keyboard.vendorID;
            record.mappings = std::move(loaded);
            records.push_back(std::move(record));
        } else {
            it->mappings = std::move(loaded);
        }
    });
}

void RawKeyboardListener::saveMappings(const KeyboardDevice& keyboard) {
    auto it = findRecordOfModel(allDeviceMappings_, modelOf(keyboard));
    if (it == allDeviceMappings_.end()) {
        return;
    }
    std::string errorText;
    if (!storage_) {
        errorText = "no mapping storage (" + storageError_ + ")";
    } else if (storage_->saveMappings(it->mappings, keyboard, errorText)) {
        return;
    }
    log(LogLevel::error, "Failed to save mappings for " + keyboard.productName + ": " + errorText,
        kCategory);
}

void RawKeyboardListener::editMapping(const KeyboardDevice& keyboard, const DeviceMapping& templ,
                                      const KeyMapping& mapping) {
    // By the model's identifiers, as loading, saving and matching choose:
    // two models may share a product name and a vendor.
    auto record = findRecordOfModel(allDeviceMappings_, modelOf(templ));
    if (record == allDeviceMappings_.end()) {
        log(LogLevel::warning, "editMapping: device not found", kCategory);
        return;
    }
    auto target = std::find_if(record->mappings.begin(), record->mappings.end(),
                               [&](const KeyMapping& m) { return m.id == mapping.id; });
    if (target == record->mappings.end()) {
        log(LogLevel::warning, "editMapping: mapping not found", kCategory);
        return;
    }
    std::vector<KeyMapping> edited = record->mappings;
    edited[static_cast<std::size_t>(target - record->mappings.begin())] = mapping;
    const Uuid recordId = record->id;

    mutateRecordsOfModel(modelOf(*record),
                         [&](std::vector<DeviceMapping>&) { record->mappings.clear(); });

    // The list on screen empties, then comes back with the change: the
    // second half runs a moment later on the main thread.
    std::weak_ptr<bool> alive = alive_;
    auto shared = std::make_shared<std::pair<std::vector<KeyMapping>, KeyboardDevice>>(
        std::move(edited), keyboard);
    auto timer = std::make_shared<platform::Scheduler::TimerId>(0);
    *timer = platform_->scheduler().scheduleOnce(
        kEditRestoreDelay, [this, alive, shared, timer, recordId] {
            if (alive.expired()) {
                return;
            }
            std::erase(pendingEditTimers_, *timer);
            restoreEditedRecord(recordId, std::move(shared->first), shared->second);
        });
    pendingEditTimers_.push_back(*timer);
}

void RawKeyboardListener::restoreEditedRecord(const Uuid& recordId,
                                              std::vector<KeyMapping> mappings,
                                              const KeyboardDevice& keyboard) {
    // The records may have changed in the meantime: find the record again by
    // its id, and give up when it is gone.
    auto record = std::find_if(allDeviceMappings_.begin(), allDeviceMappings_.end(),
                               [&](const DeviceMapping& r) { return r.id == recordId; });
    if (record == allDeviceMappings_.end()) {
        log(LogLevel::warning, "editMapping: device record is gone; edit not restored", kCategory);
        return;
    }
    mutateRecordsOfModel(modelOf(*record), [&](std::vector<DeviceMapping>&) {
        record->mappings = std::move(mappings);
    });
    saveMappings(keyboard);
}

void RawKeyboardListener::deleteMapping(const KeyboardDevice& keyboard, const Uuid& recordId,
                                        const KeyMapping& mapping) {
    auto record = std::find_if(allDeviceMappings_.begin(), allDeviceMappings_.end(),
                               [&](const DeviceMapping& r) { return r.id == recordId; });
    if (record == allDeviceMappings_.end()) {
        return;
    }
    const Uuid mappingId = mapping.id;
    mutateRecordsOfModel(modelOf(*record), [&](std::vector<DeviceMapping>&) {
        std::erase_if(record->mappings, [&](const KeyMapping& m) { return m.id == mappingId; });
    });
    saveMappings(keyboard);
}

void RawKeyboardListener::clearAllMappings(const KeyboardDevice& keyboard, const Uuid& recordId) {
    auto record = std::find_if(allDeviceMappings_.begin(), allDeviceMappings_.end(),
                               [&](const DeviceMapping& r) { return r.id == recordId; });
    if (record == allDeviceMappings_.end()) {
        return;
    }
    mutateRecordsOfModel(modelOf(*record),
                         [&](std::vector<DeviceMapping>&) { record->mappings.clear(); });
    saveMappings(keyboard);
}

} // namespace chordwell
