// Runs inside the test VM (scripts/test-vm) against a real kernel: a virtual
// USB keyboard made with uinput stands in for the user's keyboard; Chordwell's
// Linux adapters and the real engine discover it, intercept a few mappings,
// and the events that come out of Chordwell's own virtual keyboard are
// checked. Prints one line per check and "VMTEST: PASS" or "VMTEST: FAIL".
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/linux/device_identity.hpp"
#include "platform/linux/evdev_keyboard.hpp"
#include "platform/linux/linux_platform.hpp"
#include "platform/linux/uinput_keyboard.hpp"
#include "platform/memory/memory_ports.hpp"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace chordwell;
using namespace std::chrono_literals;

// tests/vm/vm_background_mode.cpp
int checkBackgroundMode(const std::string& program, const std::string& ownVirtualKeyboard);
namespace lnx = chordwell::platform::lnx;

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "NOT OK", what.c_str());
    std::fflush(stdout);
    if (!ok) {
        ++failures;
    }
}

using KeyList = std::vector<std::pair<std::uint16_t, std::int32_t>>;

std::string describe(const KeyList& keys) {
    std::string text = "[";
    for (const auto& [code, value] : keys) {
        text += " " + std::string(libevdev_event_code_get_name(EV_KEY, code)) + "=" +
                std::to_string(value);
    }
    return text + " ]";
}

// The stand-in for the user's USB keyboard.
class TestKeyboard {
public:
    bool create(const char* name = "VMTest USB Keyboard",
                const char* phys = "usb-0000:00:14.0-1/input0") {
        templ_ = libevdev_new();
        libevdev_set_name(templ_, name);
        libevdev_set_phys(templ_, phys);
        libevdev_set_id_bustype(templ_, 0x03);
        libevdev_set_id_vendor(templ_, 0x046d);
        libevdev_set_id_product(templ_, 0xc31c);
        libevdev_enable_event_type(templ_, EV_KEY);
        for (unsigned code = KEY_ESC; code <= KEY_MICMUTE; ++code) {
            libevdev_enable_event_code(templ_, EV_KEY, code, nullptr);
        }
        libevdev_enable_event_type(templ_, EV_LED);
        libevdev_enable_event_code(templ_, EV_LED, LED_CAPSL, nullptr);
        libevdev_enable_event_type(templ_, EV_MSC);
        libevdev_enable_event_code(templ_, EV_MSC, MSC_SCAN, nullptr);
        // libevdev leaves the phys out; uinput takes it before the device exists.
        fd_ = ::open("/dev/uinput", O_RDWR | O_CLOEXEC);
        return fd_ >= 0 && ::ioctl(fd_, UI_SET_PHYS, phys) == 0 &&
               libevdev_uinput_create_from_device(templ_, fd_, &device_) == 0;
    }
    // A key as a USB keyboard reports it: its scan code, then the key.
    void key(std::uint16_t code, std::int32_t value, std::uint32_t usage) {
        libevdev_uinput_write_event(device_, EV_MSC, MSC_SCAN, static_cast<int>(0x70000 | usage));
        libevdev_uinput_write_event(device_, EV_KEY, code, value);
        libevdev_uinput_write_event(device_, EV_SYN, SYN_REPORT, 0);
    }
    // LED changes the kernel handed to this keyboard (Caps Lock light).
    std::vector<std::pair<std::uint16_t, std::int32_t>> leds() {
        std::vector<std::pair<std::uint16_t, std::int32_t>> result;
        const int fd = libevdev_uinput_get_fd(device_);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        input_event ev{};
        while (::read(fd, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev)) {
            if (ev.type == EV_LED) {
                result.emplace_back(ev.code, ev.value);
            }
        }
        return result;
    }
    void unplug() {
        if (device_ != nullptr) {
            libevdev_uinput_destroy(device_);
            device_ = nullptr;
        }
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~TestKeyboard() {
        unplug();
        if (templ_ != nullptr) {
            libevdev_free(templ_);
        }
    }

private:
    libevdev* templ_ = nullptr;
    libevdev_uinput* device_ = nullptr;
    int fd_ = -1;
};

// Reads what Chordwell's virtual keyboard emits (key events, repeats left out).
class OutputReader {
public:
    bool open(const std::string& devnode) {
        fd_ = ::open(devnode.c_str(), O_RDONLY | O_NONBLOCK);
        return fd_ >= 0 && libevdev_new_from_fd(fd_, &dev_) == 0;
    }
    void drain() {
        input_event ev{};
        int rc = 0;
        while ((rc = libevdev_next_event(dev_, LIBEVDEV_READ_FLAG_NORMAL, &ev)) >= 0) {
            if (rc == LIBEVDEV_READ_STATUS_SUCCESS && ev.type == EV_KEY && ev.value != 2) {
                keys.emplace_back(ev.code, ev.value);
            }
        }
    }
    ~OutputReader() {
        if (dev_ != nullptr) {
            libevdev_free(dev_);
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    KeyList keys;

private:
    int fd_ = -1;
    libevdev* dev_ = nullptr;
};

} // namespace

int main() {
    auto log = std::make_shared<platform::StderrSystemLog>(LogLevel::info);
    logging::configure(log, std::nullopt);
    const std::filesystem::path home = "/tmp/chordwell-vm";
    std::filesystem::create_directories(home);

    TestKeyboard keyboard;
    if (!keyboard.create()) {
        std::printf("VMTEST: FAIL (cannot create the test keyboard; is uinput loaded?)\n");
        return 1;
    }

    lnx::LinuxPlatformOptions options;
    auto prefs = std::make_shared<platform::MemoryPreferences>();
    prefs->setValue("key_repeat_enabled", false); // one output per match
    options.preferences = prefs;
    options.paths = std::make_shared<platform::FolderPaths>(home);
    options.systemLog = log;
    const auto linuxPlatform = lnx::makeLinuxPlatform(options);
    check(linuxPlatform->virtualKeyboard() != nullptr, "Chordwell's virtual keyboard exists");
    check(linuxPlatform->notices().empty(), "no permission notices as root");
    if (linuxPlatform->virtualKeyboard() == nullptr) {
        std::printf("VMTEST: FAIL\n");
        return 1;
    }
    lnx::PollLoop& loop = *linuxPlatform->pollLoop();
    OutputReader output;
    check(output.open(linuxPlatform->virtualKeyboard()->devnode()),
          "Chordwell's virtual keyboard can be read");

    RawKeyboardListener engine(linuxPlatform, home / "Mappings");

    const auto pumpUntil = [&](const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < end) {
            loop.runOnce(10ms);
            output.drain();
        }
        return done();
    };
    const auto findTestKeyboard = [&]() -> std::optional<KeyboardDevice> {
        for (const auto& k : engine.discoveredKeyboards()) {
            if (k.productName == "VMTest USB Keyboard") {
                return k;
            }
        }
        return std::nullopt;
    };

    check(pumpUntil([&] { return findTestKeyboard().has_value(); }, 20s),
          "the test keyboard is discovered");
    const auto device = findTestKeyboard();
    if (!device) {
        std::printf("VMTEST: FAIL\n");
        return 1;
    }
    check(device->vendorID == 0x046d && device->productID == 0xc31c,
          "vendor and product identifiers are read");
    bool ownListed = false;
    for (const auto& k : engine.discoveredKeyboards()) {
        ownListed = ownListed || k.productName == lnx::kVirtualKeyboardName;
    }
    check(!ownListed, "Chordwell's own virtual keyboard is not listed");

    // A keyboard plugged in later is found by the monitor, at a location of
    // its own, and leaves the list when it is unplugged.
    {
        const auto listed = [&](const char* name) {
            for (const auto& k : engine.discoveredKeyboards()) {
                if (k.productName == name) {
                    return true;
                }
            }
            return false;
        };
        TestKeyboard second;
        check(second.create("VMTest Second Keyboard", "usb-0000:00:14.0-2/input0") &&
                  pumpUntil([&] { return listed("VMTest Second Keyboard"); }, 10s),
              "a keyboard plugged in later is discovered");
        std::set<std::int64_t> locations;
        for (const auto& k : engine.discoveredKeyboards()) {
            if (k.productName.rfind("VMTest", 0) == 0) {
                locations.insert(k.deviceRef->integerProperty("LocationID").value_or(-1));
            }
        }
        check(locations.size() == 2 && locations.count(-1) == 0,
              "the two keyboards have locations of their own");
        second.unplug();
        check(pumpUntil([&] { return !listed("VMTest Second Keyboard"); }, 10s),
              "a keyboard that is not listened to leaves the list when unplugged");
    }

    // Left Control + A -> Copy (Control+C); Z -> Shift+B; B is not mapped.
    DeviceMapping record;
    record.productName = device->productName;
    record.vendorID = device->vendorID;
    record.productID = device->productID;
    KeyMapping copy;
    copy.name = "copy";
    copy.inputKeyCodes = {0xE0, 0x04};
    copy.outputBehavior = OutputBehavior::copyOperation();
    KeyMapping custom;
    custom.name = "shift b";
    custom.inputKeyCodes = {0x1D};
    custom.outputBehavior =
        OutputBehavior::customKeySequence("shift b", {MacKeySignature{0x0B, kMaskShift}});
    record.mappings = {copy, custom};
    engine.setAllDeviceMappings({record});

    const auto* node = dynamic_cast<lnx::EvdevKeyboard*>(device->deviceRef.get());
    const auto grabbed = [&] {
        return node != nullptr && linuxPlatform->inputContext().isGrabbed(*node);
    };

    const auto expectOutput = [&](const char* what, const KeyList& expected) {
        pumpUntil([&] { return output.keys.size() >= expected.size(); }, 5s);
        pumpUntil([] { return false; }, 300ms); // anything more that comes
        check(output.keys == expected, std::string(what) + ": got " + describe(output.keys) +
                                           ", want " + describe(expected));
        output.keys.clear();
    };

    // Recording a combination, as the mapping editor does: every key-down is
    // swallowed, modifiers pass, and the HID usages and signatures come back.
    engine.setIsForceBlockTap(true);
    engine.startListening(*device);
    check(pumpUntil(grabbed, 5s), "the keyboard is grabbed while recording");
    keyboard.key(KEY_LEFTCTRL, 1, 0xE0);
    keyboard.key(KEY_A, 1, 0x04);
    keyboard.key(KEY_A, 0, 0x04);
    keyboard.key(KEY_LEFTCTRL, 0, 0xE0);
    // The swallowed A leaves a neutral key between Control's down and up, so
    // that the desktop never sees a lone Control tap.
    expectOutput("while recording only the modifier reaches the desktop, never as a lone tap",
                 {{KEY_LEFTCTRL, 1}, {KEY_UNKNOWN, 1}, {KEY_UNKNOWN, 0}, {KEY_LEFTCTRL, 0}});
    const ListeningResult recorded = engine.stopListening();
    engine.setIsForceBlockTap(false);
    check(recorded.codes == std::vector<HidUsage>{0xE0, 0x04},
          "the recording holds Left Control and A");
    check(recorded.taps == std::vector<MacKeySignature>{MacKeySignature{0x00, kMaskControl}},
          "the recording holds the signature Control+A");
    check(pumpUntil([&] { return !grabbed(); }, 5s), "the keyboard is released after recording");

    engine.setSelectedDevice(device);
    toggleInterception(engine);
    check(engine.isIntercepting(), "interception started");
    check(pumpUntil(grabbed, 5s), "the test keyboard is grabbed");

    // The desktop lights Caps Lock on the virtual keyboard; the grabbed
    // keyboard, whose lights nobody else drives now, shows it.
    {
        const int ledFd = ::open(linuxPlatform->virtualKeyboard()->devnode().c_str(), O_WRONLY);
        input_event on[2]{};
        on[0].type = EV_LED;
        on[0].code = LED_CAPSL;
        on[0].value = 1;
        on[1].type = EV_SYN;
        on[1].code = SYN_REPORT;
        const bool written = ledFd >= 0 && ::write(ledFd, on, sizeof on) == sizeof on;
        std::vector<std::pair<std::uint16_t, std::int32_t>> lights;
        pumpUntil(
            [&] {
                for (const auto& l : keyboard.leds()) {
                    lights.push_back(l);
                }
                return !lights.empty();
            },
            5s);
        check(written &&
                  lights == std::vector<std::pair<std::uint16_t, std::int32_t>>{{LED_CAPSL, 1}},
              "Caps Lock light is mirrored on the grabbed keyboard");
        if (ledFd >= 0) {
            ::close(ledFd);
        }
    }

    keyboard.key(KEY_LEFTCTRL, 1, 0xE0);
    keyboard.key(KEY_A, 1, 0x04);
    keyboard.key(KEY_A, 0, 0x04);
    keyboard.key(KEY_LEFTCTRL, 0, 0xE0);
    expectOutput("Control+A becomes Control+C, A never appears",
                 {{KEY_LEFTCTRL, 1}, {KEY_C, 1}, {KEY_C, 0}, {KEY_LEFTCTRL, 0}});

    keyboard.key(KEY_B, 1, 0x05);
    keyboard.key(KEY_B, 0, 0x05);
    expectOutput("an unmapped key passes", {{KEY_B, 1}, {KEY_B, 0}});

    keyboard.key(KEY_Z, 1, 0x1D);
    keyboard.key(KEY_Z, 0, 0x1D);
    expectOutput("Z becomes Shift+B",
                 {{KEY_LEFTSHIFT, 1}, {KEY_B, 1}, {KEY_B, 0}, {KEY_LEFTSHIFT, 0}});

    // The emergency exit ends interception whatever the mappings say.
    keyboard.key(KEY_BACKSPACE, 1, 0x2A);
    keyboard.key(KEY_ESC, 1, 0x29);
    keyboard.key(KEY_ENTER, 1, 0x28);
    check(pumpUntil([&] { return !engine.isIntercepting(); }, 5s),
          "Backspace+Escape+Enter ends interception");
    check(!grabbed(), "the keyboard is released after the emergency exit");
    keyboard.key(KEY_BACKSPACE, 0, 0x2A);
    keyboard.key(KEY_ESC, 0, 0x29);
    keyboard.key(KEY_ENTER, 0, 0x28);
    expectOutput("the chord's keys were released on the virtual keyboard",
                 {{KEY_BACKSPACE, 1},
                  {KEY_ESC, 1},
                  {KEY_ENTER, 1},
                  {KEY_ESC, 0}, // released in key-code order when the grab ended
                  {KEY_BACKSPACE, 0},
                  {KEY_ENTER, 0}});

    keyboard.key(KEY_LEFTCTRL, 1, 0xE0);
    keyboard.key(KEY_A, 1, 0x04);
    keyboard.key(KEY_A, 0, 0x04);
    keyboard.key(KEY_LEFTCTRL, 0, 0xE0);
    expectOutput("without interception nothing goes through Chordwell", {});

    toggleInterception(engine);
    check(engine.isIntercepting() && pumpUntil(grabbed, 5s), "interception starts again");

    // Unplugging the keyboard while a key is held ends interception and
    // releases the held key.
    keyboard.key(KEY_LEFTSHIFT, 1, 0xE1);
    expectOutput("a held Shift passes", {{KEY_LEFTSHIFT, 1}});
    keyboard.unplug();
    check(pumpUntil([&] { return !engine.isIntercepting(); }, 10s),
          "unplugging the keyboard ends interception");
    check(pumpUntil([&] { return !findTestKeyboard().has_value(); }, 5s),
          "the unplugged keyboard leaves the list");
    expectOutput("the held Shift is released", {{KEY_LEFTSHIFT, 0}});

    // The background mode, as the VM carries chordwellctl beside this program.
    failures += checkBackgroundMode("/chordwellctl", linuxPlatform->virtualKeyboard()->devnode());

    std::printf("VMTEST: %s (%d failed)\n", failures == 0 ? "PASS" : "FAIL", failures);
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
