#include "format_store.h"

#include <windows.h>

namespace {
const char* const STORE_KEY = "Software\\Ovalix";
const char* const STORE_VALUE = "Setup";
// Both bitnesses of the service keep the table in the 32-bit view, so that
// either finds what the other stored (an upgrade from a 32-bit install keeps
// it). A 32-bit program is in that view anyway.
const REGSAM STORE_VIEW = KEY_WOW64_32KEY;
}  // namespace

StoreReadResult ReadStoredFormats(uint8_t* dest, uint32_t capacity)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, STORE_KEY, 0, KEY_READ | STORE_VIEW, &key) !=
        ERROR_SUCCESS)
        return STORE_NO_KEY;
    // The value's type is not checked: any value of the right length counts.
    DWORD size = capacity;
    LONG rc = RegQueryValueExA(key, STORE_VALUE, NULL, NULL, dest, &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? STORE_READ_OK : STORE_READ_FAILED;
}

void WriteStoredFormats(const uint8_t* data, uint32_t size)
{
    HKEY key;
    char keyClass[] = "config";
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, STORE_KEY, 0, keyClass, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | STORE_VIEW, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, STORE_VALUE, 0, REG_BINARY, data, size);
    RegCloseKey(key);
}
