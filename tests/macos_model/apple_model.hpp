// The behavioural model of CoreFoundation, IOKit HID and CoreGraphics that
// the macOS adapter's own sources run on in the tests: what a test drives
// and inspects. The adapter calls the frameworks through the headers in
// include/; this is the test's side of the same world.
//
// One System exists at a time. It is the "computer": keyboards the test plugs
// in and types on, the permissions the user granted, Secure Event Input, the
// session's event stream with its taps, the focused application at its end,
// and the main run loop with a virtual clock. Nothing happens until the test
// runs the loop (runUntilIdle, advance).
//
// The run loop turns as CFRunLoop does: at the top of each turn the signalled
// version-0 sources run (in order, each signal cleared before its perform),
// then either every due timer fires or exactly one port message is serviced
// (a HID value, a tap event, a device arrival or removal).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace applemodel {

using Duration = std::chrono::nanoseconds;
using KeyboardId = std::uint32_t;

/// The properties of a keyboard; an absent property is absent from the
/// device, as on a real one that does not report it.
struct KeyboardTraits {
    std::optional<std::string> product;
    std::optional<std::int64_t> vendorID;
    std::optional<std::int64_t> productID;
    std::optional<std::int64_t> locationID;
    std::uint32_t usagePage = 1; // Generic Desktop
    std::uint32_t usage = 6;     // Keyboard
};

/// An event that reached the focused application.
struct AppEvent {
    Duration time{};
    std::uint32_t type = 0; // CGEventType
    std::int64_t keyCode = 0;
    std::uint64_t flags = 0;
    std::int64_t userData = 0; // the source user data it carries
    bool posted = false;       // it came from CGEventPost

    friend bool operator==(const AppEvent&, const AppEvent&) = default;
};

/// How the two deliveries of one physical key event travel: its HID value to
/// the device's queue and its event into the session's stream. The second
/// becomes ready `turns` run-loop turns and `delay` after the first.
struct DeliveryPlan {
    bool hidFirst = true;
    std::uint32_t turns = 0;
    Duration delay{};
};

/// Every key draws its plan from a seeded generator: either one first, the
/// second up to `maxTurns` turns and up to `maxDelay` later.
struct RandomDelivery {
    std::uint64_t seed = 0;
    std::uint32_t maxTurns = 3;
    Duration maxDelay = std::chrono::milliseconds(40);
};

/// How IOHIDDevice's callback set finds an entry to remove. Its equality
/// compares only the context, but it hashes the whole {context, callback}
/// record, so a removal (callback NULL) finds the entry or not depending on
/// where the hash lands. `byContext`: it does; `wholeRecord`: it never does.
enum class CallbackSetLookup { byContext, wholeRecord };

/// What the model counted.
struct Statistics {
    std::uint64_t turns = 0;
    std::uint64_t inputValuesDelivered = 0;
    std::uint64_t callsThroughRemovedRegistrations = 0;
    std::uint64_t tapCallbacks = 0;
    std::uint64_t eventsPosted = 0; // CGEventPost calls, dropped ones too
    std::uint64_t postsDropped = 0;
    std::uint64_t listenPrompts = 0;
    std::uint64_t postPrompts = 0;
    std::uint64_t powerChangesAllowed = 0; // IOAllowPowerChange calls
};

class System {
public:
    /// Resets the model: no keyboards, every permission granted, no secure
    /// input, time 0.
    System();
    /// Releases everything the model holds (finish() first to check).
    ~System();
    System(const System&) = delete;
    System& operator=(const System&) = delete;

    // ------------------------------------------------------------ keyboards

    KeyboardId attach(KeyboardTraits traits);
    /// The keyboard goes away: its removal reaches every HID manager as a
    /// port message; values still queued stay queued.
    void detach(KeyboardId keyboard);
    /// A key goes down or up: its HID value (page 7) and its system event
    /// (key-down, key-up or flags-changed) set off, in the order and with the
    /// gap of the current delivery plan (or the given one).
    void key(KeyboardId keyboard, std::uint16_t usage, bool down);
    void key(KeyboardId keyboard, std::uint16_t usage, bool down, DeliveryPlan plan);
    /// A raw value of any page, with no system event.
    void inputValue(KeyboardId keyboard, std::uint32_t page, std::uint32_t usage,
                    std::int64_t value);
    /// The plan every later key follows.
    void setDelivery(DeliveryPlan plan);
    /// Every later key draws its plan (the seed makes a run repeatable).
    void setRandomDelivery(std::optional<RandomDelivery> random);
    DeliveryPlan lastPlan() const { return lastPlan_; }
    /// The system's modifier flag word now (modifiers held on any keyboard).
    std::uint64_t modifierFlags() const;

    // ------------------------------------------------------------- run loop

    /// Runs turns until nothing is left to do at the current time.
    void runUntilIdle();
    /// Lets `delta` pass, running every turn in time order on the way.
    void advance(Duration delta);
    /// One turn; false when it found nothing to do.
    bool runTurn();
    Duration now() const;
    std::uint64_t turn() const;
    /// The mode the loop runs in (kCFRunLoopDefaultMode by default;
    /// "NSEventTrackingRunLoopMode" is another common mode).
    void setRunLoopMode(std::string mode);
    /// Messages still waiting at ports, or events in the stream.
    bool hasPendingMessages() const;
    /// When the next message or timer is due, if any.
    std::optional<Duration> nextDue() const;

    // ------------------------------------------------------ system settings

    void setListenAccess(int access); // an IOHIDAccessType
    void setPostAccess(int access);   // an IOHIDAccessType
    void setAccessibility(bool trusted);
    /// What the user answers when the system asks for a permission.
    void setPromptGrants(bool grants);
    void setSecureEventInput(bool on);
    void setCallbackSetLookup(CallbackSetLookup lookup);

    // ----------------------------------------------------------------- taps

    /// Our taps that exist and are in the session's chain.
    std::size_t tapCount() const;
    /// Of those, the enabled ones whose source is in the run loop.
    std::size_t activeTapCount() const;
    /// The event masks our taps were given (after the system cleared what
    /// the process may not see).
    std::vector<std::uint64_t> tapMasks() const;
    /// The next callback of each of our taps is too slow: the system passes
    /// the event on, disables the tap and tells it so.
    void timeOutTaps();
    /// The system disables our taps on user input and tells them so.
    void disableTapsByUserInput();
    /// Another application's tap, inserted at the head of the chain (before
    /// ours when made later). Returns true to swallow.
    void addForeignTap(std::function<bool(const AppEvent&)> swallow);

    // ---------------------------------------------------------------- power

    /// The system is about to sleep: every power registration gets
    /// kIOMessageSystemWillSleep as a message of its notification port (and
    /// is expected to allow it); then kIOMessageSystemHasPoweredOn on wake.
    void systemWillSleep();
    void systemDidWake();
    /// Idle sleep asks first (kIOMessageCanSystemSleep).
    void systemCanSleep();
    /// IORegisterForSystemPower refuses (returns MACH_PORT_NULL).
    void setPowerRegistrationFails(bool fails);
    /// Power registrations that exist.
    std::size_t powerRegistrations() const;

    // ------------------------------------------------ focused application

    const std::vector<AppEvent>& appEvents() const;
    void clearAppEvents();
    bool isDownAtApplication(std::int64_t keyCode) const;
    std::size_t keysDownAtApplication() const;

    // ------------------------------------------------------- inspection

    /// The keyboard's IOHIDDeviceRef while it is attached (else nullptr).
    void* device(KeyboardId keyboard) const;
    /// Input-value registrations the keyboard's device holds.
    std::size_t inputValueRegistrations(KeyboardId keyboard) const;
    /// Whether the keyboard's device is scheduled on the run loop.
    bool deviceScheduled(KeyboardId keyboard) const;
    std::size_t sourcesInRunLoop() const;
    std::size_t timersInRunLoop() const;
    const Statistics& statistics() const;
    /// Faults recorded so far: over-releases, uses after release, misuse.
    std::vector<std::string> faults() const;
    /// Objects alive now (constants not counted).
    std::size_t aliveObjects() const;
    /// Call when everything the adapter made is gone: drops what the system
    /// itself holds and returns every fault, including each object still
    /// alive and each source or timer still in the run loop. Empty when the
    /// accounting is clean.
    std::vector<std::string> finish();

private:
    DeliveryPlan nextPlan();
    DeliveryPlan lastPlan_;
    bool finished_ = false;
};

} // namespace applemodel
