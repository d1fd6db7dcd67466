#include "named_objects.h"

#include <limits.h>
#include <linux/futex.h>

#include "object_memory.h"

using namespace object_memory;

namespace {

const uint32_t WAKE_REPEATS = 50;  // 50 x 200 us: a waiter has left well within 10 ms
const long WAKE_REPEAT_NS = 200000;

}  // namespace

CWakeSignal::CWakeSignal() : handle(0), state(new WakeState())
{
    WakeState* w = static_cast<WakeState*>(state);
    w->flag.store(0);
    w->waitingOn.store(NULL);
}

CWakeSignal::~CWakeSignal()
{
    delete static_cast<WakeState*>(state);
}

void CWakeSignal::Wake()
{
    WakeState* w = static_cast<WakeState*>(state);
    w->flag.store(1);
    Futex(&w->flag, FUTEX_WAKE_PRIVATE, INT_MAX, NULL);
    // A waiter that looked at the flag just before it was set may be on its
    // way to sleep on the event word: wake that word until it has left.
    // Waking a word whose mapping the waiter let go of meanwhile is harmless.
    for (uint32_t i = 0; i < WAKE_REPEATS; ++i) {
        std::atomic<uint32_t>* word = w->waitingOn.load();
        if (word == NULL)
            break;
        Futex(word, FUTEX_WAKE, INT_MAX, NULL);
        struct timespec pause = {0, WAKE_REPEAT_NS};
        nanosleep(&pause, NULL);
    }
}

void CWakeSignal::Clear()
{
    static_cast<WakeState*>(state)->flag.store(0);
}

bool CWakeSignal::Woken() const
{
    return static_cast<WakeState*>(state)->flag.load() != 0;
}

NamedWaitResult CWakeSignal::Sleep(uint32_t timeoutMs)
{
    WakeState* w = static_cast<WakeState*>(state);
    uint64_t start = NowMs();
    for (;;) {
        if (w->flag.load() != 0)
            return NAMED_WAIT_WOKEN;
        uint64_t elapsed = NowMs() - start;
        if (elapsed >= timeoutMs)
            return NAMED_WAIT_TIMEOUT;
        struct timespec remaining = Timespec(timeoutMs - elapsed);
        Futex(&w->flag, FUTEX_WAIT_PRIVATE, 0, &remaining);
    }
}
