#include "service_signals.h"

#include <windows.h>

static HANDLE AsHandle(intptr_t h) { return (HANDLE)h; }

CStopEvent::CStopEvent() : handle(0) {}

CStopEvent::~CStopEvent()
{
    // The stop event lives until the process ends; nothing to release early.
}

bool CStopEvent::Create()
{
    HANDLE h = CreateEventA(NULL, TRUE, FALSE, NULL);
    handle = (intptr_t)h;
    return h != NULL;
}

void CStopEvent::Set()
{
    if (handle != 0)
        SetEvent(AsHandle(handle));
}

CServiceTimer::CServiceTimer() : handle(0) {}

CServiceTimer::~CServiceTimer()
{
    Close();
}

bool CServiceTimer::Create()
{
    HANDLE h = CreateWaitableTimerA(NULL, TRUE, NULL);
    handle = (intptr_t)h;
    return h != NULL;
}

void CServiceTimer::Arm(int64_t dueTime100ns)
{
    if (handle == 0)
        return;
    LARGE_INTEGER due;
    due.QuadPart = dueTime100ns;
    SetWaitableTimer(AsHandle(handle), &due, 0, NULL, NULL, FALSE);
}

void CServiceTimer::Close()
{
    if (handle != 0) {
        CloseHandle(AsHandle(handle));
        handle = 0;
    }
}

int WaitForStopOrTimer(const CStopEvent& stop, const CServiceTimer& timer)
{
    HANDLE handles[2] = { AsHandle(stop.Handle()), AsHandle(timer.Handle()) };
    DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0)
        return 0;
    if (result == WAIT_OBJECT_0 + 1)
        return 1;
    return -1;
}
