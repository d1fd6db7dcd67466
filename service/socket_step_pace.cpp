#include "socket_step_pace.h"

namespace {

const uint64_t FULL_CREDIT_US = SOCKET_STEP_BURST * SOCKET_STEP_GAP_US;

void Refill(SocketStepPace& pace, uint64_t nowUs)
{
    // A clock that went back (it should not) adds nothing.
    if (nowUs <= pace.lastUs)
        return;
    uint64_t earned = nowUs - pace.lastUs;
    pace.lastUs = nowUs;
    pace.creditUs =
        earned >= FULL_CREDIT_US - pace.creditUs ? FULL_CREDIT_US : pace.creditUs + earned;
}

}  // namespace

void StartSocketStepPace(SocketStepPace& pace, uint64_t nowUs)
{
    pace.creditUs = FULL_CREDIT_US;
    pace.lastUs = nowUs;
}

uint32_t SocketStepDelayMs(SocketStepPace& pace, uint64_t nowUs)
{
    Refill(pace, nowUs);
    if (pace.creditUs >= SOCKET_STEP_GAP_US)
        return 0;
    return (uint32_t)((SOCKET_STEP_GAP_US - pace.creditUs + 999u) / 1000u);
}

void ChargeSocketStep(SocketStepPace& pace, uint64_t nowUs)
{
    Refill(pace, nowUs);
    pace.creditUs = pace.creditUs > SOCKET_STEP_GAP_US ? pace.creditUs - SOCKET_STEP_GAP_US : 0;
}
