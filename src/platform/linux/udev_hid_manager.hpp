// Keyboard discovery on Linux: udev enumeration of the input event nodes
// that are keyboards, and a udev monitor for arrivals and removals, read on
// the main loop.
//
// With the udev daemon running, the monitor listens to udev's own events
// (sent after its rules ran, so the node's permissions are final) and a
// keyboard is what udev marks ID_INPUT_KEYBOARD=1. Without the daemon
// (minimal systems, containers, the test VM) there is no udev database: the
// monitor then listens to the kernel's events, and a node is a keyboard when
// its key capabilities in sysfs hold every key from Escape to D, the test
// udev itself applies.
#pragma once

#include "platform/linux/evdev_keyboard.hpp"
#include "platform/linux/input_context.hpp"
#include "ports/fd_watcher.hpp"
#include "ports/ports.hpp"

#include <map>
#include <memory>
#include <string>
#include <vector>

struct udev;
struct udev_device;
struct udev_monitor;

namespace chordwell::platform::lnx {

/// One keyboard as `chordwellctl keyboards` lists it.
struct KeyboardListing {
    KeyboardNodeInfo info;
    bool readable = false; // the current user may open the node
};

/// Every keyboard node attached now, in event-node order, Chordwell's own
/// virtual keyboard left out. Empty when udev cannot be used.
std::vector<KeyboardListing> listKeyboards();

/// Whether the udev daemon runs (its control socket exists).
bool udevDaemonRunning();

/// The keyboard description of a udev event node, or nothing when it is
/// not a keyboard event node or is Chordwell's virtual keyboard
/// (`ownSyspath` names that device's input node, when known).
std::optional<KeyboardNodeInfo> keyboardNodeInfo(udev_device* device,
                                                 const std::string& ownSyspath);

class UdevHidManager final : public HidManager {
public:
    /// `ownSyspath`: the input node of Chordwell's virtual keyboard.
    UdevHidManager(std::shared_ptr<InputContext> context, std::shared_ptr<FdWatcher> watcher,
                   Scheduler& scheduler, std::string ownSyspath);
    ~UdevHidManager() override;
    UdevHidManager(const UdevHidManager&) = delete;
    UdevHidManager& operator=(const UdevHidManager&) = delete;

    /// Only Generic Desktop / Keyboard (1, 6) is supported; any other
    /// matching finds nothing.
    void setDeviceMatching(std::uint32_t usagePage, std::uint32_t usage) override;
    void registerDeviceMatchingCallback(DeviceCallback callback, void* context) override;
    void registerDeviceRemovalCallback(DeviceCallback callback, void* context) override;
    int open() override;
    /// Starts the monitor and reports every keyboard attached now (from the
    /// main loop, right after the current work).
    void scheduleWithRunLoop() override;
    void unscheduleFromRunLoop() override;
    void close() override;
    /// Enumerates the keyboards again: those gone are reported removed, new
    /// ones matched (the monitor may have missed events while the machine
    /// slept).
    void recheckDevices() override;

    std::size_t deviceCount() const { return devices_.size(); }

private:
    void enumerate();
    void onMonitorReadable();
    void deviceAdded(udev_device* device);
    void deviceRemoved(const std::string& syspath);

    std::shared_ptr<InputContext> context_;
    std::shared_ptr<FdWatcher> watcher_;
    Scheduler& scheduler_;
    std::string ownSyspath_;
    bool matchKeyboards_ = false;
    DeviceCallback matched_ = nullptr;
    void* matchedContext_ = nullptr;
    DeviceCallback removed_ = nullptr;
    void* removedContext_ = nullptr;

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    FdWatcher::WatchId monitorWatch_ = 0;
    std::map<std::string, std::shared_ptr<EvdevKeyboard>> devices_; // by syspath
    std::shared_ptr<int> generation_ = std::make_shared<int>(0);
};

} // namespace chordwell::platform::lnx
