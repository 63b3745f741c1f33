#include "platform/linux/uinput_keyboard.hpp"

#include "platform/linux/device_identity.hpp"
#include "platform/linux/key_tables.hpp"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace chordwell::platform::lnx {

std::unique_ptr<UinputKeyboard> UinputKeyboard::create(const std::string& uinputPath, int& error) {
    error = 0;
    const int fd = ::open(uinputPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    libevdev* templ = libevdev_new();
    if (templ == nullptr) {
        ::close(fd);
        error = ENOMEM;
        return nullptr;
    }
    libevdev_set_name(templ, kVirtualKeyboardName);
    libevdev_set_phys(templ, kVirtualKeyboardPhys);
    libevdev_set_id_bustype(templ, kVirtualKeyboardBus);
    libevdev_set_id_vendor(templ, kVirtualKeyboardVendor);
    libevdev_set_id_product(templ, kVirtualKeyboardProduct);
    libevdev_set_id_version(templ, 1);
    libevdev_enable_event_type(templ, EV_KEY);
    for (std::uint16_t code = 1; code <= kMaxEvdevKeyCode; ++code) {
        if (isKeyboardKeyCode(code)) {
            libevdev_enable_event_code(templ, EV_KEY, code, nullptr);
        }
    }
    libevdev_enable_event_type(templ, EV_LED);
    for (unsigned led : {LED_NUML, LED_CAPSL, LED_SCROLLL, LED_COMPOSE, LED_KANA}) {
        libevdev_enable_event_code(templ, EV_LED, led, nullptr);
    }
    // libevdev does not pass the phys on; uinput takes it before creation.
    ::ioctl(fd, UI_SET_PHYS, kVirtualKeyboardPhys);
    libevdev_uinput* device = nullptr;
    const int rc = libevdev_uinput_create_from_device(templ, fd, &device);
    if (rc != 0) {
        libevdev_free(templ);
        ::close(fd);
        error = -rc;
        return nullptr;
    }
    return std::unique_ptr<UinputKeyboard>(new UinputKeyboard(templ, device));
}

UinputKeyboard::UinputKeyboard(libevdev* templ, libevdev_uinput* device)
    : template_(templ), device_(device) {
    if (const char* s = libevdev_uinput_get_syspath(device_)) {
        syspath_ = s;
    }
    if (const char* n = libevdev_uinput_get_devnode(device_)) {
        devnode_ = n;
    }
}

UinputKeyboard::~UinputKeyboard() {
    const int fd = libevdev_uinput_get_fd(device_);
    libevdev_uinput_destroy(device_);
    ::close(fd);
    libevdev_free(template_);
}

int UinputKeyboard::fd() const {
    return libevdev_uinput_get_fd(device_);
}

bool UinputKeyboard::writeKey(std::uint16_t code, std::int32_t value) {
    // The key and its SYN_REPORT in one write: the kernel stamps the event
    // when the report arrives, so a second system call would be part of
    // every key's latency. uinput takes whole events only, so a write is
    // either complete or failed.
    std::array<input_event, 2> events{};
    events[0].type = EV_KEY;
    events[0].code = code;
    events[0].value = value;
    events[1].type = EV_SYN;
    events[1].code = SYN_REPORT;
    const int fd = libevdev_uinput_get_fd(device_);
    for (;;) {
        const ssize_t written = ::write(fd, events.data(), sizeof events);
        if (written == static_cast<ssize_t>(sizeof events)) {
            return true;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

void UinputKeyboard::drainLedEvents(const std::function<void(std::uint16_t, std::int32_t)>& onLed) {
    input_event events[16];
    for (;;) {
        const ssize_t n = ::read(fd(), events, sizeof events);
        if (n <= 0) {
            return; // EAGAIN: drained
        }
        const auto count = static_cast<std::size_t>(n) / sizeof(input_event);
        for (std::size_t i = 0; i < count; ++i) {
            if (events[i].type == EV_LED && onLed) {
                onLed(events[i].code, events[i].value);
            }
        }
    }
}

} // namespace chordwell::platform::lnx
