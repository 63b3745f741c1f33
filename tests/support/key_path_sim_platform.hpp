// The simulated world with the key path on a thread of its own: the world
// (its keyboards, taps and posting) lives on a KeyLoop, as the Linux
// platform's input does in the application, and the main thread has a
// scheduler of its own. Everything that touches the world from the main
// thread holds the key path's lock, or runs on the key loop (run()).
#pragma once

#include "platform/linux/key_loop.hpp"
#include "platform/sim/sim_world.hpp"
#include "ports/key_path.hpp"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace chordwell::testsupport {

class KeyPathSimPlatform final : public platform::Platform {
public:
    /// `main`: the main thread's scheduler; `mainWatcher`: its loop, which
    /// rings the bells; `preferences`: the world's own when null.
    KeyPathSimPlatform(std::shared_ptr<platform::Scheduler> main,
                       std::shared_ptr<platform::FdWatcher> mainWatcher,
                       std::optional<std::filesystem::path> applicationSupport,
                       std::shared_ptr<platform::Preferences> preferences = nullptr)
        : main_(std::move(main)),
          keyLoop_(std::make_shared<platform::lnx::KeyLoop>(std::move(mainWatcher))),
          world_(std::make_shared<platform::sim::SimWorld>(keyLoop_->loop(),
                                                           std::move(applicationSupport))),
          preferences_(std::move(preferences)) {
        keyLoop_->start();
    }
    ~KeyPathSimPlatform() override {
        keyLoop_->stop(); // nothing runs on the world any more
    }
    KeyPathSimPlatform(const KeyPathSimPlatform&) = delete;
    KeyPathSimPlatform& operator=(const KeyPathSimPlatform&) = delete;

    platform::sim::SimWorld& world() { return *world_; }
    const std::shared_ptr<platform::sim::SimWorld>& sharedWorld() const { return world_; }
    platform::lnx::KeyLoop& keyLoop() { return *keyLoop_; }
    /// Runs `task` on the key loop (with the lock held), later.
    void run(platform::Scheduler::Task task) { keyLoop_->loop()->postToMain(std::move(task)); }

    platform::Scheduler& scheduler() override { return *main_; }
    std::unique_ptr<platform::HidManager> createHidManager() override {
        return world_->createHidManager();
    }
    std::unique_ptr<platform::EventTap>
    createKeyboardEventTap(platform::EventTap::Callback callback, void* userInfo) override {
        return world_->createKeyboardEventTap(callback, userInfo);
    }
    platform::EventPoster& eventPoster() override { return world_->eventPoster(); }
    platform::Preferences& preferences() override {
        return preferences_ ? *preferences_ : world_->preferences();
    }
    const platform::Paths& paths() const override { return world_->paths(); }
    platform::SystemLog& systemLog() override { return world_->systemLog(); }
    void setEmergencyExitHandler(std::function<void()> handler) override {
        world_->setEmergencyExitHandler(std::move(handler));
    }
    platform::KeyPath* keyPath() override { return keyLoop_.get(); }

private:
    std::shared_ptr<platform::Scheduler> main_;
    std::shared_ptr<platform::lnx::KeyLoop> keyLoop_;
    std::shared_ptr<platform::sim::SimWorld> world_;
    std::shared_ptr<platform::Preferences> preferences_;
};

} // namespace chordwell::testsupport
