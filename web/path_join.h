// A file name joined to a folder with the platform's separator.
#pragma once

#include <stddef.h>

// False when the result does not fit cap.
bool PathJoin(char* out, size_t cap, const char* dir, const char* name);
