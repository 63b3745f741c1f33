// The key path's threads on Linux (see ports/key_path.hpp).
//
// The loop is a PollLoop whose every turn holds the key path's lock: on a
// thread of its own in the application (key repeat, the udev monitor, the
// virtual keyboard's LEDs), or the main loop itself in chordwellctl. The
// keyboards are read on threads of their own, each blocked in read(2) as a
// bare relay is (evdev_keyboard.cpp), under the same lock.
//
// Bells ring the main thread through an eventfd on its loop. A key-path
// thread rings only when it is done with its work (ringBells()), so that
// the system call comes after the key's output, not before it.
#pragma once

#include "platform/linux/poll_loop.hpp"
#include "ports/fd_watcher.hpp"
#include "ports/key_path.hpp"

#include <memory>
#include <mutex>
#include <thread>

namespace chordwell::platform::lnx {

class KeyLoop final : public KeyPath {
public:
    /// A loop of its own, run on its own thread by start().
    /// `mainWatcher`: the main thread's loop, which runs the bells.
    explicit KeyLoop(std::shared_ptr<FdWatcher> mainWatcher);
    /// `loop` is the key path's loop and the main loop at once (a program
    /// without a window): its owner runs it; bells ring on it too.
    explicit KeyLoop(std::shared_ptr<PollLoop> loop);
    /// Stops the thread first.
    ~KeyLoop() override;
    KeyLoop(const KeyLoop&) = delete;
    KeyLoop& operator=(const KeyLoop&) = delete;

    /// Runs the loop on a thread of its own until stop().
    void start();
    /// Ends the thread (waits for the turn it is in). Idempotent.
    void stop();

    const std::shared_ptr<PollLoop>& loop() const { return loop_; }
    /// The lock, shared with the threads that read keyboards (they may
    /// outlive this object by the time it takes them to notice).
    const std::shared_ptr<std::recursive_mutex>& sharedMutex() const { return mutex_; }

    std::recursive_mutex& mutex() override { return *mutex_; }
    Scheduler& scheduler() override { return *loop_; }
    bool isKeyPathThread() const override;
    std::unique_ptr<MainThreadBell> makeMainThreadBell(std::function<void()> routine) override;

    /// Marks the calling thread as one of the key path's: the loop's thread
    /// and the threads that read keyboards call this when they start.
    static void markKeyPathThread();
    /// Rings the bells this key-path thread rang since the last call; called
    /// without the lock, when a batch of work is done.
    static void ringBells();

private:
    std::shared_ptr<std::recursive_mutex> mutex_ = std::make_shared<std::recursive_mutex>();
    std::shared_ptr<PollLoop> loop_;
    std::shared_ptr<FdWatcher> mainWatcher_;
    std::thread thread_;
};

} // namespace chordwell::platform::lnx
