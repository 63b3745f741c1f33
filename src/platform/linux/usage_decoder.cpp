#include "platform/linux/usage_decoder.hpp"

#include "platform/linux/key_tables.hpp"

#include <linux/input-event-codes.h>

namespace chordwell::platform::lnx {

namespace {
constexpr std::uint32_t kKeyboardPage = 0x07;
} // namespace

std::optional<DecodedKey> UsageDecoder::feed(std::uint16_t type, std::uint16_t code,
                                             std::int32_t value) {
    switch (type) {
    case EV_MSC:
        if (code == MSC_SCAN) {
            const auto scan = static_cast<std::uint32_t>(value);
            if ((scan >> 16) == kKeyboardPage) {
                pendingUsage_ = static_cast<HidUsage>(scan & 0xFFFF);
            } else {
                pendingUsage_.reset();
            }
        }
        return std::nullopt;
    case EV_SYN:
        pendingUsage_.reset();
        return std::nullopt;
    case EV_KEY: {
        DecodedKey key{code, value, pendingUsage_};
        pendingUsage_.reset();
        if (!key.usage) {
            key.usage = hidUsageForEvdevCode(code);
        }
        return key;
    }
    default:
        return std::nullopt;
    }
}

} // namespace chordwell::platform::lnx
