// Turns the event stream of one evdev node into key changes with their HID
// usage. The HID driver reports each changed key as EV_MSC/MSC_SCAN carrying
// (page << 16 | usage), immediately followed by its EV_KEY event; the scan
// code names the physical key even when a hardware-database entry remapped
// the KEY_* code. Keyboards that are not HID (the PS/2 port) or report
// scan codes of another page fall back to the kernel's usage table.
#pragma once

#include "model/keys.hpp"

#include <cstdint>
#include <optional>

namespace chordwell::platform::lnx {

struct DecodedKey {
    std::uint16_t code = 0;        // evdev KEY_* code
    std::int32_t value = 0;        // 0 up, 1 down, 2 auto-repeat
    std::optional<HidUsage> usage; // page-7 usage, when the key has one
};

class UsageDecoder {
public:
    /// Feeds one event; returns the key change when the event is EV_KEY.
    std::optional<DecodedKey> feed(std::uint16_t type, std::uint16_t code, std::int32_t value);
    /// Forgets a pending scan code (after SYN_DROPPED, the scan codes and
    /// keys no longer pair up).
    void reset() { pendingUsage_.reset(); }

private:
    std::optional<HidUsage> pendingUsage_;
};

} // namespace chordwell::platform::lnx
