#include "child_process.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

int RunSiblingProgram(const char* program, const char* const* args, uint32_t timeoutMs)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return -1;
    char* slash = strrchr(path, '\\');
    if (slash == NULL || (size_t)(slash + 1 - path) + strlen(program) + 5 > sizeof(path))
        return -1;
    sprintf(slash + 1, "%s.exe", program);

    char commandLine[2048];
    int used = _snprintf(commandLine, sizeof(commandLine), "\"%s\"", path);
    for (const char* const* a = args; a != NULL && *a != NULL && used > 0; ++a)
        used += _snprintf(commandLine + used, sizeof(commandLine) - (size_t)used, " \"%s\"", *a);
    if (used <= 0 || used >= (int)sizeof(commandLine))
        return -1;

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(path, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    int result = -1;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code))
            result = (int)code;
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hProcess);
    return result;
}
