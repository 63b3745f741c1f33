// Sleep and wake on macOS: IOKit's system power notifications
// (IORegisterForSystemPower), delivered on the main run loop.
//
// Before the machine sleeps the system sends "will sleep" and waits until it
// is answered (IOAllowPowerChange), up to its own limit: the callback runs
// first, so that repeat stops and held keys come up before the sleep. An
// idle sleep asks "can sleep?" first; that is always allowed. "Has powered
// on" is the wake.
//
// The registration's context is this object. Deregistering removes the
// notification and destroys its port and run-loop source, so no message can
// arrive afterwards; the destructor does both, on the main thread.
#pragma once

#include "ports/ports.hpp"

#include <cstdint>
#include <memory>

namespace chordwell::platform::mac {

class MacPower final : public Power {
public:
    /// Registers for the system's power notifications on the main run loop;
    /// nullptr (logged) when the system refuses.
    static std::unique_ptr<MacPower> create();
    ~MacPower() override;
    MacPower(const MacPower&) = delete;
    MacPower& operator=(const MacPower&) = delete;

    void registerCallback(Callback callback, void* context) override;

    /// One power message (the IOKit message type and its notification id).
    void handleMessage(std::uint32_t messageType, std::intptr_t notificationID);

private:
    struct Registration;
    MacPower();

    std::unique_ptr<Registration> registration_;
    Callback callback_ = nullptr;
    void* context_ = nullptr;
};

} // namespace chordwell::platform::mac
