#include "media_stream.h"

#include <mferror.h>
#include <string.h>

#include <chrono>
#include <new>

#include "camera_ids.h"
#include "camera_media_type.h"

namespace {

// How long the thread waits on the feed before it looks at its state again;
// Stop and Shutdown wake it at once through the feed's Cancel.
const uint32_t FEED_WAIT_MS = 200;
// How long Shutdown waits for a reader to come back for the stream's end, and
// how long for a reader that has asked for it to take it.
const uint32_t END_OF_STREAM_ASK_MS = 200;
const uint32_t END_OF_STREAM_TAKE_MS = 5000;

bool SameType(const CameraType& a, const CameraType& b)
{
    return a.subtype == b.subtype && a.format.width == b.format.width &&
           a.format.height == b.format.height && a.format.fps == b.format.fps;
}

}  // namespace

// clang-format off
const InterfaceEntry CMediaStream::Interfaces[] = {
    { &__uuidof(IMFMediaStream2), InterfaceOf<CMediaStream, IMFMediaStream2> },
    { &__uuidof(IMFMediaStream), InterfaceOf<CMediaStream, IMFMediaStream> },
    { &__uuidof(IMFMediaEventGenerator), InterfaceOf<CMediaStream, IMFMediaEventGenerator> },
    { &__uuidof(IKsControl), InterfaceOf<CMediaStream, IKsControl> },
    { nullptr, nullptr },
};
// clang-format on

CMediaStream::CMediaStream(CSourceCore* shared)
    : CEventGenerator<IMFMediaStream2>(shared, true), endTaken(false), activeChanged(true),
      frame(new (std::nothrow) CameraFrame)
{
    active.subtype = CAMERA_NV12;
    active.format = DEFAULT_VIDEO_FORMAT;
}

CMediaStream::~CMediaStream()
{
    EndThread();
    delete frame;
}

HRESULT CMediaStream::Init(IMFMediaSource* src, IMFStreamDescriptor* sd)
{
    std::lock_guard<std::mutex> hold(core->lock);
    source = src;
    descriptor = sd;
    HRESULT hr = MFCreateEventQueue(&events);
    if (SUCCEEDED(hr))
        hr = MFCreateAttributes(&attributes, 4);
    // What the frame server reads of a camera stream: a colour capture
    // stream, id 0, that several applications may share.
    for (IMFAttributes* a : {attributes.Get(), static_cast<IMFAttributes*>(sd)}) {
        if (SUCCEEDED(hr))
            hr = a->SetGUID(OVX_MF_DEVICESTREAM_STREAM_CATEGORY, OVX_PINNAME_VIDEO_CAPTURE);
        if (SUCCEEDED(hr))
            hr = a->SetUINT32(OVX_MF_DEVICESTREAM_STREAM_ID, 0);
        if (SUCCEEDED(hr))
            hr = a->SetUINT32(OVX_MF_DEVICESTREAM_FRAMESERVER_SHARED, 1);
        if (SUCCEEDED(hr))
            hr = a->SetUINT32(OVX_MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES,
                              OVX_MFFrameSourceTypes_Color);
    }
    // The converter's scratch sized for the largest picture here, once.
    CameraType largest = {
        CAMERA_RGB32, {CAMERA_MAX_WIDTH, CAMERA_MAX_HEIGHT, 0}
    };
    if (SUCCEEDED(hr) && (!converter.Start(CameraPicture(largest)) || frame == nullptr))
        hr = E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) {
        thread = std::thread(&CMediaStream::Run, this);
    }
    return hr;
}

HRESULT CMediaStream::ReadCurrentType(CameraType& out)
{
    ComPtr<IMFMediaTypeHandler> handler;
    ComPtr<IMFMediaType> current;
    HRESULT hr = descriptor->GetMediaTypeHandler(&handler);
    if (SUCCEEDED(hr))
        hr = handler->GetCurrentMediaType(&current);
    if (SUCCEEDED(hr) && !ReadCameraMediaType(current.Get(), out))
        hr = MF_E_INVALIDMEDIATYPE;
    return hr;
}

HRESULT CMediaStream::StartLocked(const PROPVARIANT& startTime, bool restart)
{
    CameraType type;
    HRESULT hr = ReadCurrentType(type);
    if (FAILED(hr))
        return hr;
    if (restart || !SameType(type, active)) {
        active = type;
        activeChanged = true;
    }
    feed.Resume();
    core->wake.notify_all();
    return events->QueueEventParamVar(MEStreamStarted, GUID_NULL, S_OK, &startTime);
}

HRESULT CMediaStream::StopLocked()
{
    // A stopped stream forgets its requests, and starts afresh.
    requests.clear();
    activeChanged = true;
    feed.Cancel();
    return events->QueueEventParamVar(MEStreamStopped, GUID_NULL, S_OK, nullptr);
}

HRESULT CMediaStream::PauseLocked()
{
    feed.Cancel();
    return events->QueueEventParamVar(MEStreamPaused, GUID_NULL, S_OK, nullptr);
}

// Ends the thread, which finishes the sample it is making and sees the state.
void CMediaStream::EndThread()
{
    {
        std::lock_guard<std::mutex> hold(core->lock);
        if (core->state < SOURCE_ENDING)
            core->state = SOURCE_ENDING;
        feed.Cancel();
    }
    core->wake.notify_all();
    if (thread.joinable())
        thread.join();
}

void CMediaStream::Shutdown(bool started)
{
    EndThread();
    if (started && events) {
        // A reader waiting for a sample would wait for ever: end the stream
        // first, and let the reader take that event before every call here
        // answers MF_E_SHUTDOWN. A reader that has asked for its next event
        // has the end on its way, but its callback may run late on a busy
        // machine, and a queue shut down under it leaves its read hanging; so
        // wait while a reader keeps asking, and only a moment for one that
        // does not. Samples queued before the end are taken first.
        events->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr);
        std::unique_lock<std::mutex> hold(core->lock);
        while (!endTaken &&
               core->wake.wait_for(hold, std::chrono::milliseconds(END_OF_STREAM_ASK_MS),
                                   [this] { return endTaken || eventRequested; }) &&
               core->wake.wait_for(hold, std::chrono::milliseconds(END_OF_STREAM_TAKE_MS),
                                   [this] { return endTaken || !eventRequested; })) {
        }
    }
    ComPtr<IMFMediaSource> owner;
    {
        std::lock_guard<std::mutex> hold(core->lock);
        core->state = SOURCE_SHUT_DOWN;
        if (events)
            events->Shutdown();
        requests.clear();
        owner.Swap(source);  // the source holds this stream: the cycle ends here
    }
    // Let go outside the lock: the source may hold the last reference to
    // this stream.
    owner.Reset();
}

void CMediaStream::EventTaken(HRESULT hr, IMFMediaEvent* event)
{
    MediaEventType type = MEUnknown;
    if (SUCCEEDED(hr) && event != nullptr && SUCCEEDED(event->GetType(&type)) &&
        type == MEEndOfStream)
        endTaken = true;
}

STDMETHODIMP CMediaStream::GetMediaSource(IMFMediaSource** out)
{
    return HandOut(out, [this] { return source.Get(); });
}

STDMETHODIMP CMediaStream::GetStreamDescriptor(IMFStreamDescriptor** out)
{
    return HandOut(out, [this] { return descriptor.Get(); });
}

STDMETHODIMP CMediaStream::RequestSample(IUnknown* token)
{
    {
        std::lock_guard<std::mutex> hold(core->lock);
        HRESULT hr = CheckAlive();
        if (FAILED(hr))
            return hr;
        if (core->state == SOURCE_STOPPED)
            return MF_E_MEDIA_SOURCE_WRONGSTATE;
        if (requests.size() == MAX_PENDING_REQUESTS)
            return MF_E_SAMPLEALLOCATOR_EMPTY;
        requests.push_back(token);
    }
    core->wake.notify_all();
    return S_OK;
}

STDMETHODIMP CMediaStream::SetStreamState(MF_STREAM_STATE value)
{
    std::lock_guard<std::mutex> hold(core->lock);
    HRESULT hr = CheckAlive();
    if (FAILED(hr))
        return hr;
    PROPVARIANT now;
    PropVariantInit(&now);
    switch (value) {
    case MF_STREAM_STATE_RUNNING:
        now.vt = VT_I8;
        now.hVal.QuadPart = MFGetSystemTime();
        hr = StartLocked(now, false);
        if (SUCCEEDED(hr))
            core->state = SOURCE_RUNNING;
        return hr;
    case MF_STREAM_STATE_PAUSED:
        core->state = SOURCE_PAUSED;
        return PauseLocked();
    case MF_STREAM_STATE_STOPPED:
        core->state = SOURCE_STOPPED;
        return StopLocked();
    default:
        return E_INVALIDARG;
    }
}

STDMETHODIMP CMediaStream::GetStreamState(MF_STREAM_STATE* value)
{
    if (value == nullptr)
        return E_POINTER;
    std::lock_guard<std::mutex> hold(core->lock);
    *value = core->state == SOURCE_RUNNING  ? MF_STREAM_STATE_RUNNING
             : core->state == SOURCE_PAUSED ? MF_STREAM_STATE_PAUSED
                                            : MF_STREAM_STATE_STOPPED;
    return CheckAlive();
}

ComPtr<IMFSample> CMediaStream::NextSample(const CameraType& type, bool restarted)
{
    FeedItem item;
    FeedResult got = feed.Next(FEED_WAIT_MS, *frame, item);
    if (got != FEED_LIVE && got != FEED_PLACEHOLDER)
        return nullptr;
    LONGLONG taken = MFGetSystemTime();
    const VideoFormat& f = type.format;
    DWORD size = CameraFrameSize(type.subtype, f.width, f.height);
    uint32_t cardLength = 0;
    const uint8_t* card = got == FEED_PLACEHOLDER
                              ? placeholder.Get(item.placeholder, CameraPicture(type), cardLength)
                              : nullptr;
    ComPtr<IMFSample> sample;
    ComPtr<IMFMediaBuffer> buffer;
    BYTE* data = nullptr;
    if ((got == FEED_PLACEHOLDER && (card == nullptr || cardLength != size)) ||
        FAILED(pool.Take(size, sample, buffer)) || FAILED(buffer->Lock(&data, nullptr, nullptr))) {
        feed.Dropped();
        return nullptr;
    }
    // A live frame of another size (the service still switching) is not
    // shown; the placeholder steps in if nothing else comes.
    ConvertResult converted = CONVERT_OK;
    LONGLONG converting = MFGetSystemTime();
    if (got == FEED_LIVE) {
        uint32_t written = 0;
        converted = converter.Start(CameraPicture(type))
                        ? converter.FromJpeg(frame->data, frame->size, data, size, written)
                        : CONVERT_BAD;
    } else
        memcpy(data, card, size);
    converting = MFGetSystemTime() - converting;
    buffer->Unlock();
    buffer->SetCurrentLength(size);
    if (converted != CONVERT_OK || !Stamp(sample.Get(), type, taken, restarted)) {
        feed.Dropped();
        return nullptr;
    }
    if (got == FEED_LIVE) {
        sample->SetUINT32(OVALIX_SAMPLE_PLACEHOLDER, 0);
        sample->SetUINT32(OVALIX_SAMPLE_PHONE_STAMP, frame->stamp);
        sample->SetUINT64(OVALIX_SAMPLE_DECODE_TIME, (UINT64)converting);
    } else {
        sample->SetUINT32(OVALIX_SAMPLE_PLACEHOLDER, (UINT32)item.placeholder + 1);
    }
    return sample;
}

// Sample times are the system clock's, which the presentation clock of a
// live source runs on: the moment the frame was taken from the block.
bool CMediaStream::Stamp(IMFSample* sample, const CameraType& type, LONGLONG time, bool restarted)
{
    if (FAILED(sample->SetSampleTime(time)) ||
        FAILED(sample->SetSampleDuration(FrameDuration(type.format.fps))))
        return false;
    if (restarted)
        sample->SetUINT32(MFSampleExtension_Discontinuity, TRUE);
    return true;
}

void CMediaStream::Run()
{
    bool restarted = true;
    std::unique_lock<std::mutex> hold(core->lock);
    for (;;) {
        core->wake.wait(hold, [this] {
            return core->state >= SOURCE_ENDING ||
                   (core->state == SOURCE_RUNNING && !requests.empty());
        });
        if (core->state >= SOURCE_ENDING)
            break;
        CameraType type = active;
        bool begin = activeChanged;
        activeChanged = false;
        hold.unlock();
        if (begin) {
            feed.SetWantedSize(type.format.width, type.format.height);
            feed.Start();
            restarted = true;
        }
        ComPtr<IMFSample> sample = NextSample(type, restarted);
        hold.lock();
        // The stream may have stopped or switched type while this one was made.
        if (!sample)
            continue;
        if (core->state != SOURCE_RUNNING || requests.empty() || activeChanged) {
            feed.Dropped();
            continue;
        }
        feed.Shown();
        restarted = false;
        ComPtr<IUnknown> token;
        token.Swap(requests.front());
        requests.pop_front();
        if (token)
            sample->SetUnknown(MFSampleExtension_Token, token.Get());
        events->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample.Get());
    }
}
