// Where the desktops' conventions differ, what the windows do: the words for
// keys, how identifiers are written, which button a confirmation defaults
// to. macOS keeps the behaviour its users know from the system's own
// utilities; a Linux desktop gets what its users expect (GNOME's and KDE's
// dialogs, lsusb's identifiers, Ctrl rather than ⌃). One place, so that each
// window asks rather than testing the platform itself.
#pragma once

#include "model/key_labels.hpp"
#include "model/records.hpp"

#include <cstdint>
#include <string>

namespace chordwell::app {

enum class UiPlatform { macOS, linuxDesktop };

struct Conventions {
    UiPlatform platform = UiPlatform::linuxDesktop;
    /// How keys are shown, and how a screen reader reads them.
    KeyNames keyNames = KeyNames::pcWords;
    KeyNames spokenKeyNames = KeyNames::pcWords;
    /// The raw HID usage numbers of a recording as a caption line under its
    /// keys; otherwise they are in the keys' tooltip.
    bool usagesAsCaption = false;
    /// Mapping rows of two lines (keys under the output's name); otherwise
    /// one line, the keys after the name in the dimmed colour.
    bool twoLineRows = false;
    /// Vendor and product identifiers in hexadecimal, as lsusb lists them.
    bool hexIdentifiers = true;
    /// After a save the whole form is emptied, ready for the next mapping;
    /// otherwise the name and the output stay for a similar one.
    bool clearFormAfterSave = true;
    /// The editor's title reads "Edit Mapping" while a mapping is edited.
    bool titleNamesEditing = true;
    /// Confirmations of something that cannot be undone default to Cancel.
    bool confirmationsDefaultToCancel = true;
    /// The Manage menu's toggle is disabled while no keyboard is selected,
    /// as the tray menu's is.
    bool toggleNeedsKeyboard = true;
    /// Catalog names in title case ("Workspace to the Left") rather than
    /// with every word capitalised.
    bool titleCaseCatalogNames = true;
    /// "keyboard" in the texts that say "device".
    bool sayKeyboard = true;
    /// The keys a built-in output types on this desktop shown under its
    /// name ("Copy" over "Ctrl+C"), since they differ from the Mac's.
    bool showBuiltInKeys = true;

    static Conventions of(UiPlatform platform);
};

/// The conventions of the desktop this program is built for.
const Conventions& thisDesktop();

/// A vendor or product identifier: four lower-case hexadecimal digits as
/// lsusb writes them ("05ac"), or decimal; "unknown" when the keyboard
/// reports none.
std::string identifierText(std::int64_t identifier, const Conventions& conventions);

/// A catalog item's name as a menu shows it: every word capitalised, or in
/// title case, where short words (of, to, the ...) stay lower case unless
/// they start or end the name.
std::string catalogTitle(const std::string& name, const Conventions& conventions);

/// The keys a built-in output (Open Search, Copy, Paste) types on this
/// desktop, in its words ("Ctrl+C"); "" for the other outputs.
std::string builtInKeysText(OutputBehavior::Kind kind, KeyNames names);

/// A count with the user's thousands separator ("10,000").
std::string countText(std::int64_t count);

} // namespace chordwell::app
