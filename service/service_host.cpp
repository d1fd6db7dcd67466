#include "service_host.h"

#include <mutex>

#include "connection_cycle.h"
#include "service_platform.h"
#include "service_signals.h"
#include "socket_step_pace.h"
#include "block_writer.h"
#include "ticks.h"

CServiceTimer g_serviceTimer;

namespace {

const char* const SERVICE_NAME = "OvalixSvc";
const uint32_t START_WAIT_HINT_MS = 3000;

// The status record, its checkpoint counter (never reset) and the lock that
// keeps the handler's and the service thread's reports from interleaving.
ServiceStatusRecord g_status = {};
uint32_t g_checkpoint = 1;
std::mutex g_statusLock;

ServiceStatusRecord g_statusLog[SERVICE_STATUS_LOG_SIZE];
uint32_t g_statusLogCount = 0;

CStopEvent g_stopEvent;

// Caller holds g_statusLock.
int ReportLocked(uint32_t state, uint32_t exitCode, uint32_t waitHint)
{
    g_status.currentState = state;
    g_status.win32ExitCode = exitCode;
    g_status.waitHint = waitHint;
    g_status.controlsAccepted = (state == SERVICE_STATE_START_PENDING) ? 0 : SERVICE_ACCEPTS_STOP;
    if (state == SERVICE_STATE_RUNNING || state == SERVICE_STATE_STOPPED)
        g_status.checkPoint = 0;
    else
        g_status.checkPoint = g_checkpoint++;

    if (g_statusLogCount < SERVICE_STATUS_LOG_SIZE)
        g_statusLog[g_statusLogCount] = g_status;
    ++g_statusLogCount;
    return SendServiceStatus(g_status);
}

}  // namespace

int ServiceEntry(int argc, char** argv)
{
    // Only the first argument counts, compared without regard to case.
    if (argc > 1 && argv[1] != nullptr && SameTextIgnoringCase(argv[1], "install")) {
        InstallService();
        return 0;
    }
    if (!RunServiceDispatcher(SERVICE_NAME, ServiceMain, argc, argv))
        ReportServiceError("StartServiceCtrlDispatcher");
    return 0;
}

void ServiceMain(int argc, char** argv)
{
    if (!RegisterServiceControl(SERVICE_NAME, ServiceCtrlHandler)) {
        ReportServiceError("RegisterServiceCtrlHandler");
        return;
    }
    {
        std::lock_guard<std::mutex> lock(g_statusLock);
        g_status.serviceType = SERVICE_TYPE_OWN_PROCESS;
        g_status.serviceSpecificExitCode = 0;
    }
    ReportServiceStatus(SERVICE_STATE_START_PENDING, 0, START_WAIT_HINT_MS);
    RunService(argc, argv);
}

void ServiceCtrlHandler(uint32_t control)
{
    // Only stop is acted on; interrogate, shutdown and the rest get no report.
    if (control != SERVICE_CONTROL_CODE_STOP)
        return;
    ReportServiceStatus(SERVICE_STATE_STOP_PENDING, 0, 0);
    g_stopEvent.Set();
    // Report again whatever the record holds now. Reading and reporting under
    // one lock means a STOPPED that the service thread has just sent is never
    // followed by a stale STOP_PENDING.
    std::lock_guard<std::mutex> lock(g_statusLock);
    ReportLocked(g_status.currentState, 0, 0);
}

int ReportServiceStatus(uint32_t state, uint32_t exitCode, uint32_t waitHint)
{
    std::lock_guard<std::mutex> lock(g_statusLock);
    return ReportLocked(state, exitCode, waitHint);
}

void RunService(int, char**)
{
    if (!g_stopEvent.Create() || !g_serviceTimer.Create()) {
        ReportServiceStatus(SERVICE_STATE_STOPPED, 0, 0);
        return;
    }
    if (!OpenSharedBlock()) {
        ReportServiceStatus(SERVICE_STATE_STOPPED, 0, 0);
        return;
    }
    ReportServiceStatus(SERVICE_STATE_RUNNING, 0, 0);
    g_serviceTimer.Arm(STEP_FIRST_DUE);

    // Besides the timer, the link's socket wakes a step: a frame is published
    // as it arrives and a phone that connects is taken at once. While the
    // socket has used up its pace, it is left out of the wait; the stop and
    // the timer are always waited on. The wait reports the stop event first
    // whatever else is signalled, so a stop wins over a pending step.
    CSocketWatch watch;
    watch.Create();  // without it the timer alone paces the steps
    SocketStepPace pace;
    StartSocketStepPace(pace, GetTickUs());
    for (;;) {
        watch.Watch(LinkSocketToWatch());
        uint32_t delayMs = SocketStepDelayMs(pace, GetTickUs());
        int wake = delayMs == 0
                       ? WaitForServiceWork(g_stopEvent, g_serviceTimer, &watch, WAIT_FOREVER)
                       : WaitForServiceWork(g_stopEvent, g_serviceTimer, NULL, delayMs);
        if (wake == WAKE_STOP)
            break;
        if (wake == WAKE_SOCKET)
            ChargeSocketStep(pace, GetTickUs());
        if (wake == WAKE_TIMER || wake == WAKE_SOCKET)
            ConnectionStep();
    }
    watch.Close();

    CloseServiceResources();
    g_serviceTimer.Close();
    ReportServiceStatus(SERVICE_STATE_STOPPED, 0, 0);
}

void ReportServiceError(const char*)
{
    // The service has nowhere to report to; the failure is deliberately silent.
}

uint32_t ServiceStatusReportCount()
{
    std::lock_guard<std::mutex> lock(g_statusLock);
    return g_statusLogCount;
}

bool ServiceStatusReportAt(uint32_t index, ServiceStatusRecord& out)
{
    std::lock_guard<std::mutex> lock(g_statusLock);
    if (index >= g_statusLogCount || index >= SERVICE_STATUS_LOG_SIZE)
        return false;
    out = g_statusLog[index];
    return true;
}
