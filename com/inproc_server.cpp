#include "inproc_server.h"

namespace {

HMODULE module;

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
    return GetClassObject(clsid, *inprocServer.clsid, inprocServer.create, riid, out);
}

STDAPI DllCanUnloadNow()
{
    return moduleUsers == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    HRESULT hr = RegisterInprocServer(module, inprocServer.root, inprocServer.classKey,
                                      inprocServer.name);
    if (SUCCEEDED(hr) && inprocServer.registerMore != nullptr)
        hr = inprocServer.registerMore();
    return hr;
}

STDAPI DllUnregisterServer()
{
    if (inprocServer.unregisterMore != nullptr)
        inprocServer.unregisterMore();
    return UnregisterInprocServer(inprocServer.root, inprocServer.classKey);
}
