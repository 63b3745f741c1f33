#include "engine/keyboard_identity.hpp"

#include <algorithm>

namespace chordwell {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The USB port path of a macOS location: 0x14213000 is bus 0x14, port 2,
// then port 1 of the hub there, then port 3 ("2.1.3").
std::string usbPortPath(std::int64_t locationID) {
    std::string path;
    for (int shift = 20; shift >= 0; shift -= 4) {
        const auto port = static_cast<unsigned>((locationID >> shift) & 0xF);
        if (port == 0) {
            break;
        }
        if (!path.empty()) {
            path += '.';
        }
        path += std::to_string(port);
    }
    return path;
}

std::string placeOfTransport(std::string_view transport, std::optional<std::int64_t> location) {
    if (transport == "USB") {
        const std::string port = location && *location > 0 ? usbPortPath(*location) : "";
        return port.empty() ? "USB" : "USB port " + port;
    }
    if (startsWith(transport, "Bluetooth")) {
        return "Bluetooth";
    }
    // The keyboards of laptops: SPI and I2C on Intel Macs, FIFO on Apple
    // silicon, ADB on the oldest.
    if (transport == "SPI" || transport == "I2C" || transport == "FIFO" || transport == "ADB") {
        return "built-in";
    }
    if (transport == "Virtual") {
        return "virtual";
    }
    return std::string(transport);
}

} // namespace

KeyboardIdentity identityOf(const KeyboardDevice& keyboard) {
    KeyboardIdentity identity;
    identity.vendorID = keyboard.vendorID;
    identity.productID = keyboard.productID;
    identity.productName = keyboard.productName;
    if (keyboard.deviceRef) {
        identity.locationID = keyboard.deviceRef->integerProperty("LocationID");
    }
    return identity;
}

KeyboardDevice absentKeyboard(const KeyboardIdentity& identity) {
    KeyboardDevice keyboard;
    keyboard.productName = identity.productName;
    keyboard.vendorID = identity.vendorID;
    keyboard.productID = identity.productID;
    return keyboard;
}

bool isSameModel(const KeyboardIdentity& identity, const KeyboardDevice& keyboard) {
    if (keyboard.vendorID != identity.vendorID || keyboard.productID != identity.productID) {
        return false;
    }
    return identifiersNameModel(identity.vendorID, identity.productID) ||
           keyboard.productName == identity.productName;
}

std::optional<KeyboardDevice> findKeyboardAgain(const KeyboardIdentity& identity,
                                                const std::vector<KeyboardDevice>& listed) {
    const KeyboardDevice* onlyOfModel = nullptr;
    std::size_t ofModel = 0;
    for (const KeyboardDevice& keyboard : listed) {
        if (!isSameModel(identity, keyboard)) {
            continue;
        }
        if (identity.locationID && keyboard.deviceRef &&
            keyboard.deviceRef->integerProperty("LocationID") == identity.locationID) {
            return keyboard;
        }
        ++ofModel;
        onlyOfModel = &keyboard;
    }
    if (ofModel == 1) {
        return *onlyOfModel;
    }
    return std::nullopt;
}

std::string waitingForKeyboardText(const KeyboardIdentity& identity) {
    return "Waiting for " + identity.productName + " to come back\u2026";
}

std::string keyboardPlace(const platform::HidDevice& device) {
    if (auto place = device.stringProperty("Place")) {
        return *place;
    }
    if (auto transport = device.stringProperty("Transport")) {
        return placeOfTransport(*transport, device.integerProperty("LocationID"));
    }
    return {};
}

std::string keyboardListName(const KeyboardDevice& keyboard,
                             const std::vector<KeyboardDevice>& listed) {
    std::vector<const KeyboardDevice*> namesakes; // in discovery order, itself included
    for (const KeyboardDevice& other : listed) {
        if (other.productName == keyboard.productName) {
            namesakes.push_back(&other);
        }
    }
    const bool listedItself = std::any_of(namesakes.begin(), namesakes.end(),
                                          [&](const KeyboardDevice* k) { return *k == keyboard; });
    if (namesakes.size() < 2 || !listedItself) {
        return keyboard.productName;
    }
    auto placeOf = [](const KeyboardDevice& k) {
        return k.deviceRef ? keyboardPlace(*k.deviceRef) : std::string();
    };
    const std::string place = placeOf(keyboard);
    const bool placeTellsApart =
        !place.empty() && std::none_of(namesakes.begin(), namesakes.end(), [&](const auto* k) {
            return !(*k == keyboard) && placeOf(*k) == place;
        });
    if (placeTellsApart) {
        return keyboard.productName + " (" + place + ")";
    }
    const auto position = static_cast<std::size_t>(
        std::find_if(namesakes.begin(), namesakes.end(),
                     [&](const KeyboardDevice* k) { return *k == keyboard; }) -
        namesakes.begin());
    const std::string number = "keyboard " + std::to_string(position + 1);
    return keyboard.productName + " (" + (place.empty() ? number : place + ", " + number) + ")";
}

} // namespace chordwell
