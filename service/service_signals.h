#pragma once
// What the service thread waits on: the stop event, the manual-reset timer
// that paces the connection cycle, and the readiness of the link's socket.

#include <stdint.h>

class CStopEvent {
public:
    CStopEvent();
    ~CStopEvent();
    bool Create();  // manual reset, not signalled
    void Set();
    intptr_t Handle() const { return handle; }

private:
    CStopEvent(const CStopEvent&);
    CStopEvent& operator=(const CStopEvent&);
    intptr_t handle;
};

class CServiceTimer {
public:
    CServiceTimer();
    ~CServiceTimer();
    bool Create();
    // Relative due time in 100-ns units (negative, as the platform wants it:
    // -10,000,000 is 1 s). Re-arming clears the signalled state.
    void Arm(int64_t dueTime100ns);
    void Close();
    intptr_t Handle() const { return handle; }

private:
    CServiceTimer(const CServiceTimer&);
    CServiceTimer& operator=(const CServiceTimer&);
    intptr_t handle;
};

const uintptr_t SOCKET_WATCH_NONE = ~(uintptr_t)0;

// Readiness of one socket for the run loop: bytes to read, a closed peer, or
// on a listening socket a connection to accept. Only one socket is watched at
// a time; the socket stays owned by its CNetSocket.
class CSocketWatch {
public:
    CSocketWatch();
    ~CSocketWatch();
    bool Create();
    // The socket that later waits look at, or SOCKET_WATCH_NONE. Watching the
    // socket already watched changes nothing.
    void Watch(uintptr_t socket);
    uintptr_t Watched() const { return socket; }
    void Close();
    intptr_t Handle() const { return event; }

private:
    CSocketWatch(const CSocketWatch&);
    CSocketWatch& operator=(const CSocketWatch&);
    intptr_t event;  // the event bound to the socket, where the platform needs one
    uintptr_t socket;
};

enum ServiceWake {
    WAKE_FAILED = -1,
    WAKE_STOP = 0,
    WAKE_TIMER = 1,
    WAKE_SOCKET = 2,
    WAKE_TIMED_OUT = 3,
};

const uint32_t WAIT_FOREVER = 0xFFFFFFFFu;

// Waits for the first of: the stop event, the timer's expiry, the watched
// socket's readiness (when watch is given and watches a socket) or timeoutMs
// (WAIT_FOREVER for none). When several are signalled the first of that order
// is reported, so a stop always wins.
int WaitForServiceWork(const CStopEvent& stop, const CServiceTimer& timer, CSocketWatch* watch,
                       uint32_t timeoutMs);
