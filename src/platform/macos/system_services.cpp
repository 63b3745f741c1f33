#include "platform/macos/system_services.hpp"

#include "platform/macos/cf_ref.hpp"
#include "platform/macos/home_path.hpp"
#include "platform/memory/memory_ports.hpp"

#include <CoreServices/CoreServices.h>
// Every Xcode SDK has it; the trimmed SDK copies some checks run against may
// not, and then the report falls back to the host name.
#if __has_include(<SystemConfiguration/SystemConfiguration.h>)
#include <SystemConfiguration/SystemConfiguration.h>
#define CHORDWELL_HAVE_SYSTEM_CONFIGURATION 1
#endif

#include <limits.h>
#include <mach-o/dyld.h>
#include <os/log.h>
#include <pwd.h>
#include <sys/sysctl.h>
#include <sysdir.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace chordwell::platform::mac {

namespace {

constexpr std::string_view kFallbackSubsystem = "com.palvane.Chordwell";

std::optional<std::filesystem::path> homeDirectory() {
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/') {
        return std::filesystem::path(env);
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return std::filesystem::path(found->pw_dir);
    }
    return std::nullopt;
}

// The user's Application Support folder as NSSearchPathForDirectoriesInDomains
// finds it, through its C interface; the answer begins with "~".
std::optional<std::filesystem::path> userApplicationSupport() {
    char path[PATH_MAX] = {};
    sysdir_search_path_enumeration_state state = sysdir_start_search_path_enumeration(
        SYSDIR_DIRECTORY_APPLICATION_SUPPORT, SYSDIR_DOMAIN_MASK_USER);
    state = sysdir_get_next_search_path_enumeration(state, path);
    // Without an answer, the folder every macOS release has used.
    const std::string found =
        state != 0 ? std::string(path) : std::string("~/Library/Application Support");
    return resolveHomeRelative(found, homeDirectory());
}

os_log_type_t osLogType(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return OS_LOG_TYPE_DEBUG;
    case LogLevel::info:
        return OS_LOG_TYPE_INFO;
    case LogLevel::warning:
        return OS_LOG_TYPE_DEFAULT;
    case LogLevel::error:
        break;
    }
    return OS_LOG_TYPE_ERROR;
}

class UnifiedLogHandle final : public SystemLogHandle {
public:
    UnifiedLogHandle(const std::string& subsystem, const std::string& category)
        : log_(os_log_create(subsystem.c_str(), category.c_str())) {}
    ~UnifiedLogHandle() override {
        if (log_ != nullptr) {
            os_release(log_);
        }
    }
    UnifiedLogHandle(const UnifiedLogHandle&) = delete;
    UnifiedLogHandle& operator=(const UnifiedLogHandle&) = delete;

    bool isEnabled(LogLevel level) const override {
        return log_ != nullptr && os_log_type_enabled(log_, osLogType(level));
    }

    void emit(LogLevel level, std::string_view message) override {
        if (log_ == nullptr) {
            return;
        }
        // The message is the product's own text (devices, mappings), never
        // what the user types, so it is marked public and not redacted.
        const std::string text(message);
        os_log_with_type(log_, osLogType(level), "%{public}s", text.c_str());
    }

private:
    os_log_t log_;
};

} // namespace

std::string defaultLogSubsystem() {
    if (CFBundleRef bundle = CFBundleGetMainBundle()) {
        if (auto identifier = toUtf8(CFBundleGetIdentifier(bundle));
            identifier && !identifier->empty()) {
            return *identifier;
        }
    }
    return std::string(kFallbackSubsystem);
}

// ------------------------------------------------------------ host facts

namespace {

std::string sysctlText(const char* name) {
    std::size_t size = 0;
    if (sysctlbyname(name, nullptr, &size, nullptr, 0) != 0 || size == 0) {
        return {};
    }
    std::string value(size, '\0');
    if (sysctlbyname(name, value.data(), &size, nullptr, 0) != 0) {
        return {};
    }
    value.resize(std::min(size, value.size()));
    while (!value.empty() && value.back() == '\0') {
        value.pop_back();
    }
    return value;
}

} // namespace

std::string computerName() {
#ifdef CHORDWELL_HAVE_SYSTEM_CONFIGURATION
    CFRef<CFStringRef> name =
        CFRef<CFStringRef>::adopt(SCDynamicStoreCopyComputerName(nullptr, nullptr));
    return name ? toUtf8(name.get()).value_or(std::string()) : std::string();
#else
    return {};
#endif
}

std::string operatingSystemVersionString() {
    const std::string version = sysctlText("kern.osproductversion");
    const std::string build = sysctlText("kern.osversion");
    if (version.empty()) {
        return {};
    }
    return "Version " + version + (build.empty() ? std::string() : " (Build " + build + ")");
}

bool hasDefaultApplicationForScheme(const std::string& scheme) {
    CFRef<CFStringRef> text = makeCFString(scheme + ":");
    if (!text) {
        return true; // cannot ask: let the opener try
    }
    CFRef<CFURLRef> url =
        CFRef<CFURLRef>::adopt(CFURLCreateWithString(kCFAllocatorDefault, text.get(), nullptr));
    if (!url) {
        return true;
    }
    CFRef<CFURLRef> application =
        CFRef<CFURLRef>::adopt(LSCopyDefaultApplicationURLForURL(url.get(), kLSRolesAll, nullptr));
    return static_cast<bool>(application);
}

// ------------------------------------------------------------------ paths

std::optional<std::filesystem::path>
MacPaths::applicationSupportDirectory(std::error_code& error) const {
    error.clear();
    std::optional<std::filesystem::path> folder = userApplicationSupport();
    if (!folder) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return std::nullopt;
    }
    // Creation and the checks of an existing folder are the shared ones.
    return FolderPaths(*folder).applicationSupportDirectory(error);
}

std::optional<std::filesystem::path> MacPaths::resourceDirectory() const {
    std::array<char, 4096> buffer{};
    auto size = static_cast<std::uint32_t>(buffer.size());
    std::optional<std::filesystem::path> executable;
    if (_NSGetExecutablePath(buffer.data(), &size) == 0) {
        std::error_code error;
        auto path = std::filesystem::canonical(buffer.data(), error);
        if (!error && !path.empty()) {
            executable = std::move(path);
        }
    }
    return resourceDirectoryBeside(executable);
}

// -------------------------------------------------------------------- log

std::shared_ptr<SystemLogHandle> UnifiedLog::makeHandle(std::string_view subsystem,
                                                        std::string_view category) {
    const std::string name = subsystem.empty() ? defaultLogSubsystem() : std::string(subsystem);
    return std::make_shared<UnifiedLogHandle>(name, std::string(category));
}

} // namespace chordwell::platform::mac
