// The background mode's stop signals.
#include "cli/stop_signals.hpp"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace chordwell::cli {
namespace {

// In a child process, since the signals would otherwise end the test: each
// stop signal is caught (the process lives on and the loop's descriptor
// becomes readable), never blocked, and interrupts a call that waits (no
// SA_RESTART); the old handling comes back afterwards.
TEST(StopSignals, EachIsCaughtNotBlockedAndBreaksAWait) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(StopSignals::name(signal));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(signal, SIG_DFL);
            {
                StopSignals stop;
                sigset_t blocked;
                sigemptyset(&blocked);
                ::sigprocmask(SIG_BLOCK, nullptr, &blocked);
                if (sigismember(&blocked, signal) != 0) {
                    ::_exit(10); // blocked: a wait could not be interrupted
                }
                struct sigaction action {};
                ::sigaction(signal, nullptr, &action);
                if (action.sa_handler == SIG_DFL || (action.sa_flags & SA_RESTART) != 0) {
                    ::_exit(11);
                }
                ::raise(signal); // would end the process without the handler
                struct pollfd readable {
                    stop.fd(), POLLIN, 0
                };
                if (::poll(&readable, 1, 0) != 1 || stop.requested() != signal ||
                    stop.take() != signal) {
                    ::_exit(12);
                }
            }
            struct sigaction after {};
            ::sigaction(signal, nullptr, &after);
            ::_exit(after.sa_handler == SIG_DFL ? 0 : 13);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << (WIFSIGNALED(status) ? "killed by the signal"
                                    : "exit " + std::to_string(WEXITSTATUS(status)));
    }
}

} // namespace
} // namespace chordwell::cli
