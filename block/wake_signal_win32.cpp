#include "named_objects.h"

#include <windows.h>

#include <atomic>

// The flag answers Woken() without a call into the kernel; the local event
// ends a wait on several objects.
CWakeSignal::CWakeSignal()
    : handle((intptr_t)CreateEventA(NULL, TRUE, FALSE, NULL)), state(new std::atomic<LONG>(0))
{
}

CWakeSignal::~CWakeSignal()
{
    if (handle != 0)
        CloseHandle((HANDLE)handle);
    delete static_cast<std::atomic<LONG>*>(state);
}

void CWakeSignal::Wake()
{
    static_cast<std::atomic<LONG>*>(state)->store(1);
    SetEvent((HANDLE)handle);
}

void CWakeSignal::Clear()
{
    static_cast<std::atomic<LONG>*>(state)->store(0);
    ResetEvent((HANDLE)handle);
}

bool CWakeSignal::Woken() const
{
    return static_cast<std::atomic<LONG>*>(state)->load() != 0;
}

NamedWaitResult CWakeSignal::Sleep(uint32_t timeoutMs)
{
    if (Woken())
        return NAMED_WAIT_WOKEN;
    DWORD result = WaitForSingleObject((HANDLE)handle, timeoutMs);
    return result == WAIT_OBJECT_0 ? NAMED_WAIT_WOKEN : NAMED_WAIT_TIMEOUT;
}
