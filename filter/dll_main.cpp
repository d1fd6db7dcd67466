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

HRESULT CreateFilter(REFIID riid, void** out)
{
    CCaptureFilter* filter = NewComObject<CCaptureFilter>();
    if (filter == nullptr)
        return E_OUTOFMEMORY;
    HRESULT hr = static_cast<IBaseFilter*>(filter)->QueryInterface(riid, out);
    static_cast<IBaseFilter*>(filter)->Release();
    return hr;
}

const wchar_t CLASS_KEY[] = L"CLSID\\{5E75F4EE-128D-4972-8CD9-5B82DF38EB55}";

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
    return GetClassObject(clsid, CLSID_OvalixCaptureFilter, CreateFilter, riid, out);
}

STDAPI DllCanUnloadNow()
{
    return moduleUsers == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    HRESULT hr = RegisterInprocServer(module, HKEY_CLASSES_ROOT, CLASS_KEY, FILTER_NAME);
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
    (void)hr;   // not listed in the category: nothing to remove there
    return UnregisterInprocServer(HKEY_CLASSES_ROOT, CLASS_KEY);
}
