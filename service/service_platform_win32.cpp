#include "service_platform.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

namespace {

const char* const SERVICE_DESCRIPTION_TEXT = "Ovalix connection manager";

ServiceMainFunction s_serviceMain = NULL;
ServiceControlFunction s_handler = NULL;
SERVICE_STATUS_HANDLE s_statusHandle = NULL;

// The service manager calls back with the platform's calling convention.
void WINAPI ServiceMainEntry(DWORD argc, LPSTR* argv)
{
    if (s_serviceMain != NULL)
        s_serviceMain((int)argc, argv);
}

void WINAPI ServiceControlEntry(DWORD control)
{
    if (s_handler != NULL)
        s_handler(control);
}

}  // namespace

bool RunServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain, int, char**)
{
    s_serviceMain = serviceMain;
    SERVICE_TABLE_ENTRYA table[2];
    table[0].lpServiceName = const_cast<char*>(serviceName);
    table[0].lpServiceProc = ServiceMainEntry;
    table[1].lpServiceName = NULL;
    table[1].lpServiceProc = NULL;
    return StartServiceCtrlDispatcherA(table) != FALSE;
}

bool RegisterServiceControl(const char* serviceName, ServiceControlFunction handler)
{
    s_handler = handler;
    s_statusHandle = RegisterServiceCtrlHandlerA(serviceName, ServiceControlEntry);
    return s_statusHandle != NULL;
}

int SendServiceStatus(const ServiceStatusRecord& status)
{
    if (s_statusHandle == NULL)
        return 0;
    SERVICE_STATUS record;
    record.dwServiceType = status.serviceType;
    record.dwCurrentState = status.currentState;
    record.dwControlsAccepted = status.controlsAccepted;
    record.dwWin32ExitCode = status.win32ExitCode;
    record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    record.dwCheckPoint = status.checkPoint;
    record.dwWaitHint = status.waitHint;
    return SetServiceStatus(s_statusHandle, &record);
}

void InstallService()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    // A truncated name would register a wrong path: treat it as a failure.
    if (length == 0 || length >= MAX_PATH)
        return;

    // A path with a space is quoted so that the service manager does not
    // split it into a program and arguments.
    char binary[MAX_PATH + 3];
    if (strchr(path, ' ') != NULL)
        _snprintf(binary, sizeof(binary), "\"%s\"", path);
    else
        _snprintf(binary, sizeof(binary), "%s", path);
    binary[sizeof(binary) - 1] = '\0';

    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL)
        return;
    SC_HANDLE service = CreateServiceA(manager, "OvalixSvc", "OvalixSvc", SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                       SERVICE_ERROR_NORMAL, binary, NULL, NULL, NULL, NULL,
                                       NULL);
    if (service == NULL) {
        CloseServiceHandle(manager);
        return;
    }
    SERVICE_DESCRIPTIONA description;
    description.lpDescription = const_cast<char*>(SERVICE_DESCRIPTION_TEXT);
    ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

void ReportServiceMessage(const char*)
{
    // A service has no console, and the service writes no event log.
}

bool SameTextIgnoringCase(const char* a, const char* b)
{
    return lstrcmpiA(a, b) == 0;
}
