#pragma once
// How often the link's socket may wake a step. The pieces of one frame, or a
// frame and a keep-alive, arrive close together, and each runs a step of its
// own at once: up to SOCKET_STEP_BURST of them are free. Beyond that the
// socket wakes one step per SOCKET_STEP_GAP_US, so a peer that sends as fast
// as it can costs at most a step a millisecond. Steps of the timer are not
// counted; they run whatever the socket did.

#include <stdint.h>

const uint32_t SOCKET_STEP_BURST = 4;
const uint64_t SOCKET_STEP_GAP_US = 1000;

struct SocketStepPace {
    uint64_t creditUs;  // time banked for socket steps, at most a burst's worth
    uint64_t lastUs;    // when the credit was last brought up to date
};

void StartSocketStepPace(SocketStepPace& pace, uint64_t nowUs);

// 0 when the socket may wake a step now; otherwise how long to leave it out
// of the wait, in whole milliseconds rounded up.
uint32_t SocketStepDelayMs(SocketStepPace& pace, uint64_t nowUs);

// Pays for one step that the socket woke.
void ChargeSocketStep(SocketStepPace& pace, uint64_t nowUs);
