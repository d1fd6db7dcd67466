#pragma once
// What the service host needs from the platform: a dispatcher that runs the
// service's main function on a thread of its own and delivers stop requests,
// handler registration, status reports, and installation.

#include <stdint.h>

// Field for field the platform's service status record.
struct ServiceStatusRecord {
    uint32_t serviceType;
    uint32_t currentState;
    uint32_t controlsAccepted;
    uint32_t win32ExitCode;
    uint32_t serviceSpecificExitCode;
    uint32_t checkPoint;
    uint32_t waitHint;
};

const uint32_t SERVICE_TYPE_OWN_PROCESS = 0x10;
const uint32_t SERVICE_ACCEPTS_STOP = 1;

typedef void (*ServiceMainFunction)(int argc, char** argv);
typedef void (*ServiceControlFunction)(uint32_t control);

// Runs the dispatcher on the calling thread. Returns true once the service
// has stopped; false when the dispatcher could not be started (on Windows,
// when the process was not started by the service manager).
bool RunServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain, int argc,
                          char** argv);

// Registers the control handler and keeps the status handle; false on failure.
bool RegisterServiceControl(const char* serviceName, ServiceControlFunction handler);

// Sends one status report to the service manager; returns the platform's result.
int SendServiceStatus(const ServiceStatusRecord& status);

// Registers the service with the platform's service manager. Silent; an
// existing registration is left as it is.
void InstallService();

// A message for whoever runs the service, where the platform has a place for
// one (standard error, which the system journal keeps); elsewhere nothing.
void ReportServiceMessage(const char* text);

// Case-insensitive comparison of two texts; true when equal.
bool SameTextIgnoringCase(const char* a, const char* b);

// In-process record of every status report (the first SERVICE_STATUS_LOG_SIZE
// of them), for tests and diagnostics.
const uint32_t SERVICE_STATUS_LOG_SIZE = 64;
uint32_t ServiceStatusReportCount();
bool ServiceStatusReportAt(uint32_t index, ServiceStatusRecord& out);
