#pragma once
// Guards the service's accesses to shared memory that other processes may
// shrink under it. Any local user may truncate a POSIX shared-memory object
// that is open to everyone, and the service's next access to a page past the
// new end is a bus error. Inside a watched range such a fault maps private
// anonymous memory over the whole range, so the access completes (into memory
// nobody else sees), and the fault is noted; the owner then replaces its
// objects. A Windows mapping cannot shrink, so there nothing needs guarding.

#include <stddef.h>

// Installs the process-wide handler once; faults outside the watched ranges go
// on to whatever handled them before. False if it could not be installed.
bool InstallBusFaultGuard();
// Watches [start, start + length); a null start or zero length is ignored.
void WatchSharedRange(void* start, size_t length);
// Stops watching every range and forgets the faults noted so far.
void UnwatchSharedRanges();
// True once a watched range has faulted since the last UnwatchSharedRanges.
bool SharedRangeFaulted();
