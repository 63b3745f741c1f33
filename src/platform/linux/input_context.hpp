// What the Linux adapters share: the event stream, which keyboards are
// grabbed, the emergency exit, and the permission problems to tell the user
// about.
//
// A keyboard whose input the engine reads is grabbed (EVIOCGRAB) while some
// event tap is active, so that its keys reach the desktop only through the
// taps and the virtual keyboard. A grab waits until none of the keyboard's
// keys is down (as the kernel reports it, EVIOCGKEY): grabbing a held key
// would leave it stuck down for the desktop, which then never sees its
// release. A key that goes down between that check and the grab ends the
// grab again at once, for the same reason.
//
// While a tap that covers every keyboard is active (a recording), every
// keyboard the context knows is opened and grabbed the same way, so that
// keys typed on any of them reach the taps; when that tap goes (the
// recording ends, interception ends, the tap object is destroyed, the
// emergency chord is typed), they are released and closed again.
#pragma once

#include "platform/linux/event_pipeline.hpp"
#include "platform/linux/keyboard_lock.hpp"
#include "ports/ports.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace chordwell::platform::lnx {

/// A keyboard node as the context sees it.
class GrabbableKeyboard {
public:
    virtual ~GrabbableKeyboard() = default;
    /// Opens the node (and attaches it) so that its keys enter the event
    /// stream although the engine does not read it, or closes it again
    /// when nothing else keeps it open.
    virtual void setCovered(bool covered) { (void)covered; }
    virtual EventPipeline::SourceId sourceId() const = 0;
    /// Whether any key of the keyboard is down now, as the kernel knows it.
    virtual bool anyKeyDown() const = 0;
    virtual bool isKeyDown(std::uint16_t code) const = 0;
    /// EVIOCGRAB on (true) or off; false when the kernel refused.
    virtual bool setGrabbed(bool grabbed) = 0;
    /// Lights an LED of the keyboard (Caps Lock, Num Lock, ...).
    virtual void setLed(std::uint16_t code, std::int32_t value) = 0;
    /// Product name, for log lines.
    virtual std::string displayName() const = 0;
    /// The name of the keyboard's lock among Chordwell processes (its event
    /// node, "event5"); empty: the keyboard takes no lock.
    virtual std::string lockName() const { return {}; }
};

/// Permission problems, each told to the user once it is seen.
enum class PlatformProblem {
    cannotReadKeyboards,         // an event node is not readable
    cannotCreateVirtualKeyboard, // /dev/uinput is not writable
    uinputMissing,               // /dev/uinput does not exist
};

class InputContext {
public:
    InputContext(std::shared_ptr<Scheduler> scheduler, std::shared_ptr<EventPipeline> pipeline);
    ~InputContext();
    InputContext(const InputContext&) = delete;
    InputContext& operator=(const InputContext&) = delete;

    EventPipeline& pipeline() { return *pipeline_; }
    const std::shared_ptr<EventPipeline>& sharedPipeline() const { return pipeline_; }
    EventPipeline::SourceId makeSourceId() { return nextSourceId_++; }

    /// Every keyboard node discovery knows, read or not.
    void registerKeyboard(GrabbableKeyboard& keyboard);
    void unregisterKeyboard(GrabbableKeyboard& keyboard);
    /// Whether the keys of every known keyboard are taken now.
    bool coversEveryKeyboard() const { return covering_; }

    /// A keyboard whose input the engine now reads.
    void attach(GrabbableKeyboard& keyboard);
    /// Before the keyboard is closed: ends its grab and releases its keys.
    void detach(GrabbableKeyboard& keyboard);
    bool isAttached(const GrabbableKeyboard& keyboard) const;
    bool isGrabbed(const GrabbableKeyboard& keyboard) const;

    /// One key change of an attached keyboard, after the engine has seen
    /// its HID value: into the event stream when the keyboard is grabbed.
    void handleKey(GrabbableKeyboard& keyboard, std::uint16_t code, std::int32_t value);
    /// After a batch of events: grabs that waited for keys to come up.
    void afterEvents(GrabbableKeyboard& keyboard);

    /// Holding Backspace, Escape and Enter together on a grabbed keyboard
    /// ends every grab and calls this handler (on the main thread, soon
    /// after). No keyboard is grabbed again until the event taps have all
    /// gone and a new one becomes active.
    void setEmergencyExitHandler(std::function<void()> handler);
    bool emergencyExitLatched() const { return emergencyLatched_; }

    /// The desktop changed an LED of the virtual keyboard: mirror it on the
    /// grabbed keyboards.
    void mirrorLed(std::uint16_t code, std::int32_t value);

    /// Records a problem (logged once, at error level, category "keyboard").
    void reportProblem(PlatformProblem problem, const std::string& detail);
    bool hasProblem(PlatformProblem problem) const { return problems_.count(problem) != 0; }
    std::vector<PlatformNotice> notices() const;
    /// Whether a keyboard was not grabbed because another Chordwell process
    /// holds it.
    bool anyHeldElsewhere() const { return !heldElsewhere_.empty(); }
    /// Called (on the main thread) whenever notices() changed.
    void setNoticesObserver(std::function<void()> observer);

    /// Re-evaluates every grab (the taps changed).
    void updateGrabs();

    /// Keyboards are read on threads of their own, each holding `lock`
    /// while it handles what it read (see key_loop.hpp); null: on the loop
    /// of their file-descriptor watcher. Set before any keyboard is read.
    void setReadingLock(std::shared_ptr<std::recursive_mutex> lock) {
        readingLock_ = std::move(lock);
    }
    const std::shared_ptr<std::recursive_mutex>& readingLock() const { return readingLock_; }

private:
    struct Attached {
        GrabbableKeyboard* keyboard = nullptr;
        bool grabbed = false;
        std::shared_ptr<KeyboardLock> lock; // held while grabbed
        bool waitsForKeys = false;          // said in the log once per wait
    };
    Attached* find(const GrabbableKeyboard& keyboard);
    const Attached* find(const GrabbableKeyboard& keyboard) const;
    bool wantsGrab() const;
    void tryGrab(Attached& entry);
    void release(Attached& entry);
    void triggerEmergencyExit();
    void refuseGrab(Attached& entry, const std::string& holder);
    void setHeldElsewhere(const GrabbableKeyboard& keyboard, std::optional<std::string> text);
    void noticesChanged();

    std::shared_ptr<Scheduler> scheduler_;
    std::shared_ptr<EventPipeline> pipeline_;
    std::shared_ptr<std::recursive_mutex> readingLock_;
    void updateCovering();

    std::vector<Attached> attached_;
    std::vector<GrabbableKeyboard*> known_;
    bool covering_ = false;
    EventPipeline::SourceId nextSourceId_ = 1;
    std::function<void()> emergencyHandler_;
    bool emergencyLatched_ = false;
    std::set<PlatformProblem> problems_;
    // Keyboards another Chordwell process holds, with the notice's text.
    std::vector<std::pair<const GrabbableKeyboard*, std::string>> heldElsewhere_;
    std::function<void()> noticesObserver_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

/// The text shown for a problem.
std::string noticeText(PlatformProblem problem);

} // namespace chordwell::platform::lnx
