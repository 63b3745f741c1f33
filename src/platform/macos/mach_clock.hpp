// The kernel's monotonic clock (mach_absolute_time), which CFRunLoop's timers
// also follow: what the run-loop scheduler reports as its time, so that a
// deadline measured with now() and a timer armed for it agree. macOS only.
#pragma once

#include <mach/mach_time.h>

#include <chrono>
#include <cstdint>

namespace chordwell::platform::mac {

inline std::chrono::nanoseconds machNow() {
    static const mach_timebase_info_data_t timebase = [] {
        mach_timebase_info_data_t info{};
        if (mach_timebase_info(&info) != 0 || info.denom == 0) {
            info.numer = 1;
            info.denom = 1;
        }
        return info;
    }();
    const std::uint64_t ticks = mach_absolute_time();
    // Split so that the multiplication cannot overflow for centuries.
    const std::uint64_t whole = ticks / timebase.denom;
    const std::uint64_t rest = ticks % timebase.denom;
    return std::chrono::nanoseconds(
        static_cast<std::int64_t>(whole * timebase.numer + rest * timebase.numer / timebase.denom));
}

} // namespace chordwell::platform::mac
