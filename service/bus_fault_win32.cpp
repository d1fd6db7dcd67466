#include "bus_fault.h"

// A view of a Windows mapping stays backed for as long as it is mapped: no
// other process can take its pages away, so there is nothing to guard.

bool InstallBusFaultGuard()
{
    return true;
}

void WatchSharedRange(void*, size_t)
{
}

void UnwatchSharedRanges()
{
}

bool SharedRangeFaulted()
{
    return false;
}
