// Sleep and wake on Linux: logind's PrepareForSleep signal on the system bus
// (sd-bus), read on the main loop. A "delay" inhibitor lock gives Chordwell
// its moment before the machine sleeps: logind waits (up to its
// InhibitDelayMaxSec) until the lock is let go, which happens as soon as the
// will-sleep callback has returned; after the wake a new lock is taken.
//
// The bus is the one DBUS_SYSTEM_BUS_ADDRESS names, else the system's.
// Nothing here blocks: the connection, the match and the lock are set up
// asynchronously and answered on the main loop.
#pragma once

#include "ports/fd_watcher.hpp"
#include "ports/ports.hpp"

#include <memory>
#include <string>

struct sd_bus;
struct sd_bus_slot;

namespace chordwell::platform::lnx {

class LogindPower final : public Power {
public:
    /// Connects to the system bus; nothing (with `error` set) when it cannot
    /// be reached (a container, a minimal system without D-Bus).
    static std::unique_ptr<LogindPower> connect(std::shared_ptr<FdWatcher> watcher,
                                                Scheduler& scheduler, std::string& error);
    ~LogindPower() override;
    LogindPower(const LogindPower&) = delete;
    LogindPower& operator=(const LogindPower&) = delete;

    void registerCallback(Callback callback, void* context) override;

    /// Whether a delay lock is held now (for tests).
    bool holdsInhibitor() const { return inhibitor_ >= 0; }

private:
    friend struct LogindCallbacks; // the bus's callbacks, in the source file
    LogindPower(sd_bus* bus, std::shared_ptr<FdWatcher> watcher);
    void process();
    void takeInhibitor();
    void releaseInhibitor();
    void disconnect(const std::string& why);

    sd_bus* bus_ = nullptr;
    std::shared_ptr<FdWatcher> watcher_;
    FdWatcher::WatchId watch_ = 0;
    sd_bus_slot* match_ = nullptr;
    sd_bus_slot* inhibitCall_ = nullptr;
    int inhibitor_ = -1;
    Callback callback_ = nullptr;
    void* context_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace chordwell::platform::lnx
