// The system power notifications (IOPMLib.h, IOKitLib.h), as Apple documents
// IORegisterForSystemPower. Test-only model header.
#pragma once

#include <IOKit/IOKitLib.h>

IOReturn IOAllowPowerChange(io_connect_t kernelPort, std::intptr_t notificationID);
io_connect_t IORegisterForSystemPower(void* refcon, IONotificationPortRef* thePortRef,
                                      IOServiceInterestCallback callback, io_object_t* notifier);
IOReturn IODeregisterForSystemPower(io_object_t* notifier);
