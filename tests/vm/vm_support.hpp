// What the programs of the test VM share: stand-in USB keyboards made with
// uinput, readers of event nodes, and the text of a list of key events.
#pragma once

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vmtest {

using KeyList = std::vector<std::pair<std::uint16_t, std::int32_t>>;

inline std::string describe(const KeyList& keys) {
    std::string text = "[";
    for (const auto& [code, value] : keys) {
        const char* name = libevdev_event_code_get_name(EV_KEY, code);
        text += " " + (name != nullptr ? std::string(name) : std::to_string(code)) + "=" +
                std::to_string(value);
    }
    return text + " ]";
}

/// Whether some other reader holds the node's grab (EVIOCGRAB answers EBUSY;
/// grabs belong to one open file, so this holds within one process too).
inline bool grabbedElsewhere(const std::string& devnode) {
    const int fd = ::open(devnode.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool busy = ::ioctl(fd, EVIOCGRAB, 1) != 0 && errno == EBUSY;
    if (!busy) {
        ::ioctl(fd, EVIOCGRAB, 0);
    }
    ::close(fd);
    return busy;
}

/// A stand-in for one of the user's USB keyboards.
class TestKeyboard {
public:
    TestKeyboard() = default;
    TestKeyboard(const TestKeyboard&) = delete;
    TestKeyboard& operator=(const TestKeyboard&) = delete;

    bool create(const char* name = "VMTest USB Keyboard",
                const char* phys = "usb-0000:00:14.0-1/input0", int product = 0xc31c) {
        templ_ = libevdev_new();
        libevdev_set_name(templ_, name);
        libevdev_set_phys(templ_, phys);
        libevdev_set_id_bustype(templ_, 0x03);
        libevdev_set_id_vendor(templ_, 0x046d);
        libevdev_set_id_product(templ_, product);
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
    /// A key as a USB keyboard reports it: its scan code, then the key.
    void key(std::uint16_t code, std::int32_t value, std::uint32_t usage) {
        libevdev_uinput_write_event(device_, EV_MSC, MSC_SCAN, static_cast<int>(0x70000 | usage));
        libevdev_uinput_write_event(device_, EV_KEY, code, value);
        libevdev_uinput_write_event(device_, EV_SYN, SYN_REPORT, 0);
    }
    /// Its event node, which the desktop (and Chordwell) read.
    std::string devnode() const {
        const char* node = device_ != nullptr ? libevdev_uinput_get_devnode(device_) : nullptr;
        return node != nullptr ? node : "";
    }
    /// LED changes the kernel handed to this keyboard (Caps Lock light).
    KeyList leds() {
        KeyList result;
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

/// An ordinary reader of an event node, as the desktop is: collects the key
/// events it is handed (repeats left out) and knows which keys it believes
/// are down.
class EventReader {
public:
    EventReader() = default;
    EventReader(const EventReader&) = delete;
    EventReader& operator=(const EventReader&) = delete;

    bool open(const std::string& devnode) {
        fd_ = ::open(devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        return fd_ >= 0 && libevdev_new_from_fd(fd_, &dev_) == 0;
    }
    void drain() {
        if (dev_ == nullptr) {
            return;
        }
        input_event ev{};
        int rc = 0;
        while ((rc = libevdev_next_event(dev_, LIBEVDEV_READ_FLAG_NORMAL, &ev)) >= 0) {
            if (rc == LIBEVDEV_READ_STATUS_SUCCESS && ev.type == EV_KEY && ev.value != 2) {
                keys.emplace_back(ev.code, ev.value);
            }
        }
    }
    bool isDown(std::uint16_t code) const {
        return dev_ != nullptr && libevdev_get_event_value(dev_, EV_KEY, code) != 0;
    }
    ~EventReader() {
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

} // namespace vmtest
