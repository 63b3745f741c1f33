// The monotonic clock of the kernel (mach_time.h). Test-only model header:
// the model's clock is virtual.
#pragma once

#include <cstdint>

typedef int kern_return_t;
struct mach_timebase_info {
    std::uint32_t numer;
    std::uint32_t denom;
};
typedef struct mach_timebase_info* mach_timebase_info_t;
typedef struct mach_timebase_info mach_timebase_info_data_t;

std::uint64_t mach_absolute_time(void);
// The function has the name of the structure, as in C.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
kern_return_t mach_timebase_info(mach_timebase_info_t info);
#pragma GCC diagnostic pop
