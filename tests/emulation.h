#pragma once
// Where the 32-bit Windows programs run under qemu-user on a kernel that runs
// 64-bit code only (scripts/win32-emulation.sh sets OVALIX_WIN32_EMULATED),
// the few cases that depend on what only a 32-bit kernel gives skip there,
// with the reason, and run in full everywhere else.

#include <gtest/gtest.h>

#include <stdlib.h>

inline bool RunsUnderI386Emulation()
{
    return sizeof(void*) == 4 && getenv("OVALIX_WIN32_EMULATED") != nullptr;
}

#define OVALIX_SKIP_WITHOUT_32BIT_KERNEL(why)                                                      \
    do {                                                                                           \
        if (RunsUnderI386Emulation())                                                              \
            GTEST_SKIP() << "needs a 32-bit kernel, not qemu-user: " << (why);                     \
    } while (0)
