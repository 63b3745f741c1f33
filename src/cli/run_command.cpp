// run: the background mode. Intercepts one keyboard with its saved mappings,
// without a window, until SIGINT, SIGTERM or SIGHUP: the same engine, repeat
// settings (the application's preferences) and emergency chord as the app.
// A keyboard that is not attached is waited for, at start and whenever it
// goes away (the engine follows it). The mapping file is read again whenever
// it changes on disk. The systemd user unit chordwell@.service runs this. On
// macOS: mac_background.cpp.
#ifdef __linux__

#include "cli/background_common.hpp"
#include "cli/commands.hpp"
#include "cli/stop_signals.hpp"
#include "cli/terminal_text.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/linux/inotify_watch.hpp"
#include "platform/linux/journal_log.hpp"
#include "platform/linux/keyboard_lock.hpp"
#include "platform/linux/keyboard_selector.hpp"
#include "platform/linux/linux_platform.hpp"
#include "platform/linux/udev_hid_manager.hpp"
#include "platform/linux/xdg_paths.hpp"

#ifdef CHORDWELL_HAVE_QT_PREFERENCES
#include "platform/qt/qt_preferences.hpp"
#endif

#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace chordwell::cli {

namespace {

using background::curlyQuoted;
using background::identifiers;
using background::mappingCount;
using background::readSelector;
using background::say;

namespace lnx = platform::lnx;
constexpr std::string_view kCategory = "keyboard";
// Editors write a file in several steps; reload once they are done.
constexpr std::chrono::milliseconds kReloadDelay{50};

#ifdef CHORDWELL_HAVE_QT_PREFERENCES
// The repeat settings are the ones the application's settings window writes.
// Without a Qt event loop here, the file is watched with the loop's own
// inotify, so that a change made in the settings window reaches a running
// background mode.
class ApplicationPreferences {
public:
    std::shared_ptr<platform::Preferences> preferences() const { return preferences_; }

    void watch(const std::shared_ptr<platform::FdWatcher>& watcher) {
        const std::filesystem::path file = preferences_->fileName().toStdString();
        if (file.empty()) {
            return;
        }
        std::error_code error;
        watch_ = lnx::InotifyWatch::create(
            watcher, file.parent_path(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE,
            [this, name = file.filename().string()](std::string_view changed) {
                if (changed == name) {
                    preferences_->reload();
                }
            },
            error);
        if (!watch_) {
            log(LogLevel::warning,
                "Background mode: cannot watch the preferences (" + error.message() +
                    "); changed repeat settings need a restart.",
                kCategory);
        }
    }

private:
    std::shared_ptr<platform::qt::QtPreferences> preferences_ =
        std::make_shared<platform::qt::QtPreferences>();
    std::unique_ptr<lnx::InotifyWatch> watch_;
};
#else
class ApplicationPreferences {
public:
    // The platform's own preferences file, which watches itself.
    std::shared_ptr<platform::Preferences> preferences() const { return nullptr; }
    void watch(const std::shared_ptr<platform::FdWatcher>&) {}
};
#endif

// Logs go to the journal and to the log folder beside the application's data.
std::shared_ptr<platform::JournalSystemLog>
routeLogs(const std::shared_ptr<platform::XdgPaths>& paths) {
    std::optional<std::filesystem::path> logsFolder;
    std::error_code error;
    if (const auto support = paths->applicationSupportDirectory(error)) {
        logsFolder = paths->logsFolder(*support);
    }
    auto journal = std::make_shared<platform::JournalSystemLog>();
    logging::configure(journal, logsFolder);
    return journal;
}

// A number names a keyboard in today's list only.
bool isNumber(const std::string& selector) {
    return std::all_of(selector.begin(), selector.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// Which keyboard: resolved against the list `chordwellctl keyboards` shows
// when it is attached now. One that is not is waited for, when the selector
// can name it later. False, with the message written, when it cannot.
bool chooseKeyboard(const std::string& selector, std::optional<lnx::KeyboardNodeInfo>& chosen,
                    std::ostream& err) {
    std::vector<lnx::KeyboardNodeInfo> listed;
    for (const auto& keyboard : lnx::listKeyboards()) {
        listed.push_back(keyboard.info);
    }
    const lnx::KeyboardSelection selection = lnx::selectKeyboard(listed, selector);
    if (!selection.index && (isNumber(selector) || selector.empty())) {
        err << "chordwellctl: " << terminalSafe(selection.error) << "\n";
        logging::flush();
        return false;
    }
    if (selection.index) {
        chosen = listed[*selection.index];
    }
    return true;
}

// The keyboard may be grabbed by one Chordwell process only: one that
// another holds now is refused at once (later, the grab says so). False,
// with the message written and logged, when another holds it.
bool claimKeyboard(const std::optional<lnx::KeyboardNodeInfo>& chosen,
                   lnx::KeyboardLockResult& claim, std::ostream& err) {
    if (!chosen) {
        return true;
    }
    const std::string lockName = std::filesystem::path(chosen->devnode).filename().string();
    claim = lnx::acquireKeyboardLock(lockName);
    if (!claim.heldBy) {
        return true;
    }
    const std::string name = curlyQuoted(chosen->name.empty() ? "Unknown" : chosen->name);
    err << "chordwellctl: the keyboard " << name << " (" << chosen->devnode << ") is in use by "
        << *claim.heldBy << "; not intercepting it.\n";
    log(LogLevel::warning,
        "Background mode: keyboard " + name + " is in use by " + *claim.heldBy +
            "; not intercepting it.",
        kCategory);
    logging::flush();
    return false;
}

std::shared_ptr<lnx::LinuxPlatform>
startPlatform(const std::shared_ptr<platform::XdgPaths>& paths,
              const std::shared_ptr<platform::JournalSystemLog>& journal,
              ApplicationPreferences& preferences) {
    lnx::LinuxPlatformOptions options;
    // The keyboard is read on a thread of its own, blocked in read(2): one
    // system call less on every key's way than waiting in the loop first.
    options.keyPathThreads = true;
    options.paths = paths;
    options.systemLog = journal;
    options.preferences = preferences.preferences();
    auto linuxPlatform = lnx::makeLinuxPlatform(std::move(options));
    preferences.watch(linuxPlatform->pollLoop());
    return linuxPlatform;
}

// False, with the platform's notices written, when it cannot post keys.
bool canPostKeys(lnx::LinuxPlatform& linuxPlatform, std::ostream& err) {
    if (linuxPlatform.virtualKeyboard()) {
        return true;
    }
    for (const auto& notice : linuxPlatform.notices()) {
        err << "chordwellctl: " << notice.message << "\n";
    }
    logging::flush();
    return false;
}

void watchStopSignals(lnx::PollLoop& loop, StopSignals& stopSignals) {
    if (stopSignals.fd() < 0) {
        return;
    }
    loop.watchReadable(stopSignals.fd(), [&] {
        if (const int number = stopSignals.take(); number != 0) {
            log(LogLevel::info,
                std::string("Background mode: stopping on ") + StopSignals::name(number) + ".",
                kCategory);
            loop.quit();
        }
    });
}

// The keyboard among those the engine discovered: the chosen node, or else
// the one the selector names now.
std::optional<KeyboardDevice> findKeyboard(RawKeyboardListener& engine,
                                           const std::optional<lnx::KeyboardNodeInfo>& chosen,
                                           const std::string& selector) {
    std::vector<lnx::KeyboardNodeInfo> discovered;
    for (const KeyboardDevice& device : engine.discoveredKeyboards()) {
        const auto* node = dynamic_cast<const lnx::EvdevKeyboard*>(device.deviceRef.get());
        if (node == nullptr) {
            continue;
        }
        if (chosen && node->info().devnode == chosen->devnode) {
            return device;
        }
        discovered.push_back(node->info());
    }
    if (isNumber(selector)) {
        return std::nullopt; // only that node: a number names it in today's list
                             // alone
    }
    const lnx::KeyboardSelection found = lnx::selectKeyboard(discovered, selector);
    if (!found.index) {
        return std::nullopt;
    }
    // `discovered` holds the listed keyboards that are evdev nodes, in
    // the engine's order.
    std::size_t index = 0;
    for (const KeyboardDevice& device : engine.discoveredKeyboards()) {
        if (dynamic_cast<const lnx::EvdevKeyboard*>(device.deviceRef.get()) != nullptr &&
            index++ == *found.index) {
            return device;
        }
    }
    return std::nullopt;
}

// Discovery reports the keyboards attached now within a few turns of the
// loop; one that is not there is waited for, without any timer. Nothing
// when a signal came first.
std::optional<KeyboardDevice> waitForKeyboard(RawKeyboardListener& engine, lnx::PollLoop& loop,
                                              const std::optional<lnx::KeyboardNodeInfo>& chosen,
                                              const std::string& selector, std::ostream& out) {
    if (!chosen) {
        const std::string text =
            "Background mode: waiting for a keyboard " + curlyQuoted(selector) + " to be attached.";
        log(LogLevel::info, text, kCategory);
        out << text << "\n" << std::flush;
    }
    std::optional<KeyboardDevice> device = findKeyboard(engine, chosen, selector);
    while (!device && !loop.quitRequested()) {
        loop.runOnce(std::chrono::hours(24));
        device = findKeyboard(engine, chosen, selector);
    }
    return device;
}

// The mapping file is read again after every change on disk. Everything
// the watch refers to lives as long as the run.
std::unique_ptr<lnx::InotifyWatch>
watchMappingFile(RawKeyboardListener& engine, lnx::PollLoop& loop,
                 const std::shared_ptr<lnx::PollLoop>& watcher, const KeyboardDevice& device,
                 const std::string& keyboardName, platform::Scheduler::TimerId& reloadTimer,
                 std::ostream& out) {
    const auto& storage = engine.storage();
    if (!storage) {
        return nullptr;
    }
    std::error_code error;
    const std::string fileName = storage->fileURL(device).filename().string();
    auto fileWatch = lnx::InotifyWatch::create(
        watcher, storage->folder(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM,
        [&engine, &loop, &device, &keyboardName, &reloadTimer, &out,
         fileName](std::string_view name) {
            if (name != fileName) {
                return;
            }
            loop.cancel(reloadTimer);
            reloadTimer = loop.scheduleOnce(
                kReloadDelay, [&engine, &device, &keyboardName, &reloadTimer, &out] {
                    reloadTimer = 0;
                    engine.loadMappings(device);
                    const std::string text =
                        "Background mode: reloaded the mappings of " + keyboardName + ": " +
                        std::to_string(mappingCount(engine, device)) + " mappings.";
                    log(LogLevel::info, text, kCategory);
                    out << text << "\n" << std::flush;
                });
        },
        error);
    if (!fileWatch) {
        log(LogLevel::warning,
            "Background mode: cannot watch " + storage->folder().string() + " (" + error.message() +
                "); edits of the mapping file need a restart.",
            kCategory);
    }
    return fileWatch;
}

// What the terminal has been told of the followed keyboard.
struct Following {
    bool saidWaiting = false;
    bool checkQueued = false;
};

// The engine follows the keyboard when it goes away and comes back (a
// re-plug, a KVM switch, a Bluetooth reconnect); the terminal hears of it
// once the change took effect.
Subscription followKeyboard(RawKeyboardListener& engine, lnx::PollLoop& loop,
                            const std::string& keyboardName, Following& state, std::ostream& out) {
    // Only interception changes: the keys' own changes then never wake
    // the main loop.
    return engine.subscribeChanges(
        [&engine, &loop, &keyboardName, &state, &out](const EngineChanges&) {
            if (state.checkQueued) {
                return;
            }
            state.checkQueued = true;
            loop.postToMain([&engine, &keyboardName, &state, &out] {
                state.checkQueued = false;
                const bool waiting = engine.awaitedKeyboard().has_value();
                if (waiting == state.saidWaiting || !engine.isIntercepting()) {
                    return;
                }
                state.saidWaiting = waiting;
                out << (waiting ? "Background mode: the keyboard " + keyboardName +
                                      " went away; waiting for it to come back."
                                : "Background mode: the keyboard " + keyboardName +
                                      " is back; intercepting again.")
                    << "\n"
                    << std::flush;
            });
        },
        EngineChange::interception);
}

// Nothing here wakes the process on a timer: the loop sleeps until a key, a
// udev event, a file change or a signal arrives. It ends on a signal; or
// when interception ends by itself: the emergency chord (the user stops it,
// status 0), or another Chordwell process holding the keyboard (status 1).
int runUntilStopped(lnx::PollLoop& loop, RawKeyboardListener& engine,
                    lnx::LinuxPlatform& linuxPlatform, std::ostream& err) {
    while (!loop.quitRequested()) {
        loop.runOnce(std::chrono::hours(24));
        if (!engine.isIntercepting() && !loop.quitRequested()) {
            const bool heldElsewhere = linuxPlatform.inputContext().anyHeldElsewhere();
            std::string text = "Background mode: interception ended by the emergency chord; "
                               "stopping.";
            if (heldElsewhere) {
                text = "Background mode: stopping;";
                for (const auto& notice : linuxPlatform.notices()) {
                    text += " " + notice.message;
                }
            }
            log(heldElsewhere ? LogLevel::error : LogLevel::warning, text, kCategory);
            err << text << "\n";
            return heldElsewhere ? kExitFailure : kExitOk;
        }
    }
    return kExitOk;
}

// Ungrabs with every key released at the virtual keyboard.
void releaseKeyboard(RawKeyboardListener& engine) {
    if (engine.isIntercepting()) {
        engine.stopIntercepting();
        // The releases just written reach the readers of the virtual keyboard
        // (the compositor) only while it exists: give them a moment before
        // the process exits and the device goes with it.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

int runBackground(int argc, char** argv, std::istream&, std::ostream& out, std::ostream& err) {
    std::string selector;
    if (!readSelector(argc, argv, selector)) {
        printCommandUsage(*findCliCommand("run"), err);
        return kExitUsage;
    }
    // Signals first: one that arrives while starting must not kill the
    // process with the keyboard grabbed.
    StopSignals stopSignals;
    auto paths = std::make_shared<platform::XdgPaths>();
    auto journal = routeLogs(paths);
    std::optional<lnx::KeyboardNodeInfo> chosen;
    lnx::KeyboardLockResult claim;
    if (!chooseKeyboard(selector, chosen, err) || !claimKeyboard(chosen, claim, err)) {
        return kExitFailure;
    }
    ApplicationPreferences preferences;
    const auto linuxPlatform = startPlatform(paths, journal, preferences);
    lnx::PollLoop& loop = *linuxPlatform->pollLoop();
    if (!canPostKeys(*linuxPlatform, err)) {
        return kExitFailure;
    }
    watchStopSignals(loop, stopSignals);

    RawKeyboardListener engine(linuxPlatform);
    std::optional<KeyboardDevice> device = waitForKeyboard(engine, loop, chosen, selector, out);
    if (!device) {
        return kExitOk; // a signal while waiting
    }
    const std::string keyboardName = curlyQuoted(device->productName);
    const std::string devnode = device->deviceRef->stringProperty("DevNode").value_or("");
    engine.setSelectedDevice(device);
    engine.loadMappings(*device);
    platform::Scheduler::TimerId reloadTimer = 0;
    std::unique_ptr<lnx::InotifyWatch> fileWatch = watchMappingFile(
        engine, loop, linuxPlatform->pollLoop(), *device, keyboardName, reloadTimer, out);
    if (stopSignals.requested() != 0) {
        // Told to stop while starting: leave before grabbing anything.
        logging::flush();
        return kExitOk;
    }
    toggleInterception(engine);
    say(out, "Background mode: intercepting " + keyboardName + " (" + identifiers(*device) + ", " +
                 devnode + ") with " + std::to_string(mappingCount(engine, *device)) +
                 " mappings.");
    Following following;
    const Subscription followingSubscription =
        followKeyboard(engine, loop, keyboardName, following, out);
    const int status = runUntilStopped(loop, engine, *linuxPlatform, err);

    // Ungrab, then let the lock go (when the last holder, the context,
    // releases it).
    loop.cancel(reloadTimer);
    fileWatch.reset();
    releaseKeyboard(engine);
    claim.lock.reset();
    say(out, "Background mode: stopped intercepting " + keyboardName + ".");
    logging::flush();
    return status;
}

} // namespace

extern const CliCommand runCommand;
const CliCommand runCommand{
    "run", "run --keyboard SELECTOR", &runBackground,
    "intercept a keyboard with its saved mappings, without a window (SELECTOR: "
    "a product "
    "name, VENDOR:PRODUCT in hex, or a number from chordwellctl keyboards)"};

} // namespace chordwell::cli

#elif defined(__APPLE__)

#include "cli/commands.hpp"
#include "cli/mac_background.hpp"

namespace chordwell::cli {

extern const CliCommand runCommand;
const CliCommand runCommand{
    "run", "run --keyboard SELECTOR", &runMacBackground,
    "intercept a keyboard with its saved mappings, without a window (SELECTOR: "
    "a product "
    "name, VENDOR:PRODUCT in hex, or a number from chordwellctl keyboards)"};

} // namespace chordwell::cli

#endif
