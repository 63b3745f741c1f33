// The model's run loop, shaped like CFRunLoop's __CFRunLoopRun: at the top of
// each turn the signalled version-0 sources run, sorted by order, each signal
// cleared before its perform is called; then the loop either fires every due
// timer or services exactly one message of one port. Time is virtual.
#include "model_internal.hpp"

#include <mach/mach_time.h>

#include <algorithm>

namespace applemodel {

namespace {

// CFAbsoluteTime of the model's time 0 (some day in 2023).
constexpr double kEpoch = 700'000'000.0;

// CFAbsoluteTime is a double of seconds since 2001: near today it resolves
// about a tenth of a microsecond. Dates are read to the nearest microsecond.
Duration fromSeconds(double seconds) {
    return std::chrono::round<std::chrono::microseconds>(std::chrono::duration<double>(seconds));
}

double toSeconds(Duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

bool modeRuns(const std::string& added, const std::string& current) {
    if (added == current) {
        return true;
    }
    return added == kCommonModesName && state().commonModes.count(current) > 0;
}

std::string modeName(CFStringRef mode) {
    return text(mode);
}

void addSourceToLoop(AppleModelRunLoopSource* source, const std::string& mode) {
    State& s = state();
    if (!source->valid || source->modes.count(mode) > 0) {
        return;
    }
    if (source->modes.empty()) {
        retainObject(source); // the run loop holds its sources
        s.sources.push_back(source);
    }
    source->modes.insert(mode);
    if (source->machPort != nullptr) {
        schedulePort(source->machPort->port, mode);
    }
    if (source->context.schedule != nullptr) {
        source->context.schedule(source->context.info, s.mainLoop, nullptr);
    }
}

void removeSourceFromLoop(AppleModelRunLoopSource* source, const std::string& mode) {
    State& s = state();
    if (source->modes.erase(mode) == 0) {
        return;
    }
    if (source->context.cancel != nullptr) {
        source->context.cancel(source->context.info, s.mainLoop, nullptr);
    }
    if (source->modes.empty()) {
        if (source->machPort != nullptr) {
            unschedulePort(source->machPort->port);
        }
        std::erase(s.sources, source);
        releaseObject(source);
    } else if (source->machPort != nullptr) {
        schedulePort(source->machPort->port, *source->modes.begin());
    }
}

void invalidateSource(AppleModelRunLoopSource* source) {
    if (!source->valid) {
        return;
    }
    source->valid = false;
    source->signalled = false;
    // Removing may drop the last reference; keep the object for the loop.
    retainObject(source);
    const auto modes = source->modes;
    for (const std::string& mode : modes) {
        removeSourceFromLoop(source, mode);
    }
    releaseObject(source);
}

void schedulePort(Port& port, const std::string& mode) {
    State& s = state();
    if (!port.scheduled()) {
        s.ports.push_back(&port);
    }
    port.mode = mode;
}

void unschedulePort(Port& port) {
    if (!port.scheduled()) {
        return;
    }
    std::erase(state().ports, &port);
    port.mode.clear();
}

void postMessage(Port& port, Duration readyAt, std::uint64_t readyTurn,
                 std::function<void()> deliver, std::optional<std::uint64_t> seq) {
    State& s = state();
    Port::Message message;
    message.seq = seq ? *seq : s.nextSeq++;
    message.readyAt = readyAt;
    message.readyTurn = readyTurn;
    message.deliver = std::move(deliver);
    port.queue.push_back(std::move(message));
}

namespace {

bool messageReady(const Port::Message& m, const State& s) {
    return m.readyAt <= s.now && m.readyTurn <= s.turn;
}

Port* nextReadyPort(State& s) {
    Port* best = nullptr;
    for (Port* port : s.ports) {
        if (port->queue.empty() || !modeRuns(port->mode, s.currentMode) ||
            !messageReady(port->queue.front(), s)) {
            continue;
        }
        if (best == nullptr || port->queue.front().seq < best->queue.front().seq) {
            best = port;
        }
    }
    return best;
}

bool runSources0(State& s) {
    std::vector<AppleModelRunLoopSource*> ready;
    for (AppleModelRunLoopSource* source : s.sources) {
        if (source->machPort == nullptr && source->signalled && source->valid) {
            for (const std::string& mode : source->modes) {
                if (modeRuns(mode, s.currentMode)) {
                    ready.push_back(source);
                    break;
                }
            }
        }
    }
    std::stable_sort(ready.begin(), ready.end(),
                     [](const auto* a, const auto* b) { return a->order < b->order; });
    for (AppleModelRunLoopSource* source : ready) {
        retainObject(source);
        if (!source->dead && source->valid && source->signalled) {
            source->signalled = false;
            if (source->context.perform != nullptr) {
                ++s.dispatchDepth;
                source->context.perform(source->context.info);
                --s.dispatchDepth;
            }
        }
        releaseObject(source);
    }
    return !ready.empty();
}

bool fireTimers(State& s) {
    std::vector<AppleModelRunLoopTimer*> due;
    for (AppleModelRunLoopTimer* timer : s.timers) {
        if (timer->valid && timer->fireAt <= s.now) {
            for (const std::string& mode : timer->modes) {
                if (modeRuns(mode, s.currentMode)) {
                    due.push_back(timer);
                    break;
                }
            }
        }
    }
    std::stable_sort(due.begin(), due.end(), [](const auto* a, const auto* b) {
        return a->fireAt != b->fireAt ? a->fireAt < b->fireAt : a->order < b->order;
    });
    for (AppleModelRunLoopTimer* timer : due) {
        retainObject(timer);
        if (!timer->dead && timer->valid && timer->fireAt <= s.now) {
            if (timer->interval > Duration::zero()) {
                // A repeating timer keeps its phase and skips what it missed.
                while (timer->fireAt <= s.now) {
                    timer->fireAt += timer->interval;
                }
            }
            const bool repeating = timer->interval > Duration::zero();
            ++s.dispatchDepth;
            if (timer->callout != nullptr) {
                timer->callout(timer, timer->context.info);
            }
            --s.dispatchDepth;
            if (!repeating) {
                CFRunLoopTimerInvalidate(timer);
            }
        }
        releaseObject(timer);
    }
    return !due.empty();
}

} // namespace

} // namespace applemodel

using applemodel::Kind;
using applemodel::use;

// ------------------------------------------------------------ the run loop

CFTypeID CFRunLoopGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::runLoop);
}

CFRunLoopRef CFRunLoopGetCurrent(void) {
    return applemodel::state().mainLoop;
}

CFRunLoopRef CFRunLoopGetMain(void) {
    return applemodel::state().mainLoop;
}

const CFRunLoopMode kCFRunLoopDefaultMode = AppleModelConstantString("kCFRunLoopDefaultMode");
const CFRunLoopMode kCFRunLoopCommonModes = AppleModelConstantString("kCFRunLoopCommonModes");

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled) {
    applemodel::State& s = applemodel::state();
    const std::string previous = s.currentMode;
    s.currentMode = applemodel::modeName(mode);
    s.stopRequested = false;
    const applemodel::Duration end = s.now + applemodel::fromSeconds(seconds);
    CFRunLoopRunResult result = kCFRunLoopRunTimedOut;
    for (;;) {
        bool did = false;
        // Runs turns until idle at this time, then lets time pass to the
        // next due item.
        while (!s.stopRequested) {
            applemodel::routeReadyStreamItems();
            const std::uint64_t before = s.stats.inputValuesDelivered + s.stats.tapCallbacks;
            const bool turned = applemodel::runOneTurn();
            did = did || turned;
            if (returnAfterSourceHandled && turned &&
                s.stats.inputValuesDelivered + s.stats.tapCallbacks != before) {
                s.currentMode = previous;
                return kCFRunLoopRunHandledSource;
            }
            if (!turned) {
                break;
            }
        }
        if (s.stopRequested) {
            result = kCFRunLoopRunStopped;
            break;
        }
        const auto next = applemodel::nextDueTime();
        if (!next || *next > end) {
            s.now = std::max(s.now, end);
            result = kCFRunLoopRunTimedOut;
            break;
        }
        s.now = std::max(s.now, *next);
    }
    s.stopRequested = false;
    s.currentMode = previous;
    return result;
}

void CFRunLoopRun(void) {
    // Until stopped; the model gives up after a simulated day.
    (void)CFRunLoopRunInMode(kCFRunLoopDefaultMode, 86'400.0, false);
}

void CFRunLoopStop(CFRunLoopRef loop) {
    if (use(loop, "CFRunLoopStop") != nullptr) {
        applemodel::state().stopRequested = true;
    }
}

void CFRunLoopWakeUp(CFRunLoopRef loop) {
    (void)use(loop, "CFRunLoopWakeUp");
}

// ------------------------------------------------------------------ sources

void AppleModelRunLoopSource::finalize() {
    if (machPort != nullptr) {
        auto* port = machPort;
        machPort = nullptr;
        applemodel::releaseObject(port);
    }
    if (context.release != nullptr) {
        context.release(context.info);
    }
}

std::string AppleModelRunLoopSource::describe() const {
    return "CFRunLoopSource" + (label.empty() ? std::string() : " (" + label + ")");
}

CFTypeID CFRunLoopSourceGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::runLoopSource);
}

CFRunLoopSourceRef CFRunLoopSourceCreate(CFAllocatorRef, CFIndex order,
                                         CFRunLoopSourceContext* context) {
    if (context == nullptr || context->version != 0) {
        applemodel::fault("CFRunLoopSourceCreate: the model makes version-0 sources only");
        return nullptr;
    }
    auto* source = applemodel::make<AppleModelRunLoopSource>();
    source->order = order;
    source->context = *context;
    if (context->retain != nullptr) {
        source->context.info = const_cast<void*>(context->retain(context->info));
    }
    return source;
}

void CFRunLoopSourceSignal(CFRunLoopSourceRef source) {
    auto* s = use<AppleModelRunLoopSource>(source, Kind::runLoopSource, "CFRunLoopSourceSignal");
    if (s != nullptr && s->valid) {
        s->signalled = true;
    }
}

void CFRunLoopSourceInvalidate(CFRunLoopSourceRef source) {
    if (auto* s = use<AppleModelRunLoopSource>(source, Kind::runLoopSource,
                                               "CFRunLoopSourceInvalidate")) {
        applemodel::invalidateSource(s);
    }
}

Boolean CFRunLoopSourceIsValid(CFRunLoopSourceRef source) {
    auto* s = use<AppleModelRunLoopSource>(source, Kind::runLoopSource, "CFRunLoopSourceIsValid");
    return s != nullptr && s->valid;
}

void CFRunLoopAddSource(CFRunLoopRef loop, CFRunLoopSourceRef source, CFRunLoopMode mode) {
    if (use(loop, "CFRunLoopAddSource") == nullptr) {
        return;
    }
    if (auto* s = use<AppleModelRunLoopSource>(source, Kind::runLoopSource, "CFRunLoopAddSource")) {
        applemodel::addSourceToLoop(s, applemodel::modeName(mode));
    }
}

void CFRunLoopRemoveSource(CFRunLoopRef loop, CFRunLoopSourceRef source, CFRunLoopMode mode) {
    if (use(loop, "CFRunLoopRemoveSource") == nullptr) {
        return;
    }
    if (auto* s =
            use<AppleModelRunLoopSource>(source, Kind::runLoopSource, "CFRunLoopRemoveSource")) {
        applemodel::removeSourceFromLoop(s, applemodel::modeName(mode));
    }
}

Boolean CFRunLoopContainsSource(CFRunLoopRef, CFRunLoopSourceRef source, CFRunLoopMode mode) {
    auto* s = use<AppleModelRunLoopSource>(source, Kind::runLoopSource, "CFRunLoopContainsSource");
    return s != nullptr && s->modes.count(applemodel::modeName(mode)) > 0;
}

// ------------------------------------------------------------------- timers

void AppleModelRunLoopTimer::finalize() {
    if (context.release != nullptr) {
        context.release(context.info);
    }
}

CFTypeID CFRunLoopTimerGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::runLoopTimer);
}

CFRunLoopTimerRef CFRunLoopTimerCreate(CFAllocatorRef, CFAbsoluteTime fireDate,
                                       CFTimeInterval interval, CFOptionFlags, CFIndex,
                                       CFRunLoopTimerCallBack callout,
                                       CFRunLoopTimerContext* context) {
    auto* timer = applemodel::make<AppleModelRunLoopTimer>();
    timer->fireAt = applemodel::fromSeconds(fireDate - applemodel::kEpoch);
    timer->interval = interval > 0 ? applemodel::fromSeconds(interval) : applemodel::Duration{};
    timer->callout = callout;
    if (context != nullptr) {
        timer->context = *context;
        if (context->retain != nullptr) {
            timer->context.info = const_cast<void*>(context->retain(context->info));
        }
    }
    timer->order = applemodel::state().nextTimerOrder++;
    return timer;
}

void CFRunLoopAddTimer(CFRunLoopRef loop, CFRunLoopTimerRef timer, CFRunLoopMode mode) {
    if (use(loop, "CFRunLoopAddTimer") == nullptr) {
        return;
    }
    auto* t = use<AppleModelRunLoopTimer>(timer, Kind::runLoopTimer, "CFRunLoopAddTimer");
    if (t == nullptr || !t->valid) {
        return;
    }
    const std::string name = applemodel::modeName(mode);
    if (t->modes.empty()) {
        applemodel::retainObject(t);
        applemodel::state().timers.push_back(t);
    }
    t->modes.insert(name);
}

void CFRunLoopTimerInvalidate(CFRunLoopTimerRef timer) {
    auto* t = use<AppleModelRunLoopTimer>(timer, Kind::runLoopTimer, "CFRunLoopTimerInvalidate");
    if (t == nullptr || !t->valid) {
        return;
    }
    t->valid = false;
    if (!t->modes.empty()) {
        t->modes.clear();
        std::erase(applemodel::state().timers, t);
        applemodel::releaseObject(t);
    }
}

Boolean CFRunLoopTimerIsValid(CFRunLoopTimerRef timer) {
    auto* t = use<AppleModelRunLoopTimer>(timer, Kind::runLoopTimer, "CFRunLoopTimerIsValid");
    return t != nullptr && t->valid;
}

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
    return applemodel::kEpoch + applemodel::toSeconds(applemodel::state().now);
}

std::uint64_t mach_absolute_time(void) {
    return static_cast<std::uint64_t>(applemodel::state().now.count());
}

kern_return_t mach_timebase_info(mach_timebase_info_t info) {
    info->numer = 1;
    info->denom = 1;
    return 0;
}

// --------------------------------------------------------------- mach ports

void AppleModelMachPort::finalize() {
    applemodel::removeTapFromChain(this);
    applemodel::unschedulePort(port);
    port.queue.clear();
    if (source != nullptr) {
        auto* s = source;
        source = nullptr;
        applemodel::invalidateSource(s);
        applemodel::releaseObject(s);
    }
}

std::string AppleModelMachPort::describe() const {
    return tap ? "CFMachPort (event tap)" : "CFMachPort";
}

CFTypeID CFMachPortGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::machPort);
}

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef, CFMachPortRef port,
                                                 CFIndex order) {
    auto* p = use<AppleModelMachPort>(port, Kind::machPort, "CFMachPortCreateRunLoopSource");
    if (p == nullptr || !p->valid) {
        return nullptr;
    }
    if (p->source != nullptr) {
        applemodel::retainObject(p->source);
        return p->source;
    }
    // The source holds its port, and the port its source, until the port is
    // invalidated: a port released without CFMachPortInvalidate stays alive.
    auto* source = applemodel::make<AppleModelRunLoopSource>();
    source->order = order;
    source->machPort = p;
    source->label = p->describe();
    applemodel::retainObject(p);
    applemodel::retainObject(source);
    p->source = source;
    return source;
}

void CFMachPortInvalidate(CFMachPortRef port) {
    auto* p = use<AppleModelMachPort>(port, Kind::machPort, "CFMachPortInvalidate");
    if (p == nullptr || !p->valid) {
        return;
    }
    applemodel::retainObject(p);
    p->valid = false;
    applemodel::removeTapFromChain(p);
    if (p->invalidation != nullptr) {
        p->invalidation(p, nullptr);
    }
    if (p->source != nullptr) {
        auto* s = p->source;
        p->source = nullptr;
        applemodel::invalidateSource(s);
        applemodel::releaseObject(s);
    }
    applemodel::unschedulePort(p->port);
    if (p->tap) {
        applemodel::flushTapPort(p);
    }
    p->port.queue.clear();
    applemodel::releaseObject(p);
}

Boolean CFMachPortIsValid(CFMachPortRef port) {
    auto* p = use<AppleModelMachPort>(port, Kind::machPort, "CFMachPortIsValid");
    return p != nullptr && p->valid;
}

void CFMachPortSetInvalidationCallBack(CFMachPortRef port, CFMachPortInvalidationCallBack callout) {
    auto* p = use<AppleModelMachPort>(port, Kind::machPort, "CFMachPortSetInvalidationCallBack");
    if (p == nullptr) {
        return;
    }
    // Like CF: on a port that is already invalid the callout runs at once.
    if (!p->valid) {
        if (callout != nullptr) {
            callout(p, nullptr);
        }
        return;
    }
    p->invalidation = callout;
}

// ------------------------------------------------------- the loop's turns

namespace applemodel {

bool runOneTurn() {
    State& s = state();
    routeReadyStreamItems();
    bool did = runSources0(s);
    if (fireTimers(s)) {
        did = true;
    } else if (Port* port = nextReadyPort(s)) {
        Port::Message message = std::move(port->queue.front());
        port->queue.pop_front();
        ++s.dispatchDepth;
        message.deliver();
        --s.dispatchDepth;
        did = true;
    }
    ++s.turn;
    ++s.stats.turns;
    return did;
}

std::optional<Duration> nextDueTime() {
    State& s = state();
    std::optional<Duration> next;
    auto consider = [&](Duration t) {
        if (!next || t < *next) {
            next = t;
        }
    };
    for (const AppleModelRunLoopTimer* timer : s.timers) {
        for (const std::string& mode : timer->modes) {
            if (timer->valid && modeRuns(mode, s.currentMode)) {
                consider(timer->fireAt);
                break;
            }
        }
    }
    for (const Port* port : s.ports) {
        if (!port->queue.empty() && modeRuns(port->mode, s.currentMode)) {
            consider(port->queue.front().readyAt);
        }
    }
    if (!s.stream.empty()) {
        consider(s.stream.front().readyAt);
    }
    if (auto timeout = tapTimeoutDue()) {
        consider(*timeout);
    }
    return next;
}

namespace {

// Whether something could happen at this time if turns go on: a message
// waits only for its turn, or a version-0 source is signalled.
bool workPending(const State& s) {
    for (const AppleModelRunLoopSource* source : s.sources) {
        if (source->machPort == nullptr && source->signalled && source->valid) {
            for (const std::string& mode : source->modes) {
                if (modeRuns(mode, s.currentMode)) {
                    return true;
                }
            }
        }
    }
    for (const Port* port : s.ports) {
        if (!port->queue.empty() && modeRuns(port->mode, s.currentMode) &&
            port->queue.front().readyAt <= s.now) {
            return true;
        }
    }
    // The stream keeps its order: only its first event can be next.
    return !s.stream.empty() && s.stream.front().readyAt <= s.now;
}

} // namespace

void System::runUntilIdle() {
    State& s = state();
    checkTapTimeouts();
    std::uint64_t guard = 0;
    while (workPending(s) || timersDue(s)) {
        (void)runOneTurn();
        checkTapTimeouts();
        if (++guard > 100'000) {
            fault("the run loop never came to rest (100,000 turns at one time)");
            return;
        }
    }
}

bool timersDue(const State& s) {
    for (const AppleModelRunLoopTimer* timer : s.timers) {
        if (timer->valid && timer->fireAt <= s.now) {
            for (const std::string& mode : timer->modes) {
                if (modeRuns(mode, s.currentMode)) {
                    return true;
                }
            }
        }
    }
    return false;
}

void System::advance(Duration delta) {
    State& s = state();
    const Duration end = s.now + delta;
    runUntilIdle();
    while (auto next = nextDueTime()) {
        if (*next > end) {
            break;
        }
        s.now = std::max(s.now, *next);
        runUntilIdle();
    }
    s.now = std::max(s.now, end);
    runUntilIdle();
}

bool System::runTurn() {
    return runOneTurn();
}

std::optional<Duration> System::nextDue() const {
    return nextDueTime();
}

Duration System::now() const {
    return state().now;
}

std::uint64_t System::turn() const {
    return state().turn;
}

void System::setRunLoopMode(std::string mode) {
    state().currentMode = std::move(mode);
}

bool System::hasPendingMessages() const {
    const State& s = state();
    if (!s.stream.empty()) {
        return true;
    }
    for (const Port* port : s.ports) {
        if (!port->queue.empty()) {
            return true;
        }
    }
    return false;
}

std::size_t System::sourcesInRunLoop() const {
    return state().sources.size();
}

std::size_t System::timersInRunLoop() const {
    return state().timers.size();
}

} // namespace applemodel
