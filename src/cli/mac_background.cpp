// run on macOS: intercepts one keyboard with its saved mappings until SIGINT
// or SIGTERM, as the application does with its window closed. The repeat
// settings are the application's (its user defaults), the mapping file is
// read again when it changes on disk, a keyboard that goes away is waited
// for (the engine follows it), and the emergency chord ends it.
#include "cli/mac_background.hpp"

#include "cli/background_common.hpp"
#include "cli/commands.hpp"
#include "cli/terminal_text.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/macos/mac_platform.hpp"
#include "platform/macos/mac_preferences.hpp"
#include "platform/macos/run_loop_scheduler.hpp"
#include "platform/macos/system_services.hpp"

#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace chordwell::cli {

namespace {

using background::curlyQuoted;
using background::identifiers;
using background::mappingCount;
using background::readSelector;
using background::say;

constexpr std::string_view kCategory = "keyboard";
constexpr std::chrono::seconds kDiscoveryLimit{10};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The keyboard a selector names: its number in the list (as `chordwellctl
// keyboards` shows it), VENDOR:PRODUCT in hex, or its product name.
std::optional<KeyboardDevice> select(const std::vector<KeyboardDevice>& keyboards,
                                     const std::string& selector) {
    if (!selector.empty() && std::all_of(selector.begin(), selector.end(),
                                         [](unsigned char c) { return std::isdigit(c); })) {
        const unsigned long number = std::strtoul(selector.c_str(), nullptr, 10);
        if (number >= 1 && number <= keyboards.size()) {
            return keyboards[number - 1];
        }
        return std::nullopt;
    }
    for (const KeyboardDevice& k : keyboards) {
        if (lower(identifiers(k)) == lower(selector) || lower(k.productName) == lower(selector)) {
            return k;
        }
    }
    return std::nullopt;
}

// SIGINT and SIGTERM arrive on the main queue, which the main run loop
// serves: stopping runs on the main thread like everything else.
struct StopSignals {
    int received = 0;
    dispatch_source_t sources[2] = {nullptr, nullptr};

    static void onSignal(void* context) {
        auto* self = static_cast<StopSignals*>(context);
        self->received = SIGINT;
        CFRunLoopStop(CFRunLoopGetMain());
    }

    StopSignals() {
        const int signals[2] = {SIGINT, SIGTERM};
        for (int i = 0; i < 2; ++i) {
            std::signal(signals[i], SIG_IGN);
            sources[i] = dispatch_source_create(DISPATCH_SOURCE_TYPE_SIGNAL,
                                                static_cast<uintptr_t>(signals[i]), 0,
                                                dispatch_get_main_queue());
            if (sources[i] != nullptr) {
                dispatch_set_context(sources[i], this);
                dispatch_source_set_event_handler_f(sources[i], &StopSignals::onSignal);
                dispatch_resume(sources[i]);
            }
        }
    }
    ~StopSignals() {
        for (dispatch_source_t source : sources) {
            if (source != nullptr) {
                dispatch_source_cancel(source);
                dispatch_release(source);
            }
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
};

} // namespace

// Logs go to the unified log and to the log folder beside the application's
// data.
std::shared_ptr<platform::mac::UnifiedLog>
routeLogs(const std::shared_ptr<platform::mac::MacPaths>& paths) {
    std::optional<std::filesystem::path> logsFolder;
    std::error_code error;
    if (const auto support = paths->applicationSupportDirectory(error)) {
        logsFolder = paths->logsFolder(*support);
    }
    auto systemLog = std::make_shared<platform::mac::UnifiedLog>();
    logging::configure(systemLog, logsFolder);
    return systemLog;
}

std::shared_ptr<platform::Platform>
startPlatform(const std::shared_ptr<platform::mac::MacPaths>& paths,
              const std::shared_ptr<platform::mac::UnifiedLog>& systemLog,
              const std::shared_ptr<platform::Scheduler>& scheduler) {
    platform::mac::MacPlatformOptions options;
    options.scheduler = scheduler;
    // The application's own repeat settings.
    options.preferences = std::make_shared<platform::mac::MacPreferences>(
        std::string(platform::mac::kApplicationDefaultsDomain));
    options.paths = paths;
    options.systemLog = systemLog;
    return platform::mac::makeMacPlatform(std::move(options));
}

// Nothing can be read, swallowed or typed without the permissions. False,
// with the platform's notices written, when one is missing.
bool hasPermissions(platform::Platform& macPlatform, std::ostream& err) {
    const auto notices = macPlatform.notices();
    const auto state = platform::mac::currentSystemState();
    if (state.inputMonitoringGranted && state.accessibilityTrusted && state.postEventAccess) {
        return true;
    }
    for (const auto& notice : notices) {
        err << "chordwellctl: " << notice.message << "\n";
    }
    logging::flush();
    return false;
}

// The keyboard the selector names, once discovery reports it; nothing after
// a stop signal or kDiscoveryLimit.
std::optional<KeyboardDevice> waitForKeyboard(RawKeyboardListener& engine,
                                              const std::string& selector,
                                              const StopSignals& stopSignals) {
    const auto giveUpAt = std::chrono::steady_clock::now() + kDiscoveryLimit;
    std::optional<KeyboardDevice> device;
    while (!(device = select(engine.discoveredKeyboards(), selector)) &&
           stopSignals.received == 0 && std::chrono::steady_clock::now() < giveUpAt) {
        (void)CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.1, false);
    }
    return device;
}

// The mapping file and the time it was last seen written.
struct MappingFile {
    std::filesystem::path file;
    std::optional<std::filesystem::file_time_type> seen;
};

// The mapping file is read again when it changed on disk (looked at once a
// second; an edit in the application is seen within that). Everything the
// timer refers to lives as long as the run.
platform::Scheduler::TimerId watchMappingFile(RawKeyboardListener& engine,
                                              platform::Scheduler& scheduler,
                                              const KeyboardDevice& device,
                                              const std::string& keyboardName, MappingFile& watched,
                                              std::ostream& out) {
    if (const auto& storage = engine.storage()) {
        watched.file = storage->fileURL(device);
        std::error_code ignored;
        if (const auto time = std::filesystem::last_write_time(watched.file, ignored); !ignored) {
            watched.seen = time;
        }
    }
    return scheduler.scheduleRepeating(
        std::chrono::seconds(1), std::chrono::seconds(1),
        [&engine, &device, &keyboardName, &watched, &out] {
            if (watched.file.empty()) {
                return;
            }
            std::error_code failed;
            const auto time = std::filesystem::last_write_time(watched.file, failed);
            const std::optional<std::filesystem::file_time_type> now =
                failed ? std::nullopt : std::optional(time);
            if (now == watched.seen) {
                return;
            }
            watched.seen = now;
            engine.loadMappings(device);
            const std::string text = "Background mode: reloaded the mappings of " + keyboardName +
                                     ": " + std::to_string(mappingCount(engine, device)) +
                                     " mappings.";
            log(LogLevel::info, text, kCategory);
            out << text << "\n" << std::flush;
        });
}

// Interception ending (the emergency chord) ends the run. The keyboard going
// away pauses it and its return resumes it (the engine follows it); the
// terminal hears of both once the change took effect.
Subscription followKeyboard(RawKeyboardListener& engine, platform::Scheduler& scheduler,
                            const std::string& keyboardName, bool& saidWaiting, std::ostream& out) {
    return engine.subscribeChanges(
        [&engine, &scheduler, &keyboardName, &saidWaiting, &out](const EngineChanges& changes) {
            if (!changes.contains(EngineChange::interception)) {
                return;
            }
            scheduler.postToMain([&engine, &keyboardName, &saidWaiting, &out] {
                if (!engine.isIntercepting()) {
                    CFRunLoopStop(CFRunLoopGetMain());
                    return;
                }
                const bool waiting = engine.awaitedKeyboard().has_value();
                if (waiting != saidWaiting) {
                    saidWaiting = waiting;
                    out << (waiting ? "Background mode: the keyboard " + keyboardName +
                                          " went away; waiting for it to come back."
                                    : "Background mode: the keyboard " + keyboardName +
                                          " is back; intercepting again.")
                        << "\n"
                        << std::flush;
                }
            });
        });
}

// Runs the main run loop until a stop signal, or until interception ends
// by itself (the emergency chord).
void runUntilStopped(RawKeyboardListener& engine, const StopSignals& stopSignals,
                     std::ostream& err) {
    while (stopSignals.received == 0) {
        CFRunLoopRun();
        if (stopSignals.received == 0 && !engine.isIntercepting()) {
            const std::string text = "Background mode: interception ended by the "
                                     "emergency chord; stopping.";
            log(LogLevel::warning, text, kCategory);
            err << text << "\n";
            break;
        }
    }
}

int runMacBackground(int argc, char** argv, std::istream&, std::ostream& out, std::ostream& err) {
    std::string selector;
    if (!readSelector(argc, argv, selector)) {
        printCommandUsage(*findCliCommand("run"), err);
        return kExitUsage;
    }
    StopSignals stopSignals;
    auto paths = std::make_shared<platform::mac::MacPaths>();
    auto systemLog = routeLogs(paths);
    std::shared_ptr<platform::Scheduler> scheduler =
        std::make_shared<platform::mac::RunLoopScheduler>();
    const auto macPlatform = startPlatform(paths, systemLog, scheduler);
    if (!hasPermissions(*macPlatform, err)) {
        return kExitFailure;
    }
    RawKeyboardListener engine(macPlatform);
    std::optional<KeyboardDevice> device = waitForKeyboard(engine, selector, stopSignals);
    if (!device) {
        if (stopSignals.received != 0) {
            return kExitOk;
        }
        err << "chordwellctl: no keyboard " << curlyQuoted(selector)
            << " (see chordwellctl keyboards)\n";
        logging::flush();
        return kExitFailure;
    }
    const std::string keyboardName = curlyQuoted(device->productName);
    engine.setSelectedDevice(device);
    engine.loadMappings(*device);
    MappingFile watched;
    const auto reloadTimer =
        watchMappingFile(engine, *scheduler, *device, keyboardName, watched, out);
    bool saidWaiting = false;
    auto watch = followKeyboard(engine, *scheduler, keyboardName, saidWaiting, out);
    toggleInterception(engine);
    say(out, "Background mode: intercepting " + keyboardName + " (" + identifiers(*device) +
                 ") with " + std::to_string(mappingCount(engine, *device)) + " mappings.");
    runUntilStopped(engine, stopSignals, err);
    watch.cancel();
    scheduler->cancel(reloadTimer);
    if (engine.isIntercepting()) {
        engine.stopIntercepting();
    }
    say(out, "Background mode: stopped intercepting " + keyboardName + ".");
    logging::flush();
    return kExitOk;
}

} // namespace chordwell::cli
