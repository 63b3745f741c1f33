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
    // An edit of this record still waiting would otherwise be read back
    // from the file without itself and then lost.
    finishPendingEdits();
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
    changeRecords(EngineChanges::recordsOf(modelOf(keyboard)),
                  [&](std::vector<DeviceMapping>& records) {
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
    // A record that is between the two halves of an edit shows no mappings:
    // saving that would write an empty file.
    finishPendingEdits();
    saveRecordOf(keyboard);
}

void RawKeyboardListener::saveRecordOf(const KeyboardDevice& keyboard) {
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
    // A second edit within the first one's delay works on the whole record.
    finishPendingEdits();
    // By the model's identifiers, as loading, saving and matching choose:
    // two models may share a product name and a vendor.
    auto record = findRecordOfModel(allDeviceMappings_, modelOf(templ));
    if (record == allDeviceMappings_.end()) {
        log(LogLevel::warning, "editMapping: device not found", kCategory);
        return;
    }
    const bool known = std::any_of(record->mappings.begin(), record->mappings.end(),
                                   [&](const KeyMapping& m) { return m.id == mapping.id; });
    if (!known) {
        log(LogLevel::warning, "editMapping: mapping not found", kCategory);
        return;
    }

    // The list on screen empties, then comes back with the change a moment
    // later. Meanwhile the mappings wait here, not in a copy of the record:
    // whatever happens to the record in between finishes the edit first
    // (see finishPendingEdits), so no later change is undone by it.
    PendingEdit edit;
    edit.serial = nextEditSerial_++;
    edit.recordId = record->id;
    edit.edited = mapping;
    edit.keyboard = keyboard;
    changeRecords(EngineChanges::recordsOf(modelOf(*record)),
                  [&](std::vector<DeviceMapping>&) { edit.setAside.swap(record->mappings); });

    std::weak_ptr<bool> alive = alive_;
    const std::uint64_t serial = edit.serial;
    edit.timer = platform_->scheduler().scheduleOnce(kEditRestoreDelay, [this, alive, serial] {
        if (alive.expired()) {
            return;
        }
        auto it = std::find_if(pendingEdits_.begin(), pendingEdits_.end(),
                               [&](const PendingEdit& p) { return p.serial == serial; });
        if (it == pendingEdits_.end()) {
            return; // finished early
        }
        PendingEdit due = std::move(*it);
        pendingEdits_.erase(it);
        completeEdit(std::move(due), true);
    });
    pendingEdits_.push_back(std::move(edit));
}

void RawKeyboardListener::finishPendingEdits() {
    if (pendingEdits_.empty()) {
        return;
    }
    // Taken out first: observers told of the restore may change the records
    // again, which comes back here.
    std::vector<PendingEdit> due;
    due.swap(pendingEdits_);
    for (PendingEdit& edit : due) {
        platform_->scheduler().cancel(edit.timer);
        completeEdit(std::move(edit), true);
    }
}

void RawKeyboardListener::completeEdit(PendingEdit edit, bool announced) {
    // The record is found again by its id: the list may have changed.
    auto record = std::find_if(allDeviceMappings_.begin(), allDeviceMappings_.end(),
                               [&](const DeviceMapping& r) { return r.id == edit.recordId; });
    if (record == allDeviceMappings_.end()) {
        log(LogLevel::warning, "editMapping: device record is gone; edit not restored", kCategory);
        return;
    }
    // Only the edited mapping changes, found by its id among the mappings
    // that were set aside; anything the record gained meanwhile stays, after
    // them.
    std::vector<KeyMapping> restored = std::move(edit.setAside);
    auto target = std::find_if(restored.begin(), restored.end(),
                               [&](const KeyMapping& m) { return m.id == edit.edited.id; });
    if (target != restored.end()) {
        *target = std::move(edit.edited);
    }
    restored.insert(restored.end(), std::make_move_iterator(record->mappings.begin()),
                    std::make_move_iterator(record->mappings.end()));
    if (announced) {
        changeRecords(EngineChanges::recordsOf(modelOf(*record)),
                      [&](std::vector<DeviceMapping>&) { record->mappings = std::move(restored); });
    } else {
        record->mappings = std::move(restored);
        recordsChanged();
    }
    saveRecordOf(edit.keyboard);
}

void RawKeyboardListener::deleteMapping(const KeyboardDevice& keyboard, const Uuid& recordId,
                                        const KeyMapping& mapping) {
    finishPendingEdits();
    auto record = std::find_if(allDeviceMappings_.begin(), allDeviceMappings_.end(),
                               [&](const DeviceMapping& r) { return r.id == recordId; });
    if (record == allDeviceMappings_.end()) {
        return;
    }
    const Uuid mappingId = mapping.id;
    changeRecords(EngineChanges::recordsOf(modelOf(*record)), [&](std::vector<DeviceMapping>&) {
        std::erase_if(record->mappings, [&](const KeyMapping& m) { return m.id == mappingId; });
    });
    saveRecordOf(keyboard);
}

void RawKeyboardListener::clearAllMappings(const KeyboardDevice& keyboard, const Uuid& recordId) {
    finishPendingEdits();
    auto record = std::find_if(allDeviceMappings_.begin(), allDeviceMappings_.end(),
                               [&](const DeviceMapping& r) { return r.id == recordId; });
    if (record == allDeviceMappings_.end()) {
        return;
    }
    changeRecords(EngineChanges::recordsOf(modelOf(*record)),
                  [&](std::vector<DeviceMapping>&) { record->mappings.clear(); });
    saveRecordOf(keyboard);
}

} // namespace chordwell
