#include "fake_ports.h"

#include <windows.h>
#include <setupapi.h>
#include <stdio.h>
#include <string.h>

namespace {

const char FAKE_PREFIX[] = "PORTS\\PHONE\\";

bool PortsClass(GUID* guid)
{
    DWORD count = 0;
    return SetupDiClassGuidsFromNameA("Ports", guid, 1, &count) && count >= 1;
}

// Removes every registered fake port, or only those whose PortName equals
// portName.
void RemoveMatching(const char* portName)
{
    GUID guid;
    if (!PortsClass(&guid))
        return;
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, 0);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof(data);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
        char id[256];
        if (!SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof(id), nullptr))
            continue;
        if (_strnicmp(id, FAKE_PREFIX, sizeof(FAKE_PREFIX) - 1) != 0)
            continue;
        if (portName != nullptr) {
            char name[256] = "";
            HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                            KEY_QUERY_VALUE);
            if (key == INVALID_HANDLE_VALUE)
                continue;
            DWORD size = sizeof(name) - 1;
            RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(name),
                             &size);
            RegCloseKey(key);
            if (strcmp(name, portName) != 0)
                continue;
        }
        SetupDiRemoveDevice(set, &data);
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

bool RegisterFakePort(const char* portName, const char* description, char* id)
{
    GUID guid;
    if (!PortsClass(&guid))
        return false;
    HDEVINFO set = SetupDiCreateDeviceInfoList(&guid, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof(data);
    bool created = false;
    for (int n = 1; n < 1000 && !created; ++n) {
        snprintf(id, 64, "%s%d", FAKE_PREFIX, n);
        created = SetupDiCreateDeviceInfoA(set, id, &guid, nullptr, nullptr, 0, &data);
    }
    bool ok = created && SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr) &&
              SetupDiSetDeviceRegistryPropertyA(
                  set, &data, SPDRP_DEVICEDESC, reinterpret_cast<const BYTE*>(description),
                  static_cast<DWORD>(strlen(description) + 1));
    if (ok) {
        HKEY key = SetupDiCreateDevRegKeyA(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr,
                                           nullptr);
        ok = key != INVALID_HANDLE_VALUE &&
             RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(portName),
                            static_cast<DWORD>(strlen(portName) + 1)) == ERROR_SUCCESS;
        if (key != INVALID_HANDLE_VALUE)
            RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

void RemoveFakePort(const char* portName)
{
    RemoveMatching(portName);
}

void RemoveAllFakePorts()
{
    RemoveMatching(nullptr);
}

CFakePorts::CFakePorts() : nextDevice(1)
{
    root[0] = '\0';
    // Ports left behind by an interrupted run would be found as well.
    RemoveAllFakePorts();
}

CFakePorts::~CFakePorts()
{
    RemoveAllFakePorts();
}

bool CFakePorts::Add(const char* portName, const char* description)
{
    char id[64];
    return RegisterFakePort(portName, description, id);
}

void CFakePorts::Remove(const char* portName)
{
    RemoveFakePort(portName);
}
