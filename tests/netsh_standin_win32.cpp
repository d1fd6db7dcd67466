// Takes the place of netsh.exe in a test prefix, whose own netsh has no
// firewall to change: appends its command line, as UTF-8, as one line of
// C:\windows\netsh.log (one log for the stand-ins of both bitnesses, in the
// order they ran), and answers "Ok." with exit code 0 as netsh does for a rule
// it has added or deleted.
#include <windows.h>
#include <stdio.h>

int main()
{
    wchar_t logPath[MAX_PATH];
    UINT length = GetWindowsDirectoryW(logPath, MAX_PATH - 16);
    if (length == 0 || length >= MAX_PATH - 16)
        return 2;
    lstrcpyW(logPath + length, L"\\netsh.log");

    static char line[32768];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line,
                                    sizeof(line) - 1, NULL, NULL);
    if (bytes == 0)
        return 2;
    line[bytes - 1] = '\n';

    HANDLE log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written = 0;
    BOOL ok = WriteFile(log, line, static_cast<DWORD>(bytes), &written, NULL);
    CloseHandle(log);
    if (!ok || written != static_cast<DWORD>(bytes))
        return 2;
    puts("Ok.");
    return 0;
}
