// The playback graph: build, run, stop, release, and its events.
#include "capture_graph.h"

#include <new>

// {5E75F4EE-128D-4972-8CD9-5B82DF38EB55}
const CLSID CLSID_OvalixCaptureFilter = {
    0x5e75f4ee, 0x128d, 0x4972, {0x8c, 0xd9, 0x5b, 0x82, 0xdf, 0x38, 0xeb, 0x55}
};

CFormatList* FormatList = nullptr;
CCaptureGraph* CaptureGraph = nullptr;
HWND MainWindow = nullptr;

namespace {
const UINT GRAPH_EVENT_MESSAGE = 0x8001;
const LONG_PTR GRAPH_EVENT_INSTANCE = 0;

// A media type whose format block holds a whole VIDEOINFOHEADER; a shorter
// block is never read.
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE* type)
{
    if (type->formattype != FORMAT_VideoInfo || !type->pbFormat ||
        type->cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
}

struct ChosenSize {
    int32_t width, height;
};

void ApplyMatchingFormat(IPin* pin, const AM_MEDIA_TYPE* type, void* context)
{
    const ChosenSize* size = static_cast<const ChosenSize*>(context);
    const VIDEOINFOHEADER* info = VideoInfoOf(type);
    if (!info || info->bmiHeader.biWidth != size->width || info->bmiHeader.biHeight != size->height)
        return;
    IAMStreamConfig* config = nullptr;
    if (FAILED(pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config))))
        return;
    config->SetFormat(const_cast<AM_MEDIA_TYPE*>(type));
    config->Release();
}

// Every media type of the filter's first pin that has the chosen size is
// applied in the filter's order; the last one stays in force. Failures here
// leave the filter in its own default format.
void SelectCaptureFormat(IGraphBuilder* graph, IBaseFilter* filter, int32_t width, int32_t height)
{
    IFilterGraph2* graph2 = nullptr;
    if (FAILED(graph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&graph2))))
        return;
    ChosenSize size = {width, height};
    VisitFirstPinTypes(filter, ApplyMatchingFormat, &size);
    graph2->Release();
}

CVideoRenderer* NewVMR9()
{
    return new (std::nothrow) CVMR9;
}
CVideoRenderer* NewVMR7()
{
    return new (std::nothrow) CVMR7;
}
}  // namespace

void FreeMediaType(AM_MEDIA_TYPE* type)
{
    if (!type)
        return;
    if (type->cbFormat != 0) {
        CoTaskMemFree(type->pbFormat);
        type->cbFormat = 0;
        type->pbFormat = nullptr;
    }
    if (type->pUnk) {
        type->pUnk->Release();
        type->pUnk = nullptr;
    }
    CoTaskMemFree(type);
}

HRESULT VisitFirstPinTypes(IBaseFilter* filter,
                           void (*visit)(IPin* pin, const AM_MEDIA_TYPE* type, void* context),
                           void* context)
{
    IEnumPins* pins = nullptr;
    IPin* pin = nullptr;
    IEnumMediaTypes* types = nullptr;
    HRESULT hr = filter->EnumPins(&pins);
    if (SUCCEEDED(hr) && pins->Next(1, &pin, nullptr) == S_OK && pin &&
        pin->EnumMediaTypes(&types) == S_OK) {
        AM_MEDIA_TYPE* type = nullptr;
        while (types->Next(1, &type, nullptr) == S_OK && type) {
            visit(pin, type, context);
            FreeMediaType(type);
            type = nullptr;
        }
    }
    if (types)
        types->Release();
    if (pin)
        pin->Release();
    if (pins)
        pins->Release();
    return hr;
}

HRESULT CreateVideoRenderer(CCaptureGraph* graph)
{
    static CVideoRenderer* (*const variants[])() = {NewVMR9, NewVMR7};
    HRESULT hr = E_FAIL;
    for (auto newVariant : variants) {
        graph->renderer = newVariant();
        if (!graph->renderer)
            return E_OUTOFMEMORY;
        hr = graph->renderer->AddToGraph(graph->graph, graph->videoWindow);
        if (SUCCEEDED(hr))
            return hr;
        delete graph->renderer;
        graph->renderer = nullptr;
    }
    return hr;
}

HRESULT RenderCaptureFilter(CCaptureGraph* graph, IBaseFilter* filter)
{
    IFilterGraph2* graph2 = nullptr;
    IBaseFilter* audio = nullptr;
    IEnumPins* pins = nullptr;
    bool rendered = false;
    HRESULT hr = graph->graph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&graph2));
    if (SUCCEEDED(hr))
        hr = CreateVideoRenderer(graph);
    if (SUCCEEDED(hr))
        hr = CreateAndAddFilter(&audio, graph->graph, CLSID_DSoundRender, L"Audio Renderer");
    if (SUCCEEDED(hr))
        hr = filter->EnumPins(&pins);
    if (SUCCEEDED(hr)) {
        // Each stream may only end in a renderer already in the graph.
        IPin* pin = nullptr;
        while (pins->Next(1, &pin, nullptr) == S_OK && pin) {
            if (SUCCEEDED(graph2->RenderEx(pin, AM_RENDEREX_RENDERTOEXISTINGRENDERERS, nullptr)))
                rendered = true;
            pin->Release();
            pin = nullptr;
        }
    }
    if (SUCCEEDED(hr))
        hr = graph->renderer->DropIfUnconnected(graph->graph);
    if (SUCCEEDED(hr)) {
        bool removed = false;
        hr = RemoveIfUnconnected(&removed, graph->graph, audio);
    }
    if (pins)
        pins->Release();
    if (audio)
        audio->Release();
    if (graph2)
        graph2->Release();
    if (SUCCEEDED(hr) && !rendered)
        hr = VFW_E_CANNOT_RENDER;
    return hr;
}

HRESULT CreateGraph(CCaptureGraph* graph)
{
    ReleaseGraph(graph);
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, reinterpret_cast<void**>(&graph->graph));
    if (FAILED(hr))
        return hr;
    hr = graph->graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&graph->control));
    if (FAILED(hr))
        return hr;
    hr = graph->graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&graph->events));
    if (FAILED(hr))
        return hr;
    hr = graph->events->SetNotifyWindow(reinterpret_cast<OAHWND>(MainWindow), GRAPH_EVENT_MESSAGE,
                                        GRAPH_EVENT_INSTANCE);
    if (SUCCEEDED(hr))
        graph->state = GRAPH_STOPPED;
    return hr;
}

HRESULT BuildCaptureGraph(int32_t width, int32_t height)
{
    CCaptureGraph* graph = CaptureGraph;
    if (!graph)
        return E_UNEXPECTED;
    HRESULT hr = CreateGraph(graph);
    if (FAILED(hr)) {
        ReleaseGraph(graph);
        return hr;
    }
    IBaseFilter* filter = nullptr;
    hr = CoCreateInstance(CLSID_OvalixCaptureFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(&filter));
    if (FAILED(hr)) {
        ReleaseGraph(graph);
        return hr;
    }
    hr = graph->graph->AddFilter(filter, L"Ovalix filter");
    if (FAILED(hr)) {
        ReleaseGraph(graph);
        filter->Release();
        return hr;
    }
    SelectCaptureFormat(graph->graph, filter, width, height);
    hr = RenderCaptureFilter(graph, filter);
    if (FAILED(hr))
        ReleaseGraph(graph);
    filter->Release();
    return hr;
}

HRESULT RunGraph()
{
    CCaptureGraph* graph = CaptureGraph;
    if (!graph)
        return E_UNEXPECTED;
    if (graph->state != GRAPH_STOPPED && graph->state != GRAPH_PAUSED)
        return VFW_E_WRONG_STATE;
    HRESULT hr = graph->control->Run();
    if (SUCCEEDED(hr))
        graph->state = GRAPH_RUNNING;
    return hr;
}

HRESULT StopGraph()
{
    CCaptureGraph* graph = CaptureGraph;
    if (!graph)
        return E_UNEXPECTED;
    if (graph->state != GRAPH_RUNNING && graph->state != GRAPH_PAUSED)
        return VFW_E_WRONG_STATE;
    HRESULT hr = graph->control->Stop();
    if (SUCCEEDED(hr))
        graph->state = GRAPH_STOPPED;
    return hr;
}

void ReleaseGraph(CCaptureGraph* graph)
{
    if (graph->events)
        graph->events->SetNotifyWindow(0, 0, 0);
    if (graph->graph)
        graph->graph->Release();
    graph->graph = nullptr;
    if (graph->control)
        graph->control->Release();
    graph->control = nullptr;
    if (graph->events)
        graph->events->Release();
    graph->events = nullptr;
    delete graph->renderer;
    graph->renderer = nullptr;
    graph->state = GRAPH_CLOSED;
}

HRESULT HandleGraphEvents()
{
    CCaptureGraph* graph = CaptureGraph;
    if (!graph || !graph->events)
        return E_UNEXPECTED;
    HRESULT hr = S_OK;
    long code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    while (SUCCEEDED(graph->events->GetEvent(&code, &param1, &param2, 0))) {
        if (code == EC_COMPLETE || code == EC_USERABORT || code == EC_ERRORABORT)
            StopGraph();
        hr = graph->events->FreeEventParams(code, param1, param2);
        if (FAILED(hr))
            return hr;
    }
    return hr;
}
