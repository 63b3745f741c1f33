// IOKit basics as the macOS adapter uses them, for the behavioural model (see
// tests/macos_model/README.md). Written from Apple's public documentation and
// IOKitUser's open sources. Test-only.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

typedef int kern_return_t;
typedef kern_return_t IOReturn;
typedef UInt32 IOOptionBits;
typedef unsigned int mach_port_t;
typedef mach_port_t io_object_t;
typedef io_object_t io_service_t;
typedef io_object_t io_registry_entry_t;
typedef mach_port_t io_connect_t;
typedef unsigned int natural_t;
typedef struct AppleModelNotificationPort* IONotificationPortRef;
typedef void (*IOServiceInterestCallback)(void* refcon, io_service_t service, natural_t messageType,
                                          void* messageArgument);

#define kIOReturnSuccess 0
#define kIOReturnError (static_cast<IOReturn>(0xe00002bc))
#define kIOReturnNoMemory (static_cast<IOReturn>(0xe00002bd))
#define kIOReturnNoDevice (static_cast<IOReturn>(0xe00002c0))
#define kIOReturnExclusiveAccess (static_cast<IOReturn>(0xe00002c5))
#define kIOReturnNotOpen (static_cast<IOReturn>(0xe00002cd))
#define kIOReturnNotPermitted (static_cast<IOReturn>(0xe00002e2))

#define MACH_PORT_NULL 0
#define KERN_SUCCESS 0

kern_return_t IORegistryEntryGetRegistryEntryID(io_registry_entry_t entry, UInt64* entryID);
kern_return_t IOServiceClose(io_connect_t connect);
kern_return_t IOObjectRelease(io_object_t object);
/// The port's run-loop source (owned by the port: the Get rule).
CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef notify);
void IONotificationPortDestroy(IONotificationPortRef notify);
