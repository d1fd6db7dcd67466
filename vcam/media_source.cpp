#include "media_source.h"

#include <mferror.h>

#include <utility>

#include "block_view.h"
#include "camera_client.h"
#include "camera_media_type.h"

namespace {

// The types of the formats every consumer offers now, and the first type of
// the size to start with.
uint32_t CurrentTypes(CameraType (&types)[CAMERA_MAX_TYPES], uint32_t& firstIndex)
{
    CCameraClient client;
    FormatOffer offer;
    FormatsToOffer(client, offer);
    uint32_t n = OfferedCameraTypes(offer.formats, offer.count, types);
    if (n == 0) {
        OfferFromTable(nullptr, offer.source, 0, 0, offer);
        n = OfferedCameraTypes(offer.formats, offer.count, types);
    }
    const VideoFormat& start = offer.formats[offer.preferred];
    firstIndex = 0;
    for (uint32_t i = n; i-- > 0;)
        if (types[i].format.width == start.width && types[i].format.height == start.height)
            firstIndex = i;
    return n;
}

}  // namespace

// clang-format off
const InterfaceEntry CMediaSource::Interfaces[] = {
    { &__uuidof(IMFMediaSourceEx), InterfaceOf<CMediaSource, IMFMediaSourceEx> },
    { &__uuidof(IMFMediaSource), InterfaceOf<CMediaSource, IMFMediaSource> },
    { &__uuidof(IMFMediaEventGenerator), InterfaceOf<CMediaSource, IMFMediaEventGenerator> },
    { &__uuidof(IKsControl), InterfaceOf<CMediaSource, IKsControl> },
    { nullptr, nullptr },
};
// clang-format on

CMediaSource::CMediaSource()
    : CEventGenerator<IMFMediaSourceEx>(new CSourceCore, false), streamAnnounced(false),
      mediaFoundation(false)
{
    core->Release();  // the base holds it
}

CMediaSource::~CMediaSource()
{
    Shutdown();
    stream.Reset();
    presentation.Reset();
    streamDescriptor.Reset();
    attributes.Reset();
    events.Reset();
    if (mediaFoundation)
        MFShutdown();
}

HRESULT CMediaSource::Init()
{
    // Media Foundation stays started while the source lives, whatever the
    // application that created it does.
    if (FAILED(MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET)))
        return E_FAIL;
    mediaFoundation = true;
    CameraType types[CAMERA_MAX_TYPES];
    uint32_t first = 0;
    uint32_t count = CurrentTypes(types, first);
    IMFMediaType* mediaTypes[CAMERA_MAX_TYPES] = {};
    HRESULT hr = S_OK;
    for (uint32_t i = 0; i < count && SUCCEEDED(hr); ++i)
        hr = CreateCameraMediaType(types[i], &mediaTypes[i]);
    if (SUCCEEDED(hr))
        hr = MFCreateStreamDescriptor(0, count, mediaTypes, &streamDescriptor);
    ComPtr<IMFMediaTypeHandler> handler;
    if (SUCCEEDED(hr))
        hr = streamDescriptor->GetMediaTypeHandler(&handler);
    if (SUCCEEDED(hr))
        hr = handler->SetCurrentMediaType(mediaTypes[first]);
    for (uint32_t i = 0; i < count; ++i)
        if (mediaTypes[i] != nullptr)
            mediaTypes[i]->Release();
    IMFStreamDescriptor* descriptors[1] = {streamDescriptor.Get()};
    if (SUCCEEDED(hr))
        hr = MFCreatePresentationDescriptor(1, descriptors, &presentation);
    if (SUCCEEDED(hr))
        hr = presentation->SelectStream(0);
    if (SUCCEEDED(hr))
        hr = MFCreateEventQueue(&events);
    if (SUCCEEDED(hr))
        hr = MFCreateAttributes(&attributes, 1);
    if (SUCCEEDED(hr)) {
        CMediaStream* made = NewComObject<CMediaStream>(core);
        stream.Attach(made);
        hr = made ? made->Init(this, streamDescriptor.Get()) : E_OUTOFMEMORY;
    }
    return hr;
}

STDMETHODIMP CMediaSource::GetCharacteristics(DWORD* characteristics)
{
    if (characteristics == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(core->lock);
    *characteristics = MFMEDIASOURCE_IS_LIVE;
    return CheckAlive();
}

STDMETHODIMP CMediaSource::CreatePresentationDescriptor(IMFPresentationDescriptor** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    std::lock_guard<std::mutex> hold(core->lock);
    HRESULT hr = CheckAlive();
    return SUCCEEDED(hr) ? presentation->Clone(out) : hr;
}

STDMETHODIMP CMediaSource::Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                                 const PROPVARIANT* startPosition)
{
    if (descriptor == nullptr)
        return E_INVALIDARG;
    if (timeFormat != nullptr && !IsEqualGUID(*timeFormat, GUID_NULL))
        return MF_E_UNSUPPORTED_TIME_FORMAT;
    // A live source starts now, wherever it is asked to start.
    if (startPosition != nullptr && startPosition->vt != VT_EMPTY && startPosition->vt != VT_I8)
        return MF_E_UNSUPPORTED_TIME_FORMAT;
    std::lock_guard<std::mutex> hold(core->lock);
    HRESULT hr = CheckAlive();
    if (FAILED(hr))
        return hr;
    DWORD count = 0;
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> sd;
    if (FAILED(descriptor->GetStreamDescriptorCount(&count)) || count != 1 ||
        FAILED(descriptor->GetStreamDescriptorByIndex(0, &selected, &sd)))
        return E_INVALIDARG;
    PROPVARIANT now;
    PropVariantInit(&now);
    now.vt = VT_I8;
    now.hVal.QuadPart = MFGetSystemTime();
    bool restart = core->state != SOURCE_STOPPED;
    if (selected) {
        hr = events->QueueEventParamUnk(streamAnnounced ? MEUpdatedStream : MENewStream, GUID_NULL,
                                        S_OK, stream.Get());
        streamAnnounced = true;
        if (SUCCEEDED(hr))
            hr = Stream()->StartLocked(now, restart);
    } else {
        hr = Stream()->StopLocked();
    }
    if (SUCCEEDED(hr)) {
        core->state = selected ? SOURCE_RUNNING : SOURCE_STOPPED;
        hr = events->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, &now);
    }
    return hr;
}

STDMETHODIMP CMediaSource::Stop()
{
    std::lock_guard<std::mutex> hold(core->lock);
    HRESULT hr = CheckAlive();
    if (FAILED(hr))
        return hr;
    core->state = SOURCE_STOPPED;
    hr = Stream()->StopLocked();
    if (SUCCEEDED(hr))
        hr = events->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, nullptr);
    return hr;
}

STDMETHODIMP CMediaSource::Pause()
{
    std::lock_guard<std::mutex> hold(core->lock);
    HRESULT hr = CheckAlive();
    if (SUCCEEDED(hr) && core->state == SOURCE_STOPPED)
        hr = MF_E_INVALID_STATE_TRANSITION;
    if (SUCCEEDED(hr)) {
        core->state = SOURCE_PAUSED;
        hr = Stream()->PauseLocked();
    }
    if (SUCCEEDED(hr))
        hr = events->QueueEventParamVar(MESourcePaused, GUID_NULL, S_OK, nullptr);
    return hr;
}

STDMETHODIMP CMediaSource::Shutdown()
{
    bool started;
    ComPtr<IMFMediaEventQueue> queue;
    {
        std::lock_guard<std::mutex> hold(core->lock);
        if (core->state >= SOURCE_ENDING)
            return MF_E_SHUTDOWN;
        started = core->state != SOURCE_STOPPED;
        core->state = SOURCE_ENDING;
        queue = events;
    }
    // Outside the lock: the stream's thread may be handing out a sample, and
    // a reader may still take the stream's end.
    if (stream) {
        Stream()->Shutdown(started);
    } else {
        std::lock_guard<std::mutex> hold(core->lock);
        core->state = SOURCE_SHUT_DOWN;
    }
    if (queue)
        queue->Shutdown();
    return S_OK;
}

STDMETHODIMP CMediaSource::GetSourceAttributes(IMFAttributes** out)
{
    return HandOut(out, [this] { return attributes.Get(); });
}

STDMETHODIMP CMediaSource::GetStreamAttributes(DWORD streamId, IMFAttributes** out)
{
    return HandOut(
        out, [this] { return Stream()->Attributes(); },
        streamId == 0 ? S_OK : MF_E_INVALIDSTREAMNUMBER);
}

STDMETHODIMP CMediaSource::SetD3DManager(IUnknown*)
{
    // Samples are in system memory, which every consumer takes.
    std::lock_guard<std::mutex> hold(core->lock);
    return CheckAlive();
}
