#include "platform/macos/mac_platform.hpp"

#include "platform/macos/event_tap.hpp"
#include "platform/macos/hid_manager.hpp"
#include "platform/macos/mac_keyboard_layout.hpp"
#include "platform/macos/power.hpp"

#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <IOKit/hidsystem/IOHIDLib.h>

#include <utility>

namespace chordwell::platform::mac {

namespace {

class MacPlatform final : public Platform {
public:
    explicit MacPlatform(MacPlatformOptions options) : options_(std::move(options)) {
        exit_->scheduler = options_.scheduler.get();
    }

    Scheduler& scheduler() override { return *options_.scheduler; }

    std::unique_ptr<HidManager> createHidManager() override {
        return std::make_unique<MacHidManager>();
    }

    std::unique_ptr<EventTap> createKeyboardEventTap(EventTap::Callback callback,
                                                     void* userInfo) override {
        // A tap that swallows mapped keys whose outputs the system would drop
        // takes the keys away: without post access there is none, and keys
        // reach the application as typed, as without Accessibility.
        if (!CGPreflightPostEventAccess()) {
            return nullptr;
        }
        return MacEventTap::create(callback, userInfo, exit_.get());
    }

    void setEmergencyExitHandler(std::function<void()> handler) override {
        exit_->handler = std::move(handler);
    }

    EventPoster& eventPoster() override { return poster_; }
    Preferences& preferences() override { return *options_.preferences; }
    const Paths& paths() const override { return *options_.paths; }
    SystemLog& systemLog() override { return *options_.systemLog; }

    std::vector<PlatformNotice> notices() const override {
        return macSystemNotices(currentSystemState());
    }

    bool requestPermission(std::string_view requestKey) override;

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
    MacPlatformOptions options_;
    std::unique_ptr<MacKeyboardLayout> layout_;
    std::unique_ptr<MacPower> power_;
    bool powerTried_ = false;
    MacEventPoster poster_;
    std::shared_ptr<EmergencyExit> exit_ = std::make_shared<EmergencyExit>();
    // Whether the post permission was asked for by this platform. The system
    // answers CGRequestPostEventAccess with its prompt only the first time
    // it is ever asked, and keeps no state that tells whether it was.
    bool postPermissionAsked_ = false;
};

} // namespace

MacSystemState currentSystemState() {
    MacSystemState state;
    // None of these asks the user anything: they only read the state.
    state.inputMonitoringGranted =
        IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) == kIOHIDAccessTypeGranted;
    state.accessibilityTrusted = AXIsProcessTrusted();
    state.postEventAccess = CGPreflightPostEventAccess();
    state.secureInputEnabled = IsSecureEventInputEnabled();
    return state;
}

bool MacPlatform::requestPermission(std::string_view permission) {
    if (permission == kListenPermission) {
        // Only an undecided permission brings up the prompt; once the user
        // has answered, the switch in the pane is the only way.
        if (IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) != kIOHIDAccessTypeUnknown) {
            return false;
        }
        (void)IOHIDRequestAccess(kIOHIDRequestTypeListenEvent);
        return true;
    }
    if (permission == kPostPermission) {
        if (postPermissionAsked_ || CGPreflightPostEventAccess()) {
            return false;
        }
        postPermissionAsked_ = true;
        // Prompts when never asked before, and lists Chordwell under
        // Accessibility either way, so that its switch is there to turn on.
        (void)CGRequestPostEventAccess();
        return true;
    }
    return false;
}

std::shared_ptr<Platform> makeMacPlatform(MacPlatformOptions options) {
    return std::make_shared<MacPlatform>(std::move(options));
}

} // namespace chordwell::platform::mac
