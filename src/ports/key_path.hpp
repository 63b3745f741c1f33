// The key path on threads of its own.
//
// A key must never wait for the window: drawing, laying out a table of ten
// thousand rows or writing a file on the main thread would hold up every key
// typed meanwhile (and on macOS the system disables an event tap that keeps
// it waiting). So a platform may deliver the key path (HID values, tap
// events, the key path's timers and deferred work) on threads of its own
// instead of the main thread. It then offers a KeyPath:
//
// - One lock, mutex(), serialises everything that touches the engine or the
//   platform's input state. A key-path thread holds it while it runs
//   anything but its wait for input; the engine takes it in each operation
//   called from another thread (the user interface). Nothing holds it while
//   it waits, reads or writes a file, or draws.
// - The key path's timers and deferred work run on scheduler().
// - The engine tells its observers of changes on the main thread, as
//   always: changes made on a key-path thread are queued and delivered by a
//   MainThreadBell, in the order they were made.
//
// Without a KeyPath (Platform::keyPath() is null) everything runs on the
// main thread, as the simulated world and the command-line tools do.
#pragma once

#include "ports/ports.hpp"

#include <functional>
#include <memory>
#include <mutex>

namespace chordwell::platform {

/// Runs a fixed routine on the main thread soon after ring() was called on
/// any thread; rings that come before the routine runs count once. Ringing
/// allocates nothing, so the key path may ring.
class MainThreadBell {
public:
    virtual ~MainThreadBell() = default;
    virtual void ring() = 0;
};

class KeyPath {
public:
    virtual ~KeyPath() = default;

    /// Held by a key-path thread while it runs engine or adapter code, and
    /// by any other thread while it calls into the engine.
    virtual std::recursive_mutex& mutex() = 0;
    /// Timers and deferred work of the key path (key repeat, settling tap
    /// events that came before their HID values), run on a key-path thread
    /// with mutex() held.
    virtual Scheduler& scheduler() = 0;
    /// Whether the calling thread is one of the key path's.
    virtual bool isKeyPathThread() const = 0;
    /// A bell whose routine runs on the main thread (without mutex() held:
    /// the routine takes it when it needs it).
    virtual std::unique_ptr<MainThreadBell> makeMainThreadBell(std::function<void()> routine) = 0;
};

} // namespace chordwell::platform
