// The macOS platform: IOKit HID, CoreGraphics taps and events, the unified
// log, Application Support, and the system state behind the notices.
// macOS only.
#pragma once

#include "platform/macos/notices.hpp"
#include "platform/ports.hpp"

#include <memory>

namespace chordwell::platform::mac {

/// Builds the macOS platform around a scheduler and a preference store that
/// the caller chooses (the application passes its Qt ones). Null arguments
/// stand for the CFRunLoop scheduler and the CFPreferences store.
std::shared_ptr<Platform> makeMacPlatform(std::shared_ptr<Scheduler> scheduler,
                                          std::shared_ptr<Preferences> preferences);

/// The current permissions and Secure Event Input state, as the system
/// reports them now. Cheap enough to poll once a second.
MacSystemState currentSystemState();

} // namespace chordwell::platform::mac
