// CoreGraphics events and taps, and the Accessibility check, as the macOS
// adapter uses them, for the behavioural model (see
// tests/macos_model/README.md). Written from Apple's public documentation
// (CoreGraphics is closed source). Test-only.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

typedef struct AppleModelEvent* CGEventRef;
typedef struct AppleModelEventSource* CGEventSourceRef;
typedef struct AppleModelEventTapProxy* CGEventTapProxy;

typedef std::uint64_t CGEventMask;
typedef std::uint64_t CGEventFlags;
typedef std::uint16_t CGKeyCode;

typedef std::uint32_t CGEventType;
enum : CGEventType {
    kCGEventNull = 0,
    kCGEventKeyDown = 10,
    kCGEventKeyUp = 11,
    kCGEventFlagsChanged = 12,
    kCGEventTapDisabledByTimeout = 0xFFFFFFFE,
    kCGEventTapDisabledByUserInput = 0xFFFFFFFF,
};
#define CGEventMaskBit(eventType) (static_cast<CGEventMask>(1) << (eventType))

enum : CGEventFlags {
    kCGEventFlagMaskAlphaShift = 0x00010000,
    kCGEventFlagMaskShift = 0x00020000,
    kCGEventFlagMaskControl = 0x00040000,
    kCGEventFlagMaskAlternate = 0x00080000,
    kCGEventFlagMaskCommand = 0x00100000,
    kCGEventFlagMaskNumericPad = 0x00200000,
    kCGEventFlagMaskHelp = 0x00400000,
    kCGEventFlagMaskSecondaryFn = 0x00800000,
    kCGEventFlagMaskNonCoalesced = 0x00000100,
};

typedef std::uint32_t CGEventTapLocation;
enum : CGEventTapLocation {
    kCGHIDEventTap = 0,
    kCGSessionEventTap = 1,
    kCGAnnotatedSessionEventTap = 2,
};

typedef std::uint32_t CGEventTapPlacement;
enum : CGEventTapPlacement { kCGHeadInsertEventTap = 0, kCGTailAppendEventTap = 1 };

typedef std::uint32_t CGEventTapOptions;
enum : CGEventTapOptions { kCGEventTapOptionDefault = 0, kCGEventTapOptionListenOnly = 1 };

typedef std::uint32_t CGEventField;
enum : CGEventField {
    kCGKeyboardEventAutorepeat = 8,
    kCGKeyboardEventKeycode = 9,
    kCGKeyboardEventKeyboardType = 10,
    kCGEventSourceUserData = 42,
};

typedef std::int32_t CGEventSourceStateID;
enum : CGEventSourceStateID {
    kCGEventSourceStatePrivate = -1,
    kCGEventSourceStateCombinedSessionState = 0,
    kCGEventSourceStateHIDSystemState = 1,
};

typedef CGEventRef (*CGEventTapCallBack)(CGEventTapProxy proxy, CGEventType type, CGEventRef event,
                                         void* userInfo);

CFTypeID CGEventGetTypeID(void);
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
CGEventRef CGEventCreateCopy(CGEventRef event);
CGEventType CGEventGetType(CGEventRef event);
CGEventFlags CGEventGetFlags(CGEventRef event);
void CGEventSetFlags(CGEventRef event, CGEventFlags flags);
std::int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field);
void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, std::int64_t value);
void CGEventPost(CGEventTapLocation tap, CGEventRef event);

CFTypeID CGEventSourceGetTypeID(void);
CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID);
void CGEventSourceSetUserData(CGEventSourceRef source, std::int64_t userData);
std::int64_t CGEventSourceGetUserData(CGEventSourceRef source);

CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place,
                               CGEventTapOptions options, CGEventMask eventsOfInterest,
                               CGEventTapCallBack callback, void* userInfo);
void CGEventTapEnable(CFMachPortRef tap, bool enable);
bool CGEventTapIsEnabled(CFMachPortRef tap);

/// Input Monitoring: whether the process may see other applications' keys.
bool CGPreflightListenEventAccess(void);
bool CGRequestListenEventAccess(void);
/// Whether the process may post events (listed under Accessibility).
bool CGPreflightPostEventAccess(void);
bool CGRequestPostEventAccess(void);

/// Whether the process is trusted for Accessibility (active event taps).
Boolean AXIsProcessTrusted(void);
