// Places of keyboards in words, and the names that tell keyboards of one
// model apart in a list.
#include "engine/keyboard_identity.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace chordwell {
namespace {

// A device with just the properties given.
class FakeDevice : public platform::HidDevice {
public:
    FakeDevice(std::map<std::string, std::string> strings,
               std::map<std::string, std::int64_t> integers)
        : strings_(std::move(strings)), integers_(std::move(integers)) {}
    std::optional<std::string> stringProperty(std::string_view key) const override {
        auto it = strings_.find(std::string(key));
        return it == strings_.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    std::optional<std::int64_t> integerProperty(std::string_view key) const override {
        auto it = integers_.find(std::string(key));
        return it == integers_.end() ? std::nullopt : std::optional<std::int64_t>(it->second);
    }
    bool sameDevice(const HidDevice& other) const override { return &other == this; }
    void registerInputValueCallback(InputValueCallback, void*) override {}
    void scheduleWithRunLoop() override {}
    void unscheduleFromRunLoop() override {}

private:
    std::map<std::string, std::string> strings_;
    std::map<std::string, std::int64_t> integers_;
};

TEST(KeyboardPlace, SaysWhereAKeyboardIsAttached) {
    struct Case {
        std::map<std::string, std::string> strings;
        std::map<std::string, std::int64_t> integers;
        const char* expected;
    };
    const Case cases[] = {
        // The adapter's own words win (Linux).
        {{{"Place", "USB port 2.4"}, {"Transport", "USB"}},
         {{"LocationID", 0x14100000}},
         "USB port 2.4"},
        // macOS: USB port path from the location's nibbles after the bus.
        {{{"Transport", "USB"}}, {{"LocationID", 0x14200000}}, "USB port 2"},
        {{{"Transport", "USB"}}, {{"LocationID", 0x14213000}}, "USB port 2.1.3"},
        {{{"Transport", "USB"}}, {{"LocationID", 0x14000000}}, "USB"},
        {{{"Transport", "USB"}}, {}, "USB"},
        {{{"Transport", "Bluetooth"}}, {{"LocationID", 0x3A5F1C2B}}, "Bluetooth"},
        {{{"Transport", "Bluetooth Low Energy"}}, {}, "Bluetooth"},
        {{{"Transport", "SPI"}}, {}, "built-in"},
        {{{"Transport", "FIFO"}}, {}, "built-in"},
        {{{"Transport", "Virtual"}}, {}, "virtual"},
        {{{"Transport", "Audio"}}, {}, "Audio"},
        {{}, {{"LocationID", 7}}, ""},
    };
    for (const Case& c : cases) {
        const FakeDevice device(c.strings, c.integers);
        EXPECT_EQ(keyboardPlace(device), c.expected);
    }
}

KeyboardDevice keyboardAt(const std::string& name, std::string place) {
    KeyboardDevice k;
    k.productName = name;
    k.vendorID = 0x05AC;
    k.productID = 0x024F;
    std::map<std::string, std::string> strings;
    if (!place.empty()) {
        strings["Place"] = std::move(place);
    }
    k.deviceRef = std::make_shared<FakeDevice>(strings, std::map<std::string, std::int64_t>{});
    return k;
}

TEST(KeyboardListName, NamesTheirPlacesWhenNamesAreShared) {
    const KeyboardDevice usb = keyboardAt("Magic Keyboard", "USB port 2");
    const KeyboardDevice bluetooth = keyboardAt("Magic Keyboard", "Bluetooth");
    const KeyboardDevice other = keyboardAt("Logi K120", "USB port 1");
    const KeyboardDevice twinA = keyboardAt("Twin", "USB port 3");
    const KeyboardDevice twinB = keyboardAt("Twin", "USB port 3");
    const KeyboardDevice bareA = keyboardAt("Bare", "");
    const KeyboardDevice bareB = keyboardAt("Bare", "");
    const std::vector<KeyboardDevice> listed = {usb, bluetooth, other, twinA, twinB, bareA, bareB};
    struct Case {
        const KeyboardDevice& keyboard;
        const char* expected;
    };
    const Case cases[] = {
        {usb, "Magic Keyboard (USB port 2)"},
        {bluetooth, "Magic Keyboard (Bluetooth)"},
        {other, "Logi K120"},
        {twinA, "Twin (USB port 3, keyboard 1)"},
        {twinB, "Twin (USB port 3, keyboard 2)"},
        {bareA, "Bare (keyboard 1)"},
        {bareB, "Bare (keyboard 2)"},
    };
    std::set<std::string> names;
    for (const Case& c : cases) {
        const std::string name = keyboardListName(c.keyboard, listed);
        EXPECT_EQ(name, c.expected);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), listed.size()); // every keyboard is listed apart
    // Alone with its name, a keyboard is just its name.
    EXPECT_EQ(keyboardListName(usb, {usb, other}), "Magic Keyboard");
}

} // namespace
} // namespace chordwell
