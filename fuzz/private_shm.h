#pragma once
// Gives this process a /dev/shm of its own (a private mount namespace with a
// fresh tmpfs), so opening the named block here can never meet a running
// service or another test. Needs the privilege to unshare; false without it.

#include <sched.h>
#include <sys/mount.h>

inline bool UsePrivateSharedMemory()
{
    if (unshare(CLONE_NEWNS) != 0)
        return false;
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    return mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777") == 0;
}
