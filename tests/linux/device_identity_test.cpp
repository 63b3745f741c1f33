#include "platform/linux/device_identity.hpp"

#include <gtest/gtest.h>

namespace chordwell::platform::lnx {
namespace {

TEST(DeviceIdentity, Fnv1aMatchesKnownValues) {
    EXPECT_EQ(fnv1a64(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(fnv1a64("a"), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(fnv1a64("foobar"), 0x85944171f73967e8ULL);
}

TEST(DeviceIdentity, LocationKeyDropsTheInterfaceAndAddsTheUniqueId) {
    struct Case {
        const char* name;
        const char* idPath;
        const char* phys;
        const char* uniq;
        const char* key;
        const char* inputSyspath = "";
    };
    const Case cases[] = {
        {"USB interface of ID_PATH", "pci-0000:00:14.0-usb-0:2:1.0", "", "",
         "pci-0000:00:14.0-usb-0:2"},
        {"second interface, same place", "pci-0000:00:14.0-usb-0:2:1.1", "x", "",
         "pci-0000:00:14.0-usb-0:2"},
        {"hub port path", "pci-0000:00:14.0-usb-0:1.4:1.0", "", "", "pci-0000:00:14.0-usb-0:1.4"},
        {"not USB: kept whole", "platform-i8042-serio-0", "isa0060/serio0/input0", "",
         "platform-i8042-serio-0"},
        {"no ID_PATH: phys without its input suffix", "", "usb-0000:00:14.0-2/input1", "",
         "usb-0000:00:14.0-2"},
        {"Bluetooth: the adapter's phys plus the device address", "", "a4:c3:f0:11:22:33",
         "e8:9f:6d:00:11:22", "a4:c3:f0:11:22:33|e8:9f:6d:00:11:22"},
        {"phys whose tail is not an input suffix", "", "virtual/inputX", "", "virtual/inputX"},
        {"whitespace from sysfs is ignored", " pci-0-usb-0:3:1.0\n", "", " \n", "pci-0-usb-0:3"},
        {"nothing to go by", "", "", "serial", ""},
        {"made by a program: the input device's own name", "", "", "",
         "sys:/devices/virtual/input/input7", "/devices/virtual/input/input7"},
        {"a phys wins over the input device's name", "", "usb-1/input0", "", "usb-1",
         "/devices/virtual/input/input8"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(locationKey(c.idPath, c.phys, c.uniq, c.inputSyspath), c.key) << c.name;
    }
}

TEST(DeviceIdentity, PlaceNamesTheBusAndTheUsbPort) {
    struct Case {
        std::optional<std::int64_t> bus;
        const char* phys;
        const char* idPath;
        const char* place;
    };
    const Case cases[] = {
        {0x03, "usb-0000:00:14.0-2/input0", "", "USB port 2"},
        {0x03, "usb-0000:00:14.0-2.4/input1", "pci-0000:00:14.0-usb-0:9:1.0", "USB port 2.4"},
        {0x03, "", "pci-0000:00:14.0-usb-0:3.1:1.0", "USB port 3.1"},
        {0x03, "", "", "USB"},
        {0x03, "some-device/input0", "", "USB"},
        {0x05, "a4:c3:f0:11:22:33", "", "Bluetooth"},
        {0x11, "isa0060/serio0/input0", "platform-i8042-serio-0", "built-in"},
        {0x18, "", "", "built-in"},
        {0x06, "", "", "virtual"},
        {0x19, "", "", ""},
        {std::nullopt, "usb-0000:00:14.0-2/input0", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(placeName(c.bus, c.phys, c.idPath), c.place) << c.phys << " " << c.idPath;
    }
}

TEST(DeviceIdentity, LocationIdIsStablePositiveAndDistinct) {
    const auto a = locationIdFromKey("pci-0000:00:14.0-usb-0:2");
    const auto b = locationIdFromKey("pci-0000:00:14.0-usb-0:3");
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    EXPECT_GE(*a, 0);
    EXPECT_LT(*a, std::int64_t{1} << 62);
    // The same in every run: FNV-1a of the key, low 62 bits.
    EXPECT_EQ(*locationIdFromKey("foobar"),
              static_cast<std::int64_t>(0x85944171f73967e8ULL & ((1ULL << 62) - 1)));
    EXPECT_FALSE(locationIdFromKey("").has_value());
}

TEST(DeviceIdentity, BitmapBitsCountFromTheLastWord) {
    struct Case {
        const char* bitmap;
        unsigned bit;
        unsigned wordBits;
        bool set;
    };
    const Case cases[] = {
        {"1", 0, 64, true},
        {"2", 0, 64, false},
        {"2", 1, 64, true},
        {"120013", 1, 64, true},  // EV_KEY of a keyboard's ev bitmap
        {"120013", 2, 64, false}, // no EV_REL
        {"8000000000000000 0", 127, 64, true},
        {"1 0", 64, 64, true},
        {"1 0", 0, 64, false},
        {"1 0", 32, 32, true}, // 32-bit words
        {"1", 64, 64, false},  // beyond the bitmap
        {"zz", 0, 64, false},  // not hexadecimal
        {"", 0, 64, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bitmapHasBit(c.bitmap, c.bit, c.wordBits), c.set)
            << "'" << c.bitmap << "' bit " << c.bit;
    }
}

TEST(DeviceIdentity, KeyboardTestNeedsEscapeThroughD) {
    struct Case {
        const char* name;
        const char* keyBitmap;
        bool keyboard;
    };
    const Case cases[] = {
        {"full keyboard", "1000000000007 ff9f207ac14057ff febeffdfffefffff fffffffffffffffe", true},
        {"exactly keys 1-31", "fffffffe", true},
        {"missing Escape", "fffffffc", false},
        {"power button only", "10000000000000 0", false},
        {"consumer control", "1f0000 0 0 0 0 0 e0000000 0", false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keyBitmapLooksLikeKeyboard(c.keyBitmap), c.keyboard) << c.name;
    }
}

TEST(DeviceIdentity, HexAttributes) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> value;
    };
    const Case cases[] = {{"046d\n", 0x046d},
                          {"0x05AC", 0x05ac},
                          {"0", 0},
                          {"", std::nullopt},
                          {"-1", std::nullopt},
                          {"12g", std::nullopt},
                          {"1234567890abcdef", std::nullopt}};
    for (const auto& c : cases) {
        EXPECT_EQ(parseHexAttribute(c.text), c.value) << "'" << c.text << "'";
    }
}

TEST(DeviceIdentity, OwnVirtualKeyboardIsRecognised) {
    EXPECT_TRUE(isOwnVirtualKeyboard(kVirtualKeyboardName, 0x03, 0x1, 0x2));
    EXPECT_TRUE(isOwnVirtualKeyboard("renamed", kVirtualKeyboardBus, kVirtualKeyboardVendor,
                                     kVirtualKeyboardProduct));
    EXPECT_FALSE(
        isOwnVirtualKeyboard("renamed", 0x03, kVirtualKeyboardVendor, kVirtualKeyboardProduct));
    EXPECT_FALSE(isOwnVirtualKeyboard("Chordwell Virtual Keyboard 2", kVirtualKeyboardBus,
                                      std::nullopt, std::nullopt));
    EXPECT_FALSE(isOwnVirtualKeyboard("Apple Keyboard", 0x03, 0x05ac, 0x0250));
}

} // namespace
} // namespace chordwell::platform::lnx
