#include "storage/settings.hpp"

#include <algorithm>
#include <cmath>
#include <variant>

namespace chordwell::settings {
namespace {

// A stored timing if it is usable: a finite number above zero, cut to the
// longest timing accepted.
double timing(const platform::Preferences& prefs, const char* key, double fallback) {
    const double seconds = doubleForKey(prefs, key);
    if (!(seconds > 0.0)) {
        return fallback;
    }
    return std::min(seconds, kMaximumKeyRepeatTiming);
}

} // namespace

double doubleForKey(const platform::Preferences& prefs, const char* key) {
    const auto value = prefs.value(key);
    if (!value) {
        return 0.0;
    }
    const double* number = std::get_if<double>(&*value);
    if (number == nullptr || !std::isfinite(*number)) {
        return 0.0;
    }
    return *number;
}

bool boolForKey(const platform::Preferences& prefs, const char* key, bool fallback) {
    const auto value = prefs.value(key);
    if (!value) {
        return fallback;
    }
    const bool* flag = std::get_if<bool>(&*value);
    return flag != nullptr ? *flag : fallback;
}

bool keyRepeatEnabled(const platform::Preferences& prefs) {
    return boolForKey(prefs, kKeyRepeatEnabled, true);
}

double keyRepeatInitialDelay(const platform::Preferences& prefs) {
    return timing(prefs, kKeyRepeatInitialDelay, kFallbackKeyRepeatInitialDelay);
}

double keyRepeatInterval(const platform::Preferences& prefs) {
    return timing(prefs, kKeyRepeatInterval, kFallbackKeyRepeatInterval);
}

bool suppressDeleteConfirmation(const platform::Preferences& prefs) {
    return boolForKey(prefs, kSuppressDeleteConfirmation, kDefaultSuppressDeleteConfirmation);
}

bool resumeMappingsAtLaunch(const platform::Preferences& prefs) {
    return boolForKey(prefs, kResumeMappingsAtLaunch, kDefaultResumeMappingsAtLaunch);
}

void setResumeMappingsAtLaunch(platform::Preferences& prefs, bool resume) {
    prefs.setValue(kResumeMappingsAtLaunch, resume);
}

void setSuppressDeleteConfirmation(platform::Preferences& prefs, bool suppress) {
    prefs.setValue(kSuppressDeleteConfirmation, suppress);
}

void setKeyRepeatEnabled(platform::Preferences& prefs, bool enabled) {
    prefs.setValue(kKeyRepeatEnabled, enabled);
}

void setKeyRepeatInitialDelay(platform::Preferences& prefs, double seconds) {
    prefs.setValue(kKeyRepeatInitialDelay, seconds);
}

void setKeyRepeatInterval(platform::Preferences& prefs, double seconds) {
    prefs.setValue(kKeyRepeatInterval, seconds);
}

} // namespace chordwell::settings
