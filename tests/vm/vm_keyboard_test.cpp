// Runs inside the test VM (scripts/test-vm) against a real kernel: a virtual
// USB keyboard made with uinput stands in for the user's keyboard; Chordwell's
// Linux adapters and the real engine discover it, intercept a few mappings,
// and the events that come out of Chordwell's own virtual keyboard are
// checked: mappings, recordings (also typed on a second keyboard), the
// modifier guard, a write the kernel refuses, the emergency exit, unplugging
// (interception waits for the keyboard).
// Prints one line per check and "VMTEST: PASS" or "VMTEST: FAIL".
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/linux/device_identity.hpp"
#include "platform/linux/evdev_keyboard.hpp"
#include "platform/linux/key_tables.hpp"
#include "platform/linux/linux_platform.hpp"
#include "platform/linux/uinput_keyboard.hpp"
#include "platform/memory/memory_ports.hpp"
#include "vm_support.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace chordwell;
using namespace std::chrono_literals;
using vmtest::describe;
using vmtest::EventReader;
using vmtest::grabbedElsewhere;
using vmtest::KeyList;
using vmtest::TestKeyboard;

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

std::string describeSignatures(const std::vector<MacKeySignature>& signatures) {
    std::string text;
    for (const MacKeySignature& s : signatures) {
        text += " " + std::to_string(s.keyCode) + "/" + std::to_string(s.modifiers);
    }
    return text;
}

} // namespace

int main() {
    auto log = std::make_shared<platform::StderrSystemLog>(LogLevel::info);
    logging::configure(log, std::nullopt);
    // The user types on a French AZERTY layout, configured as a desktop
    // without an X server would have it: outputs that mean a character
    // press the key that types it there.
    setenv("XKB_DEFAULT_LAYOUT", "fr", 1);
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
    EventReader output;
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
    const auto findKeyboard = [&](const std::string& name) -> std::optional<KeyboardDevice> {
        for (const auto& k : engine.discoveredKeyboards()) {
            if (k.productName == name) {
                return k;
            }
        }
        return std::nullopt;
    };
    const auto findTestKeyboard = [&] {
        return findKeyboard("VMTest USB Keyboard");
    };
    // Whether Chordwell holds the grab of the keyboard of that name.
    const auto grabbedByChordwell = [&](const std::string& name) {
        const auto k = findKeyboard(name);
        const auto* node = k ? dynamic_cast<lnx::EvdevKeyboard*>(k->deviceRef.get()) : nullptr;
        return node != nullptr && linuxPlatform->inputContext().isGrabbed(*node);
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
    // Super or Alt (either side) + X -> Copy: the held modifier is lifted
    // around the output and put back after it.
    struct GuardedModifier {
        const char* name;
        std::uint16_t code;
        HidUsage usage;
    };
    const GuardedModifier guardedModifiers[] = {{"Left Super", KEY_LEFTMETA, 0xE3},
                                                {"Right Super", KEY_RIGHTMETA, 0xE7},
                                                {"Left Alt", KEY_LEFTALT, 0xE2},
                                                {"Right Alt", KEY_RIGHTALT, 0xE6}};
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
    // Select All from the catalog (Control with the US A key), stored as the
    // editor stores a pick: resolved through the user's layout.
    KeyMapping selectAll;
    selectAll.name = "select all";
    selectAll.inputKeyCodes = {0xE0, 0x16};
    selectAll.outputBehavior = OutputBehavior::customKeySequence(
        "Select All", engine.resolvedForKeyboardLayout({MacKeySignature{0x00, kMaskControl}}));
    record.mappings = {copy, custom, selectAll};
    for (const GuardedModifier& m : guardedModifiers) {
        KeyMapping withX;
        withX.name = std::string(m.name) + " x";
        withX.inputKeyCodes = {m.usage, 0x1B};
        withX.outputBehavior = OutputBehavior::copyOperation();
        record.mappings.push_back(withX);
    }
    engine.setAllDeviceMappings({record});

    const auto grabbed = [&] {
        return grabbedByChordwell("VMTest USB Keyboard");
    };

    const auto expectOutput = [&](const std::string& what, const KeyList& expected) {
        pumpUntil([&] { return output.keys.size() >= expected.size(); }, 5s);
        pumpUntil([] { return false; }, 300ms); // anything more that comes
        check(output.keys == expected,
              what + ": got " + describe(output.keys) + ", want " + describe(expected));
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

    // The keys of a "To" recording may be typed on any keyboard: while it
    // runs every keyboard is grabbed, its key-downs are recorded and reach
    // nobody, neither the desktop through Chordwell's virtual keyboard nor
    // (the grab) any reader of the keyboard's own node.
    const std::string otherName = "VMTest Recording Keyboard";
    TestKeyboard other;
    check(other.create(otherName.c_str(), "usb-0000:00:14.0-3/input0", 0xc52b) &&
              pumpUntil([&] { return findKeyboard(otherName).has_value(); }, 10s),
          "a second keyboard is discovered");
    EventReader otherReader; // stands in for the desktop reading that keyboard
    check(otherReader.open(other.devnode()), "the second keyboard's own node can be read");
    const auto otherGrabbed = [&] {
        return grabbedByChordwell(otherName);
    };

    engine.setIsForceBlockTap(true);
    engine.startListening(*device);
    check(pumpUntil([&] { return grabbed() && otherGrabbed(); }, 5s) &&
              grabbedElsewhere(other.devnode()),
          "while recording both keyboards are grabbed");
    other.key(KEY_LEFTMETA, 1, 0xE3);
    other.key(KEY_K, 1, 0x0E);
    other.key(KEY_K, 0, 0x0E);
    other.key(KEY_LEFTMETA, 0, 0xE3);
    other.key(KEY_L, 1, 0x0F);
    other.key(KEY_L, 0, 0x0F);
    expectOutput("keys typed on the second keyboard for a recording are blocked, Super passes and "
                 "never as a lone tap",
                 {{KEY_LEFTMETA, 1}, {KEY_UNKNOWN, 1}, {KEY_UNKNOWN, 0}, {KEY_LEFTMETA, 0}});
    otherReader.drain();
    check(otherReader.keys.empty(), "the grabbed second keyboard's own readers get nothing: got " +
                                        describe(otherReader.keys));
    // The editor ends a recording, keeping it, before interception starts.
    const ListeningResult recordedTo = engine.stopListening();
    engine.setIsForceBlockTap(false);
    check(recordedTo.taps == std::vector<MacKeySignature>{MacKeySignature{0x28, kMaskCommand},
                                                          MacKeySignature{0x25, 0}},
          "the recording holds Super+K, then L, typed on the second keyboard: got" +
              describeSignatures(recordedTo.taps));
    check(recordedTo.codes.empty(), "no key of the second keyboard counts as the listened one's");

    engine.setSelectedDevice(device);
    toggleInterception(engine);
    check(engine.isIntercepting(), "interception started");
    check(pumpUntil(grabbed, 5s), "the test keyboard is grabbed");
    check(pumpUntil([&] { return !otherGrabbed(); }, 5s) && !grabbedElsewhere(other.devnode()),
          "the second keyboard is released once the recording is over");
    other.key(KEY_B, 1, 0x05);
    other.key(KEY_B, 0, 0x05);
    expectOutput("the second keyboard's keys no longer go through Chordwell", {});
    otherReader.drain();
    check(otherReader.keys == KeyList{{KEY_B, 1}, {KEY_B, 0}},
          "the second keyboard's own readers get its keys again: got " +
              describe(otherReader.keys));
    otherReader.keys.clear();

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

    check(engine.keyboardLayout()->name() == "fr",
          "the layout is read from XKB_DEFAULT_LAYOUT: got " + engine.keyboardLayout()->name());
    keyboard.key(KEY_LEFTCTRL, 1, 0xE0);
    keyboard.key(KEY_S, 1, 0x16);
    keyboard.key(KEY_S, 0, 0x16);
    keyboard.key(KEY_LEFTCTRL, 0, 0xE0);
    expectOutput("Select All on AZERTY presses the key that types a: Q",
                 {{KEY_LEFTCTRL, 1}, {KEY_Q, 1}, {KEY_Q, 0}, {KEY_LEFTCTRL, 0}});

    keyboard.key(KEY_B, 1, 0x05);
    keyboard.key(KEY_B, 0, 0x05);
    expectOutput("an unmapped key passes", {{KEY_B, 1}, {KEY_B, 0}});

    keyboard.key(KEY_Z, 1, 0x1D);
    keyboard.key(KEY_Z, 0, 0x1D);
    expectOutput("Z becomes Shift+B",
                 {{KEY_LEFTSHIFT, 1}, {KEY_B, 1}, {KEY_B, 0}, {KEY_LEFTSHIFT, 0}});

    // A write to the virtual keyboard that fails while Super+X fires: its
    // descriptor is swapped for the read end of a pipe, which the kernel
    // refuses to write to. The failed post leaves no pass-through behind,
    // and the pipeline keeps believing what the desktop believes is down.
    {
        lnx::EventPipeline& pipeline = linuxPlatform->inputContext().pipeline();
        const auto pipelineAgrees = [&] {
            output.drain();
            for (std::uint16_t code = 0; code <= lnx::kMaxEvdevKeyCode; ++code) {
                if (pipeline.isVirtuallyDown(code) != output.isDown(code)) {
                    return false;
                }
            }
            return true;
        };
        keyboard.key(KEY_LEFTMETA, 1, 0xE3);
        expectOutput("a held Super passes", {{KEY_LEFTMETA, 1}});
        const int sinkFd = linuxPlatform->virtualKeyboard()->fd();
        const int saved = ::dup(sinkFd);
        int refusing[2] = {-1, -1};
        const bool swapped =
            saved >= 0 && ::pipe2(refusing, O_CLOEXEC) == 0 && ::dup2(refusing[0], sinkFd) >= 0;
        keyboard.key(KEY_X, 1, 0x1B);
        const auto xHeld = [&] {
            const auto held = engine.currentPressedCodes();
            return std::find(held.begin(), held.end(), HidUsage{0x1B}) != held.end();
        };
        const bool fired = pumpUntil(xHeld, 5s);
        if (saved >= 0) {
            ::dup2(saved, sinkFd);
            ::close(saved);
        }
        for (const int fd : refusing) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        check(swapped && fired, "Super+X fires while the virtual keyboard refuses writes");
        check(engine.tapBlockerListener() != nullptr &&
                  engine.tapBlockerListener()->forceLetItPassKeys().empty(),
              "the failed post leaves no pass-through behind");
        check(pipeline.isVirtuallyDown(KEY_LEFTMETA) && !pipeline.isVirtuallyDown(KEY_LEFTCTRL) &&
                  !pipeline.isVirtuallyDown(KEY_C) && pipelineAgrees(),
              "after the failed writes the pipeline's down keys are the desktop's: Super only");
        keyboard.key(KEY_X, 0, 0x1B);
        keyboard.key(KEY_LEFTMETA, 0, 0xE3);
        expectOutput("after the failed post Super comes up, and not as a lone tap",
                     {{KEY_UNKNOWN, 1}, {KEY_UNKNOWN, 0}, {KEY_LEFTMETA, 0}});
        check(!pipeline.anyVirtualKeyDown() && pipelineAgrees(),
              "no key is left down on the virtual keyboard");
    }

    // Super or Alt + X fires twice while the modifier stays held. Between
    // every down and up of the modifier the desktop sees the neutral key: it
    // never sees a lone tap (which opens the overview or a menu bar), nor
    // the modifier held together with the output's Control.
    for (const GuardedModifier& m : guardedModifiers) {
        keyboard.key(m.code, 1, m.usage);
        keyboard.key(KEY_X, 1, 0x1B);
        keyboard.key(KEY_X, 0, 0x1B);
        keyboard.key(KEY_X, 1, 0x1B);
        keyboard.key(KEY_X, 0, 0x1B);
        keyboard.key(m.code, 0, m.usage);
        // Each output: the modifier is lifted (after a neutral key) before
        // Control goes down, and comes back after C.
        const KeyList copyAround = {{KEY_UNKNOWN, 1},  {KEY_UNKNOWN, 0}, {m.code, 0},
                                    {KEY_LEFTCTRL, 1}, {KEY_C, 1},       {KEY_C, 0},
                                    {KEY_LEFTCTRL, 0}, {m.code, 1}};
        KeyList want = {{m.code, 1}};
        for (int fired = 0; fired < 2; ++fired) {
            want.insert(want.end(), copyAround.begin(), copyAround.end());
        }
        want.insert(want.end(), {{KEY_UNKNOWN, 1}, {KEY_UNKNOWN, 0}, {m.code, 0}});
        expectOutput(std::string(m.name) + "+X twice becomes Control+C twice, " + m.name +
                         " never tapped alone",
                     want);
    }

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

    // The emergency exit also frees every keyboard a recording took, when
    // it is typed on the keyboard the recording is typed on.
    engine.setIsForceBlockTap(true);
    engine.startListening(*device);
    check(pumpUntil([&] { return grabbed() && otherGrabbed(); }, 5s),
          "a new recording grabs both keyboards");
    other.key(KEY_BACKSPACE, 1, 0x2A);
    other.key(KEY_ESC, 1, 0x29);
    other.key(KEY_ENTER, 1, 0x28);
    check(pumpUntil([&] { return !grabbed() && !otherGrabbed(); }, 5s) &&
              !grabbedElsewhere(other.devnode()) && !grabbedElsewhere(keyboard.devnode()),
          "Backspace+Escape+Enter on the second keyboard frees both keyboards");
    other.key(KEY_BACKSPACE, 0, 0x2A);
    other.key(KEY_ESC, 0, 0x29);
    other.key(KEY_ENTER, 0, 0x28);
    expectOutput("the chord typed during the recording never reached the virtual keyboard", {});
    (void)engine.stopListening();
    engine.setIsForceBlockTap(false);
    other.unplug();

    toggleInterception(engine);
    check(engine.isIntercepting() && pumpUntil(grabbed, 5s), "interception starts again");

    // Unplugging the keyboard while a key is held pauses interception (it
    // waits for the keyboard) and releases the held key.
    keyboard.key(KEY_LEFTSHIFT, 1, 0xE1);
    expectOutput("a held Shift passes", {{KEY_LEFTSHIFT, 1}});
    keyboard.unplug();
    check(pumpUntil([&] { return engine.awaitedKeyboard().has_value(); }, 10s) &&
              engine.isIntercepting() && engine.tapBlockerListener() == nullptr,
          "unplugging the keyboard pauses interception until it comes back");
    check(pumpUntil([&] { return !findTestKeyboard().has_value(); }, 5s),
          "the unplugged keyboard leaves the list");
    expectOutput("the held Shift is released", {{KEY_LEFTSHIFT, 0}});
    engine.stopIntercepting();
    check(!engine.awaitedKeyboard().has_value(), "turning interception off ends the waiting");

    // The background mode, as the VM carries chordwellctl beside this program.
    failures += checkBackgroundMode("/chordwellctl", linuxPlatform->virtualKeyboard()->devnode());

    std::printf("VMTEST: %s (%d failed)\n", failures == 0 ? "PASS" : "FAIL", failures);
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
