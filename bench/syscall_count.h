#pragma once
// System calls per frame of a benchmark's loop, as a machine whose clock is
// not served from the vDSO makes them: the program runs its loop again in a
// child under `strace -c -f`, with every clock_gettime of the project's code
// made a real system call, once for FEW and once for MANY frames. The
// difference, divided by the difference in frames, leaves out what setting
// up costs.

#include <stdint.h>

const char* const COUNT_FRAMES_FLAG = "--count-frames";

// The loop that runs `frames` frames; false when a frame went wrong.
typedef bool (*FrameLoop)(uint32_t frames);

// Prints "<what>: system calls per frame ..." to stdout; nothing but a note
// when strace is missing.
void PrintSystemCallsPerFrame(const char* what);
