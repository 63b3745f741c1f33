#include "platform/macos/hid_manager.hpp"

#include "logging/log.hpp"

#include <IOKit/IOKitLib.h>
#include <IOKit/hid/IOHIDDevice.h>
#include <IOKit/hid/IOHIDElement.h>
#include <IOKit/hid/IOHIDKeys.h>
#include <IOKit/hid/IOHIDValue.h>

#include <unordered_map>

namespace chordwell::platform::mac {

namespace {

// The devices behind the contexts handed to IOKit (main thread only, like
// every HID callback). A context is never reused.
class DeviceContexts {
public:
    static std::uintptr_t add(MacHidDevice* device) {
        const std::uintptr_t context = next()++;
        table().emplace(context, device);
        return context;
    }
    static void remove(std::uintptr_t context) { table().erase(context); }
    static MacHidDevice* find(void* context) {
        auto it = table().find(reinterpret_cast<std::uintptr_t>(context));
        return it == table().end() ? nullptr : it->second;
    }

private:
    static std::unordered_map<std::uintptr_t, MacHidDevice*>& table() {
        static std::unordered_map<std::uintptr_t, MacHidDevice*> devices;
        return devices;
    }
    static std::uintptr_t& next() {
        static std::uintptr_t counter = 1;
        return counter;
    }
};

void* contextPointer(std::uintptr_t context) {
    return reinterpret_cast<void*>(context);
}

// Exceptions must not unwind through IOKit's C frames: the trampolines stop
// them here and leave a line in the log.
void reportCallbackFailure(const char* which) {
    log(LogLevel::error, std::string("HID ") + which + " callback failed with an exception.",
        "keyboard");
}

CFRef<CFNumberRef> makeNumber(std::uint32_t value) {
    const SInt32 signedValue = static_cast<SInt32>(value);
    return CFRef<CFNumberRef>::adopt(
        CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &signedValue));
}

} // namespace

// ------------------------------------------------------------------ device

MacHidDevice::MacHidDevice(IOHIDDeviceRef device)
    : device_(CFRef<IOHIDDeviceRef>::retain(device)), nativeContext_(DeviceContexts::add(this)) {}

MacHidDevice::~MacHidDevice() {
    // From here on a late call through IOKit's copy of the context finds
    // nothing. The removal is still asked for, so that a set that finds it
    // does not keep a dead entry.
    DeviceContexts::remove(nativeContext_);
    if (nativeRegistered_ && device_) {
        IOHIDDeviceRegisterInputValueCallback(device_.get(), nullptr,
                                              contextPointer(nativeContext_));
    }
    if (runLoop_ && device_) {
        IOHIDDeviceUnscheduleFromRunLoop(device_.get(), runLoop_.get(), kCFRunLoopCommonModes);
    }
}

std::int64_t MacHidDevice::standInLocation(std::uint64_t registryEntryID) {
    return static_cast<std::int64_t>((std::uint64_t{1} << 62) |
                                     (registryEntryID & ((std::uint64_t{1} << 62) - 1)));
}

std::optional<std::string> MacHidDevice::stringProperty(std::string_view key) const {
    CFRef<CFStringRef> cfKey = makeCFString(key);
    if (!cfKey || !device_) {
        return std::nullopt;
    }
    return stringValue(IOHIDDeviceGetProperty(device_.get(), cfKey.get()));
}

std::optional<std::int64_t> MacHidDevice::integerProperty(std::string_view key) const {
    CFRef<CFStringRef> cfKey = makeCFString(key);
    if (!cfKey || !device_) {
        return std::nullopt;
    }
    std::optional<std::int64_t> value =
        integerValue(IOHIDDeviceGetProperty(device_.get(), cfKey.get()));
    if (!value && key == kIOHIDLocationIDKey) {
        // Virtual keyboards (other remappers', test rigs) often report no
        // location; each still is a keyboard of its own.
        UInt64 entry = 0;
        if (IORegistryEntryGetRegistryEntryID(IOHIDDeviceGetService(device_.get()), &entry) ==
            KERN_SUCCESS) {
            value = standInLocation(entry);
        }
    }
    return value;
}

bool MacHidDevice::sameDevice(const HidDevice& other) const {
    if (&other == this) {
        return true;
    }
    const auto* mac = dynamic_cast<const MacHidDevice*>(&other);
    if (mac == nullptr || !device_ || !mac->device_) {
        return false;
    }
    return CFEqual(device_.get(), mac->device_.get());
}

void MacHidDevice::registerInputValueCallback(InputValueCallback callback, void* context) {
    if (!device_) {
        return;
    }
    if (callback == nullptr) {
        callback_ = nullptr;
        callbackContext_ = nullptr;
        if (nativeRegistered_) {
            // The same context that was registered: the set's equality looks
            // at nothing else. Should the removal miss, the trampoline still
            // ignores the calls, since no port callback is set.
            IOHIDDeviceRegisterInputValueCallback(device_.get(), nullptr,
                                                  contextPointer(nativeContext_));
            nativeRegistered_ = false;
        }
        return;
    }
    callback_ = callback;
    callbackContext_ = context;
    // Registering the same record again adds nothing to the set.
    IOHIDDeviceRegisterInputValueCallback(device_.get(), &MacHidDevice::inputValueTrampoline,
                                          contextPointer(nativeContext_));
    nativeRegistered_ = true;
}

void MacHidDevice::scheduleWithRunLoop() {
    if (!device_) {
        return;
    }
    CFRef<CFRunLoopRef> current = CFRef<CFRunLoopRef>::retain(CFRunLoopGetCurrent());
    if (runLoop_ && runLoop_.get() != current.get()) {
        IOHIDDeviceUnscheduleFromRunLoop(device_.get(), runLoop_.get(), kCFRunLoopCommonModes);
    }
    IOHIDDeviceScheduleWithRunLoop(device_.get(), current.get(), kCFRunLoopCommonModes);
    runLoop_ = std::move(current);
}

void MacHidDevice::unscheduleFromRunLoop() {
    if (!device_) {
        return;
    }
    // The port's contract is "the current run loop"; the one the device was
    // scheduled on is the same thread's in practice, and the only correct
    // choice otherwise.
    CFRunLoopRef loop = runLoop_ ? runLoop_.get() : CFRunLoopGetCurrent();
    IOHIDDeviceUnscheduleFromRunLoop(device_.get(), loop, kCFRunLoopCommonModes);
    runLoop_.reset();
}

void MacHidDevice::inputValueTrampoline(void* context, IOReturn /*result*/, void* /*sender*/,
                                        IOHIDValueRef value) {
    MacHidDevice* self = DeviceContexts::find(context);
    if (self == nullptr || self->callback_ == nullptr || value == nullptr) {
        return;
    }
    IOHIDElementRef element = IOHIDValueGetElement(value);
    if (element == nullptr) {
        return;
    }
    HidInputValue input;
    input.usagePage = IOHIDElementGetUsagePage(element);
    input.usage = IOHIDElementGetUsage(element);
    input.integerValue = static_cast<std::int64_t>(IOHIDValueGetIntegerValue(value));
    try {
        self->callback_(self->callbackContext_, *self, input);
    } catch (...) {
        reportCallbackFailure("input-value");
    }
}

// ----------------------------------------------------------------- manager

MacHidManager::MacHidManager()
    : manager_(CFRef<IOHIDManagerRef>::adopt(
          IOHIDManagerCreate(kCFAllocatorDefault, kIOHIDOptionsTypeNone))) {
    if (!manager_) {
        log(LogLevel::error, "IOHIDManagerCreate failed; no keyboards can be discovered.",
            "keyboard");
    }
}

MacHidManager::~MacHidManager() {
    if (!manager_) {
        return;
    }
    // Undo every registration that carries `this` before it becomes invalid.
    IOHIDManagerRegisterDeviceMatchingCallback(manager_.get(), nullptr, nullptr);
    IOHIDManagerRegisterDeviceRemovalCallback(manager_.get(), nullptr, nullptr);
    if (runLoop_) {
        IOHIDManagerUnscheduleFromRunLoop(manager_.get(), runLoop_.get(), kCFRunLoopCommonModes);
    }
    if (open_) {
        IOHIDManagerClose(manager_.get(), kIOHIDOptionsTypeNone);
    }
}

void MacHidManager::setDeviceMatching(std::uint32_t usagePage, std::uint32_t usage) {
    if (!manager_) {
        return;
    }
    CFRef<CFMutableDictionaryRef> matching = CFRef<CFMutableDictionaryRef>::adopt(
        CFDictionaryCreateMutable(kCFAllocatorDefault, 2, &kCFTypeDictionaryKeyCallBacks,
                                  &kCFTypeDictionaryValueCallBacks));
    CFRef<CFNumberRef> page = makeNumber(usagePage);
    CFRef<CFNumberRef> use = makeNumber(usage);
    if (!matching || !page || !use) {
        log(LogLevel::error, "Could not build the HID matching dictionary.", "keyboard");
        return;
    }
    CFDictionarySetValue(matching.get(), CFSTR(kIOHIDDeviceUsagePageKey), page.get());
    CFDictionarySetValue(matching.get(), CFSTR(kIOHIDDeviceUsageKey), use.get());
    IOHIDManagerSetDeviceMatching(manager_.get(), matching.get());
}

void MacHidManager::registerDeviceMatchingCallback(DeviceCallback callback, void* context) {
    if (!manager_) {
        return;
    }
    matchingCallback_ = callback;
    matchingContext_ = callback != nullptr ? context : nullptr;
    if (callback == nullptr) {
        IOHIDManagerRegisterDeviceMatchingCallback(manager_.get(), nullptr, nullptr);
    } else {
        IOHIDManagerRegisterDeviceMatchingCallback(manager_.get(),
                                                   &MacHidManager::matchingTrampoline, this);
    }
}

void MacHidManager::registerDeviceRemovalCallback(DeviceCallback callback, void* context) {
    if (!manager_) {
        return;
    }
    removalCallback_ = callback;
    removalContext_ = callback != nullptr ? context : nullptr;
    if (callback == nullptr) {
        IOHIDManagerRegisterDeviceRemovalCallback(manager_.get(), nullptr, nullptr);
    } else {
        IOHIDManagerRegisterDeviceRemovalCallback(manager_.get(), &MacHidManager::removalTrampoline,
                                                  this);
    }
}

int MacHidManager::open() {
    if (!manager_) {
        return kIOReturnNoMemory;
    }
    const IOReturn result = IOHIDManagerOpen(manager_.get(), kIOHIDOptionsTypeNone);
    // The manager counts as open whatever the result: IOHIDManagerOpen
    // reports a failure when one device refuses (for example without Input
    // Monitoring) while the others are open, and closing is always allowed.
    open_ = true;
    return static_cast<int>(result);
}

void MacHidManager::scheduleWithRunLoop() {
    if (!manager_) {
        return;
    }
    CFRef<CFRunLoopRef> current = CFRef<CFRunLoopRef>::retain(CFRunLoopGetCurrent());
    if (runLoop_) {
        if (runLoop_.get() == current.get()) {
            return;
        }
        IOHIDManagerUnscheduleFromRunLoop(manager_.get(), runLoop_.get(), kCFRunLoopCommonModes);
    }
    IOHIDManagerScheduleWithRunLoop(manager_.get(), current.get(), kCFRunLoopCommonModes);
    runLoop_ = std::move(current);
}

void MacHidManager::unscheduleFromRunLoop() {
    if (!manager_ || !runLoop_) {
        return;
    }
    IOHIDManagerUnscheduleFromRunLoop(manager_.get(), runLoop_.get(), kCFRunLoopCommonModes);
    runLoop_.reset();
}

void MacHidManager::close() {
    if (!manager_ || !open_) {
        return;
    }
    IOHIDManagerClose(manager_.get(), kIOHIDOptionsTypeNone);
    open_ = false;
}

HidDeviceRef MacHidManager::wrapperFor(IOHIDDeviceRef device) {
    return devices_.findOrCreate(device, [device] {
        return std::static_pointer_cast<HidDevice>(std::make_shared<MacHidDevice>(device));
    });
}

void MacHidManager::matchingTrampoline(void* context, IOReturn result, void* /*sender*/,
                                       IOHIDDeviceRef device) {
    auto* self = static_cast<MacHidManager*>(context);
    if (self == nullptr || device == nullptr || self->matchingCallback_ == nullptr) {
        return;
    }
    try {
        HidDeviceRef wrapper = self->wrapperFor(device);
        self->matchingCallback_(self->matchingContext_, static_cast<int>(result), wrapper);
    } catch (...) {
        reportCallbackFailure("device-matching");
    }
}

void MacHidManager::removalTrampoline(void* context, IOReturn result, void* /*sender*/,
                                      IOHIDDeviceRef device) {
    auto* self = static_cast<MacHidManager*>(context);
    if (self == nullptr || device == nullptr) {
        return;
    }
    try {
        // The wrapper the engine already holds when there is one, so that its
        // identity checks succeed; a fresh one for a device it never saw.
        HidDeviceRef wrapper = self->wrapperFor(device);
        if (self->removalCallback_ != nullptr) {
            self->removalCallback_(self->removalContext_, static_cast<int>(result), wrapper);
        }
        self->devices_.forget(device);
    } catch (...) {
        reportCallbackFailure("device-removal");
    }
}

} // namespace chordwell::platform::mac
