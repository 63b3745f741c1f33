// Where a key's time goes on its way through a remapper, told by the kernel's
// own time stamps (ftrace, on the monotonic clock the bench measures with):
//
//   wake-up    the key written to the source until the remapper is woken
//              (the source's SYN_REPORT reaching its reader wakes it)
//   to run     woken until it runs
//   to read    running until its read() of the source returns
//   to write   the read returned until its first write() to uinput begins
//   to output  that write begins until the key's time stamp at the output
//
// Used by the bench's --stages mode; needs tracefs (every Debian kernel).
#pragma once

#include <sys/mount.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace vmstages {

inline constexpr const char* kTracing = "/sys/kernel/tracing";

inline bool writeTo(const std::string& file, const std::string& text) {
    std::ofstream out(std::string(kTracing) + "/" + file);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

/// The threads of a process.
inline std::vector<pid_t> threadsOf(pid_t pid) {
    std::vector<pid_t> threads;
    std::error_code error;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        threads.push_back(static_cast<pid_t>(std::atoi(task.path().filename().c_str())));
    }
    return threads;
}

/// Starts tracing scheduler events and system calls of the threads `pids`.
inline bool startTracing(const std::vector<pid_t>& pids) {
    ::mount("nodev", kTracing, "tracefs", 0, nullptr);
    std::string list;
    for (pid_t pid : pids) {
        list += std::to_string(pid) + " ";
    }
    return writeTo("tracing_on", "0") && writeTo("trace", "") &&
           writeTo("buffer_size_kb", "65536") && writeTo("trace_clock", "mono") &&
           writeTo("set_event_pid", list) &&
           writeTo("set_event", "sched:sched_switch sched:sched_wakeup raw_syscalls:sys_enter "
                                "raw_syscalls:sys_exit") &&
           writeTo("tracing_on", "1");
}

/// A line in the trace, written by the bench (a press about to be written).
inline void mark(const std::string& text) {
    writeTo("trace_marker", text);
}

/// Stops tracing; the trace as text.
inline std::string stopTracing() {
    writeTo("tracing_on", "0");
    std::ifstream in(std::string(kTracing) + "/trace");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Event {
    std::int64_t ns = 0;
    pid_t pid = 0; // the task the line belongs to
    enum Kind { marker, wakeup, switchIn, enter, exit } kind = marker;
    pid_t subject = 0; // woken / switched-in task
    long syscall = -1; // enter / exit
    std::string text;  // marker text
};

inline std::vector<Event> parse(const std::string& trace) {
    std::vector<Event> events;
    std::istringstream in(trace);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto bracket = line.find(" [");
        const auto colon = line.find(": ", bracket == std::string::npos ? 0 : bracket);
        if (bracket == std::string::npos || colon == std::string::npos) {
            continue;
        }
        Event e;
        const auto dash = line.rfind('-', bracket);
        e.pid = dash == std::string::npos ? 0 : std::atoi(line.c_str() + dash + 1);
        // "... 1234.567890: name: fields"; the time stamp ends at `colon`.
        const auto stampStart = line.rfind(' ', colon - 1);
        const std::string stamp = line.substr(stampStart + 1, colon - stampStart - 1);
        const auto dot = stamp.find('.');
        if (dot == std::string::npos) {
            continue;
        }
        e.ns = std::atoll(stamp.c_str()) * 1'000'000'000LL +
               std::atoll(stamp.substr(dot + 1).c_str()) *
                   (stamp.size() - dot - 1 == 6 ? 1000LL : 1LL);
        const std::string rest = line.substr(colon + 2);
        const auto field = [&](const char* name) -> long {
            const auto at = rest.find(name);
            return at == std::string::npos ? -1 : std::atol(rest.c_str() + at + std::strlen(name));
        };
        if (rest.rfind("tracing_mark_write: ", 0) == 0) {
            e.kind = Event::marker;
            e.text = rest.substr(std::strlen("tracing_mark_write: "));
        } else if (rest.rfind("sched_wakeup: ", 0) == 0) {
            e.kind = Event::wakeup;
            e.subject = static_cast<pid_t>(field(" pid="));
        } else if (rest.rfind("sched_switch: ", 0) == 0) {
            e.kind = Event::switchIn;
            e.subject = static_cast<pid_t>(field("next_pid="));
        } else if (rest.rfind("sys_enter: NR ", 0) == 0) {
            e.kind = Event::enter;
            e.syscall = std::atol(rest.c_str() + std::strlen("sys_enter: NR "));
        } else if (rest.rfind("sys_exit: NR ", 0) == 0) {
            e.kind = Event::exit;
            e.syscall = std::atol(rest.c_str() + std::strlen("sys_exit: NR "));
        } else {
            continue;
        }
        events.push_back(std::move(e));
    }
    return events;
}

struct Stages {
    std::vector<double> wakeUp, toRun, toRead, toWrite, toOutput;
    std::vector<double> syscallsBeforeWrite; // system calls between running and the write
};

/// One press of a remapper: its marker text, the remapper's process and the
/// key's time stamp at the output (ns).
struct Press {
    std::string marker;
    std::int64_t writtenNs = 0;
    std::int64_t outputNs = 0;
    std::vector<pid_t> remapper; // its threads
};

inline Stages stagesOf(const std::vector<Event>& events, const std::vector<Press>& presses) {
    constexpr long kRead = 0;
    constexpr long kWrite = 1;
    Stages s;
    std::size_t from = 0;
    for (const Press& press : presses) {
        std::size_t i = from;
        while (i < events.size() &&
               !(events[i].kind == Event::marker && events[i].text.rfind(press.marker, 0) == 0)) {
            ++i;
        }
        if (i == events.size()) {
            continue;
        }
        from = i;
        std::int64_t wake = -1, run = -1, read = -1, write = -1;
        pid_t thread = 0; // the remapper's thread that handles the key
        const auto isRemapper = [&](pid_t tid) {
            return std::find(press.remapper.begin(), press.remapper.end(), tid) !=
                   press.remapper.end();
        };
        int calls = 0;
        for (++i; i < events.size() && events[i].ns <= press.outputNs + 1000; ++i) {
            const Event& e = events[i];
            if (wake < 0) {
                if (e.kind == Event::wakeup && isRemapper(e.subject)) {
                    wake = e.ns;
                    thread = e.subject;
                } else if (isRemapper(e.pid) && e.kind != Event::marker) {
                    wake = e.ns; // it never slept
                    run = e.ns;
                    thread = e.pid;
                }
                continue;
            }
            if (run < 0) {
                if (e.kind == Event::switchIn && e.subject == thread) {
                    run = e.ns;
                }
                continue;
            }
            if (e.pid != thread) {
                continue;
            }
            if (read < 0) {
                if (e.kind == Event::exit && e.syscall == kRead) {
                    read = e.ns;
                }
                if (e.kind == Event::enter) {
                    ++calls;
                }
                continue;
            }
            if (e.kind == Event::enter) {
                ++calls;
                if (e.syscall == kWrite) {
                    write = e.ns;
                    break;
                }
            }
        }
        if (wake < 0 || run < 0 || read < 0 || write < 0 || write > press.outputNs + 1000) {
            continue;
        }
        const auto us = [](std::int64_t ns) {
            return static_cast<double>(ns) / 1000.0;
        };
        s.wakeUp.push_back(us(wake - press.writtenNs));
        s.toRun.push_back(us(run - wake));
        s.toRead.push_back(us(read - run));
        s.toWrite.push_back(us(write - read));
        s.toOutput.push_back(us(press.outputNs - write));
        s.syscallsBeforeWrite.push_back(calls);
    }
    return s;
}

inline double median(std::vector<double> v) {
    if (v.empty()) {
        return -1;
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace vmstages
