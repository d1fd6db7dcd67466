#pragma once
// POSIX only: the stable, collision-free mapping between serial tty devices
// and "COM" numbers, so that ports are selected and opened by number as on
// Windows. The device database root is "/" unless OVALIX_DEVICE_ROOT names a
// fake tree (tests).

#include <stddef.h>

// Path of the device node for COM<portNumber>; false when the number maps to
// no device family.
bool ComDevicePath(int portNumber, char* path, size_t size);
