// Looks at OvalixSvc through the service manager and the registry, for the
// process tests under Wine. It reads and writes the stored table in the
// 32-bit registry view, where the service of either bitness keeps it.
//   status                    prints "state=N checkpoint=N wait_hint=N"
//   watch MS                  prints every change of that line for MS ms, or
//                             until the service has stopped after running
//   sleep MS                  keeps a Wine process alive for MS ms
//   config                    prints the registered configuration
//   delete                    removes the registration
//   write-table HEX | read-table | delete-table

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

namespace {

const char* const TABLE_KEY = "Software\\Ovalix";
const REGSAM TABLE_VIEW = KEY_WOW64_32KEY;

SC_HANDLE OpenService(DWORD access)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return NULL;
    SC_HANDLE service = OpenServiceA(manager, "OvalixSvc", access);
    CloseServiceHandle(manager);
    return service;
}

bool StatusLine(SC_HANDLE service, char* line, size_t size)
{
    SERVICE_STATUS status;
    if (!QueryServiceStatus(service, &status))
        return false;
    _snprintf(line, size, "state=%lu checkpoint=%lu wait_hint=%lu accepted=%lu",
              status.dwCurrentState, status.dwCheckPoint, status.dwWaitHint,
              status.dwControlsAccepted);
    line[size - 1] = '\0';
    return true;
}

int Config()
{
    SC_HANDLE service = OpenService(SERVICE_QUERY_CONFIG);
    if (service == NULL)
        return 1;
    static BYTE buffer[8192];
    DWORD needed = 0;
    QUERY_SERVICE_CONFIGA* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    if (!QueryServiceConfigA(service, config, sizeof(buffer), &needed))
        return 1;
    printf("path=%s\n", config->lpBinaryPathName);
    printf("display=%s\n", config->lpDisplayName);
    printf("type=%lu start=%lu error=%lu\n", config->dwServiceType, config->dwStartType,
           config->dwErrorControl);
    static BYTE descriptionBuffer[2048];
    SERVICE_DESCRIPTIONA* description =
        reinterpret_cast<SERVICE_DESCRIPTIONA*>(descriptionBuffer);
    if (QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, descriptionBuffer,
                             sizeof(descriptionBuffer), &needed) &&
        description->lpDescription != NULL)
        printf("description=%s\n", description->lpDescription);
    CloseServiceHandle(service);
    return 0;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int WriteTable(const char* hex)
{
    static BYTE bytes[4096];
    size_t n = strlen(hex) / 2;
    if (n > sizeof(bytes))
        return 1;
    for (size_t i = 0; i < n; ++i) {
        int hi = HexValue(hex[2 * i]);
        int lo = HexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return 1;
        bytes[i] = (BYTE)(hi * 16 + lo);
    }
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, TABLE_KEY, 0, NULL, 0, KEY_WRITE | TABLE_VIEW,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return 1;
    LONG rc = RegSetValueExA(key, "Setup", 0, REG_BINARY, bytes, (DWORD)n);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 1;
}

int ReadTable()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, TABLE_KEY, 0, KEY_READ | TABLE_VIEW, &key) !=
        ERROR_SUCCESS)
        return 1;
    static BYTE bytes[4096];
    DWORD size = sizeof(bytes);
    DWORD type = 0;
    LONG rc = RegQueryValueExA(key, "Setup", NULL, &type, bytes, &size);
    char keyClass[64] = "";
    DWORD classSize = sizeof(keyClass);
    RegQueryInfoKeyA(key, keyClass, &classSize, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                     NULL, NULL);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return 1;
    printf("type=%lu size=%lu class=%s\n", type, size, keyClass);
    for (DWORD i = 0; i < size; ++i)
        printf("%02x", bytes[i]);
    printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const char* command = argv[1];
    if (strcmp(command, "status") == 0 || strcmp(command, "watch") == 0) {
        SC_HANDLE service = OpenService(SERVICE_QUERY_STATUS);
        if (service == NULL)
            return 1;
        DWORD duration = (strcmp(command, "watch") == 0 && argc > 2) ? strtoul(argv[2], NULL, 10) : 0;
        DWORD start = GetTickCount();
        char last[128] = "";
        bool running = false;
        bool stopped = false;
        do {
            char line[128];
            if (StatusLine(service, line, sizeof(line)) && strcmp(line, last) != 0) {
                printf("%s\n", line);
                fflush(stdout);
                strcpy(last, line);
                if (strncmp(line, "state=4 ", 8) == 0)
                    running = true;
                else if (running && strncmp(line, "state=1 ", 8) == 0)
                    stopped = true;
            }
            if (duration != 0)
                Sleep(5);
        } while (!stopped && GetTickCount() - start < duration);
        CloseServiceHandle(service);
        return 0;
    }
    if (strcmp(command, "sleep") == 0 && argc == 3) {
        Sleep(strtoul(argv[2], NULL, 10));
        return 0;
    }
    if (strcmp(command, "config") == 0)
        return Config();
    if (strcmp(command, "delete") == 0) {
        SC_HANDLE service = OpenService(DELETE);
        if (service == NULL)
            return 1;
        BOOL ok = DeleteService(service);
        CloseServiceHandle(service);
        return ok ? 0 : 1;
    }
    if (strcmp(command, "write-table") == 0 && argc == 3)
        return WriteTable(argv[2]);
    if (strcmp(command, "read-table") == 0)
        return ReadTable();
    if (strcmp(command, "delete-table") == 0)
        return RegDeleteKeyExA(HKEY_LOCAL_MACHINE, TABLE_KEY, TABLE_VIEW, 0) == ERROR_SUCCESS
                   ? 0
                   : 1;
    return 2;
}
