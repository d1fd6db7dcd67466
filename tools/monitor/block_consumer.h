#pragma once
// The consumer's side of the shared camera block: the three named objects,
// opened by name, and the process-wide Ctrl-C flag.

#include "named_objects.h"
#include "shared_block.h"

struct BlockConsumer {
    CNamedMapping mapping;
    CNamedMutex mutex;
    CNamedEvent event;
    SharedCameraBlock* block = nullptr;
};

// Opens the block, its mutex and its event; false (and a message on stderr)
// when the service is not running.
bool OpenBlock(BlockConsumer& consumer, bool quietFailure);

void InstallInterruptHandler();
bool Interrupted();
void SleepMs(uint32_t ms);

const char* LinkStateName(uint32_t state);
