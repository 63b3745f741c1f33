// What `chordwellctl keyboards` reports on macOS: the keyboards the HID
// manager finds, whether each can be read, and the permissions and Secure
// Event Input state. macOS only (and the framework model of the tests).
#pragma once

#include "platform/macos/notices.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chordwell::platform::mac {

struct MacKeyboardInfo {
    std::string product; // "Unknown" when the keyboard names none
    std::optional<std::int64_t> vendorID;
    std::optional<std::int64_t> productID;
    /// The keyboard's LocationID, or the stand-in of one that has none.
    std::optional<std::int64_t> locationID;
    /// The manager opened it (without Input Monitoring it cannot).
    bool readable = false;
};

struct MacKeyboardReport {
    std::vector<MacKeyboardInfo> keyboards;
    MacSystemState state;
    /// Input Monitoring was never asked for (the first start asks).
    bool inputMonitoringUndecided = false;
};

/// Opens a HID manager for keyboards on the current thread's run loop, runs
/// the loop for `seconds` (the manager reports what is attached on its first
/// turn), and reads the system state. Keyboards in order of discovery.
MacKeyboardReport reportKeyboards(double seconds = 0.2);

/// The report as text, one block per keyboard (names quoted by `quote`),
/// then the permissions and what to do about those missing.
std::string formatKeyboardReport(const MacKeyboardReport& report,
                                 std::string (*quote)(std::string_view));

} // namespace chordwell::platform::mac
