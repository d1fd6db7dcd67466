// The in-process server: class factory, unloading, and registration (the
// class under its identifier, and an entry in the video input device
// category so that capture applications list the camera).
#define NO_DSHOW_STRSAFE
#include <dshow.h>
#include <olectl.h>

#include "capture_filter.h"
#include "filter_ids.h"

namespace {

HMODULE module;

class CClassFactory : public IClassFactory {
public:
    static const InterfaceEntry Interfaces[];
    virtual ~CClassFactory() {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        CCaptureFilter* filter = NewComObject<CCaptureFilter>();
        if (filter == nullptr)
            return E_OUTOFMEMORY;
        HRESULT hr = static_cast<IBaseFilter*>(filter)->QueryInterface(riid, out);
        static_cast<IBaseFilter*>(filter)->Release();
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

const InterfaceEntry CClassFactory::Interfaces[] = {
    { &IID_IClassFactory, InterfaceOf<CClassFactory, IClassFactory> },
    { nullptr, nullptr },
};

const wchar_t CLASS_KEY[] = L"CLSID\\{5E75F4EE-128D-4972-8CD9-5B82DF38EB55}";

bool SetString(HKEY key, const wchar_t* name, const wchar_t* value)
{
    DWORD bytes = (DWORD)((wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes) ==
           ERROR_SUCCESS;
}

HRESULT RegisterClass()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return SELFREG_E_CLASS;
    HKEY classKey = nullptr, serverKey = nullptr;
    bool ok = RegCreateKeyExW(HKEY_CLASSES_ROOT, CLASS_KEY, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &classKey, nullptr) == ERROR_SUCCESS &&
              SetString(classKey, nullptr, FILTER_NAME) &&
              RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &serverKey, nullptr) == ERROR_SUCCESS &&
              SetString(serverKey, nullptr, path) && SetString(serverKey, L"ThreadingModel", L"Both");
    if (serverKey)
        RegCloseKey(serverKey);
    if (classKey)
        RegCloseKey(classKey);
    return ok ? S_OK : SELFREG_E_CLASS;
}

// Runs f with COM and the filter mapper; COM is left as the caller had it.
template <class F>
HRESULT WithMapper(F f)
{
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr;
    {
        ComPtr<IFilterMapper2> mapper;
        hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&mapper));
        if (SUCCEEDED(hr))
            hr = f(mapper.Get());
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return hr;
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
    if (!IsEqualCLSID(clsid, CLSID_OvalixCaptureFilter))
        return CLASS_E_CLASSNOTAVAILABLE;
    CClassFactory* factory = NewComObject<CClassFactory>();
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

STDAPI DllRegisterServer()
{
    HRESULT hr = RegisterClass();
    if (FAILED(hr))
        return hr;
    return WithMapper([](IFilterMapper2* mapper) {
        REGPINTYPES type = { &MEDIATYPE_Video, &MEDIASUBTYPE_RGB24 };
        REGFILTERPINS2 pin;
        memset(&pin, 0, sizeof pin);
        pin.dwFlags = REG_PINFLAG_B_OUTPUT;
        pin.cInstances = 1;
        pin.nMediaTypes = 1;
        pin.lpMediaType = &type;
        pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
        REGFILTER2 filter;
        memset(&filter, 0, sizeof filter);
        filter.dwVersion = 2;
        filter.dwMerit = MERIT_DO_NOT_USE;
        filter.cPins2 = 1;
        filter.rgPins2 = &pin;
        return mapper->RegisterFilter(CLSID_OvalixCaptureFilter, FRIENDLY_NAME, nullptr,
                                      &CLSID_VideoInputDeviceCategory, nullptr, &filter);
    });
}

STDAPI DllUnregisterServer()
{
    // Both parts go, whichever of them is missing.
    HRESULT hr = WithMapper([](IFilterMapper2* mapper) {
        return mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr,
                                        CLSID_OvalixCaptureFilter);
    });
    LSTATUS removed = RegDeleteTreeW(HKEY_CLASSES_ROOT, CLASS_KEY);
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
        return SELFREG_E_CLASS;
    (void)hr;   // not listed in the category: nothing to remove there
    return S_OK;
}
