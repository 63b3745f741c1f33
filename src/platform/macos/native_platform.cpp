// The platform of the Mac this runs on: the macOS adapters with the system's
// paths and unified log. macOS only.
#include "platform/macos/mac_platform.hpp"

#include "platform/macos/mac_preferences.hpp"
#include "platform/macos/run_loop_scheduler.hpp"
#include "platform/macos/system_services.hpp"

#include <utility>

namespace chordwell::platform::mac {

std::shared_ptr<Platform> makeMacPlatform(std::shared_ptr<Scheduler> scheduler,
                                          std::shared_ptr<Preferences> preferences) {
    MacPlatformOptions options;
    options.scheduler = scheduler ? std::move(scheduler) : std::make_shared<RunLoopScheduler>();
    options.preferences =
        preferences ? std::move(preferences)
                    : std::make_shared<MacPreferences>(std::string(kApplicationDefaultsDomain));
    options.paths = std::make_shared<MacPaths>();
    options.systemLog = std::make_shared<UnifiedLog>();
    return makeMacPlatform(std::move(options));
}

} // namespace chordwell::platform::mac

namespace chordwell::platform {

std::shared_ptr<Platform> makeNativePlatform() {
    return mac::makeMacPlatform(nullptr, nullptr);
}

} // namespace chordwell::platform
