// IOKit HID adapters of the HidManager and HidDevice ports. macOS only.
//
// The manager's native callbacks receive the adapter itself as an unretained
// context: IOHIDManager keeps one slot per callback kind, so registering NULL
// before the adapter goes away reliably ends them. A device is different:
// IOHIDDevice keeps its input-value callbacks in a set that a removal may not
// find (it hashes the callback too, which a removal passes as NULL), and a
// drain that has begun calls every callback it started with. So a device's
// context is a number looked up in a table, never an address: once the
// wrapper is gone, or unregistered, a late call finds nothing and returns.
#pragma once

#include "platform/macos/cf_ref.hpp"
#include "platform/macos/handle_registry.hpp"
#include "ports/ports.hpp"

#include <IOKit/hid/IOHIDManager.h>

#include <cstdint>
#include <memory>

namespace chordwell::platform::mac {

/// One attached HID device. The same object stands for one IOHIDDeviceRef
/// from its matching to its removal (see HandleRegistry).
class MacHidDevice final : public HidDevice {
public:
    /// Retains `device` for the lifetime of the wrapper.
    explicit MacHidDevice(IOHIDDeviceRef device);
    /// The stand-in "LocationID" of a device that reports none: derived from
    /// its registry entry, so that two such keyboards never share one
    /// location (and collapse into one entry). Above every 32-bit location.
    static std::int64_t standInLocation(std::uint64_t registryEntryID);
    ~MacHidDevice() override;

    MacHidDevice(const MacHidDevice&) = delete;
    MacHidDevice& operator=(const MacHidDevice&) = delete;

    std::optional<std::string> stringProperty(std::string_view key) const override;
    std::optional<std::int64_t> integerProperty(std::string_view key) const override;
    bool sameDevice(const HidDevice& other) const override;

    void registerInputValueCallback(InputValueCallback callback, void* context) override;
    void scheduleWithRunLoop() override;
    void unscheduleFromRunLoop() override;

    IOHIDDeviceRef nativeDevice() const { return device_.get(); }

private:
    static void inputValueTrampoline(void* context, IOReturn result, void* sender,
                                     IOHIDValueRef value);

    CFRef<IOHIDDeviceRef> device_;
    InputValueCallback callback_ = nullptr;
    void* callbackContext_ = nullptr;
    /// What IOKit gets as the context of this device's input-value callback.
    std::uintptr_t nativeContext_ = 0;
    bool nativeRegistered_ = false;
    /// The run loop the device was scheduled on (unscheduled from the same).
    CFRef<CFRunLoopRef> runLoop_;
};

class MacHidManager final : public HidManager {
public:
    /// IOHIDManagerCreate(kCFAllocatorDefault, 0). Should creation fail, the
    /// adapter stays inert: open() reports kIOReturnNoMemory and nothing is
    /// ever matched.
    MacHidManager();
    ~MacHidManager() override;

    MacHidManager(const MacHidManager&) = delete;
    MacHidManager& operator=(const MacHidManager&) = delete;

    void setDeviceMatching(std::uint32_t usagePage, std::uint32_t usage) override;
    void registerDeviceMatchingCallback(DeviceCallback callback, void* context) override;
    void registerDeviceRemovalCallback(DeviceCallback callback, void* context) override;
    int open() override;
    void scheduleWithRunLoop() override;
    void unscheduleFromRunLoop() override;
    void close() override;

private:
    static void matchingTrampoline(void* context, IOReturn result, void* sender,
                                   IOHIDDeviceRef device);
    static void removalTrampoline(void* context, IOReturn result, void* sender,
                                  IOHIDDeviceRef device);

    HidDeviceRef wrapperFor(IOHIDDeviceRef device);

    CFRef<IOHIDManagerRef> manager_;
    DeviceCallback matchingCallback_ = nullptr;
    void* matchingContext_ = nullptr;
    DeviceCallback removalCallback_ = nullptr;
    void* removalContext_ = nullptr;
    CFRef<CFRunLoopRef> runLoop_;
    bool open_ = false;
    HandleRegistry<IOHIDDeviceRef, HidDevice> devices_;
};

} // namespace chordwell::platform::mac
