#include "cli/stop_signals.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>

#include <fcntl.h>
#include <unistd.h>

namespace chordwell::cli {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[std::size(kSignals)];

// The handler only does what is safe in a signal handler: note the signal
// and write one byte into the pipe.
std::atomic<int> lastSignal{0};
std::atomic<int> notifyFd{-1};

extern "C" void onStopSignal(int signal) {
    const int savedErrno = errno;
    lastSignal.store(signal);
    if (const int fd = notifyFd.load(); fd >= 0) {
        const auto byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] const auto ignored = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

StopSignals::StopSignals() {
    lastSignal.store(0);
    if (::pipe(pipe_) == 0) {
        for (const int fd : pipe_) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    } else {
        pipe_[0] = pipe_[1] = -1;
    }
    notifyFd.store(pipe_[1]);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
            continue; // nohup and friends asked for it to be ignored
        }
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: a call that waits returns
        installed_[i] = ::sigaction(kSignals[i], &action, &previous[i]) == 0;
    }
}

StopSignals::~StopSignals() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (installed_[i]) {
            ::sigaction(kSignals[i], &previous[i], nullptr);
        }
    }
    notifyFd.store(-1);
    for (const int fd : pipe_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

int StopSignals::requested() const {
    return lastSignal.load();
}

int StopSignals::take() {
    unsigned char byte = 0;
    while (pipe_[0] >= 0 && ::read(pipe_[0], &byte, 1) == 1) {
    }
    return requested();
}

const char* StopSignals::name(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "SIGTERM";
    }
}

} // namespace chordwell::cli
