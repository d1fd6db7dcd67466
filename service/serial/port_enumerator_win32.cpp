// The "Ports" device class through SetupAPI. SETUPAPI.DLL is loaded at run
// time so that the service starts (without a serial transport) where the
// library or one of its entry points is missing.

#include "serial/port_enumerator.h"

#include <windows.h>
#include <setupapi.h>
#include <stdlib.h>
#include <string.h>

namespace {

typedef BOOL(WINAPI* EnumDeviceInfoFn)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
typedef HKEY(WINAPI* OpenDevRegKeyFn)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD, REGSAM);
typedef BOOL(WINAPI* GetDeviceRegistryPropertyFn)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD,
                                                  PBYTE, DWORD, PDWORD);
typedef BOOL(WINAPI* DestroyDeviceInfoListFn)(HDEVINFO);
typedef BOOL(WINAPI* ClassGuidsFromNameFn)(PCSTR, LPGUID, DWORD, PDWORD);
typedef HDEVINFO(WINAPI* GetClassDevsFn)(const GUID*, PCSTR, HWND, DWORD);

// Copies a registry string of `length` bytes into text, always terminated:
// a value stored without its terminator, or filling the whole buffer, is cut
// at the last byte instead of being read past.
void TerminateRegistryText(char* text, DWORD length)
{
    if (length >= static_cast<DWORD>(PORT_TEXT_SIZE))
        length = PORT_TEXT_SIZE - 1;
    text[length] = '\0';
}

template <typename T>
T Lookup(HMODULE library, const char* name)
{
    // GetProcAddress returns a generic FARPROC; each entry point has its
    // published signature.
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

struct CPortEnumerator::Impl {
    HMODULE library;
    EnumDeviceInfoFn enumDeviceInfo;
    OpenDevRegKeyFn openDevRegKey;
    GetDeviceRegistryPropertyFn getDeviceRegistryProperty;
    DestroyDeviceInfoListFn destroyDeviceInfoList;
    ClassGuidsFromNameFn classGuidsFromName;
    GetClassDevsFn getClassDevs;

    HDEVINFO devices;
    DWORD index;
    SP_DEVINFO_DATA device;
};

CPortEnumerator::CPortEnumerator() : impl(new Impl())
{
    impl->devices = INVALID_HANDLE_VALUE;
    impl->index = 0;
    impl->library = LoadLibraryA("SETUPAPI.DLL");
    if (impl->library != nullptr) {
        impl->openDevRegKey = Lookup<OpenDevRegKeyFn>(impl->library, "SetupDiOpenDevRegKey");
        impl->classGuidsFromName =
            Lookup<ClassGuidsFromNameFn>(impl->library, "SetupDiClassGuidsFromNameA");
        impl->getClassDevs = Lookup<GetClassDevsFn>(impl->library, "SetupDiGetClassDevsA");
        impl->getDeviceRegistryProperty = Lookup<GetDeviceRegistryPropertyFn>(
            impl->library, "SetupDiGetDeviceRegistryPropertyA");
        impl->destroyDeviceInfoList =
            Lookup<DestroyDeviceInfoListFn>(impl->library, "SetupDiDestroyDeviceInfoList");
        impl->enumDeviceInfo = Lookup<EnumDeviceInfoFn>(impl->library, "SetupDiEnumDeviceInfo");
    }
    if (!Available())
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
}

CPortEnumerator::~CPortEnumerator()
{
    End();
    if (impl->library != nullptr)
        FreeLibrary(impl->library);
    delete impl;
}

bool CPortEnumerator::Available() const
{
    return impl->library != nullptr && impl->enumDeviceInfo != nullptr &&
           impl->openDevRegKey != nullptr && impl->getDeviceRegistryProperty != nullptr &&
           impl->destroyDeviceInfoList != nullptr && impl->classGuidsFromName != nullptr &&
           impl->getClassDevs != nullptr;
}

bool CPortEnumerator::Begin()
{
    End();
    DWORD count = 0;
    impl->classGuidsFromName("Ports", nullptr, 0, &count);
    if (count == 0)
        return false;
    GUID* guids = static_cast<GUID*>(calloc(count, sizeof(GUID)));
    if (guids == nullptr)
        return false;
    DWORD filled = 0;
    if (!impl->classGuidsFromName("Ports", guids, count, &filled)) {
        free(guids);
        return false;
    }
    // Only the first class of that name is searched.
    HDEVINFO devices = impl->getClassDevs(&guids[0], nullptr, nullptr, DIGCF_PRESENT);
    free(guids);
    if (devices == INVALID_HANDLE_VALUE)
        return false;
    impl->devices = devices;
    impl->index = 0;
    return true;
}

bool CPortEnumerator::Next()
{
    if (impl->devices == INVALID_HANDLE_VALUE)
        return false;
    memset(&impl->device, 0, sizeof(impl->device));
    impl->device.cbSize = sizeof(impl->device);
    if (!impl->enumDeviceInfo(impl->devices, impl->index, &impl->device))
        return false;
    ++impl->index;
    return true;
}

bool CPortEnumerator::ReadPortName(char* text)
{
    HKEY key = impl->openDevRegKey(impl->devices, &impl->device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                   KEY_QUERY_VALUE);
    if (key == nullptr || key == INVALID_HANDLE_VALUE)
        return false;
    DWORD type = 0;
    DWORD length = PORT_TEXT_SIZE;
    LONG status = RegQueryValueExA(key, "PortName", nullptr, &type,
                                   reinterpret_cast<BYTE*>(text), &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return false;
    TerminateRegistryText(text, length);
    return true;
}

bool CPortEnumerator::ReadDescription(char* text)
{
    DWORD type = 0;
    DWORD length = 0;
    if (!impl->getDeviceRegistryProperty(impl->devices, &impl->device, SPDRP_DEVICEDESC, &type,
                                         reinterpret_cast<BYTE*>(text), PORT_TEXT_SIZE, &length))
        return false;
    if (type != REG_SZ)
        return false;
    TerminateRegistryText(text, length);
    return true;
}

void CPortEnumerator::End()
{
    if (impl->devices != INVALID_HANDLE_VALUE) {
        impl->destroyDeviceInfoList(impl->devices);
        impl->devices = INVALID_HANDLE_VALUE;
    }
}
