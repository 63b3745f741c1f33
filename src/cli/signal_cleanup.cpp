#include "cli/signal_cleanup.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace chordwell::cli {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGPIPE};
struct sigaction previous[4];

// The handler may only do what is safe in a signal handler: it hands the
// signal to the watcher thread through a pipe, and the thread does the work.
std::atomic<int> notifyFd{-1};

extern "C" void onSignal(int signal) {
    const int savedErrno = errno;
    const int fd = notifyFd.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] const auto ignored = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

RemoveFolderOnSignal::RemoveFolderOnSignal(std::filesystem::path folder)
    : folder_(std::move(folder)) {
    if (::pipe(pipe_) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    ::fcntl(pipe_[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(pipe_[1], F_SETFD, FD_CLOEXEC);
    notifyFd.store(pipe_[1]);
    watcher_ = std::thread([this] { watch(); });
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: a write blocked on a full pipe returns
        installed_[i] = ::sigaction(kSignals[i], &action, &previous[i]) == 0;
    }
}

RemoveFolderOnSignal::~RemoveFolderOnSignal() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (installed_[i]) {
            ::sigaction(kSignals[i], &previous[i], nullptr);
        }
    }
    if (watcher_.joinable()) {
        const unsigned char stop = 0;
        while (::write(pipe_[1], &stop, 1) < 0 && errno == EINTR) {
        }
        watcher_.join();
    }
    notifyFd.store(-1);
    for (int fd : pipe_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void RemoveFolderOnSignal::watch() {
    unsigned char signal = 0;
    for (;;) {
        const ssize_t n = ::read(pipe_[0], &signal, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || signal == 0) {
            return;
        }
        break;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    // Die of the signal itself, as the process would have without us.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

} // namespace chordwell::cli
