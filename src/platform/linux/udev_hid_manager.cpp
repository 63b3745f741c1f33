#include "platform/linux/udev_hid_manager.hpp"

#include "logging/log.hpp"
#include "platform/linux/device_identity.hpp"

#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace chordwell::platform::lnx {

namespace {

constexpr const char* kCategory = "keyboard";

std::string text(const char* s) {
    return s != nullptr ? std::string(s) : std::string();
}

std::string sysattr(udev_device* device, const char* name) {
    return text(udev_device_get_sysattr_value(device, name));
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// "event12" -> 12; other names sort last.
long eventNumber(std::string_view sysname) {
    if (!startsWith(sysname, "event")) {
        return -1;
    }
    const std::string digits(sysname.substr(5));
    char* end = nullptr;
    const long n = std::strtol(digits.c_str(), &end, 10);
    return (end != nullptr && *end == '\0' && !digits.empty()) ? n : -1;
}

// Keyboard node paths under `udev`, in event-node order.
std::vector<std::string> enumerateEventNodes(udev* context) {
    std::vector<std::pair<long, std::string>> found;
    udev_enumerate* enumerate = udev_enumerate_new(context);
    if (enumerate == nullptr) {
        return {};
    }
    udev_enumerate_add_match_subsystem(enumerate, "input");
    udev_enumerate_add_match_sysname(enumerate, "event*");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        const std::string path = text(udev_list_entry_get_name(entry));
        const auto slash = path.rfind('/');
        const std::string sysname = slash == std::string::npos ? path : path.substr(slash + 1);
        found.emplace_back(eventNumber(sysname), path);
    }
    udev_enumerate_unref(enumerate);
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (auto& [number, path] : found) {
        paths.push_back(std::move(path));
    }
    return paths;
}

} // namespace

bool udevDaemonRunning() {
    return ::access("/run/udev/control", F_OK) == 0;
}

std::optional<KeyboardNodeInfo> keyboardNodeInfo(udev_device* device,
                                                 const std::string& ownSyspath) {
    if (device == nullptr || eventNumber(text(udev_device_get_sysname(device))) < 0) {
        return std::nullopt;
    }
    const char* devnode = udev_device_get_devnode(device);
    udev_device* input = udev_device_get_parent_with_subsystem_devtype(device, "input", nullptr);
    if (devnode == nullptr || input == nullptr) {
        return std::nullopt;
    }
    KeyboardNodeInfo info;
    info.syspath = text(udev_device_get_syspath(device));
    info.devnode = devnode;
    info.name = sysattr(input, "name");
    info.phys = sysattr(input, "phys");
    info.uniq = sysattr(input, "uniq");
    info.bus = parseHexAttribute(sysattr(input, "id/bustype"));
    info.vendor = parseHexAttribute(sysattr(input, "id/vendor"));
    info.product = parseHexAttribute(sysattr(input, "id/product"));
    if ((!ownSyspath.empty() && text(udev_device_get_syspath(input)) == ownSyspath) ||
        isOwnVirtualKeyboard(info.name, info.bus, info.vendor, info.product)) {
        return std::nullopt;
    }
    if (udev_device_get_property_value(device, "ID_INPUT") != nullptr) {
        // udev classified the device: trust it.
        if (text(udev_device_get_property_value(device, "ID_INPUT_KEYBOARD")) != "1") {
            return std::nullopt;
        }
    } else {
        // No udev database: apply udev's own keyboard test to sysfs.
        constexpr unsigned kWordBits = sizeof(long) * 8;
        if (!bitmapHasBit(sysattr(input, "capabilities/ev"), 1 /* EV_KEY */, kWordBits) ||
            !keyBitmapLooksLikeKeyboard(sysattr(input, "capabilities/key"), kWordBits)) {
            return std::nullopt;
        }
    }
    info.idPath = text(udev_device_get_property_value(device, "ID_PATH"));
    if (info.idPath.empty()) {
        info.idPath = text(udev_device_get_property_value(input, "ID_PATH"));
    }
    info.location = locationIdFromKey(
        locationKey(info.idPath, info.phys, info.uniq, text(udev_device_get_syspath(input))));
    return info;
}

std::vector<KeyboardListing> listKeyboards() {
    std::vector<KeyboardListing> result;
    udev* context = udev_new();
    if (context == nullptr) {
        return result;
    }
    for (const std::string& path : enumerateEventNodes(context)) {
        udev_device* device = udev_device_new_from_syspath(context, path.c_str());
        if (auto info = keyboardNodeInfo(device, "")) {
            const bool readable = ::access(info->devnode.c_str(), R_OK) == 0;
            result.push_back(KeyboardListing{std::move(*info), readable});
        }
        if (device != nullptr) {
            udev_device_unref(device);
        }
    }
    udev_unref(context);
    return result;
}

// ---------------------------------------------------------- UdevHidManager

UdevHidManager::UdevHidManager(std::shared_ptr<InputContext> context,
                               std::shared_ptr<FdWatcher> watcher, Scheduler& scheduler,
                               std::string ownSyspath)
    : context_(std::move(context)), watcher_(std::move(watcher)), scheduler_(scheduler),
      ownSyspath_(std::move(ownSyspath)) {}

UdevHidManager::~UdevHidManager() {
    close();
}

void UdevHidManager::setDeviceMatching(std::uint32_t usagePage, std::uint32_t usage) {
    matchKeyboards_ = usagePage == 1 && usage == 6;
}

void UdevHidManager::registerDeviceMatchingCallback(DeviceCallback callback, void* context) {
    matched_ = callback;
    matchedContext_ = callback != nullptr ? context : nullptr;
}

void UdevHidManager::registerDeviceRemovalCallback(DeviceCallback callback, void* context) {
    removed_ = callback;
    removedContext_ = callback != nullptr ? context : nullptr;
}

int UdevHidManager::open() {
    if (udev_ == nullptr) {
        udev_ = udev_new();
    }
    if (udev_ == nullptr) {
        log(LogLevel::error, "Cannot use udev: keyboards cannot be discovered.", kCategory);
        return -1;
    }
    return 0;
}

void UdevHidManager::scheduleWithRunLoop() {
    if (udev_ == nullptr || monitor_ != nullptr) {
        return;
    }
    // The monitor first, so that nothing plugged in during the enumeration
    // is missed; a keyboard seen twice is reported once.
    const bool daemon = udevDaemonRunning();
    monitor_ = udev_monitor_new_from_netlink(udev_, daemon ? "udev" : "kernel");
    if (monitor_ != nullptr) {
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr);
        if (udev_monitor_enable_receiving(monitor_) == 0) {
            monitorWatch_ = watcher_->watchReadable(udev_monitor_get_fd(monitor_),
                                                    [this] { onMonitorReadable(); });
        } else {
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
        }
    }
    if (monitor_ == nullptr) {
        log(LogLevel::warning,
            "Cannot watch for keyboards being plugged in or out; only those attached now are "
            "listed.",
            kCategory);
    } else if (!daemon) {
        log(LogLevel::info, "The udev daemon is not running; watching the kernel's device events.",
            kCategory);
    }
    const std::weak_ptr<int> generation = generation_;
    const int expected = *generation_;
    scheduler_.postToMain([this, generation, expected] {
        const auto current = generation.lock();
        if (current && *current == expected) {
            enumerate();
        }
    });
}

void UdevHidManager::unscheduleFromRunLoop() {
    ++*generation_; // a pending enumeration is dropped
    if (monitorWatch_ != 0) {
        watcher_->unwatch(monitorWatch_);
        monitorWatch_ = 0;
    }
    if (monitor_ != nullptr) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }
}

void UdevHidManager::close() {
    unscheduleFromRunLoop();
    for (auto& [path, device] : devices_) {
        device->unscheduleFromRunLoop();
    }
    devices_.clear();
    if (udev_ != nullptr) {
        udev_unref(udev_);
        udev_ = nullptr;
    }
}

void UdevHidManager::enumerate() {
    for (const std::string& path : enumerateEventNodes(udev_)) {
        udev_device* device = udev_device_new_from_syspath(udev_, path.c_str());
        if (device != nullptr) {
            deviceAdded(device);
            udev_device_unref(device);
        }
    }
}

void UdevHidManager::recheckDevices() {
    if (udev_ == nullptr || monitor_ == nullptr) {
        return; // never scheduled, or closed
    }
    const std::vector<std::string> present = enumerateEventNodes(udev_);
    std::vector<std::string> gone;
    for (const auto& [path, device] : devices_) {
        if (std::find(present.begin(), present.end(), path) == present.end()) {
            gone.push_back(path);
        }
    }
    for (const std::string& path : gone) {
        deviceRemoved(path);
    }
    enumerate(); // what is known already is not reported again
}

void UdevHidManager::onMonitorReadable() {
    while (monitor_ != nullptr) {
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (device == nullptr) {
            return;
        }
        const std::string action = text(udev_device_get_action(device));
        if (action == "add" || action == "change") {
            deviceAdded(device);
        } else if (action == "remove") {
            deviceRemoved(text(udev_device_get_syspath(device)));
        }
        udev_device_unref(device);
    }
}

void UdevHidManager::deviceAdded(udev_device* device) {
    if (!matchKeyboards_) {
        return;
    }
    auto info = keyboardNodeInfo(device, ownSyspath_);
    if (!info || devices_.count(info->syspath) != 0) {
        return;
    }
    if (::access(info->devnode.c_str(), R_OK) != 0) {
        context_->reportProblem(PlatformProblem::cannotReadKeyboards, info->devnode);
    }
    auto keyboard = std::make_shared<EvdevKeyboard>(std::move(*info), context_, watcher_);
    devices_.emplace(keyboard->info().syspath, keyboard);
    context_->registerKeyboard(*keyboard); // it unregisters itself when it goes
    if (matched_ != nullptr) {
        const HidDeviceRef ref = keyboard;
        matched_(matchedContext_, 0, ref);
    }
}

void UdevHidManager::deviceRemoved(const std::string& syspath) {
    auto it = devices_.find(syspath);
    if (it == devices_.end()) {
        return;
    }
    const std::shared_ptr<EvdevKeyboard> keyboard = it->second;
    devices_.erase(it);
    keyboard->deviceRemoved();
    if (removed_ != nullptr) {
        const HidDeviceRef ref = keyboard;
        removed_(removedContext_, 0, ref);
    }
}

} // namespace chordwell::platform::lnx
