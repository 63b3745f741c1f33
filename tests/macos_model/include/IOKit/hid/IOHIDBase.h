// The HID object types and callback shapes (IOHIDBase.h). Test-only model
// header.
#pragma once

#include <IOKit/IOKitLib.h>
#include <IOKit/hid/IOHIDKeys.h>

typedef struct AppleModelHIDManager* IOHIDManagerRef;
typedef struct AppleModelHIDDevice* IOHIDDeviceRef;
typedef struct AppleModelHIDElement* IOHIDElementRef;
typedef struct AppleModelHIDValue* IOHIDValueRef;

typedef void (*IOHIDCallback)(void* context, IOReturn result, void* sender);
typedef void (*IOHIDValueCallback)(void* context, IOReturn result, void* sender,
                                   IOHIDValueRef value);
typedef void (*IOHIDDeviceCallback)(void* context, IOReturn result, void* sender,
                                    IOHIDDeviceRef device);
