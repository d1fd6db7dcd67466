#pragma once
#include <stdint.h>

// The system's 32-bit millisecond tick. Elapsed times are always the unsigned
// difference now - then, which survives the wrap at 2^32.
uint32_t GetTickMs();

// A monotonic clock in microseconds, for pacing finer than the tick (which
// on Windows moves in steps of 10 to 16 ms). It does not wrap in practice.
uint64_t GetTickUs();
