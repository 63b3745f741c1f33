// The privacy checks of HID access (IOHIDLib.h). Test-only model header.
#pragma once

#include <IOKit/IOKitLib.h>

typedef enum {
    kIOHIDRequestTypePostEvent,
    kIOHIDRequestTypeListenEvent,
} IOHIDRequestType;

typedef enum {
    kIOHIDAccessTypeGranted,
    kIOHIDAccessTypeDenied,
    kIOHIDAccessTypeUnknown,
} IOHIDAccessType;

/// The state of the permission, without asking the user.
IOHIDAccessType IOHIDCheckAccess(IOHIDRequestType requestType);
/// Asks the user the first time (the system prompt); later calls only
/// answer. True when access is granted.
bool IOHIDRequestAccess(IOHIDRequestType requestType);
