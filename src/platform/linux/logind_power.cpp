#include "platform/linux/logind_power.hpp"

#include "logging/log.hpp"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>

namespace chordwell::platform::lnx {

namespace {

constexpr const char* kCategory = "keyboard";
constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";

std::string errorText(int negativeErrno) {
    return std::strerror(-negativeErrno);
}

} // namespace

struct LogindCallbacks {
    static int onPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onInhibitReply(sd_bus_message* reply, void* userdata, sd_bus_error* error);
};

std::unique_ptr<LogindPower> LogindPower::connect(std::shared_ptr<FdWatcher> watcher,
                                                  Scheduler& scheduler, std::string& error) {
    sd_bus* bus = nullptr;
    const int rc = sd_bus_open_system(&bus);
    if (rc < 0) {
        error = "cannot reach the system bus: " + errorText(rc);
        return nullptr;
    }
    std::unique_ptr<LogindPower> power(new LogindPower(bus, std::move(watcher)));
    const int match = sd_bus_match_signal_async(
        bus, &power->match_, kLogind, kManagerPath, kManager, "PrepareForSleep",
        &LogindCallbacks::onPrepareForSleep, nullptr, power.get());
    if (match < 0) {
        error = "cannot listen for logind's sleep signal: " + errorText(match);
        return nullptr;
    }
    power->takeInhibitor();
    // The greeting, the match and the lock request are written as the bus
    // is processed: once now, then whenever it has something to say.
    std::weak_ptr<bool> alive = power->alive_;
    LogindPower* self = power.get();
    scheduler.postToMain([self, alive] {
        if (!alive.expired()) {
            self->process();
        }
    });
    return power;
}

LogindPower::LogindPower(sd_bus* bus, std::shared_ptr<FdWatcher> watcher)
    : bus_(bus), watcher_(std::move(watcher)) {
    const int fd = sd_bus_get_fd(bus_);
    if (fd >= 0) {
        watch_ = watcher_->watchReadable(fd, [this] { process(); });
    }
}

LogindPower::~LogindPower() {
    *alive_ = false;
    disconnect("");
}

void LogindPower::disconnect(const std::string& why) {
    if (!why.empty()) {
        log(LogLevel::warning, "Sleep and wake are no longer followed: " + why + ".", kCategory);
    }
    if (watch_ != 0) {
        watcher_->unwatch(watch_);
        watch_ = 0;
    }
    match_ = sd_bus_slot_unref(match_);
    inhibitCall_ = sd_bus_slot_unref(inhibitCall_);
    releaseInhibitor();
    if (bus_ != nullptr) {
        sd_bus_close_unref(bus_);
        bus_ = nullptr;
    }
}

void LogindPower::registerCallback(Callback callback, void* context) {
    callback_ = callback;
    context_ = callback != nullptr ? context : nullptr;
}

void LogindPower::process() {
    // A callback may end this object's connection (or the object, through
    // the engine it calls): look again after every message.
    const std::weak_ptr<bool> alive = alive_;
    while (!alive.expired() && bus_ != nullptr) {
        const int rc = sd_bus_process(bus_, nullptr);
        if (rc < 0) {
            disconnect("the system bus connection failed (" + errorText(rc) + ")");
            return;
        }
        if (rc == 0) {
            return;
        }
    }
}

void LogindPower::takeInhibitor() {
    if (bus_ == nullptr || inhibitor_ >= 0 || inhibitCall_ != nullptr) {
        return;
    }
    const int rc = sd_bus_call_method_async(
        bus_, &inhibitCall_, kLogind, kManagerPath, kManager, "Inhibit",
        &LogindCallbacks::onInhibitReply, this, "ssss", "sleep", "Chordwell",
        "Releasing held keys before the system sleeps", "delay");
    if (rc < 0) {
        log(LogLevel::debug,
            "Cannot ask logind to wait for Chordwell before sleep: " + errorText(rc), kCategory);
    }
}

void LogindPower::releaseInhibitor() {
    if (inhibitor_ >= 0) {
        ::close(inhibitor_);
        inhibitor_ = -1;
    }
}

int LogindCallbacks::onInhibitReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* self = static_cast<LogindPower*>(userdata);
    self->inhibitCall_ = sd_bus_slot_unref(self->inhibitCall_);
    if (sd_bus_message_is_method_error(reply, nullptr) != 0) {
        const sd_bus_error* error = sd_bus_message_get_error(reply);
        log(LogLevel::debug,
            std::string("logind will not wait for Chordwell before sleep: ") +
                (error != nullptr && error->message != nullptr ? error->message : "refused"),
            kCategory);
        return 0;
    }
    int fd = -1;
    if (sd_bus_message_read(reply, "h", &fd) < 0 || fd < 0) {
        return 0;
    }
    // The descriptor belongs to the message; the lock lasts as long as a copy.
    self->releaseInhibitor();
    self->inhibitor_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return 0;
}

int LogindCallbacks::onPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* self = static_cast<LogindPower*>(userdata);
    int start = 0;
    if (sd_bus_message_read(message, "b", &start) < 0) {
        return 0;
    }
    const std::weak_ptr<bool> alive = self->alive_;
    if (start != 0) {
        if (self->callback_ != nullptr) {
            self->callback_(self->context_, Power::Event::willSleep);
        }
        if (!alive.expired()) {
            self->releaseInhibitor(); // done: the machine may sleep now
        }
    } else {
        if (self->callback_ != nullptr) {
            self->callback_(self->context_, Power::Event::didWake);
        }
        if (!alive.expired()) {
            self->takeInhibitor();
        }
    }
    return 0;
}

} // namespace chordwell::platform::lnx
