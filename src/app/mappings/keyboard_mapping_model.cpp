#include "app/mappings/keyboard_mapping_model.hpp"

#include "app/controls/item_rows.hpp"

#include "engine/record_lookup.hpp"
#include "logging/log.hpp"
#include "model/key_labels.hpp"
#include "storage/settings.hpp"

#include <QCollator>
#include <QCollatorSortKey>
#include <QString>

#include <algorithm>
#include <unordered_set>

namespace chordwell::app {

namespace {

constexpr std::string_view kCategoryUi = "ui";
constexpr std::string_view kCategoryKeyboard = "keyboard";

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            out += separator;
        }
        out += parts[i];
    }
    return out;
}

} // namespace

// ------------------------------------------------------------ free functions

const std::set<std::int64_t>& defaultModifierKeyCodes() {
    static const std::set<std::int64_t> codes = {54, 55, 56, 57, 58, 59, 60, 61, 62, 63};
    return codes;
}

std::string usagesText(const std::vector<HidUsage>& codes) {
    std::vector<std::string> parts;
    parts.reserve(codes.size());
    for (HidUsage code : codes) {
        parts.push_back(std::to_string(code));
    }
    return joined(parts, ", ");
}

std::vector<MacKeySignature>
mergeCapturedSignatures(const std::vector<HidUsage>& codes,
                        const std::vector<MacKeySignature>& taps,
                        const std::set<std::int64_t>& modifierKeyCodes) {
    // The tap does not report modifier keys as key presses, so they come
    // from the usages alone; every other usage takes the next signature the
    // tap saw (the system's own key code for it, layout included).
    std::vector<MacKeySignature> result;
    std::unordered_set<std::int64_t> inResult; // key codes already in `result`
    auto add = [&](std::int64_t keyCode) {
        result.push_back(MacKeySignature{keyCode, 0});
        inResult.insert(keyCode);
    };
    std::size_t t = 0;
    for (HidUsage u : codes) {
        const std::optional<std::uint16_t> k = hidToMacKeyCode(u);
        if (k && modifierKeyCodes.count(*k) > 0) {
            add(*k);
        } else if (t < taps.size()) {
            const std::int64_t c = taps[t].keyCode;
            if (inResult.count(c) == 0) {
                add(c);
            }
            ++t;
        } else if (k) {
            add(*k);
        }
    }
    for (; t < taps.size(); ++t) {
        if (inResult.count(taps[t].keyCode) == 0) {
            add(taps[t].keyCode);
        }
    }
    return result;
}

std::vector<KeyboardDevice> sortedKeyboards(const std::vector<KeyboardDevice>& keyboards) {
    const QCollator collator = nameCollator();
    // One sort key per name, made once.
    std::vector<std::pair<QCollatorSortKey, KeyboardDevice>> keyed;
    keyed.reserve(keyboards.size());
    for (const KeyboardDevice& k : keyboards) {
        keyed.emplace_back(nameSortKey(collator, QString::fromStdString(k.productName)), k);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [&](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
    std::vector<KeyboardDevice> out;
    out.reserve(keyed.size());
    for (auto& entry : keyed) {
        out.push_back(std::move(entry.second));
    }
    return out;
}

const DeviceMapping* findRecord(const std::vector<DeviceMapping>& records,
                                const KeyboardDevice& keyboard) {
    const auto it = findRecordOfModel(records, modelOf(keyboard));
    return it == records.end() ? nullptr : &*it;
}

std::string mappingInputText(const KeyMapping& mapping, KeyNames names, const KeyLayout* layout) {
    return combinationText(inputSignatures(mapping), names, layout);
}

std::string mappingOutputKeysText(const KeyMapping& mapping, KeyNames names, bool builtInKeys,
                                  const KeyLayout* layout) {
    if (!mapping.outputBehavior.isCustomKeySequence()) {
        return builtInKeys ? builtInKeysText(mapping.outputBehavior.kind(), names) : std::string();
    }
    std::vector<std::string> keys;
    for (const MacKeySignature& s : mapping.outputBehavior.signatures()) {
        keys.push_back(signatureText(s, names, layout));
    }
    return joined(keys, ", ");
}

std::string RecordingFieldState::placeholder() const {
    return isRecording ? "Press keys…" : "Click to capture";
}

bool RecordingFieldState::showsPlaceholder(bool isFromField) const {
    return isFromField ? codesText.empty() : keysText.empty();
}

// ------------------------------------------------------------------- model

KeyboardMappingModel::KeyboardMappingModel(RawKeyboardListener& engine,
                                           platform::Preferences& preferences,
                                           std::vector<ShortcutGroup> catalog,
                                           Breadcrumb breadcrumb, Conventions conventions)
    : allShortcutsFromJson(std::move(catalog)), engine_(engine), preferences_(preferences),
      conventions_(conventions), breadcrumb_(std::move(breadcrumb)) {
    if (engine_.selectedDevice()) {
        lastSeenSelectedId_ = engine_.selectedDevice()->id;
    }
}

void KeyboardMappingModel::changed() {
    if (onChanged_) {
        onChanged_();
    }
}

void KeyboardMappingModel::breadcrumb(const std::string& text) const {
    if (breadcrumb_) {
        breadcrumb_(text);
    }
}

void KeyboardMappingModel::syncWithEngine() {
    bool didChange = false;
    // A selected keyboard the engine waits for stays selected while it is away.
    if (const auto& selected = engine_.selectedDevice(); selected && !engine_.awaitedKeyboard()) {
        const auto& list = engine_.discoveredKeyboards();
        const bool present = std::any_of(list.begin(), list.end(), [&](const KeyboardDevice& k) {
            return k.id == selected->id;
        });
        if (!present) {
            stopCapturesIfRunning();
            if (engine_.isIntercepting()) {
                engine_.stopIntercepting();
            }
            engine_.setSelectedDevice(std::nullopt);
            breadcrumb("Selected keyboard disconnected");
            didChange = true;
        }
    }
    std::optional<Uuid> nowSelected;
    if (engine_.selectedDevice()) {
        nowSelected = engine_.selectedDevice()->id;
    }
    // The way out of a recording that swallows every key.
    if ((isCapturingFrom || isCapturingTo) && capturedExitChord()) {
        withdrawFromRecording(recordingExitChord());
        stopCapturesIfRunning();
        didChange = true;
    }
    if (nowSelected != lastSeenSelectedId_) {
        lastSeenSelectedId_ = nowSelected;
        if (engine_.selectedDevice()) {
            const KeyboardDevice keyboard = *engine_.selectedDevice();
            // Chosen elsewhere (a simulate script): the list follows.
            localKeyboardSelection_ = keyboard;
            engine_.loadMappings(keyboard);
        }
        didChange = true;
    }
    if (didChange) {
        changed();
    }
}

void KeyboardMappingModel::keyboardListAppeared() {
    localKeyboardSelection_ = engine_.selectedDevice();
    changed();
}

void KeyboardMappingModel::selectKeyboard(const std::optional<KeyboardDevice>& keyboard) {
    if (localKeyboardSelection_ == keyboard) {
        return;
    }
    localKeyboardSelection_ = keyboard;
    if (keyboard) {
        stopCapturesIfRunning();
        engine_.setSelectedDevice(*keyboard);
        breadcrumb("Keyboard selected: " + keyboard->productName + " (vendor " +
                   std::to_string(keyboard->vendorID) + ", product " +
                   std::to_string(keyboard->productID) + ")");
        syncWithEngine();
    }
    changed();
}

void KeyboardMappingModel::toggleInterception(bool isOn) {
    if (!engine_.selectedDevice()) {
        return;
    }
    if (!isOn || engine_.isIntercepting()) {
        engine_.stopIntercepting();
        breadcrumb("Interception turned off");
        changed();
        return;
    }
    // A recording keeps the tap blocking every key-down; interception must
    // not inherit that, or the whole keyboard would go silent. End it first,
    // keeping what it recorded.
    stopCapturesIfRunning();
    const KeyboardDevice keyboard = *engine_.selectedDevice();
    if (!keyboard.deviceRef) {
        // Selected while it is away: interception starts when it comes.
        engine_.followKeyboard(identityOf(keyboard), true);
        breadcrumb("Interception turned on for " + keyboard.productName);
        changed();
        return;
    }
    log(LogLevel::info, "In startIntercepting(...)...", kCategoryKeyboard);
    engine_.setIsIntercepting(true);
    engine_.startListening(keyboard);
    breadcrumb("Interception turned on for " + keyboard.productName);
    changed();
}

void KeyboardMappingModel::stopInterceptingFromButton() {
    if (!engine_.selectedDevice()) {
        return;
    }
    engine_.stopIntercepting();
    breadcrumb("Interception turned off");
    changed();
}

std::vector<KeyboardRow> KeyboardMappingModel::keyboardRows() const {
    const auto& selected = engine_.selectedDevice();
    std::vector<KeyboardRow> rows;
    for (const KeyboardDevice& k : sortedKeyboards(engine_.discoveredKeyboards())) {
        KeyboardRow row;
        row.device = k;
        row.title = keyboardListName(k, engine_.discoveredKeyboards());
        row.isSelected = selected && selected->id == k.id;
        row.vendorText = "Vendor: " + identifierText(k.vendorID, conventions_);
        row.productText = "Product: " + identifierText(k.productID, conventions_);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string KeyboardMappingModel::waitingText() const {
    const auto& awaited = engine_.awaitedKeyboard();
    return awaited ? waitingForKeyboardText(*awaited) : std::string();
}

const DeviceMapping* KeyboardMappingModel::selectedRecord() const {
    const auto& selected = engine_.selectedDevice();
    if (!selected) {
        return nullptr;
    }
    return findRecord(engine_.allDeviceMappings(), *selected);
}

MappingPaneState KeyboardMappingModel::mappingPaneState() const {
    if (!engine_.selectedDevice()) {
        return MappingPaneState::noDevice;
    }
    const DeviceMapping* record = selectedRecord();
    if (record != nullptr && !record->mappings.empty()) {
        return MappingPaneState::mappings;
    }
    return MappingPaneState::noMappings;
}

std::vector<MappingRow> KeyboardMappingModel::mappingRows() const {
    std::vector<MappingRow> rows;
    const DeviceMapping* record = selectedRecord();
    if (record == nullptr) {
        return rows;
    }
    for (const KeyMapping& m : record->mappings) {
        MappingRow row;
        row.mapping = m;
        row.name = m.name;
        row.inputText = inputText(m);
        row.inputCodesText = usagesText(m.inputKeyCodes);
        row.outputText = m.outputBehavior.isCustomKeySequence() ? m.outputBehavior.name()
                                                                : m.outputBehavior.displayLabel();
        row.outputDetail = outputKeysText(m);
        row.isBeingEdited = isEditingMode && editingItemMapping && *editingItemMapping == m;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string KeyboardMappingModel::mappingsTitle() const {
    const DeviceMapping* record = selectedRecord();
    const std::size_t count = record != nullptr ? record->mappings.size() : 0;
    return "Mappings (" + countText(static_cast<std::int64_t>(count)) + ")";
}

std::string KeyboardMappingModel::inputText(const KeyMapping& mapping) const {
    return mappingInputText(mapping, conventions_.keyNames, engine_.keyboardLayout().get());
}

std::string KeyboardMappingModel::spokenInputText(const KeyMapping& mapping) const {
    return mappingInputText(mapping, conventions_.spokenKeyNames, engine_.keyboardLayout().get());
}

std::string KeyboardMappingModel::outputKeysText(const KeyMapping& mapping) const {
    return mappingOutputKeysText(mapping, conventions_.keyNames, conventions_.showBuiltInKeys,
                                 engine_.keyboardLayout().get());
}

std::size_t KeyboardMappingModel::repeatedCombinations(const std::vector<KeyMapping>& mappings) {
    std::unordered_set<std::string> seen;
    seen.reserve(mappings.size());
    std::size_t repeated = 0;
    for (const KeyMapping& m : mappings) {
        std::vector<HidUsage> keys = m.inputKeyCodes;
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        const std::string key(reinterpret_cast<const char*>(keys.data()),
                              keys.size() * sizeof(HidUsage));
        if (!keys.empty() && !seen.insert(key).second) {
            ++repeated;
        }
    }
    return repeated;
}

// ------------------------------------------------------------------ import

void KeyboardMappingModel::importMappings(const std::vector<KeyMapping>& mappings, bool direct) {
    log(LogLevel::info, "Mappings loaded: " + std::to_string(mappings.size()), kCategoryUi);
    lastImport_.reset();
    if (!direct) {
        importedMappings = mappings;
        showingImportChoice = true;
        changed();
        return;
    }
    if (const auto& selected = engine_.selectedDevice()) {
        const std::size_t added = appendMappings(*selected, mappings, true);
        breadcrumb("Imported " + std::to_string(added) + " mappings");
        lastImport_ = ImportReport{mappings.size(), added, repeatedCombinations(mappings)};
    }
    changed();
}

std::size_t KeyboardMappingModel::appendMappings(const KeyboardDevice& keyboard,
                                                 const std::vector<KeyMapping>& mappings,
                                                 bool filterDuplicates) {
    const DeviceMapping* record = findRecord(engine_.allDeviceMappings(), keyboard);
    if (record != nullptr) {
        std::vector<KeyMapping> kept;
        if (filterDuplicates) {
            // Hashed, so that appending a large file to a large record stays
            // linear. The record's own mappings only: equal mappings of the
            // file that are new are all appended.
            std::unordered_set<Uuid> ids;
            std::unordered_set<KeyMapping> known; // equality and hash leave out the id
            ids.reserve(record->mappings.size());
            known.reserve(record->mappings.size());
            for (const KeyMapping& existing : record->mappings) {
                ids.insert(existing.id);
                known.insert(existing);
            }
            for (const KeyMapping& m : mappings) {
                if (ids.count(m.id) == 0 && known.count(m) == 0) {
                    kept.push_back(m);
                }
            }
        } else {
            kept = mappings;
        }
        if (kept.empty()) {
            return 0;
        }
        const Uuid recordId = record->id;
        ++recordsRevision_;
        engine_.mutateAllDeviceMappings([&](std::vector<DeviceMapping>& records) {
            for (DeviceMapping& r : records) {
                if (r.id == recordId) {
                    r.mappings.insert(r.mappings.end(), std::make_move_iterator(kept.begin()),
                                      std::make_move_iterator(kept.end()));
                    break;
                }
            }
        });
        engine_.saveMappings(keyboard);
        return kept.size();
    }
    DeviceMapping fresh;
    fresh.productName = keyboard.productName;
    fresh.productID = keyboard.productID;
    fresh.vendorID = keyboard.vendorID;
    fresh.mappings = mappings;
    ++recordsRevision_;
    engine_.mutateAllDeviceMappings(
        [&](std::vector<DeviceMapping>& records) { records.push_back(std::move(fresh)); });
    engine_.saveMappings(keyboard);
    return mappings.size();
}

void KeyboardMappingModel::appendImportedMappings() {
    showingImportChoice = false;
    if (const auto& selected = engine_.selectedDevice()) {
        const KeyboardDevice keyboard = *selected;
        const std::size_t added = appendMappings(keyboard, importedMappings, true);
        breadcrumb("Imported " + std::to_string(added) + " mappings (append)");
        lastImport_ =
            ImportReport{importedMappings.size(), added, repeatedCombinations(importedMappings)};
    }
    changed();
}

void KeyboardMappingModel::replaceImportedMappings() {
    showingImportChoice = false;
    // The mapping being edited is gone with the list it was in: an edit
    // saved later would find nothing to change.
    endEditing();
    if (const auto& selected = engine_.selectedDevice()) {
        const KeyboardDevice keyboard = *selected;
        const DeviceMapping* record = findRecord(engine_.allDeviceMappings(), keyboard);
        if (record != nullptr) {
            const Uuid recordId = record->id;
            ++recordsRevision_;
            engine_.mutateAllDeviceMappings([&](std::vector<DeviceMapping>& records) {
                for (DeviceMapping& r : records) {
                    if (r.id == recordId) {
                        r.mappings = importedMappings;
                        break;
                    }
                }
            });
            engine_.saveMappings(keyboard);
        } else {
            appendMappings(keyboard, importedMappings, false);
        }
        breadcrumb("Imported " + std::to_string(importedMappings.size()) + " mappings (replace)");
        lastImport_ = ImportReport{importedMappings.size(), importedMappings.size(),
                                   repeatedCombinations(importedMappings)};
    }
    changed();
}

void KeyboardMappingModel::clearAllMappings() {
    const auto& selected = engine_.selectedDevice();
    const DeviceMapping* record = selectedRecord();
    if (!selected || record == nullptr) {
        return;
    }
    const KeyboardDevice keyboard = *selected;
    const Uuid recordId = record->id;
    endEditing();
    engine_.clearAllMappings(keyboard, recordId);
    breadcrumb("Cleared all mappings");
    changed();
}

void KeyboardMappingModel::exportFinished(const std::string& path) {
    log(LogLevel::info, "Exported mappings to " + path, "io");
    breadcrumb("Exported mappings");
}

} // namespace chordwell::app
