#include "platform/linux/evdev_keyboard.hpp"

#include "logging/log.hpp"
#include "platform/linux/device_identity.hpp"
#include "platform/linux/key_loop.hpp"
#include "platform/linux/key_tables.hpp"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

namespace chordwell::platform::lnx {

namespace {
constexpr const char* kCategory = "keyboard";
constexpr std::uint32_t kKeyboardPage = 0x07;
} // namespace

struct EvdevKeyboard::Reader {
    int fd = -1;
    libevdev* dev = nullptr;
    FdWatcher::WatchId watch = 0;
    UsageDecoder decoder;
    // Read on a thread of its own: the keys down as this reader saw them
    // (libevdev's own record is then not kept up), and whether the thread
    // is to stop. Both under the key path's lock.
    bool threaded = false;
    bool stopped = false;
    bool dropping = false; // after SYN_DROPPED, until the next report
    std::bitset<KEY_MAX + 1> keys;

    ~Reader() {
        if (dev != nullptr) {
            libevdev_free(dev);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

EvdevKeyboard::EvdevKeyboard(KeyboardNodeInfo info, std::shared_ptr<InputContext> context,
                             std::shared_ptr<FdWatcher> watcher)
    : info_(std::move(info)), context_(std::move(context)), watcher_(std::move(watcher)),
      sourceId_(context_->makeSourceId()) {}

EvdevKeyboard::~EvdevKeyboard() {
    context_->unregisterKeyboard(*this);
    closeReader();
}

std::optional<std::string> EvdevKeyboard::stringProperty(std::string_view key) const {
    if (key == "Product") {
        if (info_.name.empty()) {
            return std::nullopt;
        }
        return info_.name;
    }
    if (key == "DevNode") {
        return info_.devnode;
    }
    if (key == "SysPath") {
        return info_.syspath;
    }
    if (key == "Place") {
        std::string place = placeName(info_.bus, info_.phys, info_.idPath);
        return place.empty() ? std::nullopt : std::optional<std::string>(std::move(place));
    }
    return std::nullopt;
}

std::optional<std::int64_t> EvdevKeyboard::integerProperty(std::string_view key) const {
    if (key == "VendorID") {
        return info_.vendor;
    }
    if (key == "ProductID") {
        return info_.product;
    }
    if (key == "LocationID") {
        return info_.location;
    }
    return std::nullopt;
}

bool EvdevKeyboard::sameDevice(const HidDevice& other) const {
    const auto* node = dynamic_cast<const EvdevKeyboard*>(&other);
    return node != nullptr && node->info_.syspath == info_.syspath;
}

void EvdevKeyboard::registerInputValueCallback(InputValueCallback callback, void* context) {
    callback_ = callback;
    callbackContext_ = callback != nullptr ? context : nullptr;
}

void EvdevKeyboard::scheduleWithRunLoop() {
    engineReading_ = true;
    openReader();
}

void EvdevKeyboard::setCovered(bool covered) {
    covered_ = covered;
    if (covered) {
        openReader();
    } else if (!engineReading_) {
        closeReader();
    }
}

void EvdevKeyboard::openReader() {
    if (reader_ || removed_) {
        return;
    }
    auto reader = std::make_shared<Reader>();
    reader->threaded = context_->readingLock() != nullptr;
    // A thread of its own waits in read(); the loop must never wait.
    const int blocking = reader->threaded ? 0 : O_NONBLOCK;
    // Writable when allowed, to light the keyboard's LEDs while it is grabbed.
    reader->fd = ::open(info_.devnode.c_str(), O_RDWR | blocking | O_CLOEXEC);
    if (reader->fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        reader->fd = ::open(info_.devnode.c_str(), O_RDONLY | blocking | O_CLOEXEC);
    }
    if (reader->fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) {
            context_->reportProblem(PlatformProblem::cannotReadKeyboards, info_.devnode);
        } else {
            log(LogLevel::error,
                "Cannot open keyboard device " + info_.devnode + ": " + std::strerror(error) + ".",
                kCategory);
        }
        return;
    }
    const int rc = libevdev_new_from_fd(reader->fd, &reader->dev);
    if (rc != 0) {
        reader->dev = nullptr;
        log(LogLevel::error,
            "Cannot read keyboard device " + info_.devnode + ": " + std::strerror(-rc) + ".",
            kCategory);
        return;
    }
    std::weak_ptr<EvdevKeyboard> weak = weak_from_this();
    if (reader->threaded) {
        for (unsigned code = 0; code <= KEY_MAX; ++code) {
            reader->keys.set(code, libevdev_get_event_value(reader->dev, EV_KEY, code) != 0);
        }
        // The thread holds the reader, and the lock, until it notices that
        // it is to stop.
        std::thread(&EvdevKeyboard::readOnThread, reader, weak, context_->readingLock()).detach();
    } else {
        reader->watch = watcher_->watchReadable(reader->fd, [weak] {
            if (auto self = weak.lock()) {
                self->onReadable();
            }
        });
    }
    reader_ = std::move(reader);
    context_->attach(*this);
}

void EvdevKeyboard::unscheduleFromRunLoop() {
    engineReading_ = false;
    if (!covered_) {
        closeReader();
    }
}

void EvdevKeyboard::closeReader() {
    if (!reader_) {
        return;
    }
    context_->detach(*this); // ends the grab while the node is still open
    if (reader_->watch != 0) {
        watcher_->unwatch(reader_->watch);
    }
    if (reader_->threaded) {
        // Wakes the thread from its read (it then fails with ENODEV); the
        // thread sees that it is to stop and lets the node go.
        reader_->stopped = true;
        ::ioctl(reader_->fd, EVIOCREVOKE, nullptr);
    }
    // A read in progress holds its own reference; the node closes after it.
    reader_.reset();
}

void EvdevKeyboard::readOnThread(std::shared_ptr<Reader> reader, std::weak_ptr<EvdevKeyboard> weak,
                                 std::shared_ptr<std::recursive_mutex> lock) {
    KeyLoop::markKeyPathThread();
    std::array<input_event, 64> events{};
    for (bool reading = true; reading;) {
        const ssize_t n = ::read(reader->fd, events.data(), sizeof events);
        const int error = errno;
        {
            const std::lock_guard<std::recursive_mutex> guard(*lock);
            const std::shared_ptr<EvdevKeyboard> self = weak.lock();
            if (reader->stopped || !self || self->reader_ != reader) {
                break;
            }
            if (n < 0 && error == EINTR) {
                continue;
            }
            if (n <= 0) {
                self->readFailed(reader, n == 0 ? ENODEV : error);
                break;
            }
            reading = self->handleRead(reader, events.data(),
                                       static_cast<std::size_t>(n) / sizeof(input_event));
        }
        // After the lock: the main thread hears of the changes now.
        KeyLoop::ringBells();
    }
    KeyLoop::ringBells();
}

bool EvdevKeyboard::handleRead(const std::shared_ptr<Reader>& reader, const ::input_event* events,
                               std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const input_event& ev = events[i];
        if (ev.type == EV_SYN && ev.code == SYN_DROPPED) {
            // The kernel's buffer overflowed: what follows until the next
            // report is incomplete. The state is read afresh then.
            log(LogLevel::warning, "Keyboard events were dropped; resynchronising.", kCategory);
            reader->dropping = true;
            reader->decoder.reset();
            continue;
        }
        if (reader->dropping) {
            if (ev.type == EV_SYN && ev.code == SYN_REPORT) {
                reader->dropping = false;
                resynchronise(*reader);
            }
        } else {
            if (ev.type == EV_KEY && ev.code <= KEY_MAX) {
                reader->keys.set(ev.code, ev.value != 0);
            }
            handleEvent(ev.type, ev.code, ev.value);
        }
        if (reader_ != reader) {
            return false; // unscheduled by a callback
        }
    }
    context_->afterEvents(*this);
    return reader_ == reader;
}

void EvdevKeyboard::resynchronise(Reader& reader) {
    // What the kernel holds down now against what was seen: the differences
    // go out as key changes, each in a report of its own.
    std::array<unsigned long,
               (KEY_MAX + 1 + 8 * sizeof(unsigned long) - 1) / (8 * sizeof(unsigned long))>
        bits{};
    if (::ioctl(reader.fd, EVIOCGKEY(sizeof bits), bits.data()) < 0) {
        return;
    }
    constexpr unsigned kBitsPerWord = 8 * sizeof(unsigned long);
    for (unsigned code = 0; code <= KEY_MAX; ++code) {
        const bool down = (bits[code / kBitsPerWord] >> (code % kBitsPerWord)) & 1u;
        if (down == reader.keys.test(code)) {
            continue;
        }
        reader.keys.set(code, down);
        handleEvent(EV_KEY, static_cast<std::uint16_t>(code), down ? 1 : 0);
        handleEvent(EV_SYN, SYN_REPORT, 0);
        if (reader_.get() != &reader) {
            return;
        }
    }
}

void EvdevKeyboard::readFailed(const std::shared_ptr<Reader>& reader, int error) {
    if (error == ENODEV) {
        log(LogLevel::info, "Keyboard device " + info_.devnode + " went away.", kCategory);
    } else {
        log(LogLevel::error,
            "Reading keyboard device " + info_.devnode + " failed: " + std::strerror(error) + ".",
            kCategory);
    }
    if (reader_ == reader) {
        closeReader();
    }
}

void EvdevKeyboard::deviceRemoved() {
    removed_ = true;
    closeReader();
}

void EvdevKeyboard::onReadable() {
    // Keep the reader alive for the whole batch: a callback may unschedule
    // this keyboard (the engine stops listening), which only drops
    // reader_.
    const std::shared_ptr<Reader> reader = reader_;
    if (!reader) {
        return;
    }
    const auto self = shared_from_this();
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    for (;;) {
        input_event ev{};
        const int rc = libevdev_next_event(reader->dev, flags, &ev);
        if (rc == LIBEVDEV_READ_STATUS_SYNC) {
            if (flags == LIBEVDEV_READ_FLAG_NORMAL) {
                // SYN_DROPPED: the kernel's buffer overflowed. libevdev now
                // replays the difference between what we saw and the real
                // state as ordinary events.
                log(LogLevel::warning, "Keyboard events were dropped; resynchronising.", kCategory);
                reader->decoder.reset();
                flags = LIBEVDEV_READ_FLAG_SYNC;
                continue;
            }
            handleEvent(ev.type, ev.code, ev.value);
        } else if (rc == LIBEVDEV_READ_STATUS_SUCCESS) {
            handleEvent(ev.type, ev.code, ev.value);
        } else if (rc == -EAGAIN) {
            if (flags == LIBEVDEV_READ_FLAG_SYNC) {
                flags = LIBEVDEV_READ_FLAG_NORMAL; // sync done, read on
                continue;
            }
            break;
        } else {
            if (rc == -ENODEV) {
                log(LogLevel::info, "Keyboard device " + info_.devnode + " went away.", kCategory);
            } else {
                log(LogLevel::error,
                    "Reading keyboard device " + info_.devnode + " failed: " + std::strerror(-rc) +
                        ".",
                    kCategory);
            }
            if (reader_ == reader) {
                closeReader();
            }
            return;
        }
        if (reader_ != reader) {
            return; // unscheduled by a callback
        }
    }
    context_->afterEvents(*this);
}

void EvdevKeyboard::handleEvent(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    Reader* const reader = reader_.get(); // kept alive by onReadable()
    const auto key = reader->decoder.feed(type, code, value);
    if (!key) {
        return;
    }
    // Auto-repeats are not key presses for the engine.
    if (key->value != 2 && key->usage && callback_ != nullptr && engineReading_) {
        callback_(callbackContext_, *this, HidInputValue{kKeyboardPage, *key->usage, key->value});
        if (reader_.get() != reader) {
            return; // the engine stopped reading this keyboard
        }
    }
    context_->handleKey(*this, key->code, key->value);
}

bool EvdevKeyboard::anyKeyDown() const {
    if (!reader_) {
        return false;
    }
    // The kernel's state now (EVIOCGKEY), not what this reader has read so
    // far: a key pressed a moment ago may still wait in the queue, and a grab
    // then would take its release away from the desktop.
    std::array<unsigned char, (KEY_MAX + 1 + 7) / 8> bits{};
    if (::ioctl(reader_->fd, EVIOCGKEY(sizeof bits), bits.data()) >= 0) {
        return std::any_of(bits.begin(), bits.end(), [](unsigned char b) { return b != 0; });
    }
    if (reader_->threaded) {
        return reader_->keys.any(); // what its thread has read
    }
    for (unsigned code = 0; code <= kMaxEvdevKeyCode; ++code) {
        if (libevdev_get_event_value(reader_->dev, EV_KEY, code) != 0) {
            return true;
        }
    }
    return false;
}

bool EvdevKeyboard::isKeyDown(std::uint16_t code) const {
    if (reader_ && reader_->threaded) {
        return code <= KEY_MAX && reader_->keys.test(code);
    }
    return reader_ && libevdev_get_event_value(reader_->dev, EV_KEY, code) != 0;
}

bool EvdevKeyboard::setGrabbed(bool grabbed) {
    if (!reader_) {
        return false;
    }
    return libevdev_grab(reader_->dev, grabbed ? LIBEVDEV_GRAB : LIBEVDEV_UNGRAB) == 0;
}

void EvdevKeyboard::setLed(std::uint16_t code, std::int32_t value) {
    if (reader_ && libevdev_has_event_code(reader_->dev, EV_LED, code)) {
        libevdev_kernel_set_led_value(reader_->dev, code,
                                      value != 0 ? LIBEVDEV_LED_ON : LIBEVDEV_LED_OFF);
    }
}

std::string EvdevKeyboard::displayName() const {
    return (info_.name.empty() ? std::string("Unknown") : info_.name) + " (" + info_.devnode + ")";
}

std::string EvdevKeyboard::lockName() const {
    // The event node names the device for every process while it is plugged
    // in; two identical keyboards have nodes of their own.
    return std::filesystem::path(info_.devnode).filename().string();
}

} // namespace chordwell::platform::lnx
