#include "service_signals.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

// The stop event is an eventfd that is written once and never read, so it
// stays readable (signalled) for good. The timer is a timerfd whose expiry is
// never consumed by the wait: it stays signalled until timerfd_settime re-arms
// it, which is the manual-reset behaviour the run loop relies on.

CStopEvent::CStopEvent() : handle(-1) {}

CStopEvent::~CStopEvent()
{
    // The stop event lives until the process ends; nothing to release early.
}

bool CStopEvent::Create()
{
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    handle = fd;
    return fd >= 0;
}

void CStopEvent::Set()
{
    if (handle < 0)
        return;
    uint64_t one = 1;
    ssize_t written = write((int)handle, &one, sizeof(one));
    (void)written;  // a full counter is still readable, i.e. still set
}

CServiceTimer::CServiceTimer() : handle(-1) {}

CServiceTimer::~CServiceTimer()
{
    Close();
}

bool CServiceTimer::Create()
{
    int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    handle = fd;
    return fd >= 0;
}

void CServiceTimer::Arm(int64_t dueTime100ns)
{
    if (handle < 0)
        return;
    // Negative due times are relative, as on Windows; a relative time of 0
    // would disarm a timerfd, so the shortest delay is one nanosecond.
    int64_t ns = (dueTime100ns < 0 ? -dueTime100ns : dueTime100ns) * 100;
    if (ns == 0)
        ns = 1;
    struct itimerspec expiry = {};
    expiry.it_value.tv_sec = (time_t)(ns / 1000000000);
    expiry.it_value.tv_nsec = (long)(ns % 1000000000);
    timerfd_settime((int)handle, 0, &expiry, NULL);
}

void CServiceTimer::Close()
{
    if (handle >= 0) {
        close((int)handle);
        handle = -1;
    }
}

// The socket's descriptor goes into the same poll as the other two; there is
// nothing to bind to it.
CSocketWatch::CSocketWatch() : event(-1), socket(SOCKET_WATCH_NONE) {}

CSocketWatch::~CSocketWatch() {}

bool CSocketWatch::Create()
{
    return true;
}

void CSocketWatch::Watch(uintptr_t s)
{
    socket = s;
}

void CSocketWatch::Close()
{
    socket = SOCKET_WATCH_NONE;
}

int WaitForServiceWork(const CStopEvent& stop, const CServiceTimer& timer, CSocketWatch* watch,
                       uint32_t timeoutMs)
{
    struct pollfd fds[3];
    fds[0].fd = (int)stop.Handle();
    fds[0].events = POLLIN;
    fds[1].fd = (int)timer.Handle();
    fds[1].events = POLLIN;
    nfds_t count = 2;
    if (watch != NULL && watch->Watched() != SOCKET_WATCH_NONE) {
        fds[2].fd = (int)watch->Watched();
        fds[2].events = POLLIN;
        count = 3;
    }
    int timeout = timeoutMs == WAIT_FOREVER ? -1 : (int)timeoutMs;
    for (;;) {
        for (nfds_t i = 0; i < count; ++i)
            fds[i].revents = 0;
        int n = poll(fds, count, timeout);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return WAKE_FAILED;
        }
        if (n == 0)
            return WAKE_TIMED_OUT;
        if (fds[0].revents & POLLIN)
            return WAKE_STOP;
        if (fds[1].revents & POLLIN)
            return WAKE_TIMER;
        if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLNVAL))
            return WAKE_FAILED;
        // A hang-up or an error is news for the step too: its receive says so.
        if (count == 3 && fds[2].revents != 0)
            return WAKE_SOCKET;
    }
}
