#include "platform/linux/usage_decoder.hpp"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <vector>

namespace chordwell::platform::lnx {
namespace {

struct Event {
    std::uint16_t type;
    std::uint16_t code;
    std::int32_t value;
};

struct Expected {
    std::uint16_t code;
    std::int32_t value;
    std::optional<HidUsage> usage;
};

struct DecoderCase {
    const char* name;
    std::vector<Event> events;
    std::vector<Expected> keys;
};

TEST(UsageDecoder, PairsScanCodesWithKeys) {
    const DecoderCase cases[] = {
        {"scan code of page 7 names the key",
         {{EV_MSC, MSC_SCAN, 0x70004}, {EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}},
         {{KEY_A, 1, 0x04}}},
        {"scan code wins over a remapped KEY code",
         {{EV_MSC, MSC_SCAN, 0x70039}, {EV_KEY, KEY_LEFTCTRL, 1}, {EV_SYN, SYN_REPORT, 0}},
         {{KEY_LEFTCTRL, 1, 0x39}}},
        {"no scan code: the kernel table",
         {{EV_KEY, KEY_B, 1}, {EV_SYN, SYN_REPORT, 0}},
         {{KEY_B, 1, 0x05}}},
        {"scan code of another page: the kernel table",
         {{EV_MSC, MSC_SCAN, 0x1e}, {EV_KEY, KEY_A, 1}, {EV_SYN, SYN_REPORT, 0}},
         {{KEY_A, 1, 0x04}}},
        {"consumer-page key has no usage",
         {{EV_MSC, MSC_SCAN, 0xc00cd}, {EV_KEY, KEY_PLAYPAUSE, 1}, {EV_SYN, SYN_REPORT, 0}},
         {{KEY_PLAYPAUSE, 1, std::nullopt}}},
        {"two keys in one frame each get their own scan code",
         {{EV_MSC, MSC_SCAN, 0x700e0},
          {EV_KEY, KEY_LEFTCTRL, 1},
          {EV_MSC, MSC_SCAN, 0x70006},
          {EV_KEY, KEY_C, 1},
          {EV_SYN, SYN_REPORT, 0}},
         {{KEY_LEFTCTRL, 1, 0xE0}, {KEY_C, 1, 0x06}}},
        {"a scan code does not outlive its frame",
         {{EV_MSC, MSC_SCAN, 0x70004}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, KEY_B, 0}},
         {{KEY_B, 0, 0x05}}},
        {"a scan code is used by one key only",
         {{EV_MSC, MSC_SCAN, 0x70004}, {EV_KEY, KEY_A, 0}, {EV_KEY, KEY_B, 0}},
         {{KEY_A, 0, 0x04}, {KEY_B, 0, 0x05}}},
        {"auto-repeat passes through with its value",
         {{EV_KEY, KEY_A, 2}, {EV_SYN, SYN_REPORT, 0}},
         {{KEY_A, 2, 0x04}}},
        {"other event types are ignored",
         {{EV_REL, REL_X, 5}, {EV_LED, LED_CAPSL, 1}, {EV_MSC, MSC_TIMESTAMP, 7}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UsageDecoder decoder;
        std::vector<DecodedKey> got;
        for (const auto& e : c.events) {
            if (auto key = decoder.feed(e.type, e.code, e.value)) {
                got.push_back(*key);
            }
        }
        ASSERT_EQ(got.size(), c.keys.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].code, c.keys[i].code);
            EXPECT_EQ(got[i].value, c.keys[i].value);
            EXPECT_EQ(got[i].usage, c.keys[i].usage);
        }
    }
}

TEST(UsageDecoder, ResetForgetsThePendingScanCode) {
    UsageDecoder decoder;
    decoder.feed(EV_MSC, MSC_SCAN, 0x70004);
    decoder.reset();
    const auto key = decoder.feed(EV_KEY, KEY_B, 1);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->usage, HidUsage{0x05});
}

} // namespace
} // namespace chordwell::platform::lnx
