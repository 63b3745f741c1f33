// HID elements (IOHIDElement.h). Test-only model header.
#pragma once

#include <IOKit/hid/IOHIDBase.h>

CFTypeID IOHIDElementGetTypeID(void);
uint32_t IOHIDElementGetUsagePage(IOHIDElementRef element);
uint32_t IOHIDElementGetUsage(IOHIDElementRef element);
IOHIDDeviceRef IOHIDElementGetDevice(IOHIDElementRef element);
