#include "platform/macos/keyboard_report.hpp"

#include "platform/macos/hid_manager.hpp"
#include "platform/macos/mac_platform.hpp"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/hidsystem/IOHIDLib.h>

#include <cstdio>

namespace chordwell::platform::mac {

namespace {

struct Found {
    std::vector<std::pair<HidDeviceRef, int>> devices; // device, open result
};

void onMatched(void* context, int result, const HidDeviceRef& device) {
    static_cast<Found*>(context)->devices.emplace_back(device, result);
}

std::string hex4(const std::optional<std::int64_t>& value) {
    if (!value) {
        return "-";
    }
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%04llX", static_cast<unsigned long long>(*value));
    return buffer;
}

} // namespace

MacKeyboardReport reportKeyboards(double seconds) {
    MacKeyboardReport report;
    Found found;
    {
        MacHidManager manager;
        manager.setDeviceMatching(1, 6); // Generic Desktop / Keyboard
        manager.registerDeviceMatchingCallback(&onMatched, &found);
        (void)manager.open();
        manager.scheduleWithRunLoop();
        // The first matches come through the run loop, on its first turn.
        (void)CFRunLoopRunInMode(kCFRunLoopDefaultMode, seconds, false);
        manager.registerDeviceMatchingCallback(nullptr, nullptr);
        for (const auto& [device, result] : found.devices) {
            MacKeyboardInfo info;
            info.product = device->stringProperty("Product").value_or("Unknown");
            info.vendorID = device->integerProperty("VendorID");
            info.productID = device->integerProperty("ProductID");
            info.locationID = device->integerProperty("LocationID");
            info.readable = result == 0;
            report.keyboards.push_back(std::move(info));
        }
        found.devices.clear();
    }
    report.state = currentSystemState();
    report.inputMonitoringUndecided =
        IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) == kIOHIDAccessTypeUnknown;
    return report;
}

std::string formatKeyboardReport(const MacKeyboardReport& report,
                                 std::string (*quote)(std::string_view)) {
    std::string text = "Keyboards: " + std::to_string(report.keyboards.size()) + "\n";
    std::size_t number = 0;
    for (const MacKeyboardInfo& k : report.keyboards) {
        text += "  " + std::to_string(++number) + ". " + quote(k.product) + "\n";
        text += "    vendor " + hex4(k.vendorID) + ", product " + hex4(k.productID) +
                ", location " + hex4(k.locationID) + "\n";
        text += std::string("    ") +
                (k.readable ? "readable" : "NOT readable (Input Monitoring is not allowed)") + "\n";
    }
    const MacSystemState& s = report.state;
    text += std::string("Input Monitoring: ") +
            (s.inputMonitoringGranted          ? "allowed"
             : report.inputMonitoringUndecided ? "not asked yet"
                                               : "NOT allowed") +
            "\n";
    text += std::string("Accessibility: ") + (s.accessibilityTrusted ? "allowed" : "NOT allowed") +
            "\n";
    text += std::string("Posting keys: ") + (s.postEventAccess ? "allowed" : "NOT allowed") + "\n";
    text += std::string("Secure Event Input: ") +
            (s.secureInputEnabled ? "on (a password field holds the keyboard)" : "off") + "\n";
    for (const PlatformNotice& notice : macSystemNotices(s)) {
        text += "\n" + notice.message + "\n";
    }
    return text;
}

} // namespace chordwell::platform::mac
