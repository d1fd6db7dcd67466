#include "bus_fault.h"

#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>

#include <atomic>

// The handler reads the watched ranges while another thread may change them,
// so each range is a pair of atomic words: the length is published after the
// start and withdrawn before it, and a zero length is an empty entry.

namespace {

const int MAX_RANGES = 8;

std::atomic<uintptr_t> s_start[MAX_RANGES];
std::atomic<size_t> s_length[MAX_RANGES];
std::atomic<bool> s_faulted(false);
std::atomic<bool> s_installed(false);
struct sigaction s_previous;

void PassOn(int sig, siginfo_t* info, void* context)
{
    if (s_previous.sa_flags & SA_SIGINFO) {
        if (s_previous.sa_sigaction != nullptr) {
            s_previous.sa_sigaction(sig, info, context);
            return;
        }
    } else if (s_previous.sa_handler != SIG_DFL && s_previous.sa_handler != SIG_IGN) {
        s_previous.sa_handler(sig);
        return;
    }
    // Nobody else handles it: with the default action back in place, the
    // faulting access runs again and ends the process as it would have.
    struct sigaction fallback;
    memset(&fallback, 0, sizeof(fallback));
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(sig, &fallback, nullptr);
}

void OnBusFault(int sig, siginfo_t* info, void* context)
{
    uintptr_t at = (uintptr_t)info->si_addr;
    for (int i = 0; i < MAX_RANGES; ++i) {
        size_t length = s_length[i].load(std::memory_order_acquire);
        uintptr_t start = s_start[i].load(std::memory_order_relaxed);
        if (length == 0 || at - start >= length)
            continue;
        void* p = mmap((void*)start, length, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (p == MAP_FAILED)
            break;
        s_faulted.store(true);
        return;
    }
    PassOn(sig, info, context);
}

}  // namespace

bool InstallBusFaultGuard()
{
    if (s_installed.load())
        return true;
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_sigaction = OnBusFault;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGBUS, &action, &s_previous) != 0)
        return false;
    s_installed.store(true);
    return true;
}

void WatchSharedRange(void* start, size_t length)
{
    if (start == nullptr || length == 0)
        return;
    for (int i = 0; i < MAX_RANGES; ++i) {
        if (s_length[i].load() != 0)
            continue;
        s_start[i].store((uintptr_t)start, std::memory_order_relaxed);
        s_length[i].store(length, std::memory_order_release);
        return;
    }
}

void UnwatchSharedRanges()
{
    for (int i = 0; i < MAX_RANGES; ++i) {
        s_length[i].store(0, std::memory_order_release);
        s_start[i].store(0, std::memory_order_relaxed);
    }
    s_faulted.store(false);
}

bool SharedRangeFaulted()
{
    return s_faulted.load();
}
