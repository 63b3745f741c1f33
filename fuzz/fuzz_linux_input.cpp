// The Linux input path end to end, short of the kernel: a random stream of
// evdev events from three keyboards runs through the usage decoder and the
// event pipeline (with an event tap that swallows some key-downs, as the
// engine's blocker does, and synthetic key presses posted in between) into a
// fake virtual keyboard. The virtual keyboard must stay consistent (no
// repeat or release of a key that is not down) and, once the stream has
// released every key, hold no key down.
#include "platform/linux/event_pipeline.hpp"
#include "platform/linux/usage_decoder.hpp"

#include <linux/input.h>

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace chordwell;
using namespace chordwell::platform;
using namespace chordwell::platform::lnx;

[[noreturn]] void fail(const char* what, unsigned code) {
    std::fprintf(stderr, "fuzz_linux_input: %s (key %u)\n", what, code);
    std::abort();
}

class CheckingSink : public KeySink {
public:
    bool writeKey(std::uint16_t code, std::int32_t value) override {
        if (code > kMaxEvdevKeyCode) {
            fail("a key code beyond the table", code);
        }
        if (value == 1) {
            if (down.test(code)) {
                fail("a key pressed twice on the virtual keyboard", code);
            }
            down.set(code);
        } else if (value == 0 || value == 2) {
            if (!down.test(code)) {
                fail(value == 0 ? "a key released that is not down"
                                : "a key repeated that is not down",
                     code);
            }
            if (value == 0) {
                down.reset(code);
            }
        } else {
            fail("a value other than 0, 1, 2", code);
        }
        return true;
    }
    std::bitset<kMaxEvdevKeyCode + 1> down;
};

// Swallows key-downs by a rule that the stream changes, passes everything
// else, as the engine's blocker does.
struct Tap {
    unsigned salt = 0;
    static TapDecision decide(void* self, const KeyEvent& event) {
        const auto* tap = static_cast<Tap*>(self);
        if (event.type == EventType::keyDown &&
            (static_cast<unsigned>(event.keyCode) + tap->salt) % 3 == 0) {
            return TapDecision::swallow;
        }
        return TapDecision::pass;
    }
};

// Keys that collide often: letters, modifiers, Caps Lock, and a few more.
constexpr std::uint16_t kCommonKeys[] = {KEY_A,         KEY_B,         KEY_C,          KEY_LEFTCTRL,
                                         KEY_RIGHTCTRL, KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTALT,
                                         KEY_RIGHTALT,  KEY_LEFTMETA,  KEY_CAPSLOCK,   KEY_ESC,
                                         KEY_F1,        KEY_SPACE,     KEY_ENTER,      KEY_FN};

class Stream {
public:
    Stream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t word() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kSources = 3;
    CheckingSink sink;
    auto pipeline = std::make_shared<EventPipeline>(&sink);
    Tap tapState;
    LinuxEventTap tap(pipeline, &Tap::decide, &tapState);
    tap.addToRunLoop();
    tap.enable(true);

    std::array<UsageDecoder, kSources> decoders;
    std::array<std::bitset<kMaxEvdevKeyCode + 1>, kSources> held;
    const auto deliver = [&](std::size_t source, std::uint16_t type, std::uint16_t code,
                             std::int32_t value) {
        const auto key = decoders[source].feed(type, code, value);
        if (!key || key->code > kMaxEvdevKeyCode) {
            return;
        }
        pipeline->physicalKey(source + 1, key->code, key->value);
        // A device may send any value: 2 repeats, other non-zero ones press.
        if (key->value == 0) {
            held[source].reset(key->code);
        } else if (key->value != 2) {
            held[source].set(key->code);
        }
    };

    Stream in(data, size);
    while (in.more()) {
        const std::uint8_t op = in.byte();
        const std::size_t source = (op >> 4) % kSources;
        switch (op & 0x7) {
        case 0:
        case 1:
        case 2: { // a key change, often with its scan code first
            const std::uint8_t pick = in.byte();
            const std::uint16_t code =
                pick < 200 ? kCommonKeys[pick % std::size(kCommonKeys)] : in.word() % 0x300;
            const auto value = static_cast<std::int32_t>(in.byte() % 3);
            if ((op & 0x8) != 0) {
                deliver(source, EV_MSC, MSC_SCAN, static_cast<std::int32_t>(0x70000 | in.byte()));
            }
            deliver(source, EV_KEY, code, value);
            break;
        }
        case 3: { // any event at all
            const std::uint16_t type = in.word();
            const std::uint16_t code = in.word();
            const auto value = static_cast<std::int32_t>(in.word() | (in.word() << 16));
            deliver(source, type, code, value);
            break;
        }
        case 4: { // Chordwell posts a key press, down then up, as its output does
            const auto keyCode = static_cast<std::int64_t>(in.byte() % 128);
            const EventFlags flags = static_cast<EventFlags>(in.byte() & 0x1E) << 16;
            pipeline->postKey(keyCode, flags, true);
            pipeline->postKey(keyCode, flags, false);
            break;
        }
        case 5: // events were dropped: the decoder starts afresh
            decoders[source].reset();
            break;
        case 6: // the blocker's decisions change
            tapState.salt = in.byte();
            break;
        case 7: // the keyboard's grab ended
            if ((op & 0x8) != 0) {
                pipeline->releaseSource(source + 1);
                held[source].reset();
            }
            break;
        }
    }

    // Every physical key goes up.
    for (std::size_t source = 0; source < kSources; ++source) {
        for (std::uint16_t code = 0; code <= kMaxEvdevKeyCode; ++code) {
            if (held[source].test(code)) {
                pipeline->physicalKey(source + 1, code, 0);
            }
        }
    }
    if (sink.down.any() || pipeline->anyVirtualKeyDown()) {
        for (std::uint16_t code = 0; code <= kMaxEvdevKeyCode; ++code) {
            if (sink.down.test(code)) {
                fail("a key stays down after every key was released", code);
            }
        }
        fail("the pipeline believes a key is down after every key was released", 0);
    }
    return 0;
}
