// IOKit HID in the model, after IOKitUser's IOHIDManager.c and IOHIDDevice.c:
//  - the manager matches devices when its matching is set, and reports the
//    initial matches through a version-0 source once scheduled; later
//    arrivals and removals come as messages of its notification port, and a
//    removal is reported before the device leaves the manager's set;
//  - one slot per callback kind: registering again replaces it;
//  - a device keeps its input-value callbacks in a set whose equality looks at
//    the context only (removal: a NULL callback with the same context), and a
//    message of its queue port drains every queued value to every callback
//    registered when the drain began;
//  - without Input Monitoring, opening a device fails and it delivers nothing.
#include "model_internal.hpp"

#include <algorithm>

namespace applemodel {

namespace {

AppleModelString* propertyKey(const char* key) {
    return const_cast<AppleModelString*>(AppleModelConstantString(key));
}

void setNumber(AppleModelDictionary* d, const char* key, std::int64_t value) {
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt64Type, &value);
    CFDictionarySetValue(d, propertyKey(key), number);
    CFRelease(number);
}

bool matches(const AppleModelHIDManager& manager, const Keyboard& keyboard) {
    if (!manager.matchingSet) {
        return false;
    }
    return (!manager.usagePage || *manager.usagePage == keyboard.traits.usagePage) &&
           (!manager.usage || *manager.usage == keyboard.traits.usage);
}

IOReturn openDevice(AppleModelHIDDevice& device) {
    ++device.openCount;
    device.openResult =
        state().listenAccess == kIOHIDAccessTypeGranted ? kIOReturnSuccess : kIOReturnNotPermitted;
    return device.openResult;
}

void closeDevice(AppleModelHIDDevice& device) {
    if (device.openCount > 0) {
        --device.openCount;
    }
}

void scheduleDevice(AppleModelHIDDevice& device, const std::string& mode) {
    schedulePort(device.queuePort, mode);
}

void unscheduleDevice(AppleModelHIDDevice& device) {
    unschedulePort(device.queuePort);
    // The queue stops: what it held is gone.
    device.queuePort.queue.clear();
    device.values.clear();
}

void addToSet(AppleModelHIDManager& manager, AppleModelHIDDevice* device) {
    if (std::find(manager.devices.begin(), manager.devices.end(), device) ==
        manager.devices.end()) {
        retainObject(device);
        manager.devices.push_back(device);
    }
}

void removeFromSet(AppleModelHIDManager& manager, AppleModelHIDDevice* device) {
    auto it = std::find(manager.devices.begin(), manager.devices.end(), device);
    if (it != manager.devices.end()) {
        manager.devices.erase(it);
        releaseObject(device);
    }
}

void initialEnumeration(void* info) {
    auto* manager = static_cast<AppleModelHIDManager*>(info);
    if (manager->dead) {
        fault("initial HID enumeration ran for a released manager");
        return;
    }
    retainObject(manager);
    const auto devices = manager->initialDevices;
    manager->initialDevices.clear();
    if (manager->matchCallback != nullptr) {
        for (AppleModelHIDDevice* device : devices) {
            manager->matchCallback(manager->matchContext, device->openResult, manager, device);
        }
    }
    for (AppleModelHIDDevice* device : devices) {
        releaseObject(device);
    }
    if (manager->initialEnumSource != nullptr) {
        auto* source = manager->initialEnumSource;
        manager->initialEnumSource = nullptr;
        invalidateSource(source);
        releaseObject(source);
    }
    releaseObject(manager);
}

void drainQueue(AppleModelHIDDevice* device) {
    State& s = state();
    if (device->dead || device->values.empty()) {
        return;
    }
    retainObject(device);
    // The set as it stood when the drain began: a registration removed by a
    // callback is still called for the rest of the drain, as in IOKit.
    const auto registrations = device->inputValueCallbacks;
    while (!device->values.empty() && device->values.front().readyAt <= s.now &&
           device->values.front().readyTurn <= s.turn) {
        const AppleModelHIDDevice::QueuedValue queued = device->values.front();
        device->values.pop_front();
        const std::uint32_t key = (queued.usagePage << 16) | (queued.usage & 0xFFFF);
        AppleModelHIDElement*& element = device->elements[key];
        if (element == nullptr) {
            element = make<AppleModelHIDElement>();
            element->usagePage = queued.usagePage;
            element->usage = queued.usage;
            element->device = device;
        }
        auto* value = make<AppleModelHIDValue>();
        value->element = element;
        retainObject(element);
        value->integer = queued.integer;
        value->timeStamp = static_cast<std::uint64_t>(s.now.count());
        for (const auto& registration : registrations) {
            const bool stillThere = std::any_of(
                device->inputValueCallbacks.begin(), device->inputValueCallbacks.end(),
                [&](const auto& r) {
                    return r.context == registration.context && r.callback == registration.callback;
                });
            if (!stillThere) {
                ++s.stats.callsThroughRemovedRegistrations;
            }
            ++s.stats.inputValuesDelivered;
            registration.callback(registration.context, kIOReturnSuccess, device, value);
        }
        releaseObject(value);
    }
    releaseObject(device);
}

} // namespace

AppleModelHIDDevice* createDevice(Keyboard& keyboard) {
    auto* device = make<AppleModelHIDDevice>();
    device->keyboard = keyboard.id;
    device->registryID = keyboard.registryID;
    device->queuePort.name = "IOHIDQueue";
    device->properties = make<AppleModelDictionary>();
    const KeyboardTraits& traits = keyboard.traits;
    if (traits.product) {
        CFStringRef product =
            CFStringCreateWithCString(nullptr, traits.product->c_str(), kCFStringEncodingUTF8);
        if (product != nullptr) {
            CFDictionarySetValue(device->properties, propertyKey(kIOHIDProductKey), product);
            CFRelease(product);
        }
    }
    if (traits.vendorID) {
        setNumber(device->properties, kIOHIDVendorIDKey, *traits.vendorID);
    }
    if (traits.productID) {
        setNumber(device->properties, kIOHIDProductIDKey, *traits.productID);
    }
    if (traits.locationID) {
        setNumber(device->properties, kIOHIDLocationIDKey, *traits.locationID);
    }
    setNumber(device->properties, kIOHIDPrimaryUsagePageKey, traits.usagePage);
    setNumber(device->properties, kIOHIDPrimaryUsageKey, traits.usage);
    return device;
}

void deviceArrived(Keyboard& keyboard) {
    State& s = state();
    for (AppleModelHIDManager* manager : s.managers) {
        if (!matches(*manager, keyboard)) {
            continue;
        }
        AppleModelHIDDevice* device = keyboard.device;
        auto held = hold({device});
        postMessage(manager->notifyPort, s.now, s.turn, [manager, device, held] {
            if (!manager->dead) {
                addToSet(*manager, device);
                if (manager->open) {
                    (void)openDevice(*device);
                }
                if (manager->scheduled) {
                    scheduleDevice(*device, manager->mode);
                }
                if (manager->matchCallback != nullptr) {
                    manager->matchCallback(manager->matchContext, device->openResult, manager,
                                           device);
                }
            }
        });
    }
}

void deviceRemoved(Keyboard& keyboard) {
    State& s = state();
    for (AppleModelHIDManager* manager : s.managers) {
        AppleModelHIDDevice* device = keyboard.device;
        if (std::find(manager->devices.begin(), manager->devices.end(), device) ==
                manager->devices.end() &&
            !matches(*manager, keyboard)) {
            continue;
        }
        auto held = hold({device});
        postMessage(manager->notifyPort, s.now, s.turn, [manager, device, held] {
            const bool inSet =
                !manager->dead && std::find(manager->devices.begin(), manager->devices.end(),
                                            device) != manager->devices.end();
            if (inSet) {
                // Reported while the device is still in the manager's set.
                if (manager->removalCallback != nullptr) {
                    manager->removalCallback(manager->removalContext, kIOReturnSuccess, manager,
                                             device);
                }
                removeFromSet(*manager, device);
            }
        });
    }
}

void queueInputValue(AppleModelHIDDevice& device, std::uint32_t page, std::uint32_t usage,
                     CFIndex value, Duration readyAt, std::uint64_t readyTurn,
                     std::optional<std::uint64_t> seq) {
    // Values flow only into a queue that exists, runs and may be read.
    if (!device.queueCreated || !device.queuePort.scheduled() || device.openCount == 0 ||
        device.openResult != kIOReturnSuccess) {
        return;
    }
    device.values.push_back(
        AppleModelHIDDevice::QueuedValue{page, usage, value, readyAt, readyTurn});
    AppleModelHIDDevice* d = &device;
    postMessage(
        device.queuePort, readyAt, readyTurn, [d] { drainQueue(d); }, seq);
}

void dropManager(AppleModelHIDManager* manager) {
    std::erase(state().managers, manager);
}

} // namespace applemodel

using applemodel::Kind;
using applemodel::use;

// ------------------------------------------------------------------ device

void AppleModelHIDDevice::finalize() {
    applemodel::unschedulePort(queuePort);
    queuePort.queue.clear();
    values.clear();
    for (auto& [key, element] : elements) {
        element->device = nullptr;
        applemodel::releaseObject(element);
    }
    elements.clear();
    applemodel::releaseObject(properties);
    properties = nullptr;
}

std::string AppleModelHIDDevice::describe() const {
    return "IOHIDDevice #" + std::to_string(keyboard);
}

void AppleModelHIDValue::finalize() {
    applemodel::releaseObject(element);
    element = nullptr;
}

CFTypeID IOHIDDeviceGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::hidDevice);
}

io_service_t IOHIDDeviceGetService(IOHIDDeviceRef device) {
    auto* d = use<AppleModelHIDDevice>(device, Kind::hidDevice, "IOHIDDeviceGetService");
    return d == nullptr ? MACH_PORT_NULL : static_cast<io_service_t>(d->keyboard);
}

kern_return_t IORegistryEntryGetRegistryEntryID(io_registry_entry_t entry, UInt64* entryID) {
    for (const auto& keyboard : applemodel::state().keyboards) {
        if (keyboard->id == entry) {
            if (entryID != nullptr) {
                *entryID = keyboard->registryID;
            }
            return kIOReturnSuccess;
        }
    }
    return kIOReturnNoDevice;
}

IOReturn IOHIDDeviceOpen(IOHIDDeviceRef device, IOOptionBits) {
    auto* d = use<AppleModelHIDDevice>(device, Kind::hidDevice, "IOHIDDeviceOpen");
    return d == nullptr ? kIOReturnError : applemodel::openDevice(*d);
}

IOReturn IOHIDDeviceClose(IOHIDDeviceRef device, IOOptionBits) {
    auto* d = use<AppleModelHIDDevice>(device, Kind::hidDevice, "IOHIDDeviceClose");
    if (d == nullptr) {
        return kIOReturnError;
    }
    if (d->openCount == 0) {
        return kIOReturnNotOpen;
    }
    applemodel::closeDevice(*d);
    return kIOReturnSuccess;
}

CFTypeRef IOHIDDeviceGetProperty(IOHIDDeviceRef device, CFStringRef key) {
    auto* d = use<AppleModelHIDDevice>(device, Kind::hidDevice, "IOHIDDeviceGetProperty");
    if (d == nullptr || use(key, "IOHIDDeviceGetProperty (key)") == nullptr) {
        return nullptr;
    }
    return CFDictionaryGetValue(d->properties, key);
}

void IOHIDDeviceScheduleWithRunLoop(IOHIDDeviceRef device, CFRunLoopRef runLoop,
                                    CFStringRef runLoopMode) {
    auto* d = use<AppleModelHIDDevice>(device, Kind::hidDevice, "IOHIDDeviceScheduleWithRunLoop");
    if (d == nullptr || use(runLoop, "IOHIDDeviceScheduleWithRunLoop (run loop)") == nullptr) {
        return;
    }
    if (d->queuePort.scheduled()) {
        applemodel::unscheduleDevice(*d);
    }
    applemodel::scheduleDevice(*d, applemodel::modeName(runLoopMode));
}

void IOHIDDeviceUnscheduleFromRunLoop(IOHIDDeviceRef device, CFRunLoopRef, CFStringRef) {
    auto* d = use<AppleModelHIDDevice>(device, Kind::hidDevice, "IOHIDDeviceUnscheduleFromRunLoop");
    if (d != nullptr && d->queuePort.scheduled()) {
        applemodel::unscheduleDevice(*d);
    }
}

void IOHIDDeviceRegisterInputValueCallback(IOHIDDeviceRef device, IOHIDValueCallback callback,
                                           void* context) {
    auto* d =
        use<AppleModelHIDDevice>(device, Kind::hidDevice, "IOHIDDeviceRegisterInputValueCallback");
    if (d == nullptr) {
        return;
    }
    auto& set = d->inputValueCallbacks;
    const bool byContext = applemodel::state().lookup == applemodel::CallbackSetLookup::byContext;
    // Where the lookup lands: the entry with this context, when the record
    // hashes to it (always by context; with the whole record only when the
    // callback is the same too).
    auto found = std::find_if(set.begin(), set.end(), [&](const auto& r) {
        return r.context == context && (byContext || r.callback == callback);
    });
    if (callback != nullptr) {
        d->queueCreated = true;
        if (found == set.end()) {
            set.push_back({context, callback});
        }
        return;
    }
    if (found != set.end()) {
        set.erase(found);
    }
}

// ---------------------------------------------------------- elements, values

CFTypeID IOHIDElementGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::hidElement);
}

uint32_t IOHIDElementGetUsagePage(IOHIDElementRef element) {
    auto* e = use<AppleModelHIDElement>(element, Kind::hidElement, "IOHIDElementGetUsagePage");
    return e == nullptr ? 0 : e->usagePage;
}

uint32_t IOHIDElementGetUsage(IOHIDElementRef element) {
    auto* e = use<AppleModelHIDElement>(element, Kind::hidElement, "IOHIDElementGetUsage");
    return e == nullptr ? 0 : e->usage;
}

IOHIDDeviceRef IOHIDElementGetDevice(IOHIDElementRef element) {
    auto* e = use<AppleModelHIDElement>(element, Kind::hidElement, "IOHIDElementGetDevice");
    return e == nullptr ? nullptr : e->device;
}

CFTypeID IOHIDValueGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::hidValue);
}

IOHIDElementRef IOHIDValueGetElement(IOHIDValueRef value) {
    auto* v = use<AppleModelHIDValue>(value, Kind::hidValue, "IOHIDValueGetElement");
    return v == nullptr ? nullptr : v->element;
}

CFIndex IOHIDValueGetIntegerValue(IOHIDValueRef value) {
    auto* v = use<AppleModelHIDValue>(value, Kind::hidValue, "IOHIDValueGetIntegerValue");
    return v == nullptr ? 0 : v->integer;
}

uint64_t IOHIDValueGetTimeStamp(IOHIDValueRef value) {
    auto* v = use<AppleModelHIDValue>(value, Kind::hidValue, "IOHIDValueGetTimeStamp");
    return v == nullptr ? 0 : v->timeStamp;
}

// ----------------------------------------------------------------- manager

void AppleModelHIDManager::finalize() {
    // What the last release of an IOHIDManager undoes.
    applemodel::dropManager(this);
    if (scheduled) {
        applemodel::unschedulePort(notifyPort);
        for (AppleModelHIDDevice* device : devices) {
            applemodel::unscheduleDevice(*device);
        }
        scheduled = false;
    }
    notifyPort.queue.clear();
    if (open) {
        for (AppleModelHIDDevice* device : devices) {
            applemodel::closeDevice(*device);
        }
        open = false;
    }
    if (initialEnumSource != nullptr) {
        auto* source = initialEnumSource;
        initialEnumSource = nullptr;
        applemodel::invalidateSource(source);
        applemodel::releaseObject(source);
    }
    for (AppleModelHIDDevice* device : initialDevices) {
        applemodel::releaseObject(device);
    }
    initialDevices.clear();
    for (AppleModelHIDDevice* device : devices) {
        applemodel::releaseObject(device);
    }
    devices.clear();
}

CFTypeID IOHIDManagerGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::hidManager);
}

IOHIDManagerRef IOHIDManagerCreate(CFAllocatorRef, IOOptionBits) {
    auto* manager = applemodel::make<AppleModelHIDManager>();
    manager->notifyPort.name = "IOHIDManager notifications";
    applemodel::state().managers.push_back(manager);
    return manager;
}

IOReturn IOHIDManagerOpen(IOHIDManagerRef manager, IOOptionBits) {
    auto* m = use<AppleModelHIDManager>(manager, Kind::hidManager, "IOHIDManagerOpen");
    if (m == nullptr || m->open) {
        return kIOReturnSuccess;
    }
    m->open = true;
    IOReturn result = kIOReturnSuccess;
    for (AppleModelHIDDevice* device : m->devices) {
        const IOReturn r = applemodel::openDevice(*device);
        if (result == kIOReturnSuccess) {
            result = r;
        }
    }
    return result;
}

IOReturn IOHIDManagerClose(IOHIDManagerRef manager, IOOptionBits) {
    auto* m = use<AppleModelHIDManager>(manager, Kind::hidManager, "IOHIDManagerClose");
    if (m == nullptr) {
        return kIOReturnError;
    }
    if (m->scheduled) {
        IOHIDManagerUnscheduleFromRunLoop(manager, CFRunLoopGetCurrent(),
                                          AppleModelConstantString(m->mode.c_str()));
    }
    if (!m->open) {
        return kIOReturnNotOpen;
    }
    m->open = false;
    for (AppleModelHIDDevice* device : m->devices) {
        applemodel::closeDevice(*device);
    }
    return kIOReturnSuccess;
}

void IOHIDManagerSetDeviceMatching(IOHIDManagerRef manager, CFDictionaryRef matching) {
    auto* m = use<AppleModelHIDManager>(manager, Kind::hidManager, "IOHIDManagerSetDeviceMatching");
    if (m == nullptr) {
        return;
    }
    m->usagePage.reset();
    m->usage.reset();
    if (matching != nullptr) {
        auto number = [&](const char* key) -> std::optional<std::uint32_t> {
            const void* v = CFDictionaryGetValue(matching, applemodel::propertyKey(key));
            std::int64_t n = 0;
            if (v != nullptr && CFGetTypeID(v) == CFNumberGetTypeID() &&
                CFNumberGetValue(static_cast<CFNumberRef>(v), kCFNumberSInt64Type, &n)) {
                return static_cast<std::uint32_t>(n);
            }
            return std::nullopt;
        };
        m->usagePage = number(kIOHIDDeviceUsagePageKey);
        m->usage = number(kIOHIDDeviceUsageKey);
    }
    const bool first = !m->matchingSet;
    m->matchingSet = true;
    for (const auto& keyboard : applemodel::state().keyboards) {
        if (keyboard->attached && applemodel::matches(*m, *keyboard)) {
            applemodel::addToSet(*m, keyboard->device);
        }
    }
    if (!first) {
        return;
    }
    // The first match of this manager: reported later, through a version-0
    // source, once the manager is scheduled.
    for (AppleModelHIDDevice* device : m->devices) {
        applemodel::retainObject(device);
        m->initialDevices.push_back(device);
    }
    if (!m->devices.empty()) {
        CFRunLoopSourceContext context{};
        context.info = m;
        context.perform = &applemodel::initialEnumeration;
        m->initialEnumSource = CFRunLoopSourceCreate(nullptr, 0, &context);
        m->initialEnumSource->label = "IOHIDManager initial enumeration";
        if (m->scheduled) {
            applemodel::addSourceToLoop(m->initialEnumSource, m->mode);
            CFRunLoopSourceSignal(m->initialEnumSource);
        }
    }
}

void IOHIDManagerRegisterDeviceMatchingCallback(IOHIDManagerRef manager,
                                                IOHIDDeviceCallback callback, void* context) {
    if (auto* m = use<AppleModelHIDManager>(manager, Kind::hidManager,
                                            "IOHIDManagerRegisterDeviceMatchingCallback")) {
        m->matchCallback = callback;
        m->matchContext = context;
    }
}

void IOHIDManagerRegisterDeviceRemovalCallback(IOHIDManagerRef manager,
                                               IOHIDDeviceCallback callback, void* context) {
    if (auto* m = use<AppleModelHIDManager>(manager, Kind::hidManager,
                                            "IOHIDManagerRegisterDeviceRemovalCallback")) {
        m->removalCallback = callback;
        m->removalContext = context;
    }
}

void IOHIDManagerScheduleWithRunLoop(IOHIDManagerRef manager, CFRunLoopRef runLoop,
                                     CFStringRef runLoopMode) {
    auto* m =
        use<AppleModelHIDManager>(manager, Kind::hidManager, "IOHIDManagerScheduleWithRunLoop");
    if (m == nullptr || use(runLoop, "IOHIDManagerScheduleWithRunLoop (run loop)") == nullptr) {
        return;
    }
    if (m->scheduled) {
        // IOKit asserts: a manager is scheduled once.
        applemodel::fault("IOHIDManagerScheduleWithRunLoop: the manager is already scheduled");
        return;
    }
    m->scheduled = true;
    m->mode = applemodel::modeName(runLoopMode);
    if (m->initialEnumSource != nullptr) {
        applemodel::addSourceToLoop(m->initialEnumSource, m->mode);
        CFRunLoopSourceSignal(m->initialEnumSource);
    }
    applemodel::schedulePort(m->notifyPort, m->mode);
    for (AppleModelHIDDevice* device : m->devices) {
        applemodel::scheduleDevice(*device, m->mode);
    }
}

void IOHIDManagerUnscheduleFromRunLoop(IOHIDManagerRef manager, CFRunLoopRef runLoop,
                                       CFStringRef runLoopMode) {
    auto* m =
        use<AppleModelHIDManager>(manager, Kind::hidManager, "IOHIDManagerUnscheduleFromRunLoop");
    if (m == nullptr || !m->scheduled || runLoop != CFRunLoopGetCurrent() ||
        applemodel::modeName(runLoopMode) != m->mode) {
        return;
    }
    for (AppleModelHIDDevice* device : m->devices) {
        applemodel::unscheduleDevice(*device);
    }
    applemodel::unschedulePort(m->notifyPort);
    m->notifyPort.queue.clear();
    if (m->initialEnumSource != nullptr) {
        auto* source = m->initialEnumSource;
        m->initialEnumSource = nullptr;
        applemodel::invalidateSource(source);
        applemodel::releaseObject(source);
    }
    m->scheduled = false;
    m->mode.clear();
}

// ------------------------------------------------------------------ access

namespace {
IOHIDAccessType& accessOf(IOHIDRequestType type) {
    auto& s = applemodel::state();
    return type == kIOHIDRequestTypeListenEvent ? s.listenAccess : s.postAccess;
}
} // namespace

IOHIDAccessType IOHIDCheckAccess(IOHIDRequestType requestType) {
    return accessOf(requestType);
}

bool IOHIDRequestAccess(IOHIDRequestType requestType) {
    auto& s = applemodel::state();
    IOHIDAccessType& access = accessOf(requestType);
    if (access == kIOHIDAccessTypeUnknown) {
        // The system asks once; the answer is remembered.
        ++(requestType == kIOHIDRequestTypeListenEvent ? s.stats.listenPrompts
                                                       : s.stats.postPrompts);
        access = s.promptGrants ? kIOHIDAccessTypeGranted : kIOHIDAccessTypeDenied;
    }
    return access == kIOHIDAccessTypeGranted;
}
