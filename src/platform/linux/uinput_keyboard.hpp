// Chordwell's virtual keyboard: one uinput device, created once at start-up,
// to which the event stream writes every key that passes the taps. The
// desktop reads it like any keyboard. Destroying it (or the process ending)
// makes the kernel release every key still down on it.
#pragma once

#include "platform/linux/event_pipeline.hpp"

#include <functional>
#include <memory>
#include <string>

struct libevdev;
struct libevdev_uinput;

namespace chordwell::platform::lnx {

class UinputKeyboard final : public KeySink {
public:
    /// Creates the device through `uinputPath`. On failure returns nullptr
    /// and sets `error` to the errno of the failure (EACCES, ENOENT, ...).
    static std::unique_ptr<UinputKeyboard> create(const std::string& uinputPath, int& error);
    ~UinputKeyboard() override;
    UinputKeyboard(const UinputKeyboard&) = delete;
    UinputKeyboard& operator=(const UinputKeyboard&) = delete;

    bool writeKey(std::uint16_t code, std::int32_t value) override;

    /// The descriptor on which the desktop's LED changes arrive (Caps Lock
    /// lights and the like), and a reader for them: each LED change is
    /// handed to `onLed(code, value)` so it can be mirrored on the grabbed
    /// keyboards, whose own LEDs the desktop no longer drives.
    int fd() const;
    void drainLedEvents(const std::function<void(std::uint16_t, std::int32_t)>& onLed);

    /// /sys/devices/virtual/input/inputN of the device ("" when unknown).
    const std::string& syspath() const { return syspath_; }
    /// /dev/input/eventN of the device ("" when unknown).
    const std::string& devnode() const { return devnode_; }

private:
    UinputKeyboard(libevdev* templ, libevdev_uinput* device);

    libevdev* template_;
    libevdev_uinput* device_;
    std::string syspath_;
    std::string devnode_;
};

} // namespace chordwell::platform::lnx
