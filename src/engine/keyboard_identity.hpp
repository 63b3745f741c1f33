// How the engine knows a keyboard again after it went away (unplugged, a KVM
// switch, a Bluetooth reconnect, the next launch), and how keyboards of one
// model are told apart in a list.
//
// A keyboard that comes back is a new device with a new KeyboardDevice id:
// what stays is its model (vendor and product identifiers, and the product
// name where the identifiers name no model) and, when it comes back to the
// same port, its location.
#pragma once

#include "model/records.hpp"
#include "ports/ports.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chordwell {

/// What is remembered of a keyboard to find it again.
struct KeyboardIdentity {
    std::int64_t vendorID = -1;
    std::int64_t productID = -1;
    std::string productName;
    /// "LocationID": where it is plugged in; nothing when unknown.
    std::optional<std::int64_t> locationID;

    friend bool operator==(const KeyboardIdentity&, const KeyboardIdentity&) = default;
};

/// The identity of a discovered keyboard (its location read from its device).
KeyboardIdentity identityOf(const KeyboardDevice& keyboard);

/// A keyboard value for an identity whose keyboard is not attached: a fresh
/// id and no device handle.
KeyboardDevice absentKeyboard(const KeyboardIdentity& identity);

/// Whether `keyboard` is of the model of `identity`: the same vendor and
/// product identifiers, and where those name no model the same product name.
bool isSameModel(const KeyboardIdentity& identity, const KeyboardDevice& keyboard);

/// The keyboard of `listed` that is `identity` come back: of its model at
/// its location, or else the only keyboard of its model listed. Never one of
/// another model; nothing when none qualifies (or several do, none at the
/// location).
std::optional<KeyboardDevice> findKeyboardAgain(const KeyboardIdentity& identity,
                                                const std::vector<KeyboardDevice>& listed);

/// "Waiting for Magic Keyboard to come back…", what the windows and the tray
/// say while the engine waits.
std::string waitingForKeyboardText(const KeyboardIdentity& identity);

/// Where a keyboard is attached, in words: "USB port 2", "Bluetooth",
/// "built-in"; "" when the platform does not say. From the device's "Place"
/// when its adapter names it (Linux), else from "Transport" and, for USB,
/// the port path in "LocationID" (macOS: the bus in the top byte, then one
/// port number per hub tier, a nibble each).
std::string keyboardPlace(const platform::HidDevice& device);

/// The keyboard's name in a list of `listed`: its product name, followed by
/// its place when another listed keyboard has the same name ("Magic Keyboard
/// (USB port 2)", "Magic Keyboard (Bluetooth)"), and by its position among
/// them when the places do not tell them apart ("Magic Keyboard (keyboard
/// 2)").
std::string keyboardListName(const KeyboardDevice& keyboard,
                             const std::vector<KeyboardDevice>& listed);

} // namespace chordwell
