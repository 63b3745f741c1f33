// CoreGraphics events in the model, after Apple's documentation of
// CGEventTapCreate, CGEventTapEnable, CGEventTapCallBack, CGEventPost and
// CGEventSourceSetUserData:
//  - the session's event stream passes each event through the taps in chain
//    order (a tap made with kCGHeadInsertEventTap goes first); our taps get
//    it as a message of their mach port, served by the run loop one per
//    turn; a tap that returns NULL deletes the event;
//  - CGEventPost at the session tap puts a copy before every session tap,
//    so our own posts come back through our tap, on a later turn, with the
//    user data of their source;
//  - a tap whose callback is too slow is disabled, the event goes on, and
//    the tap's callback later gets kCGEventTapDisabledByTimeout;
//  - without Accessibility an active tap loses the key-down and key-up bits
//    of its mask, and NULL comes back only when nothing is left; without
//    post access, posted events are dropped;
//  - while Secure Event Input is on, key-downs and key-ups reach the focused
//    application without passing any tap.
#include "model_internal.hpp"

#include <algorithm>

namespace applemodel {

namespace {

constexpr CGEventMask kKeyBits = CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventKeyUp);

AppEvent appEventOf(const AppleModelEvent& event, bool posted) {
    AppEvent e;
    e.time = state().now;
    e.type = event.type;
    auto code = event.fields.find(kCGKeyboardEventKeycode);
    e.keyCode = code == event.fields.end() ? 0 : code->second;
    e.flags = event.flags;
    auto data = event.fields.find(kCGEventSourceUserData);
    e.userData = data == event.fields.end() ? 0 : data->second;
    e.posted = posted;
    return e;
}

void deliverToApplication(const AppleModelEvent& event, bool posted) {
    State& s = state();
    const AppEvent e = appEventOf(event, posted);
    if (e.type == kCGEventKeyDown) {
        s.appKeysDown.insert(e.keyCode);
    } else if (e.type == kCGEventKeyUp) {
        s.appKeysDown.erase(e.keyCode);
    }
    s.appEvents.push_back(e);
}

bool isKeyEvent(CGEventType type) {
    return type == kCGEventKeyDown || type == kCGEventKeyUp;
}

// Passes `event` (borrowed) on from chain position `from`: through the
// foreign taps at once, to our next tap as a message of its port (which holds
// the event meanwhile), or to the application.
void route(AppleModelEvent* event, bool posted, std::size_t from, std::uint64_t seq);

void callTap(AppleModelMachPort* port, AppleModelEvent* event) {
    static AppleModelEventTapProxy proxy;
    ++state().stats.tapCallbacks;
    (void)port->tap->callback(&proxy, event->type, event, port->tap->userInfo);
}

void sendDisabledNotice(AppleModelMachPort* port, CGEventType notice) {
    State& s = state();
    AppleModelEvent* event = makeKeyEvent(notice, 0, 0);
    auto held = hold({port, event});
    releaseObject(event);
    postMessage(port->port, s.now, s.turn, [port, event, held] {
        if (!port->dead && port->valid && port->tap) {
            callTap(port, event);
        }
    });
}

void serveTapMessage(AppleModelMachPort* port, AppleModelEvent* event, bool posted,
                     std::size_t position, std::uint64_t seq) {
    Tap* tap = port->tap.get();
    if (port->dead || !port->valid || tap == nullptr || !tap->enabled) {
        // A tap that went away or was disabled meanwhile: the event goes on.
        route(event, posted, position + 1, seq);
        return;
    }
    // The run loop holds what it dispatches.
    auto held = hold({port, port->source});
    if (tap->timeOutsPending > 0) {
        // The callback takes too long: the system gives up on it, passes the
        // event on, disables the tap, and tells the tap once it listens again.
        --tap->timeOutsPending;
        tap->enabled = false;
        route(event, posted, position + 1, seq);
        callTap(port, event);
        sendDisabledNotice(port, kCGEventTapDisabledByTimeout);
        return;
    }
    static AppleModelEventTapProxy proxy;
    ++state().stats.tapCallbacks;
    CGEventRef result = tap->callback(&proxy, event->type, event, tap->userInfo);
    if (result == event) {
        route(event, posted, position + 1, seq);
    } else if (result != nullptr) {
        // A different event replaces it; the system releases the one it got.
        if (auto* other = use<AppleModelEvent>(result, Kind::event, "tap callback result")) {
            route(other, posted, position + 1, seq);
            releaseObject(other);
        }
    }
}

void route(AppleModelEvent* event, bool posted, std::size_t from, std::uint64_t seq) {
    State& s = state();
    const bool bypassTaps = s.secureEventInput && isKeyEvent(event->type);
    const auto entries = s.chain;
    for (std::size_t i = from; !bypassTaps && i < entries.size(); ++i) {
        if (entries[i].foreign != nullptr) {
            if (entries[i].foreign->swallow(appEventOf(*event, posted))) {
                return;
            }
            continue;
        }
        AppleModelMachPort* port = entries[i].ours;
        Tap* tap = port->tap.get();
        if (!tap->enabled || (tap->mask & CGEventMaskBit(event->type)) == 0) {
            continue;
        }
        auto held = hold({port, event});
        postMessage(
            port->port, s.now, s.turn,
            [port, event, posted, i, seq, held] { serveTapMessage(port, event, posted, i, seq); },
            seq);
        return;
    }
    deliverToApplication(*event, posted);
}

} // namespace

CGEventFlags implicitFlags(std::int64_t keyCode) {
    switch (keyCode) {
    case 123: // arrows
    case 124:
    case 125:
    case 126:
        return kCGEventFlagMaskNumericPad | kCGEventFlagMaskSecondaryFn;
    case 114: // Help
    case 115: // Home
    case 116: // Page Up
    case 117: // Forward Delete
    case 119: // End
    case 121: // Page Down
    case 122: // F1
    case 120: // F2
    case 99:  // F3
    case 118: // F4
    case 96:  // F5
    case 97:  // F6
    case 98:  // F7
    case 100: // F8
    case 101: // F9
    case 109: // F10
    case 103: // F11
    case 111: // F12
    case 105: // F13
    case 107: // F14
    case 113: // F15
    case 106: // F16
    case 64:  // F17
    case 79:  // F18
    case 80:  // F19
    case 90:  // F20
        return kCGEventFlagMaskSecondaryFn;
    case 65: // keypad
    case 67:
    case 69:
    case 71:
    case 75:
    case 76:
    case 78:
    case 81:
    case 82:
    case 83:
    case 84:
    case 85:
    case 86:
    case 87:
    case 88:
    case 89:
    case 91:
    case 92:
        return kCGEventFlagMaskNumericPad;
    default:
        return 0;
    }
}

AppleModelEvent* makeKeyEvent(CGEventType type, std::int64_t keyCode, CGEventFlags flags) {
    auto* event = make<AppleModelEvent>();
    event->type = type;
    event->flags = flags;
    event->fields[kCGKeyboardEventKeycode] = keyCode;
    return event;
}

void enterStream(AppleModelEvent* event, bool posted, Duration readyAt, std::uint64_t readyTurn,
                 std::optional<std::uint64_t> seq) {
    State& s = state();
    s.stream.push_back(
        State::StreamItem{seq ? *seq : s.nextSeq++, readyAt, readyTurn, event, posted});
}

void routeReadyStreamItems() {
    State& s = state();
    // In order: an event never overtakes one that entered the stream before.
    while (!s.stream.empty() && s.stream.front().readyAt <= s.now &&
           s.stream.front().readyTurn <= s.turn) {
        const State::StreamItem item = s.stream.front();
        s.stream.pop_front();
        route(item.event, item.posted, 0, item.seq);
        releaseObject(item.event);
    }
}

std::optional<Duration> tapTimeoutDue() {
    State& s = state();
    std::optional<Duration> due;
    for (AppleModelMachPort* port : ourTaps()) {
        if (port->tap->enabled && !port->port.queue.empty() && !port->port.scheduled()) {
            const Duration at = port->port.queue.front().readyAt + s.tapTimeout;
            if (!due || at < *due) {
                due = at;
            }
        }
    }
    return due;
}

void checkTapTimeouts() {
    State& s = state();
    // A tap whose port nobody serves holds up every event behind it until
    // the system gives up: it disables the tap and lets the events go on.
    for (AppleModelMachPort* port : ourTaps()) {
        if (!port->tap->enabled || port->port.queue.empty() || port->port.scheduled() ||
            port->port.queue.front().readyAt + s.tapTimeout > s.now) {
            continue;
        }
        port->tap->enabled = false;
        flushTapPort(port);
        sendDisabledNotice(port, kCGEventTapDisabledByTimeout);
    }
}

void flushTapPort(AppleModelMachPort* port) {
    auto waiting = std::move(port->port.queue);
    port->port.queue.clear();
    for (auto& message : waiting) {
        message.deliver(); // the tap cannot take it: the event goes on
    }
}

void removeTapFromChain(AppleModelMachPort* port) {
    if (hasState()) {
        std::erase_if(state().chain, [port](const auto& e) { return e.ours == port; });
    }
}

std::vector<AppleModelMachPort*> ourTaps() {
    std::vector<AppleModelMachPort*> taps;
    for (const auto& entry : state().chain) {
        if (entry.ours != nullptr) {
            taps.push_back(entry.ours);
        }
    }
    return taps;
}

} // namespace applemodel

using applemodel::Kind;
using applemodel::use;

std::string AppleModelEvent::describe() const {
    auto code = fields.find(kCGKeyboardEventKeycode);
    return "CGEvent type " + std::to_string(type) + " key " +
           std::to_string(code == fields.end() ? -1 : code->second);
}

// ------------------------------------------------------------------ events

CFTypeID CGEventGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::event);
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) {
    std::int64_t userData = 0;
    if (source != nullptr) {
        auto* s = use<AppleModelEventSource>(source, Kind::eventSource,
                                             "CGEventCreateKeyboardEvent (source)");
        if (s == nullptr) {
            return nullptr;
        }
        userData = s->userData;
    }
    // The flags start as the session's state says, with the function and
    // keypad bits a key of that code carries.
    auto* event =
        applemodel::makeKeyEvent(keyDown ? kCGEventKeyDown : kCGEventKeyUp, virtualKey,
                                 (applemodel::hasState() ? applemodel::currentModifierFlags() : 0) |
                                     applemodel::implicitFlags(virtualKey));
    event->fields[kCGEventSourceUserData] = userData;
    return event;
}

CGEventRef CGEventCreateCopy(CGEventRef event) {
    auto* e = use<AppleModelEvent>(event, Kind::event, "CGEventCreateCopy");
    if (e == nullptr) {
        return nullptr;
    }
    auto* copy = applemodel::make<AppleModelEvent>();
    copy->type = e->type;
    copy->flags = e->flags;
    copy->fields = e->fields;
    return copy;
}

CGEventType CGEventGetType(CGEventRef event) {
    auto* e = use<AppleModelEvent>(event, Kind::event, "CGEventGetType");
    return e == nullptr ? kCGEventNull : e->type;
}

CGEventFlags CGEventGetFlags(CGEventRef event) {
    auto* e = use<AppleModelEvent>(event, Kind::event, "CGEventGetFlags");
    return e == nullptr ? 0 : e->flags;
}

void CGEventSetFlags(CGEventRef event, CGEventFlags flags) {
    if (auto* e = use<AppleModelEvent>(event, Kind::event, "CGEventSetFlags")) {
        e->flags = flags;
    }
}

std::int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field) {
    auto* e = use<AppleModelEvent>(event, Kind::event, "CGEventGetIntegerValueField");
    if (e == nullptr) {
        return 0;
    }
    auto it = e->fields.find(field);
    return it == e->fields.end() ? 0 : it->second;
}

void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, std::int64_t value) {
    if (auto* e = use<AppleModelEvent>(event, Kind::event, "CGEventSetIntegerValueField")) {
        e->fields[field] = value;
    }
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
    auto* e = use<AppleModelEvent>(event, Kind::event, "CGEventPost");
    if (e == nullptr) {
        return;
    }
    applemodel::State& s = applemodel::state();
    ++s.stats.eventsPosted;
    if (s.postAccess != kIOHIDAccessTypeGranted) {
        ++s.stats.postsDropped; // dropped without a word, as the system does
        return;
    }
    if (tap != kCGSessionEventTap) {
        applemodel::fault("CGEventPost: the model posts at the session tap only");
        return;
    }
    auto* copy = static_cast<AppleModelEvent*>(CGEventCreateCopy(event));
    applemodel::enterStream(copy, true, s.now, s.turn + 1);
}

// ------------------------------------------------------------------ sources

CFTypeID CGEventSourceGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::eventSource);
}

CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID) {
    auto* source = applemodel::make<AppleModelEventSource>();
    source->state = stateID;
    return source;
}

void CGEventSourceSetUserData(CGEventSourceRef source, std::int64_t userData) {
    if (auto* s =
            use<AppleModelEventSource>(source, Kind::eventSource, "CGEventSourceSetUserData")) {
        s->userData = userData;
    }
}

std::int64_t CGEventSourceGetUserData(CGEventSourceRef source) {
    auto* s = use<AppleModelEventSource>(source, Kind::eventSource, "CGEventSourceGetUserData");
    return s == nullptr ? 0 : s->userData;
}

// --------------------------------------------------------------------- taps

CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place,
                               CGEventTapOptions options, CGEventMask eventsOfInterest,
                               CGEventTapCallBack callback, void* userInfo) {
    applemodel::State& s = applemodel::state();
    if (callback == nullptr || tap != kCGSessionEventTap) {
        applemodel::fault("CGEventTapCreate: the model makes session taps with a callback only");
        return nullptr;
    }
    // Key events need Accessibility for a tap that may change them, Input
    // Monitoring for one that only listens; bits the process may not see are
    // cleared, and nothing left means no tap.
    const bool keysAllowed =
        options == kCGEventTapOptionListenOnly
            ? s.listenAccess == kIOHIDAccessTypeGranted || s.accessibilityTrusted
            : s.accessibilityTrusted;
    CGEventMask mask = eventsOfInterest;
    if (!keysAllowed) {
        mask &= ~applemodel::kKeyBits;
    }
    if (mask == 0) {
        return nullptr;
    }
    auto* port = applemodel::make<AppleModelMachPort>();
    port->port.name = "event tap";
    port->tap = std::make_unique<applemodel::Tap>();
    port->tap->location = tap;
    port->tap->options = options;
    port->tap->mask = mask;
    port->tap->callback = callback;
    port->tap->userInfo = userInfo;
    port->tap->port = port;
    applemodel::State::ChainEntry entry;
    entry.ours = port;
    if (place == kCGHeadInsertEventTap) {
        s.chain.insert(s.chain.begin(), entry);
    } else {
        s.chain.push_back(entry);
    }
    return port;
}

void CGEventTapEnable(CFMachPortRef tap, bool enable) {
    auto* p = use<AppleModelMachPort>(tap, Kind::machPort, "CGEventTapEnable");
    if (p == nullptr || !p->tap) {
        return;
    }
    p->tap->enabled = enable && p->valid;
}

bool CGEventTapIsEnabled(CFMachPortRef tap) {
    auto* p = use<AppleModelMachPort>(tap, Kind::machPort, "CGEventTapIsEnabled");
    return p != nullptr && p->tap && p->tap->enabled;
}

// ------------------------------------------------------------- permissions

bool CGPreflightListenEventAccess(void) {
    return applemodel::state().listenAccess == kIOHIDAccessTypeGranted;
}

bool CGRequestListenEventAccess(void) {
    return IOHIDRequestAccess(kIOHIDRequestTypeListenEvent);
}

bool CGPreflightPostEventAccess(void) {
    return applemodel::state().postAccess == kIOHIDAccessTypeGranted;
}

bool CGRequestPostEventAccess(void) {
    return IOHIDRequestAccess(kIOHIDRequestTypePostEvent);
}

Boolean AXIsProcessTrusted(void) {
    return applemodel::state().accessibilityTrusted;
}

Boolean IsSecureEventInputEnabled(void) {
    return applemodel::state().secureEventInput;
}
