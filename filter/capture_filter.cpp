#include "capture_filter.h"

#include <string.h>
#include <wchar.h>

#include "filter_ids.h"

const InterfaceEntry CCaptureFilter::Interfaces[] = {
    { &IID_IBaseFilter, InterfaceOf<CCaptureFilter, IBaseFilter> },
    { &IID_IMediaFilter, InterfaceOf<CCaptureFilter, IBaseFilter> },
    { &IID_IPersist, InterfaceOf<CCaptureFilter, IBaseFilter> },
    { &IID_IAMFilterMiscFlags, InterfaceOf<CCaptureFilter, IAMFilterMiscFlags> },
    { &IID_IOvalixSourceStats, InterfaceOf<CCaptureFilter, IOvalixSourceStats> },
    { nullptr, nullptr },
};

CCaptureFilter::CCaptureFilter() : state(State_Stopped), graph(nullptr), pin(*this)
{
    name[0] = 0;
}

CCaptureFilter::~CCaptureFilter()
{
    // A host may let go of a filter it never stopped: the pin's worker ends
    // with it either way.
    Stop();
}

STDMETHODIMP CCaptureFilter::GetClassID(CLSID* id)
{
    if (id == nullptr)
        return E_POINTER;
    *id = CLSID_OvalixCaptureFilter;
    return S_OK;
}

STDMETHODIMP CCaptureFilter::Stop()
{
    bool wasActive;
    {
        std::lock_guard<std::recursive_mutex> hold(lock);
        wasActive = state != State_Stopped;
        if (wasActive)
            pin.Inactive();
        state = State_Stopped;
    }
    // Waited for without the lock: a downstream filter may call back into
    // the pin from the sample the worker is delivering. The graph manager
    // makes no other state change meanwhile.
    if (wasActive)
        pin.Worker().Join();
    return S_OK;
}

STDMETHODIMP CCaptureFilter::Pause()
{
    std::lock_guard<std::recursive_mutex> hold(lock);
    if (state == State_Stopped) {
        HRESULT hr = pin.Active();
        if (FAILED(hr))
            return hr;
    }
    pin.Worker().SetRunning(false, 0);
    state = State_Paused;
    return S_OK;
}

STDMETHODIMP CCaptureFilter::Run(REFERENCE_TIME start)
{
    std::lock_guard<std::recursive_mutex> hold(lock);
    if (state == State_Stopped) {
        HRESULT hr = pin.Active();
        if (FAILED(hr))
            return hr;
    }
    pin.Worker().SetRunning(true, start);
    state = State_Running;
    return S_OK;
}

STDMETHODIMP CCaptureFilter::GetState(DWORD, FILTER_STATE* out)
{
    if (out == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock);
    *out = state;
    // A live source has nothing to show in pause.
    return state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP CCaptureFilter::SetSyncSource(IReferenceClock* c)
{
    std::lock_guard<std::recursive_mutex> hold(lock);
    clock = c;
    pin.Worker().SetClock(c);
    return S_OK;
}

STDMETHODIMP CCaptureFilter::GetSyncSource(IReferenceClock** out)
{
    if (out == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock);
    *out = clock.Get();
    if (*out != nullptr)
        (*out)->AddRef();
    return S_OK;
}

STDMETHODIMP CCaptureFilter::EnumPins(IEnumPins** out)
{
    return NewPinEnumerator(this, &pin, 0, out);
}

STDMETHODIMP CCaptureFilter::FindPin(LPCWSTR id, IPin** out)
{
    if (id == nullptr || out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (wcscmp(id, PIN_NAME) != 0)
        return VFW_E_NOT_FOUND;
    *out = &pin;
    pin.AddRef();
    return S_OK;
}

STDMETHODIMP CCaptureFilter::QueryFilterInfo(FILTER_INFO* info)
{
    if (info == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock);
    wcsncpy(info->achName, name, MAX_FILTER_NAME - 1);
    info->achName[MAX_FILTER_NAME - 1] = 0;
    info->pGraph = graph;
    if (graph != nullptr)
        graph->AddRef();
    return S_OK;
}

STDMETHODIMP CCaptureFilter::JoinFilterGraph(IFilterGraph* g, LPCWSTR n)
{
    std::lock_guard<std::recursive_mutex> hold(lock);
    graph = g;
    name[0] = 0;
    if (n != nullptr) {
        wcsncpy(name, n, MAX_FILTER_NAME - 1);
        name[MAX_FILTER_NAME - 1] = 0;
    }
    return S_OK;
}

STDMETHODIMP CCaptureFilter::QueryVendorInfo(LPWSTR*)
{
    return E_NOTIMPL;
}

STDMETHODIMP_(ULONG) CCaptureFilter::GetMiscFlags()
{
    return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}

STDMETHODIMP CCaptureFilter::GetStats(SourceStats* out)
{
    if (out == nullptr)
        return E_POINTER;
    pin.Worker().ReadStats(*out);
    return S_OK;
}
