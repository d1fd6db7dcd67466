// The in-process server of the Media Foundation camera source: class factory,
// unloading, and registration of the class under its identifier (the frame
// server creates it by that identifier; the registrar names it to Windows).
#include <windows.h>
#include <olectl.h>

#include "camera_ids.h"
#include "media_source.h"

namespace {

HMODULE module;

class CSourceFactory : public IClassFactory {
public:
    static const InterfaceEntry Interfaces[];
    virtual ~CSourceFactory() {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        CMediaSource* created = NewComObject<CMediaSource>();
        if (created == nullptr)
            return E_OUTOFMEMORY;
        ComPtr<IMFMediaSourceEx> source;
        source.Attach(static_cast<IMFMediaSourceEx*>(created));
        HRESULT hr = created->Init();
        if (SUCCEEDED(hr))
            hr = source->QueryInterface(riid, out);
        if (FAILED(hr))
            source->Shutdown();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ++moduleUsers;
        else
            --moduleUsers;
        return S_OK;
    }
};

const InterfaceEntry CSourceFactory::Interfaces[] = {
    { &IID_IClassFactory, InterfaceOf<CSourceFactory, IClassFactory> },
    { nullptr, nullptr },
};

const wchar_t CLASS_KEY[] = L"CLSID\\{4D34993D-67BD-4538-9C88-5F514A70AB14}";

bool SetString(HKEY key, const wchar_t* name, const wchar_t* value)
{
    DWORD bytes = (DWORD)((wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes) ==
           ERROR_SUCCESS;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_OvalixMediaSource))
        return CLASS_E_CLASSNOTAVAILABLE;
    CSourceFactory* factory = NewComObject<CSourceFactory>();
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow()
{
    return moduleUsers == 0 ? S_OK : S_FALSE;
}

// Under HKEY_LOCAL_MACHINE, where the frame server's account looks; the
// threading model "Both", since the frame server calls from its own threads.
STDAPI DllRegisterServer()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return SELFREG_E_CLASS;
    HKEY classes = nullptr, classKey = nullptr, serverKey = nullptr;
    bool ok = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_WRITE, &classes) ==
                  ERROR_SUCCESS &&
              RegCreateKeyExW(classes, CLASS_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &classKey,
                              nullptr) == ERROR_SUCCESS &&
              SetString(classKey, nullptr, MEDIA_SOURCE_NAME) &&
              RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &serverKey, nullptr) == ERROR_SUCCESS &&
              SetString(serverKey, nullptr, path) && SetString(serverKey, L"ThreadingModel", L"Both");
    for (HKEY key : { serverKey, classKey, classes })
        if (key)
            RegCloseKey(key);
    return ok ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer()
{
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS, &classes) !=
        ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    LSTATUS removed = RegDeleteTreeW(classes, CLASS_KEY);
    RegCloseKey(classes);
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
