#include "platform/linux/xdg_paths.hpp"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace chordwell::platform {
namespace fs = std::filesystem;

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<std::string> passwordDatabaseHome() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
    struct passwd entry {};
    struct passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 ||
        result == nullptr || result->pw_dir == nullptr) {
        return std::nullopt;
    }
    return std::string(result->pw_dir);
}

// Only absolute paths count; the XDG rules say to ignore relative ones.
bool usable(const std::optional<std::string>& value) {
    return value && !value->empty() && fs::path(*value).is_absolute();
}

} // namespace

XdgPaths::XdgPaths() : xdgDataHome_(environment("XDG_DATA_HOME")), home_(environment("HOME")) {
    if (!usable(home_)) {
        home_ = passwordDatabaseHome();
    }
}

XdgPaths::XdgPaths(std::optional<std::string> xdgDataHome, std::optional<std::string> home)
    : xdgDataHome_(std::move(xdgDataHome)), home_(std::move(home)) {}

std::optional<fs::path> XdgPaths::dataHome() const {
    if (usable(xdgDataHome_)) {
        return fs::path(*xdgDataHome_).lexically_normal();
    }
    if (usable(home_)) {
        return (fs::path(*home_) / ".local" / "share").lexically_normal();
    }
    return std::nullopt;
}

std::optional<fs::path> XdgPaths::applicationSupportDirectory(std::error_code& error) const {
    error.clear();
    auto base = dataHome();
    if (!base) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return std::nullopt;
    }
    // Create missing components one by one with 0700, as the XDG rules ask
    // for a data home nobody else may read.
    fs::path partial;
    for (const auto& component : *base) {
        partial /= component;
        if (partial == partial.root_path()) {
            continue;
        }
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            error = std::error_code(errno, std::generic_category());
            return std::nullopt;
        }
    }
    if (!fs::is_directory(*base, error)) {
        if (!error) {
            error = std::make_error_code(std::errc::not_a_directory);
        }
        return std::nullopt;
    }
    return base;
}

fs::path XdgPaths::mappingsFolder(const fs::path& appSupport) const {
    return appSupport / "Chordwell" / "Mappings";
}

std::optional<fs::path> XdgPaths::resourceDirectory() const {
    std::error_code error;
    fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return resourceDirectoryBeside(error || executable.empty() ? std::nullopt
                                                               : std::optional(executable));
}

} // namespace chordwell::platform
