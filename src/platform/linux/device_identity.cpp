#include "platform/linux/device_identity.hpp"

#include <cctype>
#include <charconv>
#include <vector>

namespace chordwell::platform::lnx {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return s;
}

bool isDigits(std::string_view s) {
    if (s.empty()) {
        return false;
    }
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// "usb-0:2:1.0" ends in ":<configuration>.<interface>"; drop that part.
std::string_view withoutUsbInterface(std::string_view idPath) {
    if (idPath.find("usb-") == std::string_view::npos) {
        return idPath;
    }
    const auto colon = idPath.rfind(':');
    if (colon == std::string_view::npos) {
        return idPath;
    }
    const std::string_view tail = idPath.substr(colon + 1);
    const auto dot = tail.find('.');
    if (dot == std::string_view::npos || !isDigits(tail.substr(0, dot)) ||
        !isDigits(tail.substr(dot + 1))) {
        return idPath;
    }
    return idPath.substr(0, colon);
}

// "usb-0000:00:14.0-2/input1" -> "usb-0000:00:14.0-2".
std::string_view withoutInputSuffix(std::string_view phys) {
    const auto slash = phys.rfind('/');
    if (slash == std::string_view::npos) {
        return phys;
    }
    const std::string_view tail = phys.substr(slash + 1);
    if (tail.size() > 5 && tail.substr(0, 5) == "input" && isDigits(tail.substr(5))) {
        return phys.substr(0, slash);
    }
    return phys;
}

} // namespace

std::string placeName(std::optional<std::int64_t> bus, std::string_view phys,
                      std::string_view idPath) {
    // Bus types of the kernel's input.h.
    constexpr std::int64_t kBusUsb = 0x03;
    constexpr std::int64_t kBusBluetooth = 0x05;
    constexpr std::int64_t kBusVirtual = 0x06;
    constexpr std::int64_t kBusI8042 = 0x11;
    constexpr std::int64_t kBusI2c = 0x18;
    constexpr std::int64_t kBusSpi = 0x1C;
    if (!bus) {
        return {};
    }
    switch (*bus) {
    case kBusUsb: {
        // "usb-0000:00:14.0-2.4/input0": the port path after the controller.
        std::string_view port;
        const std::string_view device = withoutInputSuffix(trim(phys));
        if (device.substr(0, 4) == "usb-") {
            if (const auto dash = device.rfind('-'); dash != std::string_view::npos) {
                port = device.substr(dash + 1);
            }
        }
        // "pci-0000:00:14.0-usb-0:2.4:1.0": between "usb-N:" and the
        // interface.
        if (port.empty()) {
            const std::string_view path = withoutUsbInterface(trim(idPath));
            if (const auto usb = path.rfind("usb-"); usb != std::string_view::npos) {
                const std::string_view rest = path.substr(usb + 4);
                if (const auto colon = rest.find(':'); colon != std::string_view::npos) {
                    port = rest.substr(colon + 1);
                }
            }
        }
        const bool plausible =
            !port.empty() && port.find_first_not_of("0123456789.") == std::string_view::npos;
        return plausible ? "USB port " + std::string(port) : "USB";
    }
    case kBusBluetooth:
        return "Bluetooth";
    case kBusI8042:
    case kBusI2c:
    case kBusSpi:
        return "built-in";
    case kBusVirtual:
        return "virtual";
    default:
        return {};
    }
}

std::uint64_t fnv1a64(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string locationKey(std::string_view idPath, std::string_view phys, std::string_view uniq,
                        std::string_view inputSyspath) {
    idPath = trim(idPath);
    phys = trim(phys);
    uniq = trim(uniq);
    inputSyspath = trim(inputSyspath);
    std::string key;
    if (!idPath.empty()) {
        key = withoutUsbInterface(idPath);
    } else if (!phys.empty()) {
        key = withoutInputSuffix(phys);
    } else if (!inputSyspath.empty()) {
        key = "sys:";
        key += inputSyspath;
    } else {
        return {};
    }
    if (!uniq.empty()) {
        key += '|';
        key += uniq;
    }
    return key;
}

std::optional<std::int64_t> locationIdFromKey(std::string_view key) {
    if (key.empty()) {
        return std::nullopt;
    }
    constexpr std::uint64_t kMask = (std::uint64_t{1} << 62) - 1;
    return static_cast<std::int64_t>(fnv1a64(key) & kMask);
}

bool bitmapHasBit(std::string_view bitmap, unsigned bit, unsigned wordBits) {
    if (wordBits == 0 || wordBits > 64) {
        return false;
    }
    std::vector<std::string_view> words;
    bitmap = trim(bitmap);
    while (!bitmap.empty()) {
        const auto space = bitmap.find_first_of(" \t\n");
        words.push_back(bitmap.substr(0, space));
        if (space == std::string_view::npos) {
            break;
        }
        bitmap = trim(bitmap.substr(space));
    }
    const std::size_t index = bit / wordBits; // counted from the last word
    if (index >= words.size()) {
        return false;
    }
    const std::string_view word = words[words.size() - 1 - index];
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
    if (ec != std::errc() || end != word.data() + word.size()) {
        return false;
    }
    return ((value >> (bit % wordBits)) & 1U) != 0;
}

bool keyBitmapLooksLikeKeyboard(std::string_view keyBitmap, unsigned wordBits) {
    for (unsigned bit = 1; bit <= 31; ++bit) {
        if (!bitmapHasBit(keyBitmap, bit, wordBits)) {
            return false;
        }
    }
    return true;
}

std::optional<std::int64_t> parseHexAttribute(std::string_view text) {
    text = trim(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 15 || !std::isxdigit(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool isOwnVirtualKeyboard(std::string_view name, std::optional<std::int64_t> bus,
                          std::optional<std::int64_t> vendor, std::optional<std::int64_t> product) {
    if (trim(name) == kVirtualKeyboardName) {
        return true;
    }
    return bus == kVirtualKeyboardBus && vendor == kVirtualKeyboardVendor &&
           product == kVirtualKeyboardProduct;
}

} // namespace chordwell::platform::lnx
