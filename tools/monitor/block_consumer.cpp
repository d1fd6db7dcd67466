#include "block_consumer.h"

#include <signal.h>
#include <stdio.h>

namespace {
volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int)
{
    g_interrupted = 1;
}
}  // namespace

bool OpenBlock(CCameraClient& client, bool quietFailure)
{
    if (client.Attach())
        return true;
    if (!quietFailure)
        fprintf(stderr, "ovalix-monitor: the shared camera block is not there; "
                        "is the OvalixSvc service running?\n");
    return false;
}

void InstallInterruptHandler()
{
    signal(SIGINT, OnInterrupt);
#ifdef SIGTERM
    signal(SIGTERM, OnInterrupt);
#endif
}

bool Interrupted()
{
    return g_interrupted != 0;
}

const char* LinkStateName(uint32_t state)
{
    switch (state) {
    case LINK_IDLE: return "LINK_IDLE";
    case LINK_AWAIT_TABLE: return "LINK_AWAIT_TABLE";
    case LINK_AWAIT_FRAME: return "LINK_AWAIT_FRAME";
    case LINK_STREAMING: return "LINK_STREAMING";
    default: return "unknown";
    }
}
