#include "ticks.h"

#include <windows.h>

uint32_t GetTickMs()
{
    return GetTickCount();
}
