// System power notifications in the model, after Apple's documentation of
// IORegisterForSystemPower: a notification port whose run-loop source the
// caller adds to its run loop, messages (can sleep, will sleep, has powered
// on) delivered through it one per turn, IOAllowPowerChange to answer, and
// deregistering and destroying the port to end it.
#include "model_internal.hpp"

#include <algorithm>

namespace applemodel {

namespace {

void sendPowerMessage(natural_t messageType) {
    State& s = state();
    for (const State::PowerRegistration& registration : s.power) {
        AppleModelMachPort* port = registration.port->machPort;
        const std::intptr_t id = s.nextPowerNotification++;
        const io_connect_t connect = registration.connect;
        auto held = hold({port});
        postMessage(port->port, s.now, s.turn, [connect, messageType, id, held] {
            // Delivered only to a registration that is still there.
            for (const State::PowerRegistration& r : state().power) {
                if (r.connect == connect && r.callback != nullptr) {
                    r.callback(r.refcon, 0, messageType, reinterpret_cast<void*>(id));
                    return;
                }
            }
        });
    }
}

} // namespace

void System::systemWillSleep() {
    sendPowerMessage(kIOMessageSystemWillSleep);
}

void System::systemDidWake() {
    sendPowerMessage(kIOMessageSystemHasPoweredOn);
}

void System::systemCanSleep() {
    sendPowerMessage(kIOMessageCanSystemSleep);
}

void System::setPowerRegistrationFails(bool fails) {
    state().powerRegistrationFails = fails;
}

std::size_t System::powerRegistrations() const {
    return state().power.size();
}

} // namespace applemodel

io_connect_t IORegisterForSystemPower(void* refcon, IONotificationPortRef* thePortRef,
                                      IOServiceInterestCallback callback, io_object_t* notifier) {
    applemodel::State& s = applemodel::state();
    if (s.powerRegistrationFails || thePortRef == nullptr || notifier == nullptr) {
        return MACH_PORT_NULL;
    }
    auto* port = new AppleModelNotificationPort();
    port->machPort = applemodel::make<AppleModelMachPort>();
    port->machPort->port.name = "IOKit power notifications";
    port->source = CFMachPortCreateRunLoopSource(nullptr, port->machPort, 0);
    port->source->label = "IONotificationPort";
    s.notificationPorts.push_back(port);
    applemodel::State::PowerRegistration registration;
    registration.connect = s.nextConnect++;
    registration.notifier = registration.connect + 0x100;
    registration.refcon = refcon;
    registration.callback = callback;
    registration.port = port;
    s.power.push_back(registration);
    *thePortRef = port;
    *notifier = registration.notifier;
    return registration.connect;
}

IOReturn IODeregisterForSystemPower(io_object_t* notifier) {
    auto& power = applemodel::state().power;
    if (notifier == nullptr) {
        return kIOReturnError;
    }
    const auto before = power.size();
    std::erase_if(power, [&](const auto& r) { return r.notifier == *notifier; });
    *notifier = 0;
    return power.size() < before ? kIOReturnSuccess : kIOReturnError;
}

kern_return_t IOServiceClose(io_connect_t) {
    return kIOReturnSuccess;
}

kern_return_t IOObjectRelease(io_object_t) {
    return kIOReturnSuccess;
}

IOReturn IOAllowPowerChange(io_connect_t, std::intptr_t) {
    ++applemodel::state().stats.powerChangesAllowed;
    return kIOReturnSuccess;
}

CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef notify) {
    return notify == nullptr ? nullptr : notify->source;
}

void IONotificationPortDestroy(IONotificationPortRef notify) {
    if (notify == nullptr) {
        return;
    }
    auto& ports = applemodel::state().notificationPorts;
    if (std::find(ports.begin(), ports.end(), notify) == ports.end()) {
        applemodel::fault("IONotificationPortDestroy: not a port of ours (destroyed twice?)");
        return;
    }
    std::erase(ports, notify);
    CFMachPortInvalidate(notify->machPort);
    CFRelease(notify->source);
    CFRelease(notify->machPort);
    delete notify;
}
