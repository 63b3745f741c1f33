// The mapping editor's operations: recording "From" and "To", the "To" menu,
// saving new and edited mappings, deleting with or without confirmation.
#include "app/mappings/keyboard_mapping_model.hpp"

#include "logging/log.hpp"
#include "model/key_labels.hpp"
#include "storage/settings.hpp"

#include <algorithm>

namespace chordwell::app {

namespace {

constexpr std::string_view kCategoryUi = "ui";

} // namespace

bool KeyboardMappingModel::suppressDeleteConfirmation() const {
    return settings::suppressDeleteConfirmation(preferences_);
}

void KeyboardMappingModel::setSuppressDeleteConfirmation(bool value) {
    preferences_.setValue(settings::kSuppressDeleteConfirmation, value);
}

void KeyboardMappingModel::setMappingName(std::string name) {
    mappingName = std::move(name);
    changed();
}

void KeyboardMappingModel::toggleCaptureFrom() {
    if (!engine_.selectedDevice()) {
        return;
    }
    const KeyboardDevice keyboard = *engine_.selectedDevice();
    if (isCapturingTo) {
        endRecording(false);
    }
    capturedInputCodesFrom.clear();
    capturedCustomCodesFrom.clear();
    // The engine's flag, not ours, says whether this click starts or stops.
    if (!engine_.isCapturingInput()) {
        withdrawn_.clear();
        isTextFieldFocused = false;
        engine_.setIsForceBlockTap(true);
        engine_.startListening(keyboard);
        isCapturingFrom = true;
    } else {
        ListeningResult result = engine_.stopListening();
        engine_.setIsForceBlockTap(false);
        std::vector<HidUsage> codes = keptUsages(result.codes);
        capturedCustomCodesFrom =
            mergeCapturedSignatures(codes, keptTaps(result.taps), modifierKeyCodes);
        capturedInputCodesFrom = std::move(codes);
        isCapturingFrom = false;
    }
    changed();
}

void KeyboardMappingModel::toggleCaptureTo() {
    if (!engine_.selectedDevice()) {
        return;
    }
    const KeyboardDevice keyboard = *engine_.selectedDevice();
    if (isCapturingFrom) {
        endRecording(true);
    }
    capturedCustomCodesTo.clear();
    if (!engine_.isCapturingInput()) {
        withdrawn_.clear();
        isTextFieldFocused = false;
        engine_.setIsForceBlockTap(true);
        engine_.startListening(keyboard);
        isCapturingTo = true;
    } else {
        ListeningResult result = engine_.stopListening();
        engine_.setIsForceBlockTap(false);
        // The output is typed as recorded, modifier flags included.
        capturedCustomCodesTo = keptTaps(result.taps);
        isCapturingTo = false;
    }
    changed();
}

void KeyboardMappingModel::stopCapturesIfRunning() {
    if (isCapturingFrom) {
        endRecording(true);
    }
    if (isCapturingTo) {
        endRecording(false);
    }
}

void KeyboardMappingModel::endRecording(bool from) {
    // A click decides by the engine's flag whether it starts or stops. When
    // the engine has already stopped on its own (the keyboard was unplugged,
    // the form was cleared) or listens for interception, "toggling" would
    // start a new recording or end interception; the recording just ends.
    if (engine_.isCapturingInput() && !engine_.isIntercepting()) {
        if (from) {
            toggleCaptureFrom();
        } else {
            toggleCaptureTo();
        }
    } else {
        abandonRecording();
    }
}

void KeyboardMappingModel::abandonRecording() {
    isCapturingFrom = false;
    isCapturingTo = false;
    engine_.setIsForceBlockTap(false);
    if (!engine_.isIntercepting()) {
        (void)engine_.stopListening(); // releases a keyboard and tap left behind
    }
    changed();
}

void KeyboardMappingModel::withdrawFromRecording(const std::vector<HidUsage>& usages) {
    if (!isCapturingFrom && !isCapturingTo) {
        return;
    }
    withdrawn_.insert(withdrawn_.end(), usages.begin(), usages.end());
    changed();
}

const std::vector<HidUsage>& KeyboardMappingModel::recordingExitChord() {
    static const std::vector<HidUsage> chord = {0x2A, 0x29, 0x28}; // Backspace, Escape, Enter
    return chord;
}

bool KeyboardMappingModel::capturedExitChord() const {
    std::vector<HidUsage> codes;
    {
        const auto keyPath = engine_.lock(); // the recording is the key path's
        codes = keptUsages(engine_.capturedInputCodes());
    }
    return std::all_of(recordingExitChord().begin(), recordingExitChord().end(), [&](HidUsage u) {
        return std::find(codes.begin(), codes.end(), u) != codes.end();
    });
}

std::vector<HidUsage> KeyboardMappingModel::keptUsages(const std::vector<HidUsage>& usages) const {
    std::vector<HidUsage> kept = usages;
    for (HidUsage gone : withdrawn_) {
        // The latest press is the one that was withdrawn.
        const auto it = std::find(kept.rbegin(), kept.rend(), gone);
        if (it != kept.rend()) {
            kept.erase(std::next(it).base());
        }
    }
    return kept;
}

std::vector<MacKeySignature>
KeyboardMappingModel::keptTaps(const std::vector<MacKeySignature>& taps) const {
    std::vector<MacKeySignature> kept = taps;
    for (HidUsage gone : withdrawn_) {
        // Modifier keys never reach the taps as key presses.
        const std::optional<std::uint16_t> code = hidToMacKeyCode(gone);
        if (!code || modifierKeyCodes.count(*code) > 0) {
            continue;
        }
        const auto it = std::find_if(kept.rbegin(), kept.rend(),
                                     [&](const MacKeySignature& s) { return s.keyCode == *code; });
        if (it != kept.rend()) {
            kept.erase(std::next(it).base());
        }
    }
    return kept;
}

std::string KeyboardMappingModel::recordingHint() const {
    if (!isCapturingFrom && !isCapturingTo) {
        return {};
    }
    // Said in words on every desktop: a sentence reads badly with glyphs.
    const KeyNames words =
        conventions_.keyNames == KeyNames::macSymbols ? KeyNames::macWords : conventions_.keyNames;
    const std::vector<MacKeySignature> chord = {{51, 0}, {53, 0}, {36, 0}};
    std::string hint = recordingSourceHint_;
    if (!hint.empty()) {
        hint += ' ';
    }
    return hint + "To stop, click the field again or press " + combinationText(chord, words) +
           " together.";
}

std::string KeyboardMappingModel::editorTitle() const {
    return isEditingMode && conventions_.titleNamesEditing ? "Edit Mapping" : "New Mapping";
}

std::string KeyboardMappingModel::disabledReason() const {
    return engine_.isIntercepting() ? "Turn mappings off to edit." : "";
}

std::string KeyboardMappingModel::noSelectionText() const {
    if (!conventions_.sayKeyboard) {
        return "No device was selected.";
    }
    if (engine_.discoveredKeyboards().empty()) {
        return "No keyboard can be read, so there is none to choose. Plug one in, or follow the "
               "message at the top of the window if Chordwell may not read your keyboards.";
    }
    return "No keyboard is selected. Choose one in the list to see its mappings.";
}

std::string KeyboardMappingModel::noMappingsText() const {
    return conventions_.sayKeyboard ? "No mappings for this keyboard yet."
                                    : "No mappings found for this device.";
}

std::string KeyboardMappingModel::emptyListText() const {
    return conventions_.sayKeyboard ? "No keyboard can be read." : "";
}

void KeyboardMappingModel::endEditing() {
    if (isEditingMode) {
        clearOrCancel();
    }
}

void KeyboardMappingModel::nameFieldFocused() {
    isTextFieldFocused = true;
    stopCapturesIfRunning();
    changed();
}

OutputBehavior KeyboardMappingModel::currentOutputBehavior() const {
    if (selectedBehavior.isCustomKeySequence()) {
        return OutputBehavior::customKeySequence(selectedBehaviorLabel, capturedCustomCodesTo);
    }
    return selectedBehavior;
}

RecordingFieldState KeyboardMappingModel::fromField() {
    static const std::vector<MacKeySignature> kNoTaps;
    const auto keyPath = engine_.lock(); // the recording is the key path's
    TapBlockerListener* blocker = engine_.tapBlockerListener();
    const std::vector<HidUsage>& liveUsages = engine_.capturedInputCodes();
    const std::vector<MacKeySignature>& liveTaps =
        blocker != nullptr ? blocker->persistentCapturedTapSignatures() : kNoTaps;

    const KeyLayout* layout = engine_.keyboardLayout().get();
    RecordingFieldState state;
    state.isRecording = engine_.isCapturingInput() && !engine_.isIntercepting() && isCapturingFrom;
    state.isEnabled = !isCapturingTo;
    const std::vector<HidUsage> kept =
        isCapturingFrom ? keptUsages(liveUsages) : std::vector<HidUsage>{};
    const bool live = !kept.empty();
    state.codesText = usagesText(live ? kept : capturedInputCodesFrom);
    if (live) {
        const std::vector<MacKeySignature> merged =
            mergeCapturedSignatures(kept, keptTaps(liveTaps), modifierKeyCodes);
        if (blocker != nullptr) {
            // The blocker cannot see modifier keys as key presses; tell it
            // which signatures belong to the combination being recorded.
            blocker->registerTapSignatures(merged);
        }
        state.keysText = combinationText(merged, conventions_.keyNames, layout);
        state.spokenText = combinationText(merged, conventions_.spokenKeyNames, layout);
    } else {
        state.keysText = combinationText(capturedCustomCodesFrom, conventions_.keyNames, layout);
        state.spokenText =
            combinationText(capturedCustomCodesFrom, conventions_.spokenKeyNames, layout);
    }
    return state;
}

RecordingFieldState KeyboardMappingModel::toField() const {
    const auto keyPath = engine_.lock();
    const TapBlockerListener* blocker = engine_.tapBlockerListener();
    RecordingFieldState state;
    state.isRecording = engine_.isCapturingInput() && !engine_.isIntercepting() && isCapturingTo;
    state.isEnabled = !isCapturingFrom;
    const std::vector<MacKeySignature> live =
        blocker != nullptr && isCapturingTo ? keptTaps(blocker->persistentCapturedTapSignatures())
                                            : std::vector<MacKeySignature>{};
    const std::vector<MacKeySignature>& shown = live.empty() ? capturedCustomCodesTo : live;
    state.keysText = signatureText(shown, conventions_.keyNames, engine_.keyboardLayout().get());
    state.spokenText =
        signatureText(shown, conventions_.spokenKeyNames, engine_.keyboardLayout().get());
    return state;
}

bool KeyboardMappingModel::saveButtonEnabled() {
    return engine_.selectedDevice().has_value() && !mappingName.empty() &&
           (!capturedInputCodesFrom.empty() || !fromField().codesText.empty());
}

void KeyboardMappingModel::saveMapping() {
    if (!engine_.selectedDevice() || mappingName.empty()) {
        return;
    }
    const KeyboardDevice keyboard = *engine_.selectedDevice();
    stopCapturesIfRunning();
    const std::vector<HidUsage> codes = capturedInputCodesFrom;
    const std::vector<MacKeySignature> signatures = capturedCustomCodesFrom;
    if (codes.empty()) {
        changed();
        return;
    }
    const OutputBehavior behavior = currentOutputBehavior();

    if (isEditingMode) {
        if (!editingItemMapping) {
            log(LogLevel::warning, "saveMapping (editing): editingItemMapping not set",
                kCategoryUi);
            changed();
            return;
        }
        KeyMapping edited = *editingItemMapping;
        edited.name = mappingName;
        edited.inputKeyCodes = codes;
        edited.inputTapCodes = signatures;
        edited.outputBehavior = behavior;
        DeviceMapping templ;
        templ.productName = keyboard.productName;
        templ.productID = keyboard.productID;
        templ.vendorID = keyboard.vendorID;
        engine_.editMapping(keyboard, templ, edited);
        isEditingMode = false;
        editingItemMapping.reset();
        breadcrumb("Mapping edited");
    } else {
        KeyMapping mapping;
        mapping.name = mappingName;
        mapping.inputKeyCodes = codes;
        mapping.inputTapCodes = signatures;
        mapping.outputBehavior = behavior;
        // Into the record of this product name and vendor, or a new one; then saved.
        appendMappings(keyboard, {mapping}, false);
        breadcrumb("Mapping saved");
    }

    engine_.setIsCapturingInput(false);
    engine_.setIsForceBlockTap(false);
    capturedInputCodesFrom.clear();
    capturedCustomCodesTo.clear();
    if (conventions_.clearFormAfterSave) {
        // Ready for the next mapping: a name left in the field invites a
        // second mapping under the same name.
        mappingName.clear();
        selectedBehavior = OutputBehavior::none();
        selectedBehaviorLabel.clear();
        capturedCustomCodesFrom.clear();
    }
    changed();
}

void KeyboardMappingModel::clearOrCancel() {
    // A recording still running would leave its field looking idle while the
    // other one stays disabled and the keyboard stays silenced; the form is
    // emptied anyway, so whatever it recorded is dropped with it.
    if (isCapturingFrom || isCapturingTo) {
        abandonRecording();
    }
    engine_.setIsCapturingInput(false);
    engine_.setIsForceBlockTap(false);
    isEditingMode = false;
    editingItemMapping.reset();
    resetEditor();
}

void KeyboardMappingModel::resetEditor() {
    mappingName.clear();
    selectedBehaviorLabel.clear();
    selectedBehavior = OutputBehavior::none();
    engine_.setCapturedInputCodes({});
    capturedInputCodesFrom.clear();
    capturedCustomCodesTo.clear();
    changed();
}

void KeyboardMappingModel::startEditing(const KeyMapping& mapping) {
    isEditingMode = true;
    capturedInputCodesFrom = mapping.inputKeyCodes;
    capturedCustomCodesFrom = inputSignatures(mapping);
    mappingName = mapping.name;
    selectedBehavior = mapping.outputBehavior;
    if (mapping.outputBehavior.isCustomKeySequence()) {
        capturedCustomCodesTo = mapping.outputBehavior.signatures();
        selectedBehaviorLabel = mapping.outputBehavior.name();
    } else {
        // A label left from an earlier choice ("Paste Without Formatting")
        // would name another output than the one being edited; without one
        // the menu shows the edited behaviour's own label.
        selectedBehaviorLabel.clear();
    }
    editingItemMapping = mapping;
    changed();
}

void KeyboardMappingModel::requestDelete(const KeyMapping& mapping, const KeyboardDevice& keyboard,
                                         const Uuid& recordId) {
    if (!suppressDeleteConfirmation()) {
        dontAskAgainDeleteConfirmation = false;
        mappingToDelete = mapping;
        deleteKeyboard_ = keyboard;
        deleteRecordId_ = recordId;
        changed();
        return;
    }
    deleteNow(mapping, keyboard, recordId);
}

void KeyboardMappingModel::deleteNow(const KeyMapping& mapping, const KeyboardDevice& keyboard,
                                     const Uuid& recordId) {
    if (editingItemMapping && *editingItemMapping == mapping) {
        isEditingMode = false;
        editingItemMapping.reset();
    }
    engine_.deleteMapping(keyboard, recordId, mapping);
    breadcrumb("Mapping deleted");
    changed();
}

void KeyboardMappingModel::confirmDelete() {
    if (editingItemMapping == mappingToDelete) {
        isEditingMode = false;
        editingItemMapping.reset();
    }
    const std::optional<KeyMapping> mapping = std::move(mappingToDelete);
    mappingToDelete.reset();
    if (mapping && deleteKeyboard_) {
        engine_.deleteMapping(*deleteKeyboard_, deleteRecordId_, *mapping);
        breadcrumb("Mapping deleted");
    }
    if (dontAskAgainDeleteConfirmation) {
        setSuppressDeleteConfirmation(true);
    }
    deleteKeyboard_.reset();
    changed();
}

void KeyboardMappingModel::cancelDelete() {
    mappingToDelete.reset();
    deleteKeyboard_.reset();
    changed();
}

// ------------------------------------------------------------- "To" menu

std::string KeyboardMappingModel::toMenuLabel() const {
    return selectedBehaviorLabel.empty() ? selectedBehavior.displayLabel() : selectedBehaviorLabel;
}

std::vector<ToMenuGroup> KeyboardMappingModel::toMenuGroups() const {
    std::vector<ToMenuGroup> groups;
    for (const ShortcutGroup& g : allShortcutsFromJson) {
        ToMenuGroup group;
        group.title = g.groupName;
        for (const ShortcutItem& item : g.items) {
            group.itemTitles.push_back(catalogTitle(item.name, conventions_));
        }
        groups.push_back(std::move(group));
    }
    return groups;
}

void KeyboardMappingModel::chooseCatalogItem(std::size_t groupIndex, std::size_t itemIndex) {
    if (groupIndex >= allShortcutsFromJson.size() ||
        itemIndex >= allShortcutsFromJson[groupIndex].items.size()) {
        return;
    }
    const ShortcutItem& item = allShortcutsFromJson[groupIndex].items[itemIndex];
    // The catalog writes US key positions; what it means is the characters
    // on them, so the keys stored are those that type them on the user's
    // layout, as a recording on it would give.
    std::vector<MacKeySignature> signatures = engine_.resolvedForKeyboardLayout(item.signatures());
    const std::string name = catalogTitle(item.name, conventions_);
    selectedBehavior = OutputBehavior::customKeySequence(name, signatures);
    selectedBehaviorLabel = name;
    capturedCustomCodesTo = std::move(signatures);
    changed();
}

void KeyboardMappingModel::chooseConstantBehavior(std::size_t index) {
    const std::vector<OutputBehavior>& constants = constantBehaviors();
    if (index >= constants.size()) {
        return;
    }
    selectedBehavior = constants[index];
    selectedBehaviorLabel = chordwell::capitalizedWords(selectedBehavior.displayLabel());
    changed();
}

} // namespace chordwell::app
