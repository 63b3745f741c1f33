// One keyboard event node (/dev/input/eventN) as a HID device of the engine.
//
// Nothing is opened until the engine schedules the device: listing keyboards
// needs no permission. Scheduled, the node is read with libevdev on the main
// loop, or, when the input context says so, on a thread of its own that
// waits in read(2) and handles what it read under the key path's lock (a
// wait in poll and then a read would be one more system call on every key's
// way). Every key change is first handed to the engine as a HID value
// (usage page 7) and then, when the keyboard is grabbed, pushed through the
// event stream. That order matters: the engine must know the held keys
// before the taps judge the key's event, as on macOS where the HID callback
// runs before the event tap.
#pragma once

#include "platform/linux/input_context.hpp"
#include "platform/linux/usage_decoder.hpp"
#include "ports/fd_watcher.hpp"
#include "ports/ports.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct libevdev;
struct input_event;

namespace chordwell::platform::lnx {

/// What discovery knows about a keyboard node, read from sysfs and udev.
struct KeyboardNodeInfo {
    std::string syspath; // of the event node
    std::string devnode; // /dev/input/eventN
    std::string name;    // "Product"
    std::string phys;
    std::string uniq;
    std::string idPath; // udev's ID_PATH, when udev runs
    std::optional<std::int64_t> bus;
    std::optional<std::int64_t> vendor;
    std::optional<std::int64_t> product;
    std::optional<std::int64_t> location;
};

class EvdevKeyboard final : public HidDevice,
                            public GrabbableKeyboard,
                            public std::enable_shared_from_this<EvdevKeyboard> {
public:
    /// Owned by a shared_ptr (the reader holds a weak reference). The
    /// owner registers it with the context once it is made.
    EvdevKeyboard(KeyboardNodeInfo info, std::shared_ptr<InputContext> context,
                  std::shared_ptr<FdWatcher> watcher);
    ~EvdevKeyboard() override;
    EvdevKeyboard(const EvdevKeyboard&) = delete;
    EvdevKeyboard& operator=(const EvdevKeyboard&) = delete;

    const KeyboardNodeInfo& info() const { return info_; }

    // HidDevice. Properties: "Product", "DevNode", "SysPath", "Place"
    // (strings; the place in words, see placeName);
    // "VendorID", "ProductID", "LocationID" (integers).
    std::optional<std::string> stringProperty(std::string_view key) const override;
    std::optional<std::int64_t> integerProperty(std::string_view key) const override;
    bool sameDevice(const HidDevice& other) const override;
    void registerInputValueCallback(InputValueCallback callback, void* context) override;
    /// Opens the node and reads it on the main loop (logs and reports a
    /// permission problem when it cannot be opened).
    void scheduleWithRunLoop() override;
    void unscheduleFromRunLoop() override;
    bool isScheduled() const { return reader_ != nullptr; }

    /// The node went away (udev reported its removal).
    void deviceRemoved();

    // GrabbableKeyboard
    EventPipeline::SourceId sourceId() const override { return sourceId_; }
    bool anyKeyDown() const override;
    bool isKeyDown(std::uint16_t code) const override;
    bool setGrabbed(bool grabbed) override;
    void setLed(std::uint16_t code, std::int32_t value) override;
    std::string displayName() const override;
    std::string lockName() const override;
    /// Read for the event stream only (a recording takes keys from every
    /// keyboard); the engine's callback hears nothing of it.
    void setCovered(bool covered) override;

private:
    struct Reader;
    void openReader();
    void onReadable();
    void handleEvent(std::uint16_t type, std::uint16_t code, std::int32_t value);
    void closeReader();
    // Reading on a thread of its own.
    static void readOnThread(std::shared_ptr<Reader> reader, std::weak_ptr<EvdevKeyboard> weak,
                             std::shared_ptr<std::recursive_mutex> lock);
    /// What one read(2) returned; false when the reader is done.
    bool handleRead(const std::shared_ptr<Reader>& reader, const ::input_event* events,
                    std::size_t count);
    void resynchronise(Reader& reader);
    void readFailed(const std::shared_ptr<Reader>& reader, int error);

    KeyboardNodeInfo info_;
    std::shared_ptr<InputContext> context_;
    std::shared_ptr<FdWatcher> watcher_;
    EventPipeline::SourceId sourceId_;
    InputValueCallback callback_ = nullptr;
    void* callbackContext_ = nullptr;
    std::shared_ptr<Reader> reader_;
    bool removed_ = false;
    bool engineReading_ = false; // scheduled by the engine
    bool covered_ = false;       // opened for a recording
};

} // namespace chordwell::platform::lnx
