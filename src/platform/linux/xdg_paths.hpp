// Per-user folders on Linux, after the XDG base directory rules: everything
// of Chordwell lives in $XDG_DATA_HOME/Chordwell (by default
// ~/.local/share/Chordwell), with Mappings/ and Logs/ inside.
#pragma once

#include "ports/ports.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace chordwell::platform {

class XdgPaths : public Paths {
public:
    /// Reads XDG_DATA_HOME and HOME (then the password database) now.
    XdgPaths();
    /// Explicit values, as the environment would give them (for tests).
    XdgPaths(std::optional<std::string> xdgDataHome, std::optional<std::string> home);

    /// The data home (created with mode 0700 where missing); an error when
    /// neither XDG_DATA_HOME nor a home folder is known.
    std::optional<std::filesystem::path>
    applicationSupportDirectory(std::error_code& error) const override;
    /// "Chordwell/Mappings" inside the data home, beside "Chordwell/Logs".
    std::filesystem::path mappingsFolder(const std::filesystem::path& appSupport) const override;
    /// "../share/chordwell" beside the running program (/proc/self/exe).
    std::optional<std::filesystem::path> resourceDirectory() const override;

    /// The data home these values select, without touching the disk.
    std::optional<std::filesystem::path> dataHome() const;

private:
    std::optional<std::string> xdgDataHome_;
    std::optional<std::string> home_;
};

} // namespace chordwell::platform
