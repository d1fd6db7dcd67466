// The capture filter's video formats, read once through a short-lived graph
// that is never run.
#include "capture_graph.h"

namespace {
// Records beyond the list's capacity are dropped, and so is a format block
// too short to hold a VIDEOINFOHEADER: nothing is read past its end.
void StoreFormatRecord(IPin*, const AM_MEDIA_TYPE* type, void* context)
{
    CFormatList* list = static_cast<CFormatList*>(context);
    if (type->formattype != FORMAT_VideoInfo)
        return;
    if (list->count >= FORMAT_LIST_RECORDS)
        return;
    if (!type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER))
        return;
    CopyMemory(&list->records[list->count], type->pbFormat, sizeof(VIDEOINFOHEADER));
    list->count++;
}
}  // namespace

void ReleaseProbeGraph(CFormatList* list)
{
    if (list->probeGraph)
        list->probeGraph->Release();
    list->probeGraph = nullptr;
    if (list->probeControl)
        list->probeControl->Release();
    list->probeControl = nullptr;
}

IBaseFilter* CreateProbeGraph(CFormatList* list)
{
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, reinterpret_cast<void**>(&list->probeGraph));
    if (SUCCEEDED(hr))
        hr = list->probeGraph->QueryInterface(IID_IMediaControl,
                                              reinterpret_cast<void**>(&list->probeControl));
    if (FAILED(hr))
        return nullptr;
    IBaseFilter* filter = nullptr;
    if (FAILED(CoCreateInstance(CLSID_OvalixCaptureFilter, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IBaseFilter, reinterpret_cast<void**>(&filter))))
        return nullptr;
    list->probeGraph->AddFilter(filter, L"Ovalix filter");
    return filter;
}

int32_t ProbeCaptureFormats()
{
    CFormatList* list = FormatList;
    if (!list)
        return E_UNEXPECTED;
    ReleaseProbeGraph(list);
    IBaseFilter* filter = CreateProbeGraph(list);
    if (!filter) {
        ReleaseProbeGraph(list);
        return -1;
    }
    IFilterGraph2* graph2 = nullptr;
    HRESULT hr =
        list->probeGraph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&graph2));
    // Only the first pin carries the video formats.
    if (SUCCEEDED(hr))
        hr = VisitFirstPinTypes(filter, StoreFormatRecord, list);
    if (graph2)
        graph2->Release();
    filter->Release();
    if (list->probeControl)
        list->probeControl->Release();
    list->probeControl = nullptr;
    if (list->probeGraph)
        list->probeGraph->Release();
    list->probeGraph = nullptr;
    return hr;
}
