// Key latency on a real kernel, run inside the VM of scripts/bench-vm.
//
// Each configuration has a source keyboard of its own (a uinput device), so
// that they can all run at once and be measured interleaved, press by press,
// sharing whatever noise the machine has:
//
//   direct              no remapper: the event is read at the source itself
//   interception-tools  `interception -g SRC | uinput -d SRC`
//   relay               the least a grab-and-re-emit remapper does: this
//                       program's relay mode grabs the source and writes
//                       every event it reads to a uinput device, one read()
//                       and one write() per batch, nothing else
//   chordwell-pass      chordwellctl run, 10 mappings, an unmapped key (B)
//   chordwell-mapped    chordwellctl run, 10 mappings, Control+A -> Copy:
//                       from the A key-down to the posted C key-down
//   ...-10k             the same two with 10,000 mappings
//
// Latency is the event's kernel time stamp at the output device (monotonic
// clock, EVIOCSCLOCKID) minus the monotonic time just before the key was
// written to the source. What a remapper adds is its median minus the
// direct median; the ratio compares that with what the relay adds. CPU time
// is what the remapper's processes used (schedstat, every thread), per 1,000
// key events written to their source; wake-ups are the voluntary context
// switches of its processes per key event (a wake-up from sleep in poll or
// read, which is where a process waits for input).
//
// Prints one "VMTEST: row ..." line per configuration, then the summary line
// and "VMTEST: PASS". `chordwell_vm_bench relay SOURCE` is the relay itself.
#include "vm/vm_support.hpp"
#include "vm_stages.hpp"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kPresses = 2000;
constexpr int kTracedPresses = 400; // --stages: the trace holds every event of these
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

// Voluntary context switches of a process, every thread: how often it went
// to sleep waiting for something (here: for input).
std::int64_t voluntarySwitches(pid_t pid) {
    std::int64_t total = 0;
    std::error_code error;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream in(task.path() / "status");
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                total += std::atoll(line.c_str() + std::strlen("voluntary_ctxt_switches:"));
            }
        }
    }
    return total;
}

// The relay: grabs `source`, makes a uinput device like it and writes every
// event read to it as read. One blocking read() and one write() per batch of
// events; no poll, no decoding, no state.
int runRelay(const char* source, bool waitFirst) {
    const int in = ::open(source, O_RDONLY | O_CLOEXEC);
    libevdev* device = nullptr;
    if (in < 0 || libevdev_new_from_fd(in, &device) != 0) {
        std::fprintf(stderr, "relay: cannot open %s\n", source);
        return 1;
    }
    libevdev_uinput* output = nullptr;
    if (::ioctl(in, EVIOCGRAB, 1) != 0 ||
        libevdev_uinput_create_from_device(device, LIBEVDEV_UINPUT_OPEN_MANAGED, &output) != 0) {
        std::fprintf(stderr, "relay: cannot grab %s or create its copy\n", source);
        return 1;
    }
    const int out = libevdev_uinput_get_fd(output);
    input_event events[64];
    const int epollFd = waitFirst ? ::epoll_create1(EPOLL_CLOEXEC) : -1;
    if (waitFirst) {
        epoll_event event{};
        event.events = EPOLLIN;
        ::epoll_ctl(epollFd, EPOLL_CTL_ADD, in, &event);
    }
    for (;;) {
        if (waitFirst) {
            epoll_event ready{};
            ::epoll_wait(epollFd, &ready, 1, -1);
        }
        const ssize_t n = ::read(in, events, sizeof events);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || ::write(out, events, static_cast<std::size_t>(n)) != n) {
            break;
        }
    }
    libevdev_uinput_destroy(output);
    libevdev_free(device);
    ::close(in);
    return 0;
}

struct Config {
    std::string name;
    std::uint16_t product = 0;
    enum class Kind { direct, interceptionTools, relay, chordwell } kind = Kind::direct;
    bool mapped = false;
    bool afterShift = false; // the key follows a Shift key-down (--stages)
    int mappings = 0;
    vmtest::TestKeyboard source;
    int output = -1;
    std::vector<pid_t> pids;
    std::vector<double> samples; // µs
    std::int64_t events = 0;
    std::int64_t cpuStart = 0;
    std::int64_t cpuEnd = 0;
    std::int64_t switchesStart = 0;
    std::int64_t switchesEnd = 0;
    std::vector<vmstages::Press> traced; // --stages
    std::vector<pid_t> threads;          // of the remapper's last process
    bool tracing = false;
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
    } else if (c.afterShift) {
        c.source.key(KEY_LEFTSHIFT, 1, 0xE1);
        awaitKey(c.output, KEY_LEFTSHIFT, 1);
    }
    std::string marker;
    if (c.tracing && !warmUp) {
        marker = "press " + c.name + " " + std::to_string(c.traced.size()) + ";";
        vmstages::mark(marker);
    }
    const std::int64_t written = monotonicNs();
    c.source.key(key, 1, usage);
    const std::int64_t arrived = awaitKey(c.output, expected, 1);
    if (!marker.empty() && arrived >= 0 && !c.pids.empty()) {
        c.traced.push_back(vmstages::Press{marker, written, arrived, c.threads});
    }
    c.source.key(key, 0, usage);
    if (c.mapped) {
        c.source.key(KEY_LEFTCTRL, 0, 0xE0);
        awaitKey(c.output, KEY_LEFTCTRL, 0);
        c.events += 4;
    } else {
        awaitKey(c.output, key, 0);
        c.events += 2;
        if (c.afterShift) {
            c.source.key(KEY_LEFTSHIFT, 0, 0xE1);
            awaitKey(c.output, KEY_LEFTSHIFT, 0);
            c.events += 2;
        }
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
    if (argc == 3 && std::string_view(argv[1]) == "relay") {
        return runRelay(argv[2], false);
    }
    if (argc == 3 && std::string_view(argv[1]) == "relay-epoll") {
        return runRelay(argv[2], true);
    }
    const std::string self = argv[0];
    const bool stages = argc > 1 && std::string_view(argv[1]) == "--stages";
    const bool profile = argc > 1 && std::string_view(argv[1]) == "--profile";
    const int presses = stages || profile ? kTracedPresses : kPresses;
    const std::string ctl = argc > 1 && !stages && !profile ? argv[1] : "/chordwellctl";
    const fs::path home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "/tmp";
    const fs::path mappings = home / ".local/share/Chordwell/Mappings";
    const fs::path logs = home / "bench-logs";
    fs::create_directories(mappings);
    fs::create_directories(logs);
    fs::create_directories(home / ".config/Chordwell");
    std::ofstream(home / ".config/Chordwell/preferences.ini")
        << "[General]\nkey_repeat_enabled=false\n";

    // --stages adds a pass-through whose key follows a Shift key-down, as the
    // mapped key follows its Control: the difference between the two then
    // is the code each runs, not what came before.
    std::vector<Config> configs(stages ? 10 : 7);
    const auto describe = [&](std::size_t i, const char* name, Config::Kind kind, bool mapped,
                              int count) {
        configs[i].name = name;
        configs[i].kind = kind;
        configs[i].mapped = mapped;
        configs[i].mappings = count;
    };
    describe(0, "direct", Config::Kind::direct, false, 0);
    describe(1, "interception-tools", Config::Kind::interceptionTools, false, 0);
    describe(2, "relay", Config::Kind::relay, false, 0);
    describe(3, "chordwell-pass", Config::Kind::chordwell, false, 10);
    describe(4, "chordwell-mapped", Config::Kind::chordwell, true, 10);
    describe(5, "chordwell-pass-10k", Config::Kind::chordwell, false, 10000);
    describe(6, "chordwell-mapped-10k", Config::Kind::chordwell, true, 10000);
    if (stages) {
        describe(7, "chordwell-pass-after-shift", Config::Kind::chordwell, false, 10);
        configs[7].afterShift = true;
        describe(8, "relay-epoll", Config::Kind::relay, false, 0);
        describe(9, "relay-after-shift", Config::Kind::relay, false, 0);
        configs[9].afterShift = true;
    }
    constexpr std::size_t kDirect = 0;
    constexpr std::size_t kInterception = 1;
    constexpr std::size_t kRelay = 2;
    constexpr std::size_t kPass = 3;
    constexpr std::size_t kMapped = 4;
    for (std::size_t i = 0; i < configs.size(); ++i) {
        Config& c = configs[i];
        c.product = static_cast<std::uint16_t>(i + 1);
        // A place of its own for each: keyboards of one place are one.
        const std::string name = "Bench Source " + std::to_string(c.product);
        const std::string phys = "usb-bench-" + std::to_string(c.product) + "/input0";
        if (!c.source.create(name.c_str(), phys.c_str(), c.product, kVendor)) {
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
            output = c.source.devnode();
        } else if (c.kind == Config::Kind::interceptionTools) {
            int pipeFds[2];
            if (::pipe(pipeFds) != 0) {
                return 1;
            }
            c.pids.push_back(spawn({"/usr/bin/interception", "-g", c.source.devnode()}, -1,
                                   pipeFds[1], logs / "interception.log"));
            c.pids.push_back(spawn({"/usr/bin/uinput", "-d", c.source.devnode()}, pipeFds[0], -1,
                                   logs / "interception.log"));
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            output = newNode(before, 10s);
        } else if (c.kind == Config::Kind::relay) {
            const std::string mode = c.name == "relay-epoll" ? "relay-epoll" : "relay";
            c.pids.push_back(spawn({self, mode, c.source.devnode()}, -1, -1, logs / "relay.log"));
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
            const std::string said = readFile(
                logs / (c.kind == Config::Kind::chordwell ? c.name + ".log"
                        : c.kind == Config::Kind::relay   ? std::string("relay.log")
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
            c.switchesStart += voluntarySwitches(pid);
        }
    }
    if (stages) {
        std::vector<pid_t> traced = {::getpid()};
        for (Config& c : configs) {
            c.tracing = c.kind != Config::Kind::interceptionTools; // two processes: left out
            for (pid_t pid : c.pids) {
                c.threads = vmstages::threadsOf(pid);
                traced.insert(traced.end(), c.threads.begin(), c.threads.end());
            }
        }
        if (!vmstages::startTracing(traced)) {
            std::printf("VMTEST: FAIL (no kernel trace)\n");
            return 1;
        }
    }
    std::vector<std::pair<std::string, pid_t>> profiles; // --profile: perf record per remapper
    if (profile) {
        for (Config& c : configs) {
            if (c.kind == Config::Kind::relay || c.name == "chordwell-pass" ||
                c.name == "chordwell-mapped") {
                const std::string data = "/tmp/perf-" + c.name + ".data";
                profiles.emplace_back(
                    data, spawn({"/usr/bin/perf", "record", "-q", "-e", "cpu-clock:u", "-F",
                                 "25000", "-g", "-o", data, "-p", std::to_string(c.pids.back())},
                                -1, -1, logs / "perf.log"));
            }
        }
        std::this_thread::sleep_for(2s);
    }
    for (int round = 0; round < presses; ++round) {
        for (Config& c : configs) {
            press(c, false);
            std::this_thread::sleep_for(200us);
        }
    }
    for (const auto& [data, pid] : profiles) {
        ::kill(pid, SIGINT);
        ::waitpid(pid, nullptr, 0);
        const fs::path report = data + ".txt";
        const pid_t reporter = spawn(
            {"/usr/bin/perf", "report", "-i", data, "--stdio", "--no-children", "-g", "none",
             "--sort", "dso,sym", "--percent-limit", "0.7"},
            -1, ::open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), logs / "perf.log");
        ::waitpid(reporter, nullptr, 0);
        std::istringstream text(readFile(report));
        std::string line;
        while (std::getline(text, line)) {
            if (!line.empty() && line[0] != '#') {
                std::printf("VMTEST: profile %s %s\n", data.c_str(), line.c_str());
            }
        }
    }
    if (stages) {
        const std::vector<vmstages::Event> events = vmstages::parse(vmstages::stopTracing());
        std::printf("VMTEST: stage | configuration | presses traced | wake-up | to run | to read | "
                    "to write | to output | system calls before the write |\n");
        for (const Config& c : configs) {
            if (c.traced.empty()) {
                continue;
            }
            const vmstages::Stages st = vmstages::stagesOf(events, c.traced);
            std::printf(
                "VMTEST: stage | %s | %zu | %.0f µs | %.0f µs | %.0f µs | %.0f µs | %.0f µs "
                "| %.0f |\n",
                c.name.c_str(), st.wakeUp.size(), vmstages::median(st.wakeUp),
                vmstages::median(st.toRun), vmstages::median(st.toRead),
                vmstages::median(st.toWrite), vmstages::median(st.toOutput),
                vmstages::median(st.syscallsBeforeWrite));
        }
    }
    for (Config& c : configs) {
        for (pid_t pid : c.pids) {
            c.cpuEnd += cpuNs(pid);
            c.switchesEnd += voluntarySwitches(pid);
        }
    }

    std::vector<Stats> results;
    for (const Config& c : configs) {
        results.push_back(stats(c.samples));
    }
    const double directMedian = results[kDirect].median;
    const double relayAdded = results[kRelay].median - directMedian;
    std::printf("VMTEST: row | configuration | presses | median | added | ratio to relay | p99 | "
                "max | CPU per 1,000 events | wake-ups per event | lost |\n");
    for (std::size_t i = 0; i < configs.size(); ++i) {
        const Config& c = configs[i];
        const Stats& s = results[i];
        char cpu[32] = "-";
        char wakeUps[32] = "-";
        if (!c.pids.empty() && c.events > 0) {
            const auto events = static_cast<double>(c.events);
            std::snprintf(cpu, sizeof cpu, "%.1f ms",
                          static_cast<double>(c.cpuEnd - c.cpuStart) / 1e6 * 1000.0 / events);
            std::snprintf(wakeUps, sizeof wakeUps, "%.2f",
                          static_cast<double>(c.switchesEnd - c.switchesStart) / events);
        }
        char added[32] = "-";
        char ratio[32] = "-";
        if (i != kDirect) {
            std::snprintf(added, sizeof added, "%.0f µs", s.median - directMedian);
            if (relayAdded > 0) {
                std::snprintf(ratio, sizeof ratio, "%.2f×", (s.median - directMedian) / relayAdded);
            }
        }
        std::printf("VMTEST: row | %s | %zu | %.0f µs | %s | %s | %.0f µs | %.0f µs | %s | %s | %d "
                    "|\n",
                    c.name.c_str(), c.samples.size(), s.median, added, ratio, s.p99, s.max, cpu,
                    wakeUps, c.lost);
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
                "interception-tools P50=%.0f P99=%.0f, direct P50=%.0f, relay P50=%.0f\n",
                results[kPass].median, results[kPass].p99, results[kMapped].median,
                results[kInterception].median, results[kInterception].p99, results[kDirect].median,
                results[kRelay].median);
    bool complete = true;
    for (const Config& c : configs) {
        complete = complete && c.lost == 0 && c.samples.size() == static_cast<std::size_t>(presses);
    }
    std::printf("VMTEST: %s\n", complete ? "PASS" : "FAIL (presses lost)");
    std::fflush(stdout);
    return complete ? 0 : 1;
}
