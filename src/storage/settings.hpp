// Typed readers of the user's preferences. Nothing is cached: each reader
// looks at the store when it is called.
#pragma once

#include "ports/ports.hpp"

namespace chordwell::settings {

inline constexpr const char* kSuppressDeleteConfirmation = "suppressDeleteConfirmation";
inline constexpr const char* kKeyRepeatEnabled = "key_repeat_enabled";
inline constexpr const char* kKeyRepeatInitialDelay = "key_repeat_initial_delay";
inline constexpr const char* kKeyRepeatInterval = "key_repeat_interval";
/// Whether the application selects its last keyboard again at launch and
/// turns its mappings back on when they were on at quit.
inline constexpr const char* kResumeMappingsAtLaunch = "resume_mappings_at_launch";
/// The keyboard selected when the application last ran, and whether it
/// intercepted (the application's own record, JSON text).
inline constexpr const char* kLastKeyboard = "last_keyboard";

// Defaults the settings window shows while a key is absent.
inline constexpr bool kDefaultSuppressDeleteConfirmation = false;
inline constexpr bool kDefaultKeyRepeatEnabled = true;
inline constexpr double kDefaultKeyRepeatInitialDelay = 0.5;
inline constexpr double kDefaultKeyRepeatIntervalShown = 0.2;
inline constexpr bool kDefaultResumeMappingsAtLaunch = true;

// What the engine uses when a timing key is absent or unusable.
inline constexpr double kFallbackKeyRepeatInitialDelay = 0.5;
inline constexpr double kFallbackKeyRepeatInterval = 0.1;
/// Longest timing the engine accepts (seconds); larger stored values are cut
/// to this so that converting them to a timer duration cannot overflow.
inline constexpr double kMaximumKeyRepeatTiming = 3600.0;

/// Engine fallbacks: absent or not a Boolean → true.
bool keyRepeatEnabled(const platform::Preferences& prefs);
/// ≤ 0, absent, not a number or not finite → 0.5 seconds.
double keyRepeatInitialDelay(const platform::Preferences& prefs);
/// ≤ 0, absent, not a number or not finite → 0.1 seconds (not the 0.2 the
/// settings window shows).
double keyRepeatInterval(const platform::Preferences& prefs);
/// Absent or not a Boolean → false.
bool suppressDeleteConfirmation(const platform::Preferences& prefs);
/// Absent or not a Boolean → true (preferences of versions without the
/// setting resume).
bool resumeMappingsAtLaunch(const platform::Preferences& prefs);

/// doubleForKey: the stored number, or 0 when absent, not a number or not
/// finite.
double doubleForKey(const platform::Preferences& prefs, const char* key);
/// Bool binding read with a default (what the settings window shows).
bool boolForKey(const platform::Preferences& prefs, const char* key, bool fallback);

// Writers, one key at a time.
void setSuppressDeleteConfirmation(platform::Preferences& prefs, bool suppress);
void setKeyRepeatEnabled(platform::Preferences& prefs, bool enabled);
void setKeyRepeatInitialDelay(platform::Preferences& prefs, double seconds);
void setKeyRepeatInterval(platform::Preferences& prefs, double seconds);
void setResumeMappingsAtLaunch(platform::Preferences& prefs, bool resume);

} // namespace chordwell::settings
