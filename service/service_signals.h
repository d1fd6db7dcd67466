#pragma once
// The service thread's two waitable objects: the stop event and the
// manual-reset timer that paces the connection cycle.

#include <stdint.h>

class CStopEvent {
public:
    CStopEvent();
    ~CStopEvent();
    bool Create();          // manual reset, not signalled
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

// Waits without time-out for the first of the two; 0 = stop, 1 = timer,
// anything else = the wait failed. When both are signalled, 0 is reported.
int WaitForStopOrTimer(const CStopEvent& stop, const CServiceTimer& timer);
