#pragma once
// The monitor's hold on the shared camera block (through the consumer
// library) and the process-wide Ctrl-C flag.

#include "camera_client.h"

// Attaches to the block; false (and a message on stderr unless quiet) when
// the service is not running.
bool OpenBlock(CCameraClient& client, bool quietFailure);

void InstallInterruptHandler();
bool Interrupted();

const char* LinkStateName(uint32_t state);
