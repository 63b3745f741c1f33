// The system's power messages (IOMessage.h). Test-only model header.
#pragma once

#include <IOKit/IOKitLib.h>

#define kIOMessageCanSystemSleep (static_cast<natural_t>(0xE0000270))
#define kIOMessageSystemWillSleep (static_cast<natural_t>(0xE0000280))
#define kIOMessageSystemWillNotSleep (static_cast<natural_t>(0xE0000290))
#define kIOMessageSystemHasPoweredOn (static_cast<natural_t>(0xE0000300))
#define kIOMessageSystemWillPowerOn (static_cast<natural_t>(0xE0000320))
