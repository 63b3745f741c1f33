// Inside the model of the Apple frameworks: the objects behind the CF, IOKit
// HID and CoreGraphics references, the run loop, and the "system" (keyboards,
// the session's event stream with its taps, the focused application).
//
// Every object carries a header with its retain count. An object whose count
// drops to zero is finalized (it releases what it holds) and marked dead, but
// its memory is kept until the model is torn down, so that a later use of it
// is recorded as a fault instead of being undefined behaviour.
#pragma once

#include "apple_model.hpp"

#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOMessage.h>
#include <IOKit/hid/IOHIDManager.h>
#include <IOKit/hidsystem/IOHIDLib.h>
#include <IOKit/pwr_mgt/IOPMLib.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace applemodel {

enum class Kind : CFTypeID {
    string = 7,
    number,
    boolean,
    dictionary,
    runLoop,
    runLoopSource,
    runLoopTimer,
    machPort,
    hidManager,
    hidDevice,
    hidElement,
    hidValue,
    event,
    eventSource,
};

inline constexpr std::uint32_t kMagic = 0xA99E'0DE1;

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    /// Drops what the object holds; called once, when its count reaches 0.
    virtual void finalize() {}
    virtual bool equals(const Object& other) const { return this == &other; }
    virtual std::size_t hash() const { return std::hash<const void*>()(this); }
    virtual std::string describe() const;

    std::uint32_t magic = kMagic;
    Kind kind;
    long refs = 1;
    bool dead = false;
    bool immortal = false;
    std::uint64_t serial = 0;
};

// The run loop modes: a source added to the common modes runs in each of
// them; one added to a named mode only in that mode.
inline const std::string kDefaultModeName = "kCFRunLoopDefaultMode";
inline const std::string kCommonModesName = "kCFRunLoopCommonModes";

/// A queue of messages received on one port: a device's HID queue, the HID
/// manager's notification port, an event tap's mach port.
struct Port {
    struct Message {
        std::uint64_t seq = 0;
        Duration readyAt{};
        std::uint64_t readyTurn = 0;
        std::function<void()> deliver;
    };

    std::string name;
    std::deque<Message> queue;
    /// The mode the port's source was scheduled in; empty while unscheduled.
    std::string mode;

    bool scheduled() const { return !mode.empty(); }
};

/// One of our event taps in the session's chain (the mach port holds it).
struct Tap {
    CGEventTapLocation location = kCGSessionEventTap;
    CGEventTapOptions options = kCGEventTapOptionDefault;
    CGEventMask mask = 0;
    CGEventTapCallBack callback = nullptr;
    void* userInfo = nullptr;
    bool enabled = true;
    int timeOutsPending = 0;
    struct ::AppleModelMachPort* port = nullptr;
};

/// A tap of another application: decides at once.
struct ForeignTap {
    std::function<bool(const AppEvent&)> swallow;
};

/// A keyboard as the system knows it (the IOService), with the device object
/// IOKit hands out for it.
struct Keyboard {
    KeyboardId id = 0;
    KeyboardTraits traits;
    std::uint64_t registryID = 0;
    bool attached = false;
    struct ::AppleModelHIDDevice* device = nullptr; // the system's reference
    std::uint8_t heldModifiers = 0;                 // bit n: usage 0xE0 + n
    std::vector<std::uint16_t> heldKeys;            // every key down, in press order
};

} // namespace applemodel

// ------------------------------------------------------ the CF object types

struct AppleModelString : applemodel::Object {
    explicit AppleModelString(std::string t)
        : Object(applemodel::Kind::string), text(std::move(t)) {}
    bool equals(const Object& other) const override;
    std::size_t hash() const override { return std::hash<std::string>()(text); }
    std::string describe() const override { return "CFString \"" + text + "\""; }
    std::string text;
};

struct AppleModelNumber : applemodel::Object {
    AppleModelNumber() : Object(applemodel::Kind::number) {}
    bool equals(const Object& other) const override;
    std::size_t hash() const override {
        return isFloat ? std::hash<double>()(real) : std::hash<std::int64_t>()(integer);
    }
    std::string describe() const override;
    bool isFloat = false;
    std::int64_t integer = 0;
    double real = 0;
};

struct AppleModelBoolean : applemodel::Object {
    explicit AppleModelBoolean(bool v) : Object(applemodel::Kind::boolean), value(v) {}
    std::string describe() const override { return value ? "kCFBooleanTrue" : "kCFBooleanFalse"; }
    bool value;
};

struct AppleModelDictionary : applemodel::Object {
    AppleModelDictionary() : Object(applemodel::Kind::dictionary) {}
    void finalize() override;
    std::string describe() const override;
    bool retainsKeys = true;
    bool retainsValues = true;
    std::vector<std::pair<const void*, const void*>> entries;
};

struct AppleModelRunLoopSource : applemodel::Object {
    AppleModelRunLoopSource() : Object(applemodel::Kind::runLoopSource) {}
    void finalize() override;
    std::string describe() const override;
    CFIndex order = 0;
    CFRunLoopSourceContext context{};
    /// Version 1: the mach port whose messages the source serves (held).
    struct AppleModelMachPort* machPort = nullptr;
    bool valid = true;
    bool signalled = false;
    /// The modes the source was added in (the run loop holds it meanwhile).
    std::set<std::string> modes;
    std::string label;
};

struct AppleModelRunLoopTimer : applemodel::Object {
    AppleModelRunLoopTimer() : Object(applemodel::Kind::runLoopTimer) {}
    void finalize() override;
    std::string describe() const override { return "CFRunLoopTimer"; }
    applemodel::Duration fireAt{};
    applemodel::Duration interval{};
    CFRunLoopTimerCallBack callout = nullptr;
    CFRunLoopTimerContext context{};
    bool valid = true;
    std::set<std::string> modes;
    std::uint64_t order = 0;
};

struct AppleModelRunLoop : applemodel::Object {
    AppleModelRunLoop() : Object(applemodel::Kind::runLoop) {}
    std::string describe() const override { return "CFRunLoop"; }
};

struct AppleModelMachPort : applemodel::Object {
    AppleModelMachPort() : Object(applemodel::Kind::machPort) {}
    void finalize() override;
    std::string describe() const override;
    bool valid = true;
    CFMachPortInvalidationCallBack invalidation = nullptr;
    AppleModelRunLoopSource* source = nullptr; // held while the port is valid
    applemodel::Port port;
    std::unique_ptr<applemodel::Tap> tap; // set for event taps
};

struct AppleModelHIDElement : applemodel::Object {
    AppleModelHIDElement() : Object(applemodel::Kind::hidElement) {}
    std::string describe() const override { return "IOHIDElement"; }
    std::uint32_t usagePage = 0;
    std::uint32_t usage = 0;
    struct AppleModelHIDDevice* device = nullptr; // not held, as in IOKit
};

struct AppleModelHIDValue : applemodel::Object {
    AppleModelHIDValue() : Object(applemodel::Kind::hidValue) {}
    void finalize() override;
    std::string describe() const override { return "IOHIDValue"; }
    AppleModelHIDElement* element = nullptr; // held
    CFIndex integer = 0;
    std::uint64_t timeStamp = 0;
};

struct AppleModelHIDDevice : applemodel::Object {
    AppleModelHIDDevice() : Object(applemodel::Kind::hidDevice) {}
    void finalize() override;
    std::string describe() const override;

    struct Registration {
        void* context = nullptr;
        IOHIDValueCallback callback = nullptr;
    };
    struct QueuedValue {
        std::uint32_t usagePage = 0;
        std::uint32_t usage = 0;
        CFIndex integer = 0;
        applemodel::Duration readyAt{};
        std::uint64_t readyTurn = 0;
    };

    applemodel::KeyboardId keyboard = 0;
    std::uint64_t registryID = 0;
    AppleModelDictionary* properties = nullptr; // held
    std::vector<Registration> inputValueCallbacks;
    bool queueCreated = false; // at the first registration, as IOKit makes its queue
    int openCount = 0;
    IOReturn openResult = kIOReturnSuccess;
    applemodel::Port queuePort;
    std::deque<QueuedValue> values;
    std::map<std::uint32_t, AppleModelHIDElement*> elements; // held
};

struct AppleModelHIDManager : applemodel::Object {
    AppleModelHIDManager() : Object(applemodel::Kind::hidManager) {}
    void finalize() override;
    std::string describe() const override { return "IOHIDManager"; }

    std::optional<std::uint32_t> usagePage;
    std::optional<std::uint32_t> usage;
    bool matchingSet = false;
    IOHIDDeviceCallback matchCallback = nullptr;
    void* matchContext = nullptr;
    IOHIDDeviceCallback removalCallback = nullptr;
    void* removalContext = nullptr;
    bool open = false;
    bool scheduled = false;
    std::string mode;
    std::vector<AppleModelHIDDevice*> devices;            // held (the manager's set)
    std::vector<AppleModelHIDDevice*> initialDevices;     // held until enumerated
    AppleModelRunLoopSource* initialEnumSource = nullptr; // held
    applemodel::Port notifyPort;
};

struct AppleModelEvent : applemodel::Object {
    AppleModelEvent() : Object(applemodel::Kind::event) {}
    std::string describe() const override;
    CGEventType type = kCGEventNull;
    CGEventFlags flags = 0;
    std::map<CGEventField, std::int64_t> fields;
};

struct AppleModelEventSource : applemodel::Object {
    AppleModelEventSource() : Object(applemodel::Kind::eventSource) {}
    std::string describe() const override { return "CGEventSource"; }
    CGEventSourceStateID state = kCGEventSourceStateCombinedSessionState;
    std::int64_t userData = 0;
};

struct AppleModelEventTapProxy {};

/// An IONotificationPort: a mach port of its own, whose run-loop source the
/// port owns.
struct AppleModelNotificationPort {
    AppleModelMachPort* machPort = nullptr;    // held
    AppleModelRunLoopSource* source = nullptr; // held
};

namespace applemodel {

/// The whole model's state; one at a time, owned by System.
struct State {
    // Objects and accounting.
    std::vector<std::unique_ptr<Object>> objects;
    std::uint64_t nextSerial = 1;
    std::vector<std::string> faults;
    Statistics stats;

    // Time and the run loop.
    Duration now{};
    std::uint64_t turn = 0;
    std::uint64_t nextSeq = 1;
    std::uint64_t nextTimerOrder = 1;
    std::string currentMode = kDefaultModeName;
    std::set<std::string> commonModes = {kDefaultModeName, "NSEventTrackingRunLoopMode"};
    AppleModelRunLoop* mainLoop = nullptr;
    std::vector<AppleModelRunLoopSource*> sources; // in the loop (held)
    std::vector<AppleModelRunLoopTimer*> timers;   // in the loop (held)
    std::vector<Port*> ports;                      // scheduled internal ports
    bool stopRequested = false;
    int dispatchDepth = 0;

    // Permissions and system state.
    IOHIDAccessType listenAccess = kIOHIDAccessTypeGranted;
    IOHIDAccessType postAccess = kIOHIDAccessTypeGranted;
    bool accessibilityTrusted = true;
    bool promptGrants = false;
    bool secureEventInput = false;
    CallbackSetLookup lookup = CallbackSetLookup::byContext;

    // Keyboards and HID managers.
    std::vector<std::unique_ptr<Keyboard>> keyboards;
    KeyboardId nextKeyboard = 1;
    std::uint64_t nextRegistryID = 0x1000'0042;
    std::vector<AppleModelHIDManager*> managers; // alive managers (not held)
    DeliveryPlan delivery;
    std::optional<RandomDelivery> randomDelivery;
    std::mt19937_64 random;

    // The session's event stream.
    /// The session's taps in chain order (head first): ours and other
    /// applications'.
    struct ChainEntry {
        AppleModelMachPort* ours = nullptr;
        std::shared_ptr<ForeignTap> foreign;
    };
    std::vector<ChainEntry> chain;
    struct StreamItem {
        std::uint64_t seq = 0;
        Duration readyAt{};
        std::uint64_t readyTurn = 0;
        AppleModelEvent* event = nullptr; // held by the stream
        bool posted = false;
    };
    std::deque<StreamItem> stream;
    Duration tapTimeout = std::chrono::seconds(1);
    std::vector<AppEvent> appEvents;
    std::set<std::int64_t> appKeysDown;

    // Power: registrations of IORegisterForSystemPower.
    struct PowerRegistration {
        io_connect_t connect = 0;
        io_object_t notifier = 0;
        void* refcon = nullptr;
        IOServiceInterestCallback callback = nullptr;
        struct ::AppleModelNotificationPort* port = nullptr;
    };
    std::vector<PowerRegistration> power;
    std::vector<struct ::AppleModelNotificationPort*> notificationPorts;
    bool powerRegistrationFails = false;
    io_connect_t nextConnect = 0x3003;
    std::intptr_t nextPowerNotification = 1;

    // Preferences: application ID → key → value (held).
    std::map<std::string, std::map<std::string, const Object*>> preferences;
};

State& state();
bool hasState();

/// Records a fault (also printed at the end of the test).
void fault(std::string message);

template <typename T, typename... Args> T* make(Args&&... args) {
    auto object = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = object.get();
    raw->serial = state().nextSerial++;
    state().objects.push_back(std::move(object));
    return raw;
}

/// The object behind `ref` when it is a live object of `kind`; records a
/// fault (NULL, not a model object, released, wrong type) and gives nullptr
/// otherwise.
Object* use(const void* ref, const char* function);
template <typename T> T* use(const void* ref, Kind kind, const char* function) {
    Object* object = use(ref, function);
    if (object == nullptr) {
        return nullptr;
    }
    if (object->kind != kind) {
        fault(std::string(function) + ": wrong type of object (" + object->describe() + ")");
        return nullptr;
    }
    return static_cast<T*>(object);
}

void retainObject(const Object* object);
void releaseObject(const Object* object);

/// References a queued message holds: released when the message is
/// delivered or dropped.
class Hold {
public:
    explicit Hold(std::initializer_list<const Object*> objects) : objects_(objects) {
        for (const Object* o : objects_) {
            retainObject(o);
        }
    }
    ~Hold() {
        if (hasState()) {
            for (const Object* o : objects_) {
                releaseObject(o);
            }
        }
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    std::vector<const Object*> objects_;
};
inline std::shared_ptr<Hold> hold(std::initializer_list<const Object*> objects) {
    return std::make_shared<Hold>(objects);
}

// Run loop internals.
void addSourceToLoop(AppleModelRunLoopSource* source, const std::string& mode);
void removeSourceFromLoop(AppleModelRunLoopSource* source, const std::string& mode);
void invalidateSource(AppleModelRunLoopSource* source);
void schedulePort(Port& port, const std::string& mode);
void unschedulePort(Port& port);
void postMessage(Port& port, Duration readyAt, std::uint64_t readyTurn,
                 std::function<void()> deliver, std::optional<std::uint64_t> seq = std::nullopt);
bool modeRuns(const std::string& added, const std::string& current);
/// One turn of the loop; false when it found nothing to do.
bool runOneTurn();
/// When the next timer, message, stream event or tap time-out is due.
std::optional<Duration> nextDueTime();
bool timersDue(const State& s);
std::optional<Duration> tapTimeoutDue();
std::string modeName(CFStringRef mode);
std::string text(CFStringRef string);

// HID internals.
AppleModelHIDDevice* createDevice(Keyboard& keyboard);
void deviceArrived(Keyboard& keyboard);
void deviceRemoved(Keyboard& keyboard);
void queueInputValue(AppleModelHIDDevice& device, std::uint32_t page, std::uint32_t usage,
                     CFIndex value, Duration readyAt, std::uint64_t readyTurn,
                     std::optional<std::uint64_t> seq = std::nullopt);
void dropManager(AppleModelHIDManager* manager);

// Event stream internals.
void enterStream(AppleModelEvent* event, bool posted, Duration readyAt, std::uint64_t readyTurn,
                 std::optional<std::uint64_t> seq = std::nullopt);
void routeReadyStreamItems();
void checkTapTimeouts();
CGEventFlags implicitFlags(std::int64_t keyCode);
/// The modifier flags of every modifier held on any keyboard.
CGEventFlags currentModifierFlags();
/// Passes the events waiting at a tap that went away on down the chain.
void flushTapPort(AppleModelMachPort* port);
AppleModelEvent* makeKeyEvent(CGEventType type, std::int64_t keyCode, CGEventFlags flags);
void removeTapFromChain(AppleModelMachPort* port);
/// Our taps in chain order.
std::vector<AppleModelMachPort*> ourTaps();

} // namespace applemodel
