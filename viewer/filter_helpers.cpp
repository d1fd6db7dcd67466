// Adding filters to a graph and taking them out again when no stream
// reached them; used for the video renderers and the audio renderer alike.
#include "video_renderer.h"

HRESULT CreateAndAddFilter(IBaseFilter** out, IGraphBuilder* graph, REFCLSID filterClass,
                           LPCWSTR name)
{
    *out = nullptr;
    IBaseFilter* filter = nullptr;
    HRESULT hr = CoCreateInstance(filterClass, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(&filter));
    if (FAILED(hr))
        return hr;
    hr = graph->AddFilter(filter, name);
    if (FAILED(hr)) {
        filter->Release();
        return hr;
    }
    // The creation reference becomes the caller's.
    *out = filter;
    return hr;
}

HRESULT FindConnectedInputPin(IBaseFilter* filter, IPin** out)
{
    *out = nullptr;
    IEnumPins* pins = nullptr;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    IPin* found = nullptr;
    IPin* pin = nullptr;
    while (!found && pins->Next(1, &pin, nullptr) == S_OK && pin) {
        IPin* peer = nullptr;
        hr = pin->ConnectedTo(&peer);
        if (peer)
            peer->Release();
        bool stop = FAILED(hr) && hr != VFW_E_NOT_CONNECTED;
        if (SUCCEEDED(hr)) {
            PIN_DIRECTION direction = PINDIR_OUTPUT;
            if (FAILED(pin->QueryDirection(&direction))) {
                stop = true;
            } else if (direction == PINDIR_INPUT) {
                found = pin;
                pin = nullptr;
            }
        }
        if (pin)
            pin->Release();
        pin = nullptr;
        if (stop)
            break;
    }
    pins->Release();
    if (!found)
        return VFW_E_NOT_FOUND;
    *out = found;
    return S_OK;
}

HRESULT RemoveIfUnconnected(bool* removed, IGraphBuilder* graph, IBaseFilter* filter)
{
    *removed = false;
    IPin* pin = nullptr;
    HRESULT hr = FindConnectedInputPin(filter, &pin);
    if (pin)
        pin->Release();
    if (SUCCEEDED(hr))
        return hr;
    hr = graph->RemoveFilter(filter);
    // Counted as removed even when the graph refused, so the caller lets go of
    // everything it holds for that filter.
    *removed = true;
    return hr;
}
