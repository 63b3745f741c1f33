// The Linux platform: udev + evdev keyboards, the in-process event stream
// with its uinput virtual keyboard, XDG folders, the journal.
//
// The application hands in its own scheduler, fd watcher and preferences
// (Qt's); whatever is left out is made here: a PollLoop for the first two
// (the caller runs it, see pollLoop()) and a JSON preferences file.
#pragma once

#include "platform/linux/event_pipeline.hpp"
#include "platform/linux/input_context.hpp"
#include "platform/linux/key_loop.hpp"
#include "platform/linux/poll_loop.hpp"
#include "ports/fd_watcher.hpp"
#include "ports/ports.hpp"

#include <memory>
#include <string>

namespace chordwell::platform::lnx {

class LogindPower;
class UinputKeyboard;
class XkbKeyboardLayout;

struct LinuxPlatformOptions {
    std::shared_ptr<Scheduler> scheduler;
    std::shared_ptr<FdWatcher> fdWatcher;
    std::shared_ptr<Preferences> preferences;
    std::shared_ptr<Paths> paths;
    std::shared_ptr<SystemLog> systemLog;
    /// Where the virtual keyboard is created.
    std::string uinputPath = "/dev/uinput";
    /// False: no virtual keyboard (listing and reading keyboards only).
    bool createVirtualKeyboard = true;
    /// The key path on threads of its own (ports/key_path.hpp, key_loop.hpp):
    /// each keyboard read on a thread of its own, and the platform's other
    /// descriptors and the key path's timers on a loop that holds the key
    /// path's lock. That loop is the platform's own (pollLoop(), which the
    /// caller runs) when neither scheduler nor fdWatcher is given; otherwise
    /// it runs on a thread of its own, and `fdWatcher` (the main thread's)
    /// only rings the main thread's bells.
    bool keyPathThreads = false;
};

class LinuxPlatform final : public Platform {
public:
    explicit LinuxPlatform(LinuxPlatformOptions options);
    ~LinuxPlatform() override;
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    Scheduler& scheduler() override { return *scheduler_; }
    std::unique_ptr<HidManager> createHidManager() override;
    /// Nothing without the virtual keyboard: grabbing keyboards whose keys
    /// could not be written anywhere would silence them.
    std::unique_ptr<EventTap> createKeyboardEventTap(EventTap::Callback callback,
                                                     void* userInfo) override;
    EventPoster& eventPoster() override { return poster_; }
    Preferences& preferences() override { return *preferences_; }
    const Paths& paths() const override { return *paths_; }
    SystemLog& systemLog() override { return *systemLog_; }
    /// logind's sleep and wake, connected on first use; nullptr without a
    /// system bus.
    Power* power() override;
    std::vector<PlatformNotice> notices() const override;
    /// Every notice comes from the input context, which reports each change.
    bool setNoticeObserver(std::function<void()> observer) override;
    void setEmergencyExitHandler(std::function<void()> handler) override;
    KeyPath* keyPath() override { return keyLoop_.get(); }
    /// The layout through libxkbcommon (xkb_layout.hpp), read on first use.
    KeyboardLayout* keyboardLayout() override;

    /// The loop to run when this platform made its own (else nullptr).
    const std::shared_ptr<PollLoop>& pollLoop() const { return pollLoop_; }
    /// The virtual keyboard, when it could be made.
    const UinputKeyboard* virtualKeyboard() const { return virtualKeyboard_.get(); }
    InputContext& inputContext() { return *context_; }

private:
    std::shared_ptr<PollLoop> pollLoop_;
    std::shared_ptr<Scheduler> scheduler_;
    std::shared_ptr<FdWatcher> fdWatcher_;
    // The key path's loop, with keyPathThreads; the adapters' descriptors
    // and deferred work are then on it.
    std::shared_ptr<KeyLoop> keyLoop_;
    std::shared_ptr<FdWatcher> inputWatcher_;
    std::shared_ptr<Scheduler> inputScheduler_;
    std::shared_ptr<Preferences> preferences_;
    std::shared_ptr<Paths> paths_;
    std::shared_ptr<SystemLog> systemLog_;
    std::unique_ptr<UinputKeyboard> virtualKeyboard_;
    FdWatcher::WatchId ledWatch_ = 0;
    std::shared_ptr<EventPipeline> pipeline_;
    std::shared_ptr<InputContext> context_;
    LinuxEventPoster poster_;
    std::unique_ptr<LogindPower> power_;
    bool powerTried_ = false;
    std::unique_ptr<XkbKeyboardLayout> layout_;
};

std::shared_ptr<LinuxPlatform> makeLinuxPlatform(LinuxPlatformOptions options = {});

} // namespace chordwell::platform::lnx
