#include "service_signals.h"

#include <winsock2.h>
#include <windows.h>

static HANDLE AsHandle(intptr_t h)
{
    return (HANDLE)h;
}

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

// The socket is bound to an event of its own with WSAEventSelect; binding
// another socket moves the event over to it. The event resets itself when a
// wait takes it, so no call is spent on clearing it: the step's receive (or
// accept) lets the socket record its next readiness, which sets it again.
CSocketWatch::CSocketWatch() : event(0), socket(SOCKET_WATCH_NONE) {}

CSocketWatch::~CSocketWatch()
{
    Close();
}

bool CSocketWatch::Create()
{
    HANDLE e = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (e == NULL)
        return false;
    event = (intptr_t)e;
    return true;
}

void CSocketWatch::Watch(uintptr_t s)
{
    if (s == socket || event == 0)
        return;
    // The old socket may be gone already; unbinding it then fails harmlessly.
    if (socket != SOCKET_WATCH_NONE)
        WSAEventSelect((SOCKET)socket, NULL, 0);
    ResetEvent(AsHandle(event));
    socket = s;
    if (socket != SOCKET_WATCH_NONE &&
        WSAEventSelect((SOCKET)socket, (WSAEVENT)event, FD_READ | FD_ACCEPT | FD_CLOSE) != 0)
        socket = SOCKET_WATCH_NONE;
}

void CSocketWatch::Close()
{
    if (event != 0) {
        Watch(SOCKET_WATCH_NONE);
        CloseHandle(AsHandle(event));
        event = 0;
    }
}

int WaitForServiceWork(const CStopEvent& stop, const CServiceTimer& timer, CSocketWatch* watch,
                       uint32_t timeoutMs)
{
    HANDLE handles[3] = {AsHandle(stop.Handle()), AsHandle(timer.Handle()), NULL};
    DWORD count = 2;
    if (watch != NULL && watch->Watched() != SOCKET_WATCH_NONE) {
        handles[2] = AsHandle(watch->Handle());
        count = 3;
    }
    DWORD result = WaitForMultipleObjects(count, handles, FALSE,
                                          timeoutMs == WAIT_FOREVER ? INFINITE : timeoutMs);
    if (result == WAIT_OBJECT_0)
        return WAKE_STOP;
    if (result == WAIT_OBJECT_0 + 1)
        return WAKE_TIMER;
    if (result == WAIT_OBJECT_0 + 2)
        return WAKE_SOCKET;
    if (result == WAIT_TIMEOUT)
        return WAKE_TIMED_OUT;
    return WAKE_FAILED;
}
