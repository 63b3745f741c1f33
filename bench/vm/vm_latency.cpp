// Key latency on a real kernel, run inside the VM of scripts/bench-vm.
//
// Each configuration has a source keyboard of its own (a uinput device), so
// that they can all run at once and be measured interleaved, press by press,
// sharing whatever noise the machine has:
//
//   direct              no remapper: the event is read at the source itself
//   interception-tools  `interception -g SRC | uinput -d SRC`
//   chordwell-pass      chordwellctl run, 10 mappings, an unmapped key (B)
//   chordwell-mapped    chordwellctl run, 10 mappings, Control+A -> Copy:
//                       from the A key-down to the posted C key-down
//   ...-10k             the same two with 10,000 mappings
//
// Latency is the event's kernel time stamp at the output device (monotonic
// clock, EVIOCSCLOCKID) minus the monotonic time just before the key was
// written to the source. CPU time is what the remapper's processes used
// (schedstat, every thread), per 1,000 key events written to their source.
//
// Prints one "VMTEST: row ..." line per configuration, then the summary line
// and "VMTEST: PASS".
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kPresses = 2000;
constexpr int kWarmUp = 50;
constexpr std::uint16_t kVendor = 0x1209;

std::int64_t monotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

std::set<std::string> eventNodes() {
    std::set<std::string> nodes;
    for (const auto& entry : fs::directory_iterator("/dev/input")) {
        if (entry.path().filename().string().rfind("event", 0) == 0) {
            nodes.insert(entry.path().string());
        }
    }
    return nodes;
}

// The node that appears next (not in `before`), within `limit`.
std::string newNode(const std::set<std::string>& before, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        for (const std::string& node : eventNodes()) {
            if (before.count(node) == 0) {
                std::this_thread::sleep_for(100ms); // let udev/devtmpfs settle
                return node;
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    return {};
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// CPU time of a process, every thread, in nanoseconds.
std::int64_t cpuNs(pid_t pid) {
    std::int64_t total = 0;
    std::error_code error;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream in(task.path() / "schedstat");
        std::int64_t onCpu = 0;
        if (in >> onCpu) {
            total += onCpu;
        }
    }
    return total;
}

struct Source {
    libevdev_uinput* device = nullptr;
    std::string devnode;

    bool create(std::uint16_t product) {
        libevdev* templ = libevdev_new();
        const std::string name = "Bench Source " + std::to_string(product);
        libevdev_set_name(templ, name.c_str());
        libevdev_set_id_bustype(templ, BUS_USB);
        libevdev_set_id_vendor(templ, kVendor);
        libevdev_set_id_product(templ, product);
        libevdev_enable_event_type(templ, EV_KEY);
        for (unsigned code = KEY_ESC; code <= KEY_MICMUTE; ++code) {
            libevdev_enable_event_code(templ, EV_KEY, code, nullptr);
        }
        libevdev_enable_event_type(templ, EV_MSC);
        libevdev_enable_event_code(templ, EV_MSC, MSC_SCAN, nullptr);
        const int rc =
            libevdev_uinput_create_from_device(templ, LIBEVDEV_UINPUT_OPEN_MANAGED, &device);
        libevdev_free(templ);
        if (rc == 0) {
            devnode = libevdev_uinput_get_devnode(device);
        }
        return rc == 0;
    }
    void key(std::uint16_t code, std::int32_t value, std::uint32_t usage) {
        libevdev_uinput_write_event(device, EV_MSC, MSC_SCAN, static_cast<int>(0x70000 | usage));
        libevdev_uinput_write_event(device, EV_KEY, code, value);
        libevdev_uinput_write_event(device, EV_SYN, SYN_REPORT, 0);
    }
};

struct Config {
    std::string name;
    std::uint16_t product = 0;
    enum class Kind { direct, interceptionTools, chordwell } kind = Kind::direct;
    bool mapped = false;
    int mappings = 0;
    Source source;
    int output = -1;
    std::vector<pid_t> pids;
    std::vector<double> samples; // µs
    std::int64_t events = 0;
    std::int64_t cpuStart = 0;
    std::int64_t cpuEnd = 0;
    int lost = 0;
};

// Waits for `code` = `value` at the output; its kernel time (ns), or -1.
std::int64_t awaitKey(int fd, std::uint16_t code, std::int32_t value) {
    const std::int64_t deadline = monotonicNs() + 1'000'000'000;
    for (;;) {
        input_event ev{};
        const ssize_t n = ::read(fd, &ev, sizeof ev);
        if (n == static_cast<ssize_t>(sizeof ev)) {
            if (ev.type == EV_KEY && ev.code == code && ev.value == value) {
                return std::int64_t{ev.input_event_sec} * 1'000'000'000 +
                       std::int64_t{ev.input_event_usec} * 1000;
            }
            continue;
        }
        const std::int64_t left = deadline - monotonicNs();
        if (left <= 0) {
            return -1;
        }
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left / 1'000'000) + 1);
    }
}

void drain(int fd) {
    input_event ev{};
    while (::read(fd, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev)) {
    }
}

// One press; records the latency unless `warmUp`.
void press(Config& c, bool warmUp) {
    const std::uint16_t key = c.mapped ? KEY_A : KEY_B;
    const std::uint32_t usage = c.mapped ? 0x04 : 0x05;
    const std::uint16_t expected = c.mapped ? KEY_C : KEY_B;
    if (c.mapped) {
        c.source.key(KEY_LEFTCTRL, 1, 0xE0);
        awaitKey(c.output, KEY_LEFTCTRL, 1);
    }
    const std::int64_t written = monotonicNs();
    c.source.key(key, 1, usage);
    const std::int64_t arrived = awaitKey(c.output, expected, 1);
    c.source.key(key, 0, usage);
    if (c.mapped) {
        c.source.key(KEY_LEFTCTRL, 0, 0xE0);
        awaitKey(c.output, KEY_LEFTCTRL, 0);
        c.events += 4;
    } else {
        awaitKey(c.output, key, 0);
        c.events += 2;
    }
    if (warmUp) {
        return;
    }
    if (arrived < 0) {
        ++c.lost;
        return;
    }
    c.samples.push_back(static_cast<double>(arrived - written) / 1000.0);
}

// A mapping file of `count` mappings for the source `product`: Control+A ->
// Copy, and count - 1 other combinations (modifier sets with keys other
// than A and B), all unique.
void writeMappings(const fs::path& folder, std::uint16_t product, int count) {
    char file[32];
    std::snprintf(file, sizeof file, "%04X-%04X.json", kVendor, product);
    std::ofstream out(folder / file);
    const auto uuid = [](std::uint32_t n, std::uint32_t kind) {
        char text[40];
        std::snprintf(text, sizeof text, "%08X-0000-4000-8000-%012X", n, kind);
        return std::string(text);
    };
    out << R"({"id":")" << uuid(product, 1) << R"(","productName":"Bench Source )" << product
        << R"(","productID":)" << product << R"(,"vendorID":)" << kVendor << R"(,"mappings":[)";
    out << R"({"id":")" << uuid(0, 2) << R"(","name":"copy","inputKeyCodes":[224,4],)"
        << R"("outputBehavior":{"kind":"copyOperation"}})";
    int written = 1;
    for (std::uint32_t modifiers = 1; modifiers < 256 && written < count; ++modifiers) {
        for (std::uint32_t usage = 0x06; usage <= 0x45 && written < count; ++usage) {
            out << R"(,{"id":")" << uuid(static_cast<std::uint32_t>(written), 2) << R"(","name":"m)"
                << written << R"(","inputKeyCodes":[)";
            for (std::uint32_t bit = 0; bit < 8; ++bit) {
                if ((modifiers & (1u << bit)) != 0) {
                    out << (0xE0 + bit) << ",";
                }
            }
            out << usage << R"(],"outputBehavior":{"kind":"copyOperation"}})";
            ++written;
        }
    }
    out << "]}\n";
}

pid_t spawn(const std::vector<std::string>& arguments, int in, int out, const fs::path& log) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in >= 0) {
            ::dup2(in, 0);
        }
        ::dup2(out >= 0 ? out : logFd, 1);
        ::dup2(logFd, 2);
        std::vector<char*> argv;
        for (const std::string& a : arguments) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

struct Stats {
    double median = 0;
    double p99 = 0;
    double max = 0;
};

Stats stats(std::vector<double> samples) {
    Stats s;
    if (samples.empty()) {
        return s;
    }
    std::sort(samples.begin(), samples.end());
    s.median = samples[samples.size() / 2];
    s.p99 = samples[std::min(samples.size() - 1, (samples.size() * 99 + 99) / 100 - 1)];
    s.max = samples.back();
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const std::string ctl = argc > 1 ? argv[1] : "/chordwellctl";
    const fs::path home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "/tmp";
    const fs::path mappings = home / ".local/share/Chordwell/Mappings";
    const fs::path logs = home / "bench-logs";
    fs::create_directories(mappings);
    fs::create_directories(logs);
    fs::create_directories(home / ".config/Chordwell");
    std::ofstream(home / ".config/Chordwell/preferences.ini")
        << "[General]\nkey_repeat_enabled=false\n";

    std::vector<Config> configs(6);
    const auto describe = [&](std::size_t i, const char* name, Config::Kind kind, bool mapped,
                              int count) {
        configs[i].name = name;
        configs[i].kind = kind;
        configs[i].mapped = mapped;
        configs[i].mappings = count;
    };
    describe(0, "direct", Config::Kind::direct, false, 0);
    describe(1, "interception-tools", Config::Kind::interceptionTools, false, 0);
    describe(2, "chordwell-pass", Config::Kind::chordwell, false, 10);
    describe(3, "chordwell-mapped", Config::Kind::chordwell, true, 10);
    describe(4, "chordwell-pass-10k", Config::Kind::chordwell, false, 10000);
    describe(5, "chordwell-mapped-10k", Config::Kind::chordwell, true, 10000);
    for (std::size_t i = 0; i < configs.size(); ++i) {
        Config& c = configs[i];
        c.product = static_cast<std::uint16_t>(i + 1);
        if (!c.source.create(c.product)) {
            std::printf("VMTEST: FAIL (cannot create source %zu)\n", i);
            return 1;
        }
        if (c.kind == Config::Kind::chordwell) {
            writeMappings(mappings, c.product, c.mappings);
        }
    }
    std::this_thread::sleep_for(500ms);

    for (Config& c : configs) {
        const auto before = eventNodes();
        std::string output;
        if (c.kind == Config::Kind::direct) {
            output = c.source.devnode;
        } else if (c.kind == Config::Kind::interceptionTools) {
            int pipeFds[2];
            if (::pipe(pipeFds) != 0) {
                return 1;
            }
            c.pids.push_back(spawn({"/usr/bin/interception", "-g", c.source.devnode}, -1,
                                   pipeFds[1], logs / "interception.log"));
            c.pids.push_back(spawn({"/usr/bin/uinput", "-d", c.source.devnode}, pipeFds[0], -1,
                                   logs / "interception.log"));
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            output = newNode(before, 10s);
        } else {
            char selector[16];
            std::snprintf(selector, sizeof selector, "%04x:%04x", kVendor, c.product);
            const fs::path log = logs / (c.name + ".log");
            c.pids.push_back(spawn({ctl, "run", "--keyboard", selector}, -1, -1, log));
            const auto end = std::chrono::steady_clock::now() + 60s;
            while (readFile(log).find("intercepting") == std::string::npos &&
                   std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(50ms);
            }
            output = newNode(before, 5s);
        }
        if (output.empty()) {
            std::printf("VMTEST: FAIL (no output device for %s)\n", c.name.c_str());
            const std::string said = readFile(logs / (c.kind == Config::Kind::chordwell
                                                          ? c.name + ".log"
                                                          : std::string("interception.log")));
            std::printf("%s\n", said.c_str());
            return 1;
        }
        c.output = ::open(output.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        int clock = CLOCK_MONOTONIC;
        if (c.output < 0 || ::ioctl(c.output, EVIOCSCLOCKID, &clock) != 0) {
            std::printf("VMTEST: FAIL (cannot read %s for %s)\n", output.c_str(), c.name.c_str());
            return 1;
        }
    }
    std::this_thread::sleep_for(500ms);
    for (Config& c : configs) {
        drain(c.output);
        for (int i = 0; i < kWarmUp; ++i) {
            press(c, true);
        }
    }

    // Interleaved: every round presses once in every configuration.
    for (Config& c : configs) {
        c.events = 0;
        for (pid_t pid : c.pids) {
            c.cpuStart += cpuNs(pid);
        }
    }
    for (int round = 0; round < kPresses; ++round) {
        for (Config& c : configs) {
            press(c, false);
            std::this_thread::sleep_for(200us);
        }
    }
    for (Config& c : configs) {
        for (pid_t pid : c.pids) {
            c.cpuEnd += cpuNs(pid);
        }
    }

    std::printf("VMTEST: row | configuration | presses | median | p99 | max | CPU per 1,000 "
                "events | lost |\n");
    std::vector<Stats> results;
    for (const Config& c : configs) {
        const Stats s = stats(c.samples);
        results.push_back(s);
        char cpu[32] = "-";
        if (!c.pids.empty() && c.events > 0) {
            std::snprintf(cpu, sizeof cpu, "%.1f ms",
                          static_cast<double>(c.cpuEnd - c.cpuStart) / 1e6 * 1000.0 /
                              static_cast<double>(c.events));
        }
        std::printf("VMTEST: row | %s | %zu | %.0f µs | %.0f µs | %.0f µs | %s | %d |\n",
                    c.name.c_str(), c.samples.size(), s.median, s.p99, s.max, cpu, c.lost);
    }
    for (Config& c : configs) {
        for (pid_t pid : c.pids) {
            ::kill(pid, SIGTERM);
        }
        for (pid_t pid : c.pids) {
            ::waitpid(pid, nullptr, 0);
        }
    }
    std::printf("VMTEST: vm-latency: chordwell-pass P50=%.0f P99=%.0f, chordwell-mapped P50=%.0f, "
                "interception-tools P50=%.0f P99=%.0f, direct P50=%.0f\n",
                results[2].median, results[2].p99, results[3].median, results[1].median,
                results[1].p99, results[0].median);
    bool complete = true;
    for (const Config& c : configs) {
        complete = complete && c.lost == 0 && c.samples.size() == kPresses;
    }
    std::printf("VMTEST: %s\n", complete ? "PASS" : "FAIL (presses lost)");
    std::fflush(stdout);
    return complete ? 0 : 1;
}
