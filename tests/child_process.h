#pragma once
// Runs a helper program that was built beside the running test program.

#include <stdint.h>

// program: the helper's name without extension; args: null-terminated list.
// Returns the helper's exit code, or -1 when it could not be run or did not
// finish within timeoutMs (it is then killed).
int RunSiblingProgram(const char* program, const char* const* args, uint32_t timeoutMs);
