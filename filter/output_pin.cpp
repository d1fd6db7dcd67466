#include "capture_filter.h"

#include <string.h>
#include <wchar.h>

#include "filter_ids.h"
#include "media_types.h"
#include "source_logic.h"

namespace {
typedef std::lock_guard<std::recursive_mutex> Hold;
const long MIN_BUFFERS = 3;
}

const InterfaceEntry COutputPin::Interfaces[] = {
    { &IID_IPin, InterfaceOf<COutputPin, IPin> },
    { &IID_IAMStreamConfig, InterfaceOf<COutputPin, IAMStreamConfig> },
    { &IID_IKsPropertySet, InterfaceOf<COutputPin, IKsPropertySet> },
    { nullptr, nullptr },
};

COutputPin::COutputPin(CCaptureFilter& owner)
    : filter(owner), connected(DEFAULT_VIDEO_FORMAT), formatChosen(false),
      chosen(DEFAULT_VIDEO_FORMAT)
{
}

COutputPin::~COutputPin()
{
    worker.SignalStop();
    if (allocator)
        allocator->Decommit();
    worker.Join();
}

STDMETHODIMP COutputPin::QueryInterface(REFIID riid, void** out)
{
    return QueryFromTable(this, Interfaces, riid, out);
}

STDMETHODIMP_(ULONG) COutputPin::AddRef()
{
    return static_cast<IBaseFilter&>(filter).AddRef();
}

STDMETHODIMP_(ULONG) COutputPin::Release()
{
    return static_cast<IBaseFilter&>(filter).Release();
}

uint32_t COutputPin::CurrentFormats(VideoFormat (&out)[FORMAT_MAX_ENTRIES], uint32_t& start)
{
    FormatTable table;
    uint32_t requestedWidth = 0, requestedHeight = 0;
    bool haveTable = tableReader.Attach() && tableReader.ReadFormats(table) &&
                     tableReader.ReadRequestedSize(requestedWidth, requestedHeight);
    uint32_t count = OfferedFormats(haveTable ? &table : nullptr, out);
    start = DefaultFormatIndex(out, count, requestedWidth, requestedHeight);
    if (formatChosen) {
        int found = FindFormat(out, count, chosen.width, chosen.height);
        if (found >= 0)
            start = (uint32_t)found;
    }
    return count;
}

// -- connection --

STDMETHODIMP COutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt)
{
    if (receivePin == nullptr)
        return E_POINTER;
    Hold hold(filter.Lock());
    if (peer)
        return VFW_E_ALREADY_CONNECTED;
    if (filter.State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    VideoFormat formats[FORMAT_MAX_ENTRIES];
    uint32_t start = 0;
    uint32_t count = CurrentFormats(formats, start);

    if (mt != nullptr && !IsEqualGUID(mt->formattype, GUID_NULL)) {
        // A whole type: that one or nothing, and after SetFormat only the
        // format set.
        int index = MatchMediaType(*mt, formats, count);
        if (index < 0 || (formatChosen && (uint32_t)index != start))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return TryConnect(receivePin, formats[index]);
    }
    if (mt != nullptr && ((!IsEqualGUID(mt->majortype, GUID_NULL) &&
                           !IsEqualGUID(mt->majortype, MEDIATYPE_Video)) ||
                          (!IsEqualGUID(mt->subtype, GUID_NULL) &&
                           !IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB24))))
        return VFW_E_NO_ACCEPTABLE_TYPES;

    // The chosen format alone; without a choice the default first, then the rest.
    HRESULT hr = TryConnect(receivePin, formats[start]);
    for (uint32_t i = 0; FAILED(hr) && !formatChosen && i < count; ++i)
        if (i != start)
            hr = TryConnect(receivePin, formats[i]);
    return FAILED(hr) ? VFW_E_NO_ACCEPTABLE_TYPES : S_OK;
}

HRESULT COutputPin::TryConnect(IPin* receivePin, const VideoFormat& format)
{
    AM_MEDIA_TYPE mt;
    if (!FillMediaType(mt, format))
        return E_OUTOFMEMORY;
    HRESULT hr = receivePin->ReceiveConnection(this, &mt);
    ClearMediaType(mt);
    if (FAILED(hr))
        return hr;
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> alloc;
    hr = receivePin->QueryInterface(IID_PPV_ARGS(&input));
    if (SUCCEEDED(hr))
        hr = DecideAllocator(input.Get(), DibImageSize(format.width, format.height), alloc);
    if (FAILED(hr)) {
        // Leave the peer as it was before this attempt.
        receivePin->Disconnect();
        return hr;
    }
    peer = receivePin;
    peerInput = input;
    allocator = alloc;
    connected = format;
    return S_OK;
}

HRESULT COutputPin::DecideAllocator(IMemInputPin* input, uint32_t sampleSize,
                                    ComPtr<IMemAllocator>& out)
{
    ALLOCATOR_PROPERTIES wanted;
    memset(&wanted, 0, sizeof wanted);
    input->GetAllocatorRequirements(&wanted);
    if (wanted.cBuffers < MIN_BUFFERS)
        wanted.cBuffers = MIN_BUFFERS;
    if (wanted.cbBuffer < (long)sampleSize)
        wanted.cbBuffer = (long)sampleSize;
    if (wanted.cbAlign < 1)
        wanted.cbAlign = 1;

    // The peer's allocator if it has one that takes our sizes, else our own
    // (the Sample Grabber and the video mixing renderer offer none).
    for (int attempt = 0; attempt < 2; ++attempt) {
        ComPtr<IMemAllocator> alloc;
        HRESULT hr = attempt == 0 ? input->GetAllocator(&alloc)
                                  : CoCreateInstance(CLSID_MemoryAllocator, nullptr,
                                                     CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&alloc));
        if (FAILED(hr) || !alloc)
            continue;
        ALLOCATOR_PROPERTIES actual;
        memset(&actual, 0, sizeof actual);
        if (FAILED(alloc->SetProperties(&wanted, &actual)) || actual.cbBuffer < (long)sampleSize)
            continue;
        if (FAILED(input->NotifyAllocator(alloc.Get(), FALSE)))
            continue;
        out = alloc;
        return S_OK;
    }
    return VFW_E_NO_ALLOCATOR;
}

STDMETHODIMP COutputPin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*)
{
    return E_UNEXPECTED;   // an output pin only connects out
}

void COutputPin::ReleaseConnection()
{
    allocator.Reset();
    peerInput.Reset();
    peer.Reset();
}

STDMETHODIMP COutputPin::Disconnect()
{
    Hold hold(filter.Lock());
    if (!peer)
        return S_FALSE;
    if (filter.State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    ReleaseConnection();
    return S_OK;
}

STDMETHODIMP COutputPin::ConnectedTo(IPin** pin)
{
    if (pin == nullptr)
        return E_POINTER;
    Hold hold(filter.Lock());
    *pin = peer.Get();
    if (*pin == nullptr)
        return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

STDMETHODIMP COutputPin::ConnectionMediaType(AM_MEDIA_TYPE* mt)
{
    if (mt == nullptr)
        return E_POINTER;
    Hold hold(filter.Lock());
    memset(mt, 0, sizeof *mt);
    if (!peer)
        return VFW_E_NOT_CONNECTED;
    return FillMediaType(*mt, connected) ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP COutputPin::QueryPinInfo(PIN_INFO* info)
{
    if (info == nullptr)
        return E_POINTER;
    info->pFilter = &filter;
    info->pFilter->AddRef();
    info->dir = PINDIR_OUTPUT;
    wcsncpy(info->achName, PIN_NAME, MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = 0;
    return S_OK;
}

STDMETHODIMP COutputPin::QueryDirection(PIN_DIRECTION* direction)
{
    if (direction == nullptr)
        return E_POINTER;
    *direction = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP COutputPin::QueryId(LPWSTR* id)
{
    if (id == nullptr)
        return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof PIN_NAME));
    if (*id == nullptr)
        return E_OUTOFMEMORY;
    memcpy(*id, PIN_NAME, sizeof PIN_NAME);
    return S_OK;
}

STDMETHODIMP COutputPin::QueryAccept(const AM_MEDIA_TYPE* mt)
{
    if (mt == nullptr)
        return E_POINTER;
    Hold hold(filter.Lock());
    VideoFormat formats[FORMAT_MAX_ENTRIES];
    uint32_t start = 0;
    uint32_t count = CurrentFormats(formats, start);
    return MatchMediaType(*mt, formats, count) >= 0 ? S_OK : S_FALSE;
}

STDMETHODIMP COutputPin::EnumMediaTypes(IEnumMediaTypes** out)
{
    Hold hold(filter.Lock());
    VideoFormat formats[FORMAT_MAX_ENTRIES];
    uint32_t start = 0;
    uint32_t count = CurrentFormats(formats, start);
    // After SetFormat the pin offers that format alone, so that a graph
    // manager connecting with the first enumerated type gets it.
    if (formatChosen)
        return NewMediaTypeEnumerator(this, formats + start, 1, 0, out);
    return NewMediaTypeEnumerator(this, formats, count, 0, out);
}

STDMETHODIMP COutputPin::QueryInternalConnections(IPin**, ULONG*)
{
    return E_NOTIMPL;
}

STDMETHODIMP COutputPin::EndOfStream()
{
    return E_UNEXPECTED;
}

STDMETHODIMP COutputPin::BeginFlush()
{
    return E_UNEXPECTED;
}

STDMETHODIMP COutputPin::EndFlush()
{
    return E_UNEXPECTED;
}

STDMETHODIMP COutputPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double)
{
    return S_OK;
}

// -- streaming, for the filter --

HRESULT COutputPin::Active()
{
    if (!peer)
        return S_OK;   // nothing downstream: nothing to stream
    HRESULT hr = allocator->Commit();
    if (FAILED(hr))
        return hr;
    if (!worker.Start(allocator.Get(), peerInput.Get(), connected, formatChosen)) {
        allocator->Decommit();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void COutputPin::Inactive()
{
    // Decommitting frees a worker waiting for a buffer; the filter then
    // waits for the worker to end.
    worker.SignalStop();
    if (allocator)
        allocator->Decommit();
}

// -- IAMStreamConfig --

STDMETHODIMP COutputPin::SetFormat(AM_MEDIA_TYPE* mt)
{
    IFilterGraph* graph = nullptr;
    {
        Hold hold(filter.Lock());
        if (filter.State() != State_Stopped)
            return VFW_E_NOT_STOPPED;
        if (mt == nullptr) {
            formatChosen = false;
            return S_OK;
        }
        VideoFormat formats[FORMAT_MAX_ENTRIES];
        uint32_t start = 0;
        uint32_t count = CurrentFormats(formats, start);
        int index = MatchMediaType(*mt, formats, count);
        if (index < 0)
            return VFW_E_INVALIDMEDIATYPE;
        formatChosen = true;
        chosen = formats[index];
        // The service renegotiates with the phone for the new size.
        tableReader.RequestSize(chosen.width, chosen.height);
        if (!peer || (connected.width == chosen.width && connected.height == chosen.height))
            return S_OK;
        graph = filter.Graph();
        if (graph == nullptr)
            return VFW_E_NOT_IN_GRAPH;
        graph->AddRef();
    }
    // Connected in another size: the graph connects the pin again.
    HRESULT hr = graph->Reconnect(this);
    graph->Release();
    return hr;
}

STDMETHODIMP COutputPin::GetFormat(AM_MEDIA_TYPE** mt)
{
    if (mt == nullptr)
        return E_POINTER;
    Hold hold(filter.Lock());
    VideoFormat formats[FORMAT_MAX_ENTRIES];
    uint32_t start = 0;
    CurrentFormats(formats, start);
    *mt = NewMediaType(peer ? connected : formats[start]);
    return *mt != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP COutputPin::GetNumberOfCapabilities(int* count, int* size)
{
    if (count == nullptr || size == nullptr)
        return E_POINTER;
    Hold hold(filter.Lock());
    VideoFormat formats[FORMAT_MAX_ENTRIES];
    uint32_t start = 0;
    *count = (int)CurrentFormats(formats, start);
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

STDMETHODIMP COutputPin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps)
{
    if (mt == nullptr || caps == nullptr)
        return E_POINTER;
    Hold hold(filter.Lock());
    VideoFormat formats[FORMAT_MAX_ENTRIES];
    uint32_t start = 0;
    uint32_t count = CurrentFormats(formats, start);
    if (index < 0 || (uint32_t)index >= count)
        return S_FALSE;
    *mt = NewMediaType(formats[index]);
    if (*mt == nullptr)
        return E_OUTOFMEMORY;
    FillStreamCaps(*reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps), formats[index]);
    return S_OK;
}

// -- IKsPropertySet: the pin category, which capture applications ask for --

STDMETHODIMP COutputPin::Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP COutputPin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD dataSize,
                             DWORD* returned)
{
    if (!IsEqualGUID(set, AMPROPSETID_Pin))
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (data == nullptr && returned == nullptr)
        return E_POINTER;
    if (returned != nullptr)
        *returned = sizeof(GUID);
    if (data == nullptr)
        return S_OK;
    if (dataSize < sizeof(GUID))
        return E_UNEXPECTED;
    *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
    return S_OK;
}

STDMETHODIMP COutputPin::QuerySupported(REFGUID set, DWORD id, DWORD* support)
{
    if (!IsEqualGUID(set, AMPROPSETID_Pin))
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (support != nullptr)
        *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}
