// The in-process server: how the filter is created, and its registration
// (the class under its identifier, and an entry in the video input device
// category so that capture applications list the camera).
#define NO_DSHOW_STRSAFE
#include <dshow.h>

#include "capture_filter.h"
#include "filter_ids.h"
#include "inproc_server.h"

namespace {

HRESULT CreateFilter(REFIID riid, void** out)
{
    CCaptureFilter* filter = NewComObject<CCaptureFilter>();
    if (filter == nullptr)
        return E_OUTOFMEMORY;
    HRESULT hr = static_cast<IBaseFilter*>(filter)->QueryInterface(riid, out);
    static_cast<IBaseFilter*>(filter)->Release();
    return hr;
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

HRESULT RegisterInCategory()
{
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

// Not listed in the category (a failure here) leaves nothing to remove there.
void UnregisterFromCategory()
{
    WithMapper([](IFilterMapper2* mapper) {
        return mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr,
                                        CLSID_OvalixCaptureFilter);
    });
}

}  // namespace

extern const InprocServer inprocServer = {
    &CLSID_OvalixCaptureFilter,
    CreateFilter,
    HKEY_CLASSES_ROOT,
    L"CLSID\\{5E75F4EE-128D-4972-8CD9-5B82DF38EB55}",
    FILTER_NAME,
    RegisterInCategory,
    UnregisterFromCategory,
};

