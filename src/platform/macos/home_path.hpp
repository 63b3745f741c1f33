// Resolving the "~"-relative paths that the system's directory search
// (sysdir, the C side of NSSearchPathForDirectoriesInDomains) answers with.
// Portable (no system headers).
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace chordwell::platform::mac {

/// `found` with a leading "~" or "~/" replaced by `home`; absolute paths as
/// they are. Nothing for an empty or relative answer, for "~user" forms
/// (another user's home) and for "~" paths when the home is unknown or not
/// absolute.
inline std::optional<std::filesystem::path>
resolveHomeRelative(std::string_view found, const std::optional<std::filesystem::path>& home) {
    if (found.empty()) {
        return std::nullopt;
    }
    if (found.front() == '/') {
        return std::filesystem::path(found);
    }
    if (found.front() != '~' || (found.size() > 1 && found[1] != '/')) {
        return std::nullopt;
    }
    if (!home || !home->is_absolute()) {
        return std::nullopt;
    }
    std::string_view rest = found.substr(1);
    while (!rest.empty() && rest.front() == '/') {
        rest.remove_prefix(1);
    }
    return rest.empty() ? *home : *home / std::filesystem::path(rest);
}

} // namespace chordwell::platform::mac
