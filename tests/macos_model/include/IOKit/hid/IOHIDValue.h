// HID values (IOHIDValue.h). Test-only model header.
#pragma once

#include <IOKit/hid/IOHIDBase.h>

CFTypeID IOHIDValueGetTypeID(void);
IOHIDElementRef IOHIDValueGetElement(IOHIDValueRef value);
CFIndex IOHIDValueGetIntegerValue(IOHIDValueRef value);
uint64_t IOHIDValueGetTimeStamp(IOHIDValueRef value);
