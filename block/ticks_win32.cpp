#include "ticks.h"

#include <windows.h>

uint32_t GetTickMs()
{
    return GetTickCount();
}

uint64_t GetTickUs()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    // Whole seconds and the rest apart, so that the product cannot overflow.
    uint64_t counts = (uint64_t)now.QuadPart;
    uint64_t perSecond = (uint64_t)frequency.QuadPart;
    return counts / perSecond * 1000000u + counts % perSecond * 1000000u / perSecond;
}
