// The simulated platform: a deterministic world behind the engine's ports.
//
// Virtual keyboards with properties, an event stream that behaves like the
// operating system's (raw HID values to the listeners of a keyboard, the
// system key event through every enabled tap, then to a "focused
// application"), synthetic events posted through the same taps, and a
// virtual clock (or any scheduler given).
//
// The world can be as unkind as a real system: posted events may come back
// on a later turn of the main queue (as CGEventPost does on macOS), and the
// raw HID value of a key and its tap event may arrive in either order, any
// number of turns or milliseconds apart (two run-loop sources with no
// guaranteed order). The defaults are the kind ones: posting at once, HID
// value first, both within the step.
//
// In the unkind orders (tap-first, random) the world turns its loop as
// CFRunLoop does: at the top of each turn the work posted before it runs,
// then either every due timer fires or exactly one message arrives (a HID
// value, or an event through the taps). So posted work always runs before
// the next input message, however close behind it was.
#pragma once

#include "platform/memory/memory_ports.hpp"
#include "platform/sim/sim_layouts.hpp"
#include "platform/sim/virtual_scheduler.hpp"
#include "ports/ports.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace chordwell::platform::sim {

class SimWorld;

/// The properties of a virtual keyboard; an absent property is absent from
/// the device, as on a real one that does not report it.
struct SimKeyboardProperties {
    std::optional<std::string> product;
    std::optional<std::int64_t> vendorID;
    std::optional<std::int64_t> productID;
    std::optional<std::int64_t> locationID;
    /// The usage the interface declares; only Generic Desktop / Keyboard
    /// (1 / 6) matches the engine's HID manager.
    std::uint32_t deviceUsagePage = 1;
    std::uint32_t deviceUsage = 6;
};

/// One virtual keyboard interface.
class SimKeyboard : public HidDevice {
public:
    explicit SimKeyboard(SimKeyboardProperties properties) : properties_(std::move(properties)) {
        heldKeys_.reserve(16); // keys go down without growing the list
    }

    std::optional<std::string> stringProperty(std::string_view key) const override;
    std::optional<std::int64_t> integerProperty(std::string_view key) const override;
    bool sameDevice(const HidDevice& other) const override { return &other == this; }
    void registerInputValueCallback(InputValueCallback callback, void* context) override;
    void scheduleWithRunLoop() override { scheduled_ = true; }
    void unscheduleFromRunLoop() override { scheduled_ = false; }

    const SimKeyboardProperties& properties() const { return properties_; }
    bool attached() const { return attached_; }
    /// True while someone reads the keyboard's input.
    bool hasListener() const { return callback_ != nullptr && scheduled_; }

private:
    friend class SimWorld;
    SimKeyboardProperties properties_;
    InputValueCallback callback_ = nullptr;
    void* context_ = nullptr;
    bool scheduled_ = false;
    bool attached_ = false;
    std::uint8_t heldModifiers_ = 0; // bit n: usage 0xE0 + n is down
    std::vector<HidUsage> heldKeys_; // every key down, in press order
};

/// One event that reached the focused application.
struct AppEvent {
    Scheduler::Duration time{};
    EventType type = EventType::keyDown;
    std::int64_t keyCode = 0;
    EventFlags flags = 0;
    bool synthetic = false;

    friend bool operator==(const AppEvent&, const AppEvent&) = default;
};

/// When posted events reach the taps and the application.
enum class PostingMode {
    sync,  ///< before post() returns
    async, ///< on the next turn of the main queue, in posting order
};

/// For each physical key event, which of its two deliveries comes first: the
/// raw HID value to the keyboard's listener or the system event to the taps.
/// hidFirst delivers both at once, in that order. In the other two the world
/// turns its loop: each delivery is one message, one per turn, after the
/// work posted before that turn; a key's step ends once both arrived (time
/// passes meanwhile when the second comes later).
enum class DeliveryOrder {
    hidFirst,
    tapFirst, ///< the tap event, then the HID value on a later turn
    random,   ///< per event from a seeded generator: either first, the second
              ///< up to 3 turns and up to 30 ms later
};

/// The system key code of a HID usage: the model's table, except that the
/// right-hand modifiers report their own codes (62, 60, 61, 54).
std::optional<std::int64_t> simOsKeyCode(HidUsage usage);
/// The modifier flag of a modifier usage (0xE0..0xE7), else 0.
EventFlags modifierFlagOfUsage(HidUsage usage);

/// The machine's sleep and wake, told to whoever registered.
class SimPower final : public Power {
public:
    void registerCallback(Callback callback, void* context) override {
        callback_ = callback;
        context_ = callback != nullptr ? context : nullptr;
    }
    bool hasCallback() const { return callback_ != nullptr; }
    void deliver(Event event) const {
        if (callback_ != nullptr) {
            callback_(context_, event);
        }
    }

private:
    Callback callback_ = nullptr;
    void* context_ = nullptr;
};

class SimWorld : public Platform {
public:
    /// A world on its own virtual clock. `applicationSupport`: the folder the
    /// Paths port reports (none: the system has no such folder).
    explicit SimWorld(std::optional<std::filesystem::path> applicationSupport = std::nullopt);
    /// A world driven by another scheduler (real time, e.g. the app's event
    /// loop). advance() and runMainQueue() then do nothing.
    SimWorld(std::shared_ptr<Scheduler> scheduler,
             std::optional<std::filesystem::path> applicationSupport);
    ~SimWorld() override;
    SimWorld(const SimWorld&) = delete;
    SimWorld& operator=(const SimWorld&) = delete;

    // Platform
    Scheduler& scheduler() override { return *scheduler_; }
    std::unique_ptr<HidManager> createHidManager() override;
    std::unique_ptr<EventTap> createKeyboardEventTap(EventTap::Callback callback,
                                                     void* userInfo) override;
    EventPoster& eventPoster() override;
    Preferences& preferences() override { return preferences_; }
    const Paths& paths() const override { return paths_; }
    SystemLog& systemLog() override { return systemLog_; }
    Power* power() override { return &power_; }
    void setEmergencyExitHandler(std::function<void()> handler) override {
        emergencyExit_ = std::move(handler);
    }
    KeyboardLayout* keyboardLayout() override { return &layout_; }
    /// The layout the application reads keys with (us until changed).
    SimKeyboardLayout& layout() { return layout_; }

    // ------------------------------------------------------------- keyboards

    /// Attaches a keyboard; every scheduled HID manager hears of it at once.
    std::shared_ptr<SimKeyboard> attachKeyboard(SimKeyboardProperties properties);
    /// Detaches it. The system releases what it held: the key-ups of its held
    /// keys go through the taps to the application (no HID values: the
    /// device is gone).
    void detachKeyboard(const std::shared_ptr<SimKeyboard>& keyboard);
    const std::vector<std::shared_ptr<SimKeyboard>>& attachedKeyboards() const {
        return keyboards_;
    }

    /// A physical key of `keyboard` goes down / up: its HID value reaches the
    /// keyboard's listener and its system event goes through the taps, in the
    /// delivery order. With the main queue run after steps (the default),
    /// both have arrived when this returns.
    void keyDown(SimKeyboard& keyboard, HidUsage usage);
    void keyUp(SimKeyboard& keyboard, HidUsage usage);
    /// A raw input value of any page, with no system event.
    void sendInputValue(SimKeyboard& keyboard, const HidInputValue& value);
    /// Delivers every HID value and event still on its way (letting time
    /// pass when one is due later).
    void deliverQueuedInput();
    /// Whether the loop turns as a real run loop does (tap-first, random).
    bool turnsLikeARunLoop() const;
    /// Off: tap-first and random deliver a key's second event at the end of
    /// the command's turn, as a world on a real clock does, for comparing
    /// with one.
    void setRunLoopTurns(bool on) { runLoopTurns_ = on; }
    /// Turns of the loop so far (in those orders).
    std::uint64_t turn() const { return turn_; }

    // ------------------------------------------------------------------ modes

    void setPostingMode(PostingMode mode);
    PostingMode postingMode() const { return postingMode_; }
    /// `seed` is used by DeliveryOrder::random only.
    void setDeliveryOrder(DeliveryOrder order, std::uint64_t seed = 0);
    DeliveryOrder deliveryOrder() const { return order_; }
    /// Posted events not yet delivered (async posting).
    std::size_t pendingPostedEventCount() const;
    /// The system's flag word: the modifier bits of every modifier held on
    /// any keyboard.
    EventFlags modifierFlags() const;

    // ------------------------------------------------------------------- time

    /// The virtual clock, or nullptr when another scheduler drives the world.
    VirtualScheduler* virtualScheduler() const { return virtual_; }
    /// Runs queued main-thread work (virtual clock only).
    void runMainQueue();
    /// Advances the virtual clock, running due timers in time order. Queued
    /// input is delivered first: time does not pass inside a turn.
    void advance(Scheduler::Duration delta);
    /// Whether each step (key, attach, detach) runs the main queue at its
    /// end, as the event loop would before the next input. On by default.
    void setRunMainQueueAfterSteps(bool on) { drainAfterSteps_ = on; }

    // -------------------------------------------------------------- the taps

    /// Tap creation fails, as without the Accessibility permission.
    void setTapCreationFails(bool fails) { tapCreationFails_ = fails; }
    /// The run-loop source of new taps cannot be made.
    void setRunLoopSourceFails(bool fails) { runLoopSourceFails_ = fails; }
    /// Posting fails (no event source).
    void setPostingFails(bool fails) { postingFails_ = fails; }
    /// The system disables every live tap and tells it so.
    void disableTapsBySystem(EventType notice = EventType::tapDisabledByTimeout);
    /// Taps that exist, are in the run loop and are enabled.
    std::size_t activeTapCount() const;
    std::size_t tapCount() const;

    /// Posts one synthetic event (what the event poster does).
    bool post(std::int64_t keyCode, EventFlags flags, bool keyDown);
    std::size_t postedEventCount() const { return postedEvents_; }

    // -------------------------------------------------- focused application

    /// The most recent events that reached the application, oldest first:
    /// at most appEventLimit() of them (older ones are dropped in bulk, so
    /// between half the limit and the limit are kept once it is reached).
    const std::vector<AppEvent>& appEvents() const { return appEvents_; }
    void clearAppEvents() { appEvents_.clear(); }
    /// How many recent events appEvents() keeps; 0 keeps none (a caller that
    /// only watches the sink). A held repeat over a long wait would otherwise
    /// keep millions of events.
    void setAppEventLimit(std::size_t limit);
    std::size_t appEventLimit() const { return appEventLimit_; }
    /// Keeps the default number of recent events, or none.
    void setRecordAppEvents(bool on) { setAppEventLimit(on ? kDefaultAppEventLimit : 0); }
    static constexpr std::size_t kDefaultAppEventLimit = 4096;
    /// Every event that ever reached the application, also those dropped.
    std::uint64_t appEventCount() const { return appEventCount_; }
    /// Called for each event that reaches the application (after recording).
    void setAppEventSink(std::function<void(const AppEvent&)> sink) { sink_ = std::move(sink); }

    /// Whether the application believes `keyCode` is down: its last key-down
    /// reached the application and no key-up since (what a real application
    /// would act on as a held key).
    bool isDownAtApplication(std::int64_t keyCode) const;
    /// How many key codes are down at the application.
    std::size_t keysDownAtApplication() const { return appKeysDownCount_; }

    /// Runs the handler the engine installed for the emergency exit.
    void triggerEmergencyExit();

    /// The machine is about to sleep: whoever registered is told, and the
    /// machine waits until it answered.
    void systemWillSleep();
    /// The machine woke. With `tapsTurnedOff` the system turned every live
    /// tap off meanwhile, without telling the taps.
    void systemDidWake(bool tapsTurnedOff = false);

    platform::MemoryPreferences& memoryPreferences() { return preferences_; }

private:
    class Manager;
    class Tap;
    class Poster;
    friend class Manager;
    friend class Tap;

    struct QueuedInput {
        std::weak_ptr<SimKeyboard> keyboard;
        HidInputValue value;
    };
    // One message on its way in the run-loop order: a HID value (keyboard
    // set) or an event for the taps.
    struct Message {
        std::uint64_t seq = 0;
        Scheduler::Duration readyAt{};
        std::uint64_t readyTurn = 0;
        std::weak_ptr<SimKeyboard> keyboard;
        HidInputValue value;
        KeyEvent event;
        bool synthetic = false;
    };
    struct Plan {
        bool hidFirst = true;
        std::uint32_t turns = 0;
        Scheduler::Duration delay{};
    };

    void dispatch(const KeyEvent& event, bool synthetic);
    void deliver(const KeyEvent& event, bool synthetic);
    void physicalKey(SimKeyboard& keyboard, HidUsage usage, bool down);
    void queueKeyMessages(SimKeyboard& keyboard, const HidInputValue& value,
                          const std::optional<KeyEvent>& event);
    Plan nextPlan();
    bool hidGoesFirst();
    bool runTurn();
    void runLoopUntilIdle();
    void runLoopUntil(std::uint64_t seq);
    void advanceLoop(Scheduler::Duration delta);
    std::optional<Scheduler::Duration> nextMessageTime() const;
    bool messageReadyNow() const;
    void deliverPostedEvents();
    void step();
    void compactTaps();

    std::shared_ptr<Scheduler> scheduler_;
    VirtualScheduler* virtual_ = nullptr;
    platform::MemoryPreferences preferences_;
    platform::FolderPaths paths_;
    platform::NullSystemLog systemLog_;
    std::unique_ptr<Poster> poster_;
    std::function<void()> emergencyExit_;
    SimPower power_;
    SimKeyboardLayout layout_;

    std::vector<std::shared_ptr<SimKeyboard>> keyboards_;
    std::vector<Manager*> managers_;
    std::vector<Tap*> taps_; // oldest first; events go newest first
    int dispatching_ = 0;
    bool tapsNeedCompaction_ = false;

    PostingMode postingMode_ = PostingMode::sync;
    DeliveryOrder order_ = DeliveryOrder::hidFirst;
    std::mt19937_64 orderRandom_;
    bool runLoopTurns_ = true;
    std::vector<QueuedInput> queuedInput_;
    std::vector<QueuedInput> deliveringInput_;
    std::deque<Message> hidPath_; // HID values, in order
    std::deque<Message> tapPath_; // the session's event stream, in order
    std::uint64_t turn_ = 0;
    std::uint64_t nextSeq_ = 1;
    std::vector<KeyEvent> pendingPosts_;
    std::vector<KeyEvent> deliveringPosts_;
    bool postDeliveryQueued_ = false;
    // Expires with the world: queued main-thread work must not touch it then.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    std::vector<AppEvent> appEvents_;
    std::size_t appEventLimit_ = kDefaultAppEventLimit;
    std::uint64_t appEventCount_ = 0;
    std::vector<std::uint64_t> appKeysDown_; // bit set over key codes 0..65535
    std::size_t appKeysDownCount_ = 0;
    std::function<void(const AppEvent&)> sink_;
    bool drainAfterSteps_ = true;
    bool tapCreationFails_ = false;
    bool runLoopSourceFails_ = false;
    bool postingFails_ = false;
    std::size_t postedEvents_ = 0;
};

} // namespace chordwell::platform::sim
