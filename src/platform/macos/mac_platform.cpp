#include "platform/macos/mac_platform.hpp"

#include "platform/macos/event_tap.hpp"
#include "platform/macos/hid_manager.hpp"
#include "platform/macos/mac_keyboard_layout.hpp"
#include "platform/macos/power.hpp"
#include "platform/macos/run_loop_scheduler.hpp"
#include "platform/macos/system_services.hpp"

#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <IOKit/hidsystem/IOHIDLib.h>

#include <utility>

namespace chordwell::platform::mac {

namespace {

class MacPlatform final : public Platform {
public:
    MacPlatform(std::shared_ptr<Scheduler> scheduler, std::shared_ptr<Preferences> preferences)
        : scheduler_(std::move(scheduler)), preferences_(std::move(preferences)) {}

    Scheduler& scheduler() override { return *scheduler_; }

    std::unique_ptr<HidManager> createHidManager() override {
        return std::make_unique<MacHidManager>();
    }

    std::unique_ptr<EventTap> createKeyboardEventTap(EventTap::Callback callback,
                                                     void* userInfo) override {
        return MacEventTap::create(callback, userInfo);
    }

    EventPoster& eventPoster() override { return poster_; }
    Preferences& preferences() override { return *preferences_; }
    const Paths& paths() const override { return paths_; }
    SystemLog& systemLog() override { return log_; }

    std::vector<PlatformNotice> notices() const override {
        return macSystemNotices(currentSystemState());
    }

    // Registered on first use (the engine's construction), on the main run
    // loop.
    Power* power() override {
        if (!powerTried_) {
            powerTried_ = true;
            power_ = MacPower::create();
        }
        return power_.get();
    }

    // Read on first use (the engine's construction), then followed on the
    // main run loop.
    KeyboardLayout* keyboardLayout() override {
        if (!layout_) {
            layout_ = MacKeyboardLayout::create();
        }
        return layout_.get();
    }

private:
    std::unique_ptr<MacKeyboardLayout> layout_;
    std::unique_ptr<MacPower> power_;
    bool powerTried_ = false;
    std::shared_ptr<Scheduler> scheduler_;
    std::shared_ptr<Preferences> preferences_;
    MacEventPoster poster_;
    MacPaths paths_;
    UnifiedLog log_;
};

} // namespace

MacSystemState currentSystemState() {
    MacSystemState state;
    // Neither call asks the user anything: they only read the state.
    state.inputMonitoringGranted =
        IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) == kIOHIDAccessTypeGranted;
    state.accessibilityTrusted = AXIsProcessTrusted();
    state.secureInputEnabled = IsSecureEventInputEnabled();
    return state;
}

std::shared_ptr<Platform> makeMacPlatform(std::shared_ptr<Scheduler> scheduler,
                                          std::shared_ptr<Preferences> preferences) {
    if (!scheduler) {
        scheduler = std::make_shared<RunLoopScheduler>();
    }
    if (!preferences) {
        preferences = std::make_shared<MacPreferences>();
    }
    return std::make_shared<MacPlatform>(std::move(scheduler), std::move(preferences));
}

} // namespace chordwell::platform::mac

namespace chordwell::platform {

std::shared_ptr<Platform> makeNativePlatform() {
    return mac::makeMacPlatform(nullptr, nullptr);
}

} // namespace chordwell::platform
