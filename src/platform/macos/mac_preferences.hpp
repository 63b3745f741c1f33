// The user defaults of an application (CFPreferences, current user) as the
// Preferences port. macOS only (and the framework model of the tests).
#pragma once

#include "ports/ports.hpp"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace chordwell::platform::mac {

/// The defaults domain of the application itself.
inline constexpr std::string_view kApplicationDefaultsDomain = "com.palvane.Chordwell";

/// Booleans, numbers (as double) and anything else as text. The engine reads
/// the repeat preferences at every mapped key press, where nothing may
/// allocate: values read are kept in memory and read again from the defaults
/// once they are a second old (another process, the settings window of the
/// application, may have changed them).
class MacPreferences final : public Preferences {
public:
    /// The defaults of `domain` (an application identifier); empty: of the
    /// running application itself (kCFPreferencesCurrentApplication), which
    /// for a program outside a bundle is a domain of its own name.
    explicit MacPreferences(std::string domain = {});

    std::optional<PreferenceValue> value(std::string_view key) const override;
    void setValue(std::string_view key, const PreferenceValue& value) override;

private:
    std::optional<PreferenceValue> readStored(std::string_view key) const;

    std::string domain_;
    mutable std::mutex mutex_;
    mutable std::map<std::string, std::optional<PreferenceValue>, std::less<>> cache_;
    mutable std::optional<std::chrono::nanoseconds> cachedAt_;
};

} // namespace chordwell::platform::mac
