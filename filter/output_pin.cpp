#include "capture_filter.h"

#include <string.h>
#include <wchar.h>

#include "filter_ids.h"
#include "media_types.h"
#include "video_formats.h"

namespace {
typedef std::lock_guard<std::recursive_mutex> Hold;
const long MIN_BUFFERS = 3;
}  // namespace

// clang-format off
const InterfaceEntry COutputPin::Interfaces[] = {
    { &IID_IPin, InterfaceOf<COutputPin, IPin> },
    { &IID_IAMStreamConfig, InterfaceOf<COutputPin, IAMStreamConfig> },
    { &IID_IKsPropertySet, InterfaceOf<COutputPin, IKsPropertySet> },
    { nullptr, nullptr },
};
// clang-format on

COutputPin::COutputPin(CCaptureFilter& owner)
    : filter(owner), typesTaken(false), typeCount(0), previewCount(0), formatChosen(false)
{
    memset(&defaultChoice, 0, sizeof defaultChoice);
    connected = chosen = defaultChoice;
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

void COutputPin::RenewTypes()
{
    if (typesTaken && (peer || filter.State() != State_Stopped))
        return;
    FormatOffer offer;
    FormatsToOffer(tableReader, offer);
    const VideoFormat* formats = offer.formats;
    uint32_t count = offer.count;
    typeCount = BuildStreamTypes(formats, count, types);
    previewCount = PreviewTypes(types, typeCount, previews);
    uint32_t start = offer.preferred;
    uint32_t width = 0, height = 0;
    SamplePictureSize(DEFAULT_KIND, formats[start].width, formats[start].height, width, height);
    int found = FindStreamType(types, typeCount, DEFAULT_KIND, width, height, 0);
    defaultChoice.type = types[found >= 0 ? found : 0];
    defaultChoice.frameDuration = MinFrameDuration(defaultChoice.type);
    typesTaken = true;
}

void COutputPin::EnsureTypes()
{
    if (!typesTaken)
        RenewTypes();
}

// -- connection --

namespace {
bool SameStream(const StreamChoice& a, const StreamChoice& b)
{
    return a.type.kind == b.type.kind && a.type.width == b.type.width &&
           a.type.height == b.type.height && a.type.entry.width == b.type.entry.width &&
           a.type.entry.height == b.type.entry.height && a.frameDuration == b.frameDuration;
}

// A partial type from the peer: the kinds it leaves open.
bool KindAllowed(const AM_MEDIA_TYPE* mt, const StreamType& type)
{
    return mt == nullptr || IsEqualGUID(mt->subtype, GUID_NULL) ||
           IsEqualGUID(mt->subtype, KindSubtype(type.kind));
}
}  // namespace

STDMETHODIMP COutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt)
{
    if (receivePin == nullptr)
        return E_POINTER;
    Hold hold(filter.Lock());
    if (peer)
        return VFW_E_ALREADY_CONNECTED;
    if (filter.State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    EnsureTypes();

    if (mt != nullptr && !IsEqualGUID(mt->formattype, GUID_NULL)) {
        // A whole type: that one or nothing, and after SetFormat only the
        // type set.
        StreamChoice choice;
        int index = MatchMediaType(*mt, types, typeCount, choice.frameDuration);
        if (index < 0)
            return VFW_E_TYPE_NOT_ACCEPTED;
        choice.type = types[index];
        if (formatChosen && !SameStream(choice, chosen))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return TryConnect(receivePin, choice);
    }
    if (mt != nullptr && !IsEqualGUID(mt->majortype, GUID_NULL) &&
        !IsEqualGUID(mt->majortype, MEDIATYPE_Video))
        return VFW_E_NO_ACCEPTABLE_TYPES;

    // The chosen type alone. Without a choice the default first, then the
    // other kinds of the default's entry, then every other type.
    if (formatChosen)
        return KindAllowed(mt, chosen.type) && SUCCEEDED(TryConnect(receivePin, chosen))
                   ? S_OK
                   : VFW_E_NO_ACCEPTABLE_TYPES;
    HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
    if (KindAllowed(mt, defaultChoice.type))
        hr = TryConnect(receivePin, defaultChoice);
    for (int pass = 0; pass < 2 && FAILED(hr); ++pass)
        for (uint32_t i = 0; i < typeCount && FAILED(hr); ++i) {
            const StreamType& t = types[i];
            bool sameEntry = t.entry.width == defaultChoice.type.entry.width &&
                             t.entry.height == defaultChoice.type.entry.height &&
                             t.entry.fps == defaultChoice.type.entry.fps;
            if (sameEntry != (pass == 0) || !KindAllowed(mt, t) ||
                (sameEntry && t.kind == defaultChoice.type.kind))
                continue;
            StreamChoice choice = {t, MinFrameDuration(t)};
            hr = TryConnect(receivePin, choice);
        }
    return FAILED(hr) ? VFW_E_NO_ACCEPTABLE_TYPES : S_OK;
}

HRESULT COutputPin::TryConnect(IPin* receivePin, const StreamChoice& choice)
{
    AM_MEDIA_TYPE mt;
    if (!FillMediaType(mt, choice))
        return E_OUTOFMEMORY;
    HRESULT hr = receivePin->ReceiveConnection(this, &mt);
    ClearMediaType(mt);
    if (FAILED(hr))
        return hr;
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> alloc;
    hr = receivePin->QueryInterface(IID_PPV_ARGS(&input));
    if (SUCCEEDED(hr))
        hr = DecideAllocator(
            input.Get(), SampleImageSize(choice.type.kind, choice.type.width, choice.type.height),
            alloc);
    if (FAILED(hr)) {
        // Leave the peer as it was before this attempt.
        receivePin->Disconnect();
        return hr;
    }
    peer = receivePin;
    peerInput = input;
    allocator = alloc;
    connected = choice;
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
    return E_UNEXPECTED;  // an output pin only connects out
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
    EnsureTypes();
    StreamChoice choice;
    int index = MatchMediaType(*mt, types, typeCount, choice.frameDuration);
    if (index < 0)
        return S_FALSE;
    choice.type = types[index];
    // The worker streams one type from start to stop.
    return !peer || SameStream(choice, connected) ? S_OK : S_FALSE;
}

STDMETHODIMP COutputPin::EnumMediaTypes(IEnumMediaTypes** out)
{
    Hold hold(filter.Lock());
    RenewTypes();
    // Connected, the pin offers the connected type alone (a filter
    // downstream proposes what this pin enumerates). After SetFormat it
    // offers that type alone, so that a graph manager connecting with the
    // first enumerated type gets it. Otherwise one type per size: a program
    // that lists them, or steps through them, meets every size once.
    if (peer)
        return NewMediaTypeEnumerator(this, &connected, 1, 0, out);
    if (formatChosen)
        return NewMediaTypeEnumerator(this, &chosen, 1, 0, out);
    StreamChoice choices[STREAM_TYPE_MAX];
    for (uint32_t i = 0; i < previewCount; ++i)
        choices[i] = {previews[i], MinFrameDuration(previews[i])};
    return NewMediaTypeEnumerator(this, choices, previewCount, 0, out);
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
        return S_OK;  // nothing downstream: nothing to stream
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
        EnsureTypes();
        StreamChoice choice;
        int index = MatchMediaType(*mt, types, typeCount, choice.frameDuration);
        if (index < 0)
            return VFW_E_INVALIDMEDIATYPE;
        choice.type = types[index];
        formatChosen = true;
        chosen = choice;
        if (!peer || SameStream(connected, chosen))
            return S_OK;
        graph = filter.Graph();
        if (graph == nullptr)
            return VFW_E_NOT_IN_GRAPH;
        graph->AddRef();
    }
    // Connected with another type: the graph connects the pin again.
    HRESULT hr = graph->Reconnect(this);
    graph->Release();
    return hr;
}

STDMETHODIMP COutputPin::GetFormat(AM_MEDIA_TYPE** mt)
{
    if (mt == nullptr)
        return E_POINTER;
    Hold hold(filter.Lock());
    EnsureTypes();
    *mt = NewMediaType(peer ? connected : formatChosen ? chosen : defaultChoice);
    return *mt != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP COutputPin::GetNumberOfCapabilities(int* count, int* size)
{
    if (count == nullptr || size == nullptr)
        return E_POINTER;
    Hold hold(filter.Lock());
    RenewTypes();
    *count = (int)typeCount;
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

STDMETHODIMP COutputPin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps)
{
    if (mt != nullptr)
        *mt = nullptr;
    if (mt == nullptr || caps == nullptr)
        return E_POINTER;
    Hold hold(filter.Lock());
    EnsureTypes();
    // An index past the count is an error, not S_FALSE: programs that test
    // only for success then never use the untouched output.
    if (index < 0 || (uint32_t)index >= typeCount)
        return E_INVALIDARG;
    const StreamType& t = types[index];
    StreamChoice choice = {t, MinFrameDuration(t)};
    *mt = NewMediaType(choice);
    if (*mt == nullptr)
        return E_OUTOFMEMORY;
    FillStreamCaps(*reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps), t);
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
