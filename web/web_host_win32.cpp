#include "web_host.h"

#include <windows.h>

namespace {

const char kServiceName[] = "OvalixWeb";

int (*g_run)() = nullptr;
void (*g_stop)() = nullptr;
SERVICE_STATUS_HANDLE g_status = nullptr;
int g_exitCode = 0;

void Report(DWORD state, DWORD exitCode)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        Report(SERVICE_STOP_PENDING, 0);
        g_stop();
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, char**)
{
    g_status = RegisterServiceCtrlHandlerExA(kServiceName, Control, nullptr);
    if (g_status == nullptr) {
        return;
    }
    Report(SERVICE_RUNNING, 0);
    g_exitCode = g_run();
    // A failure is reported as one, so that the service manager's recovery
    // actions restart the bridge.
    Report(SERVICE_STOPPED, static_cast<DWORD>(g_exitCode));
}

BOOL WINAPI ConsoleControl(DWORD)
{
    g_stop();
    return TRUE;
}

}  // namespace

int RunHosted(bool asService, int (*run)(), void (*stop)())
{
    g_run = run;
    g_stop = stop;
    if (asService) {
        SERVICE_TABLE_ENTRYA table[] = {
            {const_cast<char*>(kServiceName), ServiceMain},
            {nullptr,                         nullptr    }
        };
        if (StartServiceCtrlDispatcherA(table)) {
            return g_exitCode;
        }
    }
    SetConsoleCtrlHandler(ConsoleControl, TRUE);
    return run();
}

void PrepareTerminal()
{
    SetConsoleOutputCP(CP_UTF8);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}
