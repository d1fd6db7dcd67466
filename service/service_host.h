#pragma once
// Hosting the service: entry, control handler, status reports and run loop.

#include <stdint.h>

class CServiceTimer;

const uint32_t SERVICE_STATE_STOPPED = 1;
const uint32_t SERVICE_STATE_START_PENDING = 2;
const uint32_t SERVICE_STATE_STOP_PENDING = 3;
const uint32_t SERVICE_STATE_RUNNING = 4;
const uint32_t SERVICE_CONTROL_CODE_STOP = 1;

// The run loop's timer; ConnectionStep re-arms it before it returns.
extern CServiceTimer g_serviceTimer;

int ServiceEntry(int argc, char** argv);
void ServiceMain(int argc, char** argv);
void ServiceCtrlHandler(uint32_t control);
int ReportServiceStatus(uint32_t state, uint32_t exitCode, uint32_t waitHint);
void RunService(int argc, char** argv);
void ReportServiceError(const char* name);
