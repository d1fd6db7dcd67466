#include "ticks.h"

#include <time.h>

namespace {

uint64_t MonotonicUs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000000u + (uint64_t)now.tv_nsec / 1000u;
}

}  // namespace

// The monotonic clock in milliseconds, truncated to 32 bits like the Windows
// tick count, so elapsed times are computed the same way on both targets.
uint32_t GetTickMs()
{
    return (uint32_t)(MonotonicUs() / 1000u);
}

uint64_t GetTickUs()
{
    return MonotonicUs();
}
