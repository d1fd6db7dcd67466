// The renderer variants' operations, once for VMR-9 and VMR-7.
#include "video_renderer.h"

namespace {
enum { VMR_MODE_WINDOWLESS = 2, VMR_ARMODE_LETTERBOX = 1 };
}

#define VMR_TEMPLATE template <typename Config, typename Control, const VmrVariant* Variant>
#define VMR_CLASS CVmrRenderer<Config, Control, Variant>

VMR_TEMPLATE VMR_CLASS::~CVmrRenderer()
{
    if (windowlessControl)
        windowlessControl->Release();
    windowlessControl = nullptr;
}

VMR_TEMPLATE bool VMR_CLASS::IsActive()
{
    return windowlessControl != nullptr;
}

VMR_TEMPLATE HRESULT VMR_CLASS::AddToGraph(IGraphBuilder* graph, HWND videoWindow)
{
    IBaseFilter* filter = nullptr;
    HRESULT hr = CreateAndAddFilter(&filter, graph, *Variant->filterClass, Variant->name);
    if (FAILED(hr))
        return hr;
    Config* config = nullptr;
    Control* control = nullptr;
    // The rendering mode is set before any pin of the graph is connected.
    hr = filter->QueryInterface(*Variant->configInterface, reinterpret_cast<void**>(&config));
    if (SUCCEEDED(hr))
        hr = config->SetRenderingMode(VMR_MODE_WINDOWLESS);
    if (SUCCEEDED(hr))
        hr = filter->QueryInterface(*Variant->controlInterface, reinterpret_cast<void**>(&control));
    if (SUCCEEDED(hr))
        hr = control->SetVideoClippingWindow(videoWindow);
    if (SUCCEEDED(hr))
        hr = control->SetAspectRatioMode(VMR_ARMODE_LETTERBOX);
    if (SUCCEEDED(hr)) {
        control->AddRef();
        windowlessControl = control;
    } else {
        // An unconfigured renderer left in the graph could take the stream in
        // the next render and open a window of its own: take it out again.
        graph->RemoveFilter(filter);
    }
    if (config)
        config->Release();
    if (control)
        control->Release();
    filter->Release();
    return hr;
}

VMR_TEMPLATE HRESULT VMR_CLASS::DropIfUnconnected(IGraphBuilder* graph)
{
    if (!windowlessControl)
        return S_OK;
    IBaseFilter* filter = nullptr;
    HRESULT hr =
        windowlessControl->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    if (FAILED(hr))
        return hr;
    bool removed = false;
    hr = RemoveIfUnconnected(&removed, graph, filter);
    if (removed) {
        windowlessControl->Release();
        windowlessControl = nullptr;
    }
    filter->Release();
    return hr;
}

VMR_TEMPLATE HRESULT VMR_CLASS::UpdateVideoPosition(HWND window, const RECT* destination)
{
    if (!windowlessControl)
        return S_OK;
    RECT target;
    if (destination)
        target = *destination;
    else
        GetClientRect(window, &target);
    return windowlessControl->SetVideoPosition(nullptr, &target);
}

VMR_TEMPLATE HRESULT VMR_CLASS::Repaint(HWND window, HDC dc)
{
    return windowlessControl ? windowlessControl->RepaintVideo(window, dc) : S_OK;
}

VMR_TEMPLATE HRESULT VMR_CLASS::DisplayModeChanged()
{
    return windowlessControl ? windowlessControl->DisplayModeChanged() : S_OK;
}

template class CVmrRenderer<IVMRFilterConfig9, IVMRWindowlessControl9, &VMR9_VARIANT>;
template class CVmrRenderer<IVMRFilterConfig, IVMRWindowlessControl, &VMR7_VARIANT>;
