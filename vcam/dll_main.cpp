// The in-process server of the Media Foundation camera source: class factory,
// unloading, and registration of the class under its identifier (the frame
// server creates it by that identifier; the registrar names it to Windows).
#include <windows.h>
#include <olectl.h>

#include "camera_ids.h"
#include "media_source.h"

namespace {

HMODULE module;

HRESULT CreateSource(REFIID riid, void** out)
{
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

// Under HKEY_LOCAL_MACHINE, where the frame server's account looks, whoever
// runs regsvr32.
const wchar_t CLASS_KEY[] = L"Software\\Classes\\CLSID\\{4D34993D-67BD-4538-9C88-5F514A70AB14}";

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
    return GetClassObject(clsid, CLSID_OvalixMediaSource, CreateSource, riid, out);
}

STDAPI DllCanUnloadNow()
{
    return moduleUsers == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return RegisterInprocServer(module, HKEY_LOCAL_MACHINE, CLASS_KEY, MEDIA_SOURCE_NAME);
}

STDAPI DllUnregisterServer()
{
    return UnregisterInprocServer(HKEY_LOCAL_MACHINE, CLASS_KEY);
}
