// How a Linux input device is identified: its stable location value, whether
// it is a keyboard, and whether it is Chordwell's own virtual keyboard. Pure
// functions over the strings that sysfs and udev report, so they are tested
// without devices.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace chordwell::platform::lnx {

/// Name, bus and identifiers of the virtual keyboard Chordwell creates.
/// Discovery never lists a device that carries them.
inline constexpr const char* kVirtualKeyboardName = "Chordwell Virtual Keyboard";
inline constexpr const char* kVirtualKeyboardPhys = "chordwell/virtual-keyboard";
inline constexpr std::uint16_t kVirtualKeyboardBus = 0x06; // BUS_VIRTUAL
inline constexpr std::uint16_t kVirtualKeyboardVendor = 0xC0D3;
inline constexpr std::uint16_t kVirtualKeyboardProduct = 0x0001;

/// 64-bit FNV-1a.
std::uint64_t fnv1a64(std::string_view text);

/// The place a keyboard is plugged in, without the interface: all the
/// keyboard interfaces of one USB device share it, as they share one
/// location on macOS. From udev's ID_PATH ("pci-0000:00:14.0-usb-0:2:1.0"
/// -> "pci-0000:00:14.0-usb-0:2") or else the kernel's phys
/// ("usb-0000:00:14.0-2/input0" -> "usb-0000:00:14.0-2"); the device's
/// unique id (a Bluetooth address, a serial number) is appended when there
/// is one, because Bluetooth keyboards share the phys of their adapter.
/// Devices made by programs (uinput keyboards of other remappers, test
/// rigs) often have neither; `inputSyspath`, the kernel's own name of the
/// input device, then keeps each of them apart, since keyboards of one
/// location are listed once. Empty when there is nothing to go by.
std::string locationKey(std::string_view idPath, std::string_view phys, std::string_view uniq,
                        std::string_view inputSyspath = {});

/// "LocationID": FNV-1a of the location key, kept to 62 bits so that it is
/// a positive signed 64-bit value that is the same in every run. Nothing
/// when the key is empty.
std::optional<std::int64_t> locationIdFromKey(std::string_view key);

/// Where a keyboard is attached, in words: "USB port 2" (with the hub
/// ports after it, "USB port 2.4", from the phys or else udev's ID_PATH),
/// "Bluetooth", "built-in" (the PS/2 controller, I2C, SPI), "virtual"
/// (made by a program); "" for anything else.
std::string placeName(std::optional<std::int64_t> bus, std::string_view phys,
                      std::string_view idPath);

/// Parses a sysfs bitmap ("capabilities/key": hexadecimal words, most
/// significant first, separated by spaces) and tells whether bit `bit` is
/// set. `wordBits` is the kernel's word size (64 on 64-bit systems).
bool bitmapHasBit(std::string_view bitmap, unsigned bit, unsigned wordBits = 64);

/// Whether a key capability bitmap describes a keyboard: as udev decides,
/// every key from Escape to D (codes 1 to 31) is present.
bool keyBitmapLooksLikeKeyboard(std::string_view keyBitmap, unsigned wordBits = 64);

/// Parses a hexadecimal sysfs attribute such as "id/vendor" ("046d").
std::optional<std::int64_t> parseHexAttribute(std::string_view text);

/// Whether a device with these name, bus and identifiers is Chordwell's own
/// virtual keyboard.
bool isOwnVirtualKeyboard(std::string_view name, std::optional<std::int64_t> bus,
                          std::optional<std::int64_t> vendor, std::optional<std::int64_t> product);

} // namespace chordwell::platform::lnx
