// The state and operations of the main window's content: the keyboard list,
// the mapping editor, the mapping table, import and clear. Plain C++ on top of
// the engine; the widgets only draw what this holds and forward the user's
// actions to it, so that nearly all behaviour is tested without widgets.
#pragma once

#include "app/conventions.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "model/keys.hpp"
#include "model/records.hpp"
#include "ports/ports.hpp"
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

/// The input keys of a mapping, held together ("⌃ A", "Ctrl+A").
std::string mappingInputText(const KeyMapping& mapping, KeyNames names,
                             const KeyLayout* layout = nullptr);
/// The keys of a custom output ("Ctrl+C, Ctrl+V"); for a built-in output the
/// keys it types on this desktop when `builtInKeys`; "" otherwise.
std::string mappingOutputKeysText(const KeyMapping& mapping, KeyNames names, bool builtInKeys,
                                  const KeyLayout* layout = nullptr);

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
    std::string inputText;      // the input keys held together ("⌃ A", "Ctrl+A")
    std::string inputCodesText; // the usages, "224, 6"
    std::string outputText;     // sequence name or the behaviour's label
    std::string outputDetail;   // a custom sequence's keys ("" otherwise)
    bool isBeingEdited = false; // shows "xmark" instead of "pencil"
};

enum class MappingPaneState { noDevice, noMappings, mappings };

/// What a recording field shows.
struct RecordingFieldState {
    bool isRecording = false;
    std::string keysText;   // signatures
    std::string codesText;  // usages ("From" only)
    std::string spokenText; // the keys as a screen reader reads them
    bool isEnabled = true;  // the other field is not recording
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
                         std::vector<ShortcutGroup> catalog = {}, Breadcrumb breadcrumb = {},
                         Conventions conventions = thisDesktop());
    KeyboardMappingModel(const KeyboardMappingModel&) = delete;
    KeyboardMappingModel& operator=(const KeyboardMappingModel&) = delete;

    RawKeyboardListener& engine() const { return engine_; }
    const Conventions& conventions() const { return conventions_; }

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
    /// "Mappings (3)", "Mappings (10,000)".
    std::string mappingsTitle() const;
    /// The input keys of a mapping as the table shows them and as a screen
    /// reader reads them ("Control+A" on macOS, "Ctrl+A" elsewhere).
    std::string inputText(const KeyMapping& mapping) const;
    std::string spokenInputText(const KeyMapping& mapping) const;
    /// A custom sequence's keys ("" for the other outputs).
    std::string outputKeysText(const KeyMapping& mapping) const;
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
    /// Keys the keyboard delivered that are no part of the running
    /// recording: those still held when the focus went to another window
    /// (the Alt of Alt+Tab), and the keys that ended it. They are left out of
    /// what it shows and what it gives.
    void withdrawFromRecording(const std::vector<HidUsage>& usages);
    /// Backspace, Escape and Enter together end a running recording, the
    /// way out for someone whose only keyboard it swallows (the same keys
    /// end interception on Linux). Left out of the recording.
    static const std::vector<HidUsage>& recordingExitChord();
    /// Where to type while a recording runs (set by the demo: its window
    /// stands in for the keyboard); said in the recording hint.
    void setRecordingSourceHint(std::string hint) { recordingSourceHint_ = std::move(hint); }
    /// While a recording runs: where to type and how to stop without the
    /// mouse. Empty otherwise.
    std::string recordingHint() const;
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
    /// "New Mapping"; "Edit Mapping" while editing where the desktop names it.
    std::string editorTitle() const;
    /// While interception runs the editor and the keyboard list are
    /// disabled: what they say about it.
    std::string disabledReason() const;

    /// What the mapping pane says without a selected keyboard: that none is
    /// selected, or, when none can be read at all, why and what to do.
    std::string noSelectionText() const;
    /// What it says for a keyboard without mappings.
    std::string noMappingsText() const;
    /// What the empty keyboard list says ("" where it says nothing).
    std::string emptyListText() const;

    // ------------------------------------------------------------ import

    std::vector<KeyMapping> importedMappings;
    bool showingImportChoice = false;

    /// What the last import did, for the status line.
    struct ImportReport {
        std::size_t inFile = 0;
        std::size_t added = 0;
        /// Mappings of the file whose key combination an earlier mapping of
        /// the file already has (the earlier one is the one that matches).
        std::size_t repeatedCombinations = 0;
    };
    const std::optional<ImportReport>& lastImport() const { return lastImport_; }
    /// How many of `mappings` repeat the input keys of an earlier one.
    static std::size_t repeatedCombinations(const std::vector<KeyMapping>& mappings);

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
    /// The recording's usages and taps without the withdrawn keys.
    std::vector<HidUsage> keptUsages(const std::vector<HidUsage>& usages) const;
    std::vector<MacKeySignature> keptTaps(const std::vector<MacKeySignature>& taps) const;
    bool capturedExitChord() const;
    void endEditing();
    void abandonRecording();
    void breadcrumb(const std::string& text) const;
    /// How many mappings were added.
    std::size_t appendMappings(const KeyboardDevice& keyboard,
                               const std::vector<KeyMapping>& mappings, bool filterDuplicates);
    void deleteNow(const KeyMapping& mapping, const KeyboardDevice& keyboard, const Uuid& recordId);

    RawKeyboardListener& engine_;
    platform::Preferences& preferences_;
    Conventions conventions_;
    std::vector<HidUsage> withdrawn_;
    std::string recordingSourceHint_;
    std::optional<ImportReport> lastImport_;
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
