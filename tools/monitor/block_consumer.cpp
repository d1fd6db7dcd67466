#include "block_consumer.h"

#include <signal.h>
#include <stdio.h>

#include <chrono>
#include <thread>

namespace {
volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int)
{
    g_interrupted = 1;
}
}  // namespace

bool OpenBlock(BlockConsumer& consumer, bool quietFailure)
{
    if (!consumer.mapping.Open(SHARED_MEMORY_NAME, SHARED_BLOCK_SIZE) ||
        !consumer.mutex.Open(SHARED_MUTEX_NAME) || !consumer.event.Open(READY_EVENT_NAME)) {
        consumer.mapping.Close();
        consumer.mutex.Close();
        consumer.event.Close();
        if (!quietFailure)
            fprintf(stderr,
                    "ovalix-monitor: the shared camera block is not there; "
                    "is the OvalixSvc service running?\n");
        return false;
    }
    consumer.block = static_cast<SharedCameraBlock*>(consumer.mapping.View());
    return true;
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

void SleepMs(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
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
