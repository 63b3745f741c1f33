// The background mode on a real kernel: `chordwellctl run` waits with its
// grab until a key held at start is up, intercepts a keyboard with its saved
// mapping file, maps, keeps a second instance off the keyboard, reloads the
// file when it is edited, follows the keyboard when it is destroyed and made
// again, releases a held key when logind says the machine goes to sleep (a
// private bus stands in for the system's), and ends on SIGTERM with the
// keyboard released and no key left down.
#include "platform/linux/device_identity.hpp"
#include "vm_support.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vmtest::describe;
using vmtest::KeyList;

int failed = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s: background mode: %s\n", ok ? "ok" : "NOT OK", what.c_str());
    std::fflush(stdout);
    if (!ok) {
        ++failed;
    }
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeAtomically(const fs::path& path, const std::string& text) {
    const fs::path temporary = path.string() + ".tmp";
    std::ofstream(temporary) << text;
    fs::rename(temporary, path);
}

class SourceKeyboard {
public:
    bool create() {
        libevdev* templ = libevdev_new();
        libevdev_set_name(templ, "VMTest Background Keyboard");
        libevdev_set_id_bustype(templ, BUS_USB);
        libevdev_set_id_vendor(templ, 0x1234);
        libevdev_set_id_product(templ, 0x5678);
        libevdev_enable_event_type(templ, EV_KEY);
        for (unsigned code = KEY_ESC; code <= KEY_MICMUTE; ++code) {
            libevdev_enable_event_code(templ, EV_KEY, code, nullptr);
        }
        libevdev_enable_event_type(templ, EV_MSC);
        libevdev_enable_event_code(templ, EV_MSC, MSC_SCAN, nullptr);
        const int rc =
            libevdev_uinput_create_from_device(templ, LIBEVDEV_UINPUT_OPEN_MANAGED, &device_);
        libevdev_free(templ);
        return rc == 0;
    }
    void key(std::uint16_t code, std::int32_t value, std::uint32_t usage) {
        libevdev_uinput_write_event(device_, EV_MSC, MSC_SCAN, static_cast<int>(0x70000 | usage));
        libevdev_uinput_write_event(device_, EV_KEY, code, value);
        libevdev_uinput_write_event(device_, EV_SYN, SYN_REPORT, 0);
    }
    std::string devnode() const { return libevdev_uinput_get_devnode(device_); }
    // Whether another process holds the node's grab.
    bool grabbedElsewhere() const { return vmtest::grabbedElsewhere(devnode()); }
    // Unplugged: the device is gone, with whatever keys it held.
    void destroy() {
        if (device_ != nullptr) {
            libevdev_uinput_destroy(device_);
            device_ = nullptr;
        }
    }
    ~SourceKeyboard() { destroy(); }

private:
    libevdev_uinput* device_ = nullptr;
};

class Reader {
public:
    ~Reader() { close(); }
    bool open(const std::string& devnode) {
        fd_ = ::open(devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        return fd_ >= 0;
    }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    void drain() {
        input_event ev{};
        while (fd_ >= 0 && ::read(fd_, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev)) {
            if (ev.type == EV_KEY && ev.value != 2) {
                keys.emplace_back(ev.code, ev.value);
            }
        }
    }
    KeyList keys;

private:
    int fd_ = -1;
};

std::string deviceName(const std::string& devnode) {
    const int fd = ::open(devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char name[256] = {};
    ::ioctl(fd, EVIOCGNAME(sizeof name - 1), name);
    ::close(fd);
    return name;
}

// A virtual keyboard of Chordwell's other than the ones in `known`.
std::string newVirtualKeyboard(const std::vector<std::string>& known) {
    for (const auto& entry : fs::directory_iterator("/dev/input")) {
        const std::string node = entry.path().string();
        if (entry.path().filename().string().rfind("event", 0) != 0 ||
            std::find(known.begin(), known.end(), node) != known.end()) {
            continue;
        }
        if (deviceName(node) == chordwell::platform::lnx::kVirtualKeyboardName) {
            return node;
        }
    }
    return {};
}

pid_t spawn(const std::string& program, const std::vector<std::string>& arguments,
            const fs::path& output) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : arguments) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

// The exit status, or -1 when it did not end within `limit`.
int waitExit(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    if (!waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit)) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// How often a process (every thread) went to sleep waiting for something.
long voluntarySwitches(pid_t pid) {
    long total = -1;
    std::error_code error;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream in(task.path() / "status");
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                total = std::max(total, 0L) + std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return total;
}

std::string mappingFile(const char* inputKeyCodes) {
    return std::string(R"({"id":"6F1C2B1E-8B0A-4C55-9A43-2D2C7B1E0A02",)") +
           R"("productName":"VMTest Background Keyboard","productID":22136,"vendorID":4660,)" +
           R"("mappings":[{"id":"0C5E1A44-1F7B-4E0B-8D1A-7B3C9E2F4A02","name":"Copy",)" +
           R"("inputKeyCodes":)" + inputKeyCodes +
           R"(,"outputBehavior":{"kind":"copyOperation"}}]})";
}

// A private system bus with a stand-in for logind on it, which says when the
// machine goes to sleep and wakes. Real logind needs systemd as PID 1.
class SleepBus {
public:
    static constexpr const char* kAddress = "unix:path=/tmp/vm-system-bus";

    bool start() {
        const char* daemon = "/usr/bin/dbus-daemon";
        if (::access(daemon, X_OK) != 0) {
            return false;
        }
        fs::create_directories("/etc");
        if (!fs::exists("/etc/passwd")) {
            std::ofstream("/etc/passwd") << "root:x:0:0:root:/tmp:/bin/sh\n";
        }
        std::ofstream("/tmp/vm-system-bus.conf")
            << "<busconfig><type>system</type><listen>" << kAddress
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
               "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
               "</policy></busconfig>\n";
        daemon_ = spawn(daemon, {"--nofork", "--config-file=/tmp/vm-system-bus.conf"},
                        "/tmp/vm-system-bus.out");
        if (!waitFor([] { return fs::exists("/tmp/vm-system-bus"); }, 10s)) {
            return false;
        }
        if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, kAddress) < 0 ||
            sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0) {
            return false;
        }
        return sd_bus_request_name(bus_, "org.freedesktop.login1", 0) >= 0;
    }
    // Answers what came meanwhile (logind's methods are unknown here).
    void process() {
        while (bus_ != nullptr && sd_bus_process(bus_, nullptr) > 0) {
        }
    }
    bool prepareForSleep(bool start) {
        process();
        const int rc =
            sd_bus_emit_signal(bus_, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                               "PrepareForSleep", "b", static_cast<int>(start));
        return rc >= 0 && sd_bus_flush(bus_) >= 0;
    }
    ~SleepBus() {
        if (bus_ != nullptr) {
            sd_bus_flush_close_unref(bus_);
        }
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
            ::waitpid(daemon_, nullptr, 0);
        }
    }

private:
    sd_bus* bus_ = nullptr;
    pid_t daemon_ = -1;
};

} // namespace

/// Runs the checks with the chordwellctl at `program`; `ownVirtualKeyboard`
/// is the node of the calling test's own virtual keyboard. Returns the
/// number of failed checks.
int checkBackgroundMode(const std::string& program, const std::string& ownVirtualKeyboard) {
    const fs::path home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "/tmp";
    const fs::path mappings = home / ".local/share/Chordwell/Mappings";
    const fs::path mapping = mappings / "1234-5678.json";
    const fs::path log = home / "background-mode.out";
    fs::create_directories(mappings);
    fs::create_directories(home / ".config/Chordwell");
    // The application's preferences: repeat off, so a held mapping types once.
    std::ofstream(home / ".config/Chordwell/preferences.ini")
        << "[General]\nkey_repeat_enabled=false\n";
    writeAtomically(mapping, mappingFile("[224,4]")); // Left Control + A -> Copy

    SleepBus sleepBus;
    const bool haveBus = sleepBus.start();
    if (haveBus) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", SleepBus::kAddress, 1);
    } else {
        std::printf("VMTEST: background mode: no dbus-daemon in the VM; sleep not tried\n");
    }

    SourceKeyboard keyboard;
    if (!keyboard.create()) {
        check(false, "the source keyboard can be made");
        return failed;
    }
    std::this_thread::sleep_for(300ms); // let the node settle before it is listed
    // The desktop's view of the keyboard itself, while nobody grabs it.
    Reader desktop;
    check(desktop.open(keyboard.devnode()), "the source keyboard's own node can be read");
    keyboard.key(KEY_LEFTSHIFT, 1, 0xE1); // held as the background mode starts

    const pid_t pid = spawn(program, {"run", "--keyboard", "1234:5678"}, log);
    const bool started =
        waitFor([&] { return readFile(log).find("intercepting") != std::string::npos; }, 20s);
    check(started, "chordwellctl run starts intercepting: " + readFile(log));
    std::this_thread::sleep_for(500ms);
    check(!keyboard.grabbedElsewhere(), "a keyboard with a key held is not grabbed");
    keyboard.key(KEY_LEFTSHIFT, 0, 0xE1);
    check(waitFor([&] { return keyboard.grabbedElsewhere(); }, 5s),
          "it is grabbed once the key is up");
    desktop.drain();
    check(desktop.keys == KeyList{{KEY_LEFTSHIFT, 1}, {KEY_LEFTSHIFT, 0}},
          "the key held at grab time came up where it went down: got " + describe(desktop.keys));
    desktop.close();
    std::string output;
    waitFor(
        [&] {
            output = newVirtualKeyboard({ownVirtualKeyboard});
            return !output.empty();
        },
        5s);
    Reader reader;
    check(!output.empty() && reader.open(output), "its virtual keyboard can be read");
    check(waitFor([&] { return keyboard.grabbedElsewhere(); }, 5s), "the keyboard is grabbed");

    const auto expect = [&](const char* what, const KeyList& expected) {
        waitFor(
            [&] {
                reader.drain();
                return reader.keys.size() >= expected.size();
            },
            5s);
        std::this_thread::sleep_for(300ms);
        reader.drain();
        check(reader.keys == expected, std::string(what) + ": got " + describe(reader.keys) +
                                           ", want " + describe(expected));
        reader.keys.clear();
    };

    keyboard.key(KEY_LEFTCTRL, 1, 0xE0);
    keyboard.key(KEY_A, 1, 0x04);
    std::this_thread::sleep_for(800ms); // past the repeat delay: repeat is off
    keyboard.key(KEY_A, 0, 0x04);
    keyboard.key(KEY_LEFTCTRL, 0, 0xE0);
    expect("Control+A held becomes one Control+C",
           {{KEY_LEFTCTRL, 1}, {KEY_C, 1}, {KEY_C, 0}, {KEY_LEFTCTRL, 0}});
    keyboard.key(KEY_B, 1, 0x05);
    keyboard.key(KEY_B, 0, 0x05);
    expect("an unmapped key passes", {{KEY_B, 1}, {KEY_B, 0}});

    // Intercepting with no key pressed, nothing wakes the process: no timer
    // polls (one wake-up a second would be 5 here).
    {
        const long before = voluntarySwitches(pid);
        std::this_thread::sleep_for(5s);
        const long woke = voluntarySwitches(pid) - before;
        std::printf("VMTEST: background mode idle: %ld wake-ups in 5 s\n", woke);
        check(before >= 0 && woke <= 1,
              "idle while intercepting: " + std::to_string(woke) + " wake-ups in 5 s");
    }

    // A second background mode for the same keyboard says who has it.
    const fs::path secondLog = home / "background-mode-2.out";
    const int second = waitExit(spawn(program, {"run", "--keyboard", "1234:5678"}, secondLog), 20s);
    check(second == 1 && readFile(secondLog).find("in use by chordwellctl (process " +
                                                  std::to_string(pid) + ")") != std::string::npos,
          "a second instance exits 1 naming the holder (status " + std::to_string(second) +
              "): " + readFile(secondLog));

    // The file is edited on disk: B is mapped now, Control+A no longer.
    writeAtomically(mapping, mappingFile("[5]"));
    check(waitFor([&] { return readFile(log).find("reloaded") != std::string::npos; }, 5s),
          "the edited mapping file is reloaded");
    keyboard.key(KEY_B, 1, 0x05);
    keyboard.key(KEY_B, 0, 0x05);
    expect("after the edit B becomes Control+C",
           {{KEY_LEFTCTRL, 1}, {KEY_C, 1}, {KEY_C, 0}, {KEY_LEFTCTRL, 0}});
    keyboard.key(KEY_LEFTCTRL, 1, 0xE0);
    keyboard.key(KEY_A, 1, 0x04);
    keyboard.key(KEY_A, 0, 0x04);
    keyboard.key(KEY_LEFTCTRL, 0, 0xE0);
    expect("after the edit Control+A passes",
           {{KEY_LEFTCTRL, 1}, {KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTCTRL, 0}});

    // The keyboard is destroyed and made again (a re-plug): the same process
    // grabs it again and maps within 2 s, with the same virtual keyboard.
    keyboard.destroy();
    check(waitFor([&] { return readFile(log).find("went away") != std::string::npos; }, 5s),
          "the background mode says it waits for its keyboard: " + readFile(log));
    check(waitExit(pid, 0s) == -1, "the background mode keeps running without its keyboard");
    const bool remade = keyboard.create();
    const auto plugged = std::chrono::steady_clock::now();
    check(remade && waitFor([&] { return keyboard.grabbedElsewhere(); }, 2s),
          "the keyboard made again is grabbed again");
    keyboard.key(KEY_B, 1, 0x05);
    keyboard.key(KEY_B, 0, 0x05);
    reader.drain();
    const bool mappedInTime = waitFor(
        [&] {
            reader.drain();
            return reader.keys.size() >= 4;
        },
        std::chrono::milliseconds(2000) - std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - plugged));
    check(mappedInTime, "the mapping works again within 2 s of the re-plug");
    expect("after the re-plug B becomes Control+C",
           {{KEY_LEFTCTRL, 1}, {KEY_C, 1}, {KEY_C, 0}, {KEY_LEFTCTRL, 0}});

    // logind says the machine goes to sleep while Shift is held: Shift comes
    // up at the desktop; after the wake the mappings work on.
    if (haveBus) {
        keyboard.key(KEY_LEFTSHIFT, 1, 0xE1);
        expect("a held Shift passes", {{KEY_LEFTSHIFT, 1}});
        check(sleepBus.prepareForSleep(true), "PrepareForSleep(true) is sent");
        expect("before sleep the held Shift is released", {{KEY_LEFTSHIFT, 0}});
        keyboard.key(KEY_LEFTSHIFT, 0, 0xE1);
        check(sleepBus.prepareForSleep(false), "PrepareForSleep(false) is sent");
        expect("its release after the sleep adds nothing", {});
        keyboard.key(KEY_B, 1, 0x05);
        keyboard.key(KEY_B, 0, 0x05);
        expect("after the wake B becomes Control+C",
               {{KEY_LEFTCTRL, 1}, {KEY_C, 1}, {KEY_C, 0}, {KEY_LEFTCTRL, 0}});
    }

    // SIGTERM while Shift is held: exit 0, Shift released, keyboard free.
    keyboard.key(KEY_LEFTSHIFT, 1, 0xE1);
    expect("a held Shift passes", {{KEY_LEFTSHIFT, 1}});
    ::kill(pid, SIGTERM);
    // Read while it stops: once it has exited its virtual keyboard is gone,
    // and with it whatever this reader had not read yet.
    int status = -1;
    waitFor(
        [&] {
            reader.drain();
            status = waitExit(pid, 0s);
            return status != -1;
        },
        10s);
    check(status == 0, "SIGTERM ends it with status 0 (got " + std::to_string(status) + ")");
    check(reader.keys == KeyList{{KEY_LEFTSHIFT, 0}},
          "no key is left down: got " + describe(reader.keys));
    check(!keyboard.grabbedElsewhere(), "the keyboard is released");
    keyboard.key(KEY_LEFTSHIFT, 0, 0xE1);
    const std::string logFile = readFile(home / ".local/share/Chordwell/Logs/chordwell.log");
    check(logFile.find("Background mode: intercepting") != std::string::npos &&
              logFile.find("stopping on SIGTERM") != std::string::npos,
          "the log file tells the start and the stop");

    // Waiting for a keyboard that is not there: the selector it echoes is
    // escaped, and SIGHUP (its terminal went away) ends it as SIGTERM does.
    const fs::path waitLog = home / "background-mode-waiting.out";
    const pid_t waiting = spawn(program, {"run", "--keyboard", "Gone \x1b]0;title\x07"}, waitLog);
    check(waitFor(
              [&] { return readFile(waitLog).find("waiting for a keyboard") != std::string::npos; },
              20s),
          "a background mode waits for a keyboard that is not there: " + readFile(waitLog));
    check(readFile(waitLog).find('\x1b') == std::string::npos &&
              readFile(waitLog).find("Gone \\u001b]0;title\\u0007") != std::string::npos,
          "the selector it echoes is escaped: " + readFile(waitLog));
    ::kill(waiting, SIGHUP);
    const int hungUp = waitExit(waiting, 10s);
    check(hungUp == 0, "SIGHUP ends it with status 0 (got " + std::to_string(hungUp) + ")");
    check(readFile(home / ".local/share/Chordwell/Logs/chordwell.log").find("stopping on SIGHUP") !=
              std::string::npos,
          "the log file tells the stop on SIGHUP");
    return failed;
}
