// Platform ports: the smallest surfaces the engine, storage and logging need
// from the operating system. Adapters live in sim/, linux/, macos/ and qt/.
//
// The shapes follow the operations the engine really performs (IOKit HID,
// CoreGraphics event taps, CFRunLoop), so that the macOS adapter stays an
// almost line-for-line wrapper. Callbacks take a plain function pointer and
// an unretained context, as the native APIs do; the owner unregisters them
// before it goes away.
#pragma once

#include "model/keyboard_layout.hpp"
#include "model/keys.hpp"
#include "model/records.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

namespace chordwell {

/// Log levels; any value above 2 counts as error.
enum class LogLevel : std::uint8_t { debug = 0, info = 1, warning = 2, error = 3 };

/// The label of a level as the logs print it: DEBUG, INFO, WARN, ERROR (any
/// value above warning is ERROR).
constexpr std::string_view logLevelLabel(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return "DEBUG";
    case LogLevel::info:
        return "INFO";
    case LogLevel::warning:
        return "WARN";
    case LogLevel::error:
        break;
    }
    return "ERROR";
}

namespace platform {

class KeyPath; // key_path.hpp

// ---------------------------------------------------------------- Scheduler

/// Work and timers of one thread: the main thread's (Platform::scheduler()),
/// or the key path's (KeyPath::scheduler(), key_path.hpp).
class Scheduler {
public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t; // 0 is never a valid id
    using Duration = std::chrono::nanoseconds;

    virtual ~Scheduler() = default;

    /// Runs `task` later on the main thread, after the current work.
    virtual void postToMain(Task task) = 0;
    /// One-shot timer on the main thread.
    virtual TimerId scheduleOnce(Duration delay, Task task) = 0;
    /// Repeating timer: first firing after `firstDelay`, then every `interval`.
    virtual TimerId scheduleRepeating(Duration firstDelay, Duration interval, Task task) = 0;
    /// Cancels a timer; unknown or already cancelled ids are ignored.
    virtual void cancel(TimerId id) = 0;
    /// Monotonic time of this scheduler.
    virtual Duration now() const = 0;
};

// ------------------------------------------------------------- HID devices

/// One changed input element of a HID device.
struct HidInputValue {
    std::uint32_t usagePage = 0;
    std::uint32_t usage = 0;
    std::int64_t integerValue = 0;
};

/// An attached HID device (IOHIDDeviceRef on macOS, an evdev node on Linux).
/// Held through HidDeviceRef (shared ownership).
class HidDevice {
public:
    using InputValueCallback = void (*)(void* context, const HidDevice& sender,
                                        const HidInputValue& value);

    virtual ~HidDevice() = default;

    /// String property such as "Product"; nothing when absent or not a string.
    virtual std::optional<std::string> stringProperty(std::string_view key) const = 0;
    /// Integer property such as "VendorID", "ProductID", "LocationID";
    /// nothing when absent or not a number.
    virtual std::optional<std::int64_t> integerProperty(std::string_view key) const = 0;
    /// True when both handles denote the same device (CFEqual).
    virtual bool sameDevice(const HidDevice& other) const = 0;

    /// Registers the input-value callback; a null callback unregisters.
    virtual void registerInputValueCallback(InputValueCallback callback, void* context) = 0;
    /// Schedules / unschedules the device's input on the key path's run loop
    /// (the main one when the key path has no threads of its own).
    virtual void scheduleWithRunLoop() = 0;
    virtual void unscheduleFromRunLoop() = 0;
};

/// Whether two optional handles denote the same device.
inline bool sameDevice(const HidDeviceRef& a, const HidDeviceRef& b) {
    if (!a || !b) {
        return false;
    }
    return a.get() == b.get() || a->sameDevice(*b);
}

/// Keyboard discovery (IOHIDManager on macOS, udev on Linux).
class HidManager {
public:
    using DeviceCallback = void (*)(void* context, int result, const HidDeviceRef& device);

    virtual ~HidManager() = default;

    /// Restricts matching to devices declaring this usage (page 1 / usage 6
    /// for keyboards).
    virtual void setDeviceMatching(std::uint32_t usagePage, std::uint32_t usage) = 0;
    /// A null callback unregisters.
    virtual void registerDeviceMatchingCallback(DeviceCallback callback, void* context) = 0;
    virtual void registerDeviceRemovalCallback(DeviceCallback callback, void* context) = 0;
    /// Opens the manager; returns 0 on success or a platform error code.
    virtual int open() = 0;
    /// From scheduling on, every attached device and every later arrival and
    /// removal is reported through the callbacks, on the main thread or on
    /// the key path's thread (the engine hands it to the main thread).
    virtual void scheduleWithRunLoop() = 0;
    virtual void unscheduleFromRunLoop() = 0;
    virtual void close() = 0;
    /// Compares the devices attached now with those reported and reports
    /// the difference through the callbacks: after the machine woke, when
    /// arrivals and removals may have gone unreported. Nothing to do where
    /// the system reports every change (IOKit).
    virtual void recheckDevices() {}
};

// -------------------------------------------------------------- Event tap

/// Event types the keyboard tap sees (CGEventType values).
enum class EventType : std::uint32_t {
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    tapDisabledByTimeout = 0xFFFFFFFEu,
    tapDisabledByUserInput = 0xFFFFFFFFu,
};

/// One event of the user's keyboard event stream.
struct KeyEvent {
    EventType type = EventType::keyDown;
    std::int64_t keyCode = 0; // kCGKeyboardEventKeycode
    EventFlags flags = 0;     // CGEventGetFlags
    /// Posted by this program's EventPoster, not typed: an output, or a
    /// swallowed key given back. The platform marks its own posts (on macOS
    /// in the event source's user data), because an output may look exactly
    /// like a key the user holds on another keyboard.
    bool posted = false;
};

enum class TapDecision { pass, swallow };

/// A keyboard event tap at the head of the session's event stream.
class EventTap {
public:
    using Callback = TapDecision (*)(void* userInfo, const KeyEvent& event);

    virtual ~EventTap() = default;

    /// Adds the tap's run-loop source to the key path's run loop (the main
    /// one when the key path has no threads of its own); false when the
    /// source could not be made (the tap then never runs).
    virtual bool addToRunLoop() = 0;
    virtual void removeFromRunLoop() = 0;
    virtual void enable(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    /// Asks that the keys of every keyboard pass this tap while it is
    /// active, not only those of the keyboard being listened to (a
    /// recording takes keys from any keyboard). Where the event stream
    /// carries every keyboard anyway, as on macOS, there is nothing to do.
    virtual void setCoversEveryKeyboard(bool covers) { (void)covers; }
};

// ------------------------------------------------------------ Event poster

/// One key as the platform posts it for a built-in output.
struct KeyStroke {
    std::int64_t keyCode = 0;
    EventFlags flags = 0;
};

/// Posts synthetic key events into the user's event stream.
class EventPoster {
public:
    virtual ~EventPoster() = default;

    /// Posts one key event; `keyCode` lies in 0..65535. Returns false when
    /// the event (or its source) could not be created or posted.
    virtual bool postKeyEvent(std::int64_t keyCode, EventFlags flags, bool keyDown) = 0;

    /// The key a built-in output posts on this platform (Command+Space,
    /// Command+C, Command+V on macOS); nothing for none / custom sequences.
    virtual std::optional<KeyStroke> builtInShortcut(OutputBehavior::Kind kind) const;

    /// Lets go of every key this program holds down at the output (before
    /// the machine sleeps). Where each post is a complete press, as on
    /// macOS, nothing is ever held and there is nothing to do.
    virtual void releaseHeldKeys() {}
};

// -------------------------------------------------------- Keyboard layout

/// The keyboard layout the user types with (the input source on macOS, XKB
/// on Linux). Built-in outputs and catalog shortcuts mean characters and
/// are resolved through it (model/keyboard_layout.hpp); recorded sequences
/// stay key positions.
class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;
    /// The active layout as a table of what each key types; never null
    /// (the US layout when nothing can be read). Cheap: the table is made
    /// when the layout changes, not here.
    virtual std::shared_ptr<const KeyLayout> activeLayout() const = 0;
    /// Installs the routine called on the main thread after the active
    /// layout changed (null uninstalls).
    virtual void setChangeObserver(std::function<void()> observer) = 0;
    /// Where the layout was read from, for the log ("the X server",
    /// "/etc/default/keyboard" ...).
    virtual std::string source() const { return {}; }

    /// The key, with Shift when it needs it, that types `character`
    /// (`command`: with Command held); nothing when no group types it.
    std::optional<MacKeySignature> keyTyping(char32_t character, bool command) const {
        return activeLayout()->keyTyping(character, command);
    }
    /// What the keycap of `keyCode` says; "" where the US label stands.
    std::string keyCapLabel(std::int64_t keyCode) const {
        return activeLayout()->keyCapLabel(keyCode);
    }
};

// ------------------------------------------------------------------ Power

/// Sleep and wake of the machine (IOKit's system power notifications on
/// macOS, logind on Linux).
class Power {
public:
    enum class Event {
        /// The machine is about to sleep. It waits for the callback to
        /// return (within the system's own limit), so what must not stay
        /// down across the sleep is released in it.
        willSleep,
        /// The machine woke.
        didWake,
    };
    using Callback = void (*)(void* context, Event event);

    virtual ~Power() = default;
    /// Registers the callback, delivered on the main thread; a null callback
    /// unregisters.
    virtual void registerCallback(Callback callback, void* context) = 0;
};

/// The macOS built-in shortcuts, the default of EventPoster::builtInShortcut.
std::optional<KeyStroke> macBuiltInShortcut(OutputBehavior::Kind kind);

// ------------------------------------------------------------- Preferences

/// A stored preference value: Boolean, number, or anything else (as text).
using PreferenceValue = std::variant<bool, double, std::string>;

/// The user's key-value preference store (user defaults on macOS).
class Preferences {
public:
    virtual ~Preferences() = default;
    virtual std::optional<PreferenceValue> value(std::string_view key) const = 0;
    virtual void setValue(std::string_view key, const PreferenceValue& value) = 0;
};

// ------------------------------------------------------------------ Paths

/// Where per-user data lives, and where the program's own read-only
/// resources (the shortcut catalog) are installed.
class Paths {
public:
    virtual ~Paths() = default;
    /// The per-user application-support folder (created when missing), or an
    /// error when the system has none.
    virtual std::optional<std::filesystem::path>
    applicationSupportDirectory(std::error_code& error) const = 0;
    /// The mappings folder inside application support ("Mappings/" on macOS).
    virtual std::filesystem::path mappingsFolder(const std::filesystem::path& appSupport) const {
        return appSupport / "Mappings";
    }
    /// The log folder inside application support ("Chordwell/Logs").
    virtual std::filesystem::path logsFolder(const std::filesystem::path& appSupport) const {
        return appSupport / "Chordwell" / "Logs";
    }
    /// The folder of the installed resources: "Contents/Resources" of the
    /// application bundle, "share/chordwell" beside an installed program's
    /// "bin". A build that is not installed has none, unless its program
    /// declared its source tree (setDevelopmentResourceDirectory). Nothing
    /// when no such folder exists.
    virtual std::optional<std::filesystem::path> resourceDirectory() const { return std::nullopt; }
};

/// A development build's program (never an installed one) calls this first
/// thing, so that it finds the resources of its source tree while it runs
/// from the build folder. The Paths adapters fall back to it only when no
/// installed resource folder exists beside the program.
void setDevelopmentResourceDirectory(std::filesystem::path directory);
/// What the program declared, if anything.
std::optional<std::filesystem::path> developmentResourceDirectory();

/// The installed resource folder relative to `executable`: macOS bundles
/// keep it in "../Resources", elsewhere "../share/chordwell" (any prefix);
/// else the development folder; nothing when neither exists. The adapters
/// find `executable` in their own way.
std::optional<std::filesystem::path>
resourceDirectoryBeside(const std::optional<std::filesystem::path>& executable);

// ------------------------------------------------------------- System log

/// A handle of the operating system's log for one subsystem and category
/// (an os_log_t on macOS).
class SystemLogHandle {
public:
    virtual ~SystemLogHandle() = default;
    virtual bool isEnabled(LogLevel level) const = 0;
    /// Emits the bare message; time, level and category are the log's own.
    virtual void emit(LogLevel level, std::string_view message) = 0;
};

class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual std::shared_ptr<SystemLogHandle> makeHandle(std::string_view subsystem,
                                                        std::string_view category) = 0;
};

// --------------------------------------------------------------- Platform

/// Something the user should know about the platform's state: a missing
/// permission, input paused by the system, ... The main window shows these.
struct PlatformNotice {
    std::string message;
    /// Optional button: its label and the URL it opens (e.g. a settings pane).
    std::string actionLabel;
    std::string actionURL;
    /// A permission the button first asks the system for (see
    /// Platform::requestPermission); empty when it only opens the URL.
    std::string requestKey = {};
};

/// The bundle of ports handed to the engine when it is built.
class Platform {
public:
    virtual ~Platform() = default;

    virtual Scheduler& scheduler() = 0;
    /// IOHIDManagerCreate: a fresh, unopened manager.
    virtual std::unique_ptr<HidManager> createHidManager() = 0;
    /// CGEventTapCreate for key-down, key-up and flags-changed; nullptr when
    /// the tap cannot be created (no permission).
    virtual std::unique_ptr<EventTap> createKeyboardEventTap(EventTap::Callback callback,
                                                             void* userInfo) = 0;
    virtual EventPoster& eventPoster() = 0;
    virtual Preferences& preferences() = 0;
    virtual const Paths& paths() const = 0;
    virtual SystemLog& systemLog() = 0;
    /// Sleep and wake notices; nullptr when the platform cannot tell.
    virtual Power* power() { return nullptr; }

    /// Current notices (missing permissions, secure input ...); empty when
    /// all is well.
    virtual std::vector<PlatformNotice> notices() const { return {}; }
    /// Installs the routine to call on the main thread whenever notices()
    /// changed (null uninstalls). True when the platform reports every
    /// change this way; false when it cannot tell, and the caller must read
    /// notices() from time to time.
    virtual bool setNoticeObserver(std::function<void()> observer) {
        (void)observer;
        return false;
    }
    /// Asks the system for the permission a notice's `requestKey` names. True
    /// when the system was asked (it shows its own prompt, and lists the
    /// program where the permission is granted); false when it has answered
    /// before, and the notice's URL is where the user changes it.
    virtual bool requestPermission(std::string_view requestKey) {
        (void)requestKey;
        return false;
    }
    /// Installs the routine that ends interception when the platform detects
    /// the emergency exit (e.g. a key chord on a grabbed keyboard). The engine
    /// installs it at construction.
    virtual void setEmergencyExitHandler(std::function<void()> handler) { (void)handler; }
    /// The threads the key path runs on, when not on the main thread
    /// (key_path.hpp); nullptr: everything runs on the main thread.
    virtual KeyPath* keyPath() { return nullptr; }
    /// The user's keyboard layout; nullptr where it cannot be read (key
    /// codes then mean their US characters).
    virtual KeyboardLayout* keyboardLayout() { return nullptr; }
};

/// The platform of the machine this runs on (macOS or Linux adapters).
std::shared_ptr<Platform> makeNativePlatform();

} // namespace platform
} // namespace chordwell
