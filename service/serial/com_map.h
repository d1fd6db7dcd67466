#pragma once
// POSIX only: the stable, collision-free mapping between serial tty devices
// and "COM" numbers, so that ports are selected and opened by number as on
// Windows. The device database root is "/" unless OVALIX_DEVICE_ROOT names a
// fake tree (tests): sysfs is read under <root>/sys, device nodes are opened
// under <root>/dev.
//
// Mapping (k is written in decimal without leading zeros, 0 to 99):
//
//   ttyS<k>    COM<k + 1>      COM1   to COM100   on-board and PCI UARTs
//   ttyUSB<k>  COM<k + 101>    COM101 to COM200   USB serial converters
//   ttyACM<k>  COM<k + 201>    COM201 to COM300   USB CDC ACM (phones)
//
// Every number from 1 to 300 names exactly one device and every mapped
// device exactly one number; other tty devices and numbers map to nothing.

#include <stddef.h>

// Root of the device database: OVALIX_DEVICE_ROOT, or "/" when unset or empty.
const char* DeviceRoot();

// The COM number of a tty device name ("ttyACM0" gives 201); -1 when the name
// belongs to no mapped family.
int ComNumberForTty(const char* ttyName);

// The tty device name of COM<portNumber> ("ttyACM0" for 201); false when the
// number maps to no device or the name does not fit.
bool TtyNameForCom(int portNumber, char* name, size_t size);

// Path of the device node for COM<portNumber>; false when the number maps to
// no device family.
bool ComDevicePath(int portNumber, char* path, size_t size);

// Joins the database root and a path below it ("dev/ttyACM0") into path;
// false when it does not fit.
bool DeviceRootPath(const char* below, char* path, size_t size);
