// The state and operations of the main window's content: the keyboard list,
// the mapping editor, the mapping table, import and clear. Plain C++ on top of
// the engine; the widgets only draw what this holds and forward the user's
// actions to it, so that nearly all behaviour is tested without widgets.
#pragma once

#include "engine/raw_keyboard_listener.hpp"
#include "model/keys.hpp"
#include "model/records.hpp"
#include "platform/ports.hpp"
#include "storage/shortcuts.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace chordwell::app {

/// The virtual key codes that count as modifier keys in the merge of a
/// recording: right Command 54, Command 55, Shift 56, Caps Lock 57, Option
/// 58, Control 59, right Shift 60, right Option 61, right Control 62, Fn 63.
const std::set<std::int64_t>& defaultModifierKeyCodes();

/// Joins the HID usages of a recording as decimal numbers with ", ".
std::string usagesText(const std::vector<HidUsage>& codes);

/// Combines what a recording produced from both sources: the HID usages of
/// the listened keyboard (which keys) and the signatures the event tap saw
/// (the system's key codes for them). Every signature of the result has no
/// modifiers; modifier keys appear as signatures of their own.
std::vector<MacKeySignature>
mergeCapturedSignatures(const std::vector<HidUsage>& codes,
                        const std::vector<MacKeySignature>& taps,
                        const std::set<std::int64_t>& modifierKeyCodes);

/// The keyboards sorted by product name with the locale's case-insensitive
/// order; keyboards with equal names keep their discovery order.
std::vector<KeyboardDevice> sortedKeyboards(const std::vector<KeyboardDevice>& keyboards);

/// The record shown for a keyboard: the first of its model (vendor and
/// product identifiers), the record the engine loads, saves and matches.
const DeviceMapping* findRecord(const std::vector<DeviceMapping>& records,
                                const KeyboardDevice& keyboard);

/// One row of the keyboard list.
struct KeyboardRow {
    KeyboardDevice device;
    std::string title;       // product name, with its place when another has the same name
    bool isSelected = false; // the engine's selected keyboard: the checkmark
    std::string vendorText;  // "Vendor: 1452"
    std::string productText; // "Product: 591"
};

/// One row of the mapping table.
struct MappingRow {
    KeyMapping mapping;
    std::string name;
    std::string inputText;      // signatureText of the input signatures
    std::string inputCodesText; // the usages, "224, 6"
    std::string outputText;     // sequence name or the behaviour's label
    std::string outputDetail;   // a custom sequence's keys ("" otherwise)
    bool isBeingEdited = false; // shows "xmark" instead of "pencil"
};

enum class MappingPaneState { noDevice, noMappings, mappings };

/// What a recording field shows.
struct RecordingFieldState {
    bool isRecording = false;
    std::string keysText;  // signatures
    std::string codesText; // usages ("From" only)
    bool isEnabled = true; // the other field is not recording
    /// "Press keys…" while recording, "Click to capture" otherwise; shown
    /// when there is nothing else to show.
    std::string placeholder() const;
    bool showsPlaceholder(bool isFromField) const;
};

/// An entry of the "To" menu: a catalog group with its items.
struct ToMenuGroup {
    std::string title;
    std::vector<std::string> itemTitles;
};

class KeyboardMappingModel {
public:
    using Breadcrumb = std::function<void(const std::string&)>;

    KeyboardMappingModel(RawKeyboardListener& engine, platform::Preferences& preferences,
                         std::vector<ShortcutGroup> catalog = {}, Breadcrumb breadcrumb = {});
    KeyboardMappingModel(const KeyboardMappingModel&) = delete;
    KeyboardMappingModel& operator=(const KeyboardMappingModel&) = delete;

    RawKeyboardListener& engine() const { return engine_; }

    /// Called after every change of the model's own state (the widgets
    /// redraw); the engine's changes arrive through its own signal.
    void setOnChanged(std::function<void()> onChanged) { onChanged_ = std::move(onChanged); }

    // ------------------------------------------------------- main window

    /// Reacts to the engine's published changes: loads the mappings of a
    /// newly selected keyboard, and when the selected keyboard went away ends
    /// recordings and interception and clears the selection. Safe to call
    /// any number of times (it acts on what changed since the last call).
    void syncWithEngine();

    /// The keyboard list was shown: its selection starts from the engine's.
    void keyboardListAppeared();
    /// The user picked a row (nothing: the selection was cleared).
    void selectKeyboard(const std::optional<KeyboardDevice>& keyboard);
    const std::optional<KeyboardDevice>& localKeyboardSelection() const {
        return localKeyboardSelection_;
    }
    /// The application stopped being the active one.
    void applicationResignedActive() { stopCapturesIfRunning(); }

    /// The interception switch's setter; also the menu commands' routine
    /// with the wished state `!isIntercepting`.
    void toggleInterception(bool isOn);
    /// The run/stop button's stop: only with a selected keyboard.
    void stopInterceptingFromButton();

    std::vector<KeyboardRow> keyboardRows() const;
    /// "Waiting for Magic Keyboard to come back…" while the engine waits for
    /// its keyboard, else empty.
    std::string waitingText() const;
    MappingPaneState mappingPaneState() const;
    /// The selected keyboard's record, or nullptr.
    const DeviceMapping* selectedRecord() const;
    std::vector<MappingRow> mappingRows() const;
    /// Counts the model's own changes of the engine's records; with the
    /// record's size and storage it tells a view whether its rows are stale.
    std::uint64_t recordsRevision() const { return recordsRevision_; }
    /// "Mappings (3)".
    std::string mappingsTitle() const;
    /// Both upper panes, the header's import / export / clear and the row
    /// buttons are disabled while this is false.
    bool controlsEnabled() const { return !engine_.isIntercepting(); }
    bool runStopEnabled() const { return engine_.selectedDevice().has_value(); }

    // ------------------------------------------------------------ editor

    std::string mappingName;
    OutputBehavior selectedBehavior;
    std::string selectedBehaviorLabel;
    std::vector<HidUsage> capturedInputCodesFrom;
    std::vector<MacKeySignature> capturedCustomCodesFrom;
    std::vector<MacKeySignature> capturedCustomCodesTo;
    bool isCapturingFrom = false;
    bool isCapturingTo = false;
    bool isEditingMode = false;
    std::optional<KeyMapping> editingItemMapping;
    std::optional<KeyMapping> mappingToDelete;
    bool isTextFieldFocused = false;
    bool dontAskAgainDeleteConfirmation = false;
    std::vector<ShortcutGroup> allShortcutsFromJson;
    std::set<std::int64_t> modifierKeyCodes = defaultModifierKeyCodes();

    /// The stored preference "suppressDeleteConfirmation".
    bool suppressDeleteConfirmation() const;
    void setSuppressDeleteConfirmation(bool value);

    void setMappingName(std::string name);
    void toggleCaptureFrom();
    void toggleCaptureTo();
    void stopCapturesIfRunning();
    /// The name field gained keyboard focus.
    void nameFieldFocused();
    OutputBehavior currentOutputBehavior() const;
    bool saveButtonEnabled();
    void saveMapping();
    void clearOrCancel();
    void resetEditor();
    void startEditing(const KeyMapping& mapping);
    void requestDelete(const KeyMapping& mapping, const KeyboardDevice& keyboard,
                       const Uuid& recordId);
    void confirmDelete();
    void cancelDelete();

    /// Live texts of the two recording fields. Drawing the "From" field
    /// while it records hands the merged signatures to the tap blocker.
    RecordingFieldState fromField();
    RecordingFieldState toField() const;
    /// The "To" recording field is shown only for a custom key sequence.
    bool toFieldVisible() const { return selectedBehavior.isCustomKeySequence(); }

    std::string toMenuLabel() const;
    std::vector<ToMenuGroup> toMenuGroups() const;
    void chooseCatalogItem(std::size_t groupIndex, std::size_t itemIndex);
    /// "Custom" (index 0) or "No Action" (index 1) of the constant list.
    void chooseConstantBehavior(std::size_t index);

    std::string clearButtonTitle() const { return isEditingMode ? "Cancel" : "Clear"; }
    std::string saveButtonTitle() const { return isEditingMode ? "Edit Mapping" : "Save Mapping"; }

    // ------------------------------------------------------------ import

    std::vector<KeyMapping> importedMappings;
    bool showingImportChoice = false;

    void importMappings(const std::vector<KeyMapping>& mappings, bool direct);
    void appendImportedMappings();
    void replaceImportedMappings();
    /// "Clear All" confirmed.
    void clearAllMappings();
    /// An export finished at `path`.
    void exportFinished(const std::string& path);

private:
    void changed();
    void endRecording(bool from);
    void abandonRecording();
    void breadcrumb(const std::string& text) const;
    /// How many mappings were added.
    std::size_t appendMappings(const KeyboardDevice& keyboard,
                               const std::vector<KeyMapping>& mappings, bool filterDuplicates);
    void deleteNow(const KeyMapping& mapping, const KeyboardDevice& keyboard, const Uuid& recordId);

    RawKeyboardListener& engine_;
    platform::Preferences& preferences_;
    Breadcrumb breadcrumb_;
    std::function<void()> onChanged_;

    std::optional<KeyboardDevice> localKeyboardSelection_;
    std::optional<Uuid> lastSeenSelectedId_;
    std::uint64_t recordsRevision_ = 0;
    // What the delete sheet was opened for.
    std::optional<KeyboardDevice> deleteKeyboard_;
    Uuid deleteRecordId_;
};

} // namespace chordwell::app
