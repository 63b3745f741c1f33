#include "platform/linux/linux_platform.hpp"

#include "logging/log.hpp"
#include "platform/linux/journal_log.hpp"
#include "platform/linux/json_preferences.hpp"
#include "platform/linux/logind_power.hpp"
#include "platform/linux/udev_hid_manager.hpp"
#include "platform/linux/uinput_keyboard.hpp"
#include "platform/linux/xdg_paths.hpp"
#include "platform/linux/xkb_layout.hpp"
#include "platform/memory/memory_ports.hpp"

#include <cerrno>
#include <cstring>

namespace chordwell::platform {

namespace lnx {

LinuxPlatform::LinuxPlatform(LinuxPlatformOptions options)
    : scheduler_(std::move(options.scheduler)), fdWatcher_(std::move(options.fdWatcher)),
      preferences_(std::move(options.preferences)), paths_(std::move(options.paths)),
      systemLog_(std::move(options.systemLog)), pipeline_(std::make_shared<EventPipeline>(nullptr)),
      poster_(pipeline_) {
    if (!scheduler_ || !fdWatcher_) {
        pollLoop_ = std::make_shared<PollLoop>();
        if (!scheduler_) {
            scheduler_ = pollLoop_;
        }
        if (!fdWatcher_) {
            fdWatcher_ = pollLoop_;
        }
    }
    if (!paths_) {
        paths_ = std::make_shared<XdgPaths>();
    }
    if (!systemLog_) {
        systemLog_ = std::make_shared<JournalSystemLog>();
    }
    if (!preferences_) {
        if (auto file = JsonFilePreferences::defaultFile()) {
            preferences_ = std::make_shared<JsonFilePreferences>(*file);
        } else {
            preferences_ = std::make_shared<MemoryPreferences>();
        }
    }
    inputWatcher_ = fdWatcher_;
    inputScheduler_ = scheduler_;
    if (options.keyPathThreads) {
        if (pollLoop_ && scheduler_ == pollLoop_ && fdWatcher_ == pollLoop_) {
            keyLoop_ = std::make_shared<KeyLoop>(pollLoop_);
        } else {
            keyLoop_ = std::make_shared<KeyLoop>(fdWatcher_);
            inputWatcher_ = keyLoop_->loop();
            inputScheduler_ = keyLoop_->loop();
        }
    }
    // Its deferred work (ending interception after the emergency chord) is
    // the main thread's.
    context_ = std::make_shared<InputContext>(scheduler_, pipeline_);
    if (keyLoop_) {
        context_->setReadingLock(keyLoop_->sharedMutex());
    }

    if (options.createVirtualKeyboard) {
        int error = 0;
        virtualKeyboard_ = UinputKeyboard::create(options.uinputPath, error);
        if (!virtualKeyboard_) {
            if (error == EACCES || error == EPERM) {
                context_->reportProblem(PlatformProblem::cannotCreateVirtualKeyboard,
                                        options.uinputPath);
            } else if (error == ENOENT || error == ENODEV) {
                context_->reportProblem(PlatformProblem::uinputMissing, options.uinputPath);
            } else {
                log(LogLevel::error,
                    "Cannot create the virtual keyboard: " + std::string(std::strerror(error)) +
                        ".",
                    "keyboard");
            }
        } else {
            pipeline_->setSink(virtualKeyboard_.get());
            log(LogLevel::info, "Created the virtual keyboard " + virtualKeyboard_->devnode() + ".",
                "keyboard");
            std::weak_ptr<InputContext> context = context_;
            UinputKeyboard* keyboard = virtualKeyboard_.get();
            ledWatch_ = inputWatcher_->watchReadable(keyboard->fd(), [keyboard, context] {
                keyboard->drainLedEvents([&](std::uint16_t code, std::int32_t value) {
                    if (auto c = context.lock()) {
                        c->mirrorLed(code, value);
                    }
                });
            });
        }
    }
    if (keyLoop_ && keyLoop_->loop() != pollLoop_) {
        keyLoop_->start();
    }
}

LinuxPlatform::~LinuxPlatform() {
    if (keyLoop_) {
        keyLoop_->stop();
    }
    // Threads still reading keyboards wait for this, then find nothing to
    // write to.
    std::unique_lock<std::recursive_mutex> guard;
    if (keyLoop_) {
        guard = std::unique_lock<std::recursive_mutex>(keyLoop_->mutex());
    }
    if (ledWatch_ != 0) {
        inputWatcher_->unwatch(ledWatch_);
    }
    // Keyboards may outlive the platform (they share the pipeline): they
    // must not write to a virtual keyboard that is gone.
    pipeline_->releaseAll();
    pipeline_->setSink(nullptr);
}

std::unique_ptr<HidManager> LinuxPlatform::createHidManager() {
    return std::make_unique<UdevHidManager>(context_, inputWatcher_, *inputScheduler_,
                                            virtualKeyboard_ ? virtualKeyboard_->syspath()
                                                             : std::string());
}

std::unique_ptr<EventTap> LinuxPlatform::createKeyboardEventTap(EventTap::Callback callback,
                                                                void* userInfo) {
    if (!pipeline_->canWrite() || callback == nullptr) {
        return nullptr;
    }
    return std::make_unique<LinuxEventTap>(pipeline_, callback, userInfo);
}

Power* LinuxPlatform::power() {
    if (!powerTried_) {
        powerTried_ = true;
        std::string error;
        power_ = LogindPower::connect(fdWatcher_, *scheduler_, error);
        if (!power_) {
            log(LogLevel::info, "Sleep and wake are not followed: " + error + ".", "keyboard");
        }
    }
    return power_.get();
}

KeyboardLayout* LinuxPlatform::keyboardLayout() {
    if (!layout_) {
        layout_ = XkbKeyboardLayout::create(fdWatcher_);
    }
    return layout_.get();
}

std::vector<PlatformNotice> LinuxPlatform::notices() const {
    std::unique_lock<std::recursive_mutex> guard;
    if (keyLoop_) {
        guard = std::unique_lock<std::recursive_mutex>(keyLoop_->mutex());
    }
    return context_->notices();
}

bool LinuxPlatform::setNoticeObserver(std::function<void()> observer) {
    std::unique_lock<std::recursive_mutex> guard;
    if (keyLoop_) {
        guard = std::unique_lock<std::recursive_mutex>(keyLoop_->mutex());
        if (observer) {
            // Notices change on the key path's threads; the observer is the
            // main thread's.
            observer = [main = scheduler_, observer = std::move(observer)] {
                main->postToMain(observer);
            };
        }
    }
    context_->setNoticesObserver(std::move(observer));
    return true;
}

void LinuxPlatform::setEmergencyExitHandler(std::function<void()> handler) {
    std::unique_lock<std::recursive_mutex> guard;
    if (keyLoop_) {
        guard = std::unique_lock<std::recursive_mutex>(keyLoop_->mutex());
    }
    context_->setEmergencyExitHandler(std::move(handler));
}

std::shared_ptr<LinuxPlatform> makeLinuxPlatform(LinuxPlatformOptions options) {
    return std::make_shared<LinuxPlatform>(std::move(options));
}

} // namespace lnx

std::shared_ptr<Platform> makeNativePlatform() {
    return lnx::makeLinuxPlatform();
}

} // namespace chordwell::platform
