#include "ticks.h"

#include <time.h>

// The monotonic clock in milliseconds, truncated to 32 bits like the Windows
// tick count, so elapsed times are computed the same way on both targets.
uint32_t GetTickMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = (uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u;
    return (uint32_t)ms;
}
