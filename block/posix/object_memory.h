#pragma once
// What the POSIX named objects, their sealed copies and the wake signal share:
// shared memory mapped from a descriptor, 32-bit state words in it, and
// futexes on those words. The mutex and the event keep what consumers use at
// offset 0 (a robust process-shared pthread mutex, a 32-bit state word) and an
// initialisation word right after it, which the creator sets last so that an
// opener never uses a half-built object.

#include <stddef.h>
#include <stdint.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace object_memory {

const uint32_t INIT_MAGIC = 0x4F56494Eu;  // "NIVO"

inline uint64_t NowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u;
}

inline struct timespec Timespec(uint64_t ms)
{
    struct timespec t;
    t.tv_sec = (time_t)(ms / 1000);
    t.tv_nsec = (long)(ms % 1000) * 1000000L;
    return t;
}

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "plain word layout");

inline std::atomic<uint32_t>* WordAt(void* base, size_t offset)
{
    return reinterpret_cast<std::atomic<uint32_t>*>(static_cast<uint8_t*>(base) + offset);
}

inline void* MapShared(int fd, size_t length)
{
    void* p = mmap(NULL, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? NULL : p;
}

// Shared (not private) futex operations unless op says otherwise: waiters may
// live in other processes.
inline long Futex(std::atomic<uint32_t>* word, int op, uint32_t value,
                  const struct timespec* timeout)
{
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, timeout, NULL, 0);
}

// Sets aside the object's pages now. A shared-memory file system too small
// for the object would otherwise accept its length and fail only on the first
// touch of a missing page, with a bus error instead of a result.
bool Reserve(int fd, size_t length);

// The shared state of each kind of synchronisation object.
struct SyncLayout {
    size_t length;
    size_t initOffset;
    bool (*init)(void*);
};

const SyncLayout& LayoutOf(bool mutex);

// A CWakeSignal's state: the flag, and the event word its waiter sleeps on.
struct WakeState {
    std::atomic<uint32_t> flag;                     // 1 once woken, until Clear
    std::atomic<std::atomic<uint32_t>*> waitingOn;  // the event word slept on
};

}  // namespace object_memory
