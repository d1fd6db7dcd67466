#pragma once
#include <stdint.h>

// The system's 32-bit millisecond tick. Elapsed times are always the unsigned
// difference now - then, which survives the wrap at 2^32.
uint32_t GetTickMs();
