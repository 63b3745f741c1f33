// The process-wide engine. Kept apart from the engine itself so that programs
// which never use it (tests, benchmarks) need no native platform to link.
#include "engine/raw_keyboard_listener.hpp"

#include <mutex>

namespace chordwell {

namespace {

std::function<std::shared_ptr<platform::Platform>()>& sharedPlatformFactory() {
    static std::function<std::shared_ptr<platform::Platform>()> factory =
        &platform::makeNativePlatform;
    return factory;
}

} // namespace

void RawKeyboardListener::setSharedPlatformFactory(
    std::function<std::shared_ptr<platform::Platform>()> f) {
    sharedPlatformFactory() = std::move(f);
}

RawKeyboardListener& RawKeyboardListener::shared() {
    // Built on first access and never destroyed: callbacks of the platform
    // may still arrive while the process exits.
    static RawKeyboardListener* instance = new RawKeyboardListener(sharedPlatformFactory()());
    return *instance;
}

} // namespace chordwell
