#include "stored_table_access.h"

#include <windows.h>

namespace {
const char* const KEY = "Software\\Ovalix";
// The service keeps the table in the 32-bit view whatever its bitness.
const REGSAM VIEW = KEY_WOW64_32KEY;
}

void UseTemporaryStore()
{
    // The registry of the test's own prefix is the store.
}

void RemoveStoredKey()
{
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, KEY, VIEW, 0);
}

void CreateStoredKeyOnly()
{
    RemoveStoredKey();
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, KEY, 0, NULL, 0, KEY_WRITE | VIEW, NULL, &key,
                        NULL) == ERROR_SUCCESS)
        RegCloseKey(key);
}

void WriteStoredValue(const void* data, uint32_t size)
{
    CreateStoredKeyOnly();
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY, 0, KEY_WRITE | VIEW, &key) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Setup", 0, REG_BINARY, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

bool ReadStoredValue(std::vector<uint8_t>& out)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY, 0, KEY_READ | VIEW, &key) != ERROR_SUCCESS)
        return false;
    BYTE buffer[4096];
    DWORD size = sizeof(buffer);
    LONG rc = RegQueryValueExA(key, "Setup", NULL, NULL, buffer, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return false;
    out.assign(buffer, buffer + size);
    return true;
}
