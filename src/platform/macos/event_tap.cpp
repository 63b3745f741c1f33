#include "platform/macos/event_tap.hpp"

#include "logging/log.hpp"
#include "platform/macos/mach_clock.hpp"
#include "platform/macos/tap_events.hpp"

#include <Carbon/Carbon.h>

#include <limits>

namespace chordwell::platform::mac {

namespace {

constexpr CGEventMask kTapMask = (CGEventMask{1} << kCGEventKeyDown) |
                                 (CGEventMask{1} << kCGEventKeyUp) |
                                 (CGEventMask{1} << kCGEventFlagsChanged);
static_assert(kTapMask == kKeyboardTapEventMask);
static_assert(static_cast<std::uint32_t>(kCGEventTapDisabledByTimeout) ==
              static_cast<std::uint32_t>(EventType::tapDisabledByTimeout));
static_assert(static_cast<std::uint32_t>(kCGEventTapDisabledByUserInput) ==
              static_cast<std::uint32_t>(EventType::tapDisabledByUserInput));

// Written into the user data of every event we post ("CHRDWELL" in ASCII):
// events the user types carry 0 there.
constexpr std::int64_t kPostedEventMark = 0x4348'5244'5745'4C4C;

} // namespace

// --------------------------------------------------------------------- tap

MacEventTap::MacEventTap(Callback callback, void* userInfo)
    : callback_(callback), userInfo_(userInfo) {}

std::unique_ptr<MacEventTap> MacEventTap::create(Callback callback, void* userInfo,
                                                 EmergencyExit* exit) {
    if (callback == nullptr) {
        return nullptr;
    }
    // Without Accessibility the system would hand back a tap that sees
    // flag changes only: one that swallows nothing and leaves the user with
    // no word of why. It is the missing permission it stands for.
    if (!AXIsProcessTrusted()) {
        return nullptr;
    }
    // The adapter exists first: the tap's user data is its address.
    std::unique_ptr<MacEventTap> adapter(new MacEventTap(callback, userInfo));
    adapter->exit_ = exit;
    adapter->tap_ = CFRef<CFMachPortRef>::adopt(
        CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                         kTapMask, &MacEventTap::trampoline, adapter.get()));
    if (!adapter->tap_) {
        return nullptr;
    }
    return adapter;
}

MacEventTap::~MacEventTap() {
    if (!tap_) {
        return;
    }
    CGEventTapEnable(tap_.get(), false);
    removeFromRunLoop();
    // No callback may reach this object once it is gone.
    CFMachPortInvalidate(tap_.get());
}

bool MacEventTap::addToRunLoop() {
    if (!tap_) {
        return false;
    }
    if (source_) {
        return true;
    }
    source_ = CFRef<CFRunLoopSourceRef>::adopt(
        CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap_.get(), 0));
    if (!source_) {
        // A tap is live from its creation. With no run loop to serve it,
        // every key event would wait for it until the system gives up on
        // the tap, so switch it off.
        CGEventTapEnable(tap_.get(), false);
        return false;
    }
    runLoop_ = CFRef<CFRunLoopRef>::retain(CFRunLoopGetCurrent());
    CFRunLoopAddSource(runLoop_.get(), source_.get(), kCFRunLoopCommonModes);
    return true;
}

void MacEventTap::removeFromRunLoop() {
    if (source_ && runLoop_) {
        CFRunLoopRemoveSource(runLoop_.get(), source_.get(), kCFRunLoopCommonModes);
    }
    source_.reset();
    runLoop_.reset();
}

void MacEventTap::enable(bool enabled) {
    if (tap_) {
        CGEventTapEnable(tap_.get(), enabled);
    }
}

bool MacEventTap::isEnabled() const {
    return tap_ && CGEventTapIsEnabled(tap_.get());
}

CGEventRef MacEventTap::trampoline(CGEventTapProxy /*proxy*/, CGEventType type, CGEventRef event,
                                   void* userInfo) {
    auto* self = static_cast<MacEventTap*>(userInfo);
    const std::optional<EventType> kind = keyboardTapEventType(static_cast<std::uint32_t>(type));
    if (self == nullptr || !kind) {
        return event;
    }
    KeyEvent keyEvent;
    keyEvent.type = *kind;
    if (!isTapDisabledNotice(*kind) && event != nullptr) {
        keyEvent.keyCode = CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode);
        keyEvent.flags = static_cast<EventFlags>(CGEventGetFlags(event));
        keyEvent.posted =
            CGEventGetIntegerValueField(event, kCGEventSourceUserData) == kPostedEventMark;
    }
    if (self->exit_ != nullptr && !keyEvent.posted &&
        self->exit_->chord.update(keyEvent.type, keyEvent.keyCode) && self->exit_->handler &&
        self->exit_->scheduler != nullptr) {
        log(LogLevel::warning,
            "Emergency exit: Backspace, Escape and Enter held together; interception ends.",
            "keyboard");
        // Not from inside the tap's own callback: the handler takes the tap
        // down.
        self->exit_->scheduler->postToMain(
            [weak = std::weak_ptr<EmergencyExit>(self->exit_->weak_from_this())] {
                if (auto exit = weak.lock(); exit && exit->handler) {
                    const auto handler = exit->handler;
                    handler();
                }
            });
    }
    TapDecision decision = TapDecision::pass;
    try {
        decision = self->callback_(self->userInfo_, keyEvent);
    } catch (...) {
        // Letting the key through is the safe side: a stuck swallow would
        // take the keyboard away from the user.
        log(LogLevel::error, "Event tap callback failed with an exception; event passed.",
            "keyboard");
        decision = TapDecision::pass;
    }
    return decision == TapDecision::swallow ? nullptr : event;
}

// ------------------------------------------------------------------ poster

bool MacEventPoster::mayPost() {
    // A password field holds the keyboard: nothing of ours goes into it.
    if (IsSecureEventInputEnabled()) {
        return false;
    }
    const auto now = machNow();
    if (!postAccessAskedAt_ || now - *postAccessAskedAt_ >= std::chrono::seconds(1)) {
        postAccess_ = CGPreflightPostEventAccess();
        postAccessAskedAt_ = now;
    }
    return postAccess_;
}

bool MacEventPoster::postKeyEvent(std::int64_t keyCode, EventFlags flags, bool keyDown) {
    if (keyCode < 0 || keyCode > std::numeric_limits<CGKeyCode>::max()) {
        return false;
    }
    if (!mayPost()) {
        return false;
    }
    if (!source_) {
        source_ = CFRef<CGEventSourceRef>::adopt(
            CGEventSourceCreate(kCGEventSourceStateCombinedSessionState));
        if (!source_) {
            return false;
        }
    }
    CFRef<CGEventRef> event = CFRef<CGEventRef>::adopt(
        CGEventCreateKeyboardEvent(source_.get(), static_cast<CGKeyCode>(keyCode), keyDown));
    if (!event) {
        return false;
    }
    // Setting the flags replaces the function and keypad bits the event was
    // made with; an arrow or a function key keeps them as a typed one has.
    CGEventSetFlags(event.get(), static_cast<CGEventFlags>(flags | implicitKeyFlags(keyCode)));
    // The tap tells our own events from the user's by this mark.
    CGEventSetIntegerValueField(event.get(), kCGEventSourceUserData, kPostedEventMark);
    CGEventPost(kCGSessionEventTap, event.get());
    return true;
}

} // namespace chordwell::platform::mac
