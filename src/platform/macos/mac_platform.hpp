// The macOS platform: IOKit HID, CoreGraphics taps and events, and the system
// state behind the notices, around a scheduler, preferences, paths and a
// system log that the caller chooses. macOS only (and the framework model of
// the tests).
#pragma once

#include "platform/macos/notices.hpp"
#include "ports/ports.hpp"

#include <memory>

namespace chordwell::platform::mac {

struct MacPlatformOptions {
    std::shared_ptr<Scheduler> scheduler;
    std::shared_ptr<Preferences> preferences;
    std::shared_ptr<const Paths> paths;
    std::shared_ptr<SystemLog> systemLog;
};

/// Every option must be set.
std::shared_ptr<Platform> makeMacPlatform(MacPlatformOptions options);

/// The application's platform: null arguments stand for the CFRunLoop
/// scheduler and the application's user defaults; paths and log are the
/// system's (native_platform.cpp).
std::shared_ptr<Platform> makeMacPlatform(std::shared_ptr<Scheduler> scheduler,
                                          std::shared_ptr<Preferences> preferences);

/// The current permissions and Secure Event Input state, as the system
/// reports them now. Cheap enough to poll once a second.
MacSystemState currentSystemState();

} // namespace chordwell::platform::mac
