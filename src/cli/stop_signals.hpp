// The signals that ask a long-running command (the background mode) to stop:
// SIGINT, SIGTERM and SIGHUP (the terminal it ran in went away).
#pragma once

namespace chordwell::cli {

/// While it lives, SIGINT, SIGTERM and SIGHUP do not end the process: each
/// makes a byte readable on fd(), which the command's event loop watches,
/// so that stopping runs on the main thread like everything else. The
/// signals are caught, never blocked: a call that waits while the command
/// starts returns when one arrives (EINTR) instead of holding it back.
/// Signals the process was told to ignore stay ignored. One instance at a
/// time; the previous handlers come back when it goes.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    /// Readable once a signal arrived; -1 when no pipe could be made.
    int fd() const { return pipe_[0]; }
    /// The last signal that arrived, 0 when none (also before a loop runs).
    int requested() const;
    /// Empties fd(); returns requested().
    int take();
    /// "SIGINT", "SIGTERM" or "SIGHUP".
    static const char* name(int signal);

private:
    int pipe_[2] = {-1, -1};
    bool installed_[3] = {};
};

} // namespace chordwell::cli
