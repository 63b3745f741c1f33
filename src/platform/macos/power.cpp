#include "platform/macos/power.hpp"

#include "logging/log.hpp"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOMessage.h>
#include <IOKit/pwr_mgt/IOPMLib.h>

namespace chordwell::platform::mac {

namespace {

constexpr const char* kCategory = "keyboard";

void systemPowerChanged(void* refCon, io_service_t /*service*/, natural_t messageType,
                        void* messageArgument) {
    if (refCon == nullptr) {
        return;
    }
    // The argument of the sleep messages is the notification's id, which
    // the answer names.
    static_cast<MacPower*>(refCon)->handleMessage(static_cast<std::uint32_t>(messageType),
                                                  reinterpret_cast<std::intptr_t>(messageArgument));
}

} // namespace

struct MacPower::Registration {
    io_connect_t rootPort = MACH_PORT_NULL;
    IONotificationPortRef notifyPort = nullptr;
    io_object_t notifier = 0;
};

MacPower::MacPower() : registration_(std::make_unique<Registration>()) {}

std::unique_ptr<MacPower> MacPower::create() {
    std::unique_ptr<MacPower> power(new MacPower());
    Registration& r = *power->registration_;
    r.rootPort =
        IORegisterForSystemPower(power.get(), &r.notifyPort, &systemPowerChanged, &r.notifier);
    if (r.rootPort == MACH_PORT_NULL) {
        log(LogLevel::warning,
            "Sleep and wake are not followed: the system refused its power notifications.",
            kCategory);
        return nullptr;
    }
    CFRunLoopAddSource(CFRunLoopGetMain(), IONotificationPortGetRunLoopSource(r.notifyPort),
                       kCFRunLoopCommonModes);
    return power;
}

MacPower::~MacPower() {
    Registration& r = *registration_;
    if (r.rootPort == MACH_PORT_NULL) {
        return;
    }
    CFRunLoopRemoveSource(CFRunLoopGetMain(), IONotificationPortGetRunLoopSource(r.notifyPort),
                          kCFRunLoopCommonModes);
    IODeregisterForSystemPower(&r.notifier);
    IOServiceClose(r.rootPort);
    IONotificationPortDestroy(r.notifyPort);
}

void MacPower::registerCallback(Callback callback, void* context) {
    callback_ = callback;
    context_ = callback != nullptr ? context : nullptr;
}

void MacPower::handleMessage(std::uint32_t messageType, std::intptr_t notificationID) {
    switch (messageType) {
    case kIOMessageCanSystemSleep:
        // An idle sleep asks first; nothing here needs to keep the machine up.
        IOAllowPowerChange(registration_->rootPort, notificationID);
        break;
    case kIOMessageSystemWillSleep:
        if (callback_ != nullptr) {
            callback_(context_, Event::willSleep);
        }
        // Unanswered, the system would wait its full limit before sleeping.
        IOAllowPowerChange(registration_->rootPort, notificationID);
        break;
    case kIOMessageSystemHasPoweredOn:
        if (callback_ != nullptr) {
            callback_(context_, Event::didWake);
        }
        break;
    default:
        break;
    }
}

} // namespace chordwell::platform::mac
