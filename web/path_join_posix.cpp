#include "path_join.h"

#include <stdio.h>

bool PathJoin(char* out, size_t cap, const char* dir, const char* name)
{
    int n = snprintf(out, cap, "%s/%s", dir, name);
    return n >= 0 && static_cast<size_t>(n) < cap;
}
