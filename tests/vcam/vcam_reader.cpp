// ovalix-vcam-read: drives the Media Foundation camera source as
// applications do, through a source reader (MFCreateSourceReaderFromMediaSource),
// and prints what it got, for the process tests and the benchmark.
//
//   --list                 the media types the source offers
//   --type N               read with the source's media type N (default: its current one)
//   --seconds S            read for S seconds (default 3)
//   --save FILE            write the last live sample's bytes (else the last sample's)
//   --shutdown-after MS    shut the source down from another thread while a read waits
//   --late-end MS          without a reader: take the stream's events from a callback
//                          that, once the source is shutting down, waits MS before
//                          each one, as a reader's callback may on a busy machine
// Lines: "type N: SUBTYPE WxH NUM/DEN", "second=K live=A placeholder=B",
// "summary key=value...".
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <devicetopology.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "camera_ids.h"
#include "mf_declarations.h"
#include "com_object.h"
#include "ticks.h"

namespace {

struct Options {
    bool list = false;
    int type = -1;
    double seconds = 3;
    const char* save = nullptr;
    int shutdownAfterMs = -1;
    int lateEndMs = -1;
};

bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (strcmp(a, "--list") == 0)
            o.list = true;
        else if (strcmp(a, "--type") == 0 && v)
            o.type = atoi(argv[++i]);
        else if (strcmp(a, "--seconds") == 0 && v)
            o.seconds = atof(argv[++i]);
        else if (strcmp(a, "--save") == 0 && v)
            o.save = argv[++i];
        else if (strcmp(a, "--shutdown-after") == 0 && v)
            o.shutdownAfterMs = atoi(argv[++i]);
        else if (strcmp(a, "--late-end") == 0 && v)
            o.lateEndMs = atoi(argv[++i]);
        else
            return false;
    }
    return true;
}

const char* SubtypeName(const GUID& g)
{
    if (IsEqualGUID(g, MFVideoFormat_NV12))
        return "NV12";
    if (IsEqualGUID(g, MFVideoFormat_YUY2))
        return "YUY2";
    if (IsEqualGUID(g, MFVideoFormat_RGB32))
        return "RGB32";
    return "other";
}

void Describe(IMFMediaType* t, char* out, size_t size)
{
    GUID subtype = GUID_NULL;
    UINT32 w = 0, h = 0, num = 0, den = 0;
    t->GetGUID(MF_MT_SUBTYPE, &subtype);
    MFGetAttributeSize(t, MF_MT_FRAME_SIZE, &w, &h);
    MFGetAttributeRatio(t, MF_MT_FRAME_RATE, &num, &den);
    // The colours a YUV type says it carries, when it says.
    UINT32 matrix = 0, range = 0;
    char colours[40] = "";
    if (SUCCEEDED(t->GetUINT32(MF_MT_YUV_MATRIX, &matrix)) &&
        SUCCEEDED(t->GetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, &range)))
        snprintf(colours, sizeof colours, " matrix=%s range=%s",
                 matrix == MFVideoTransferMatrix_BT601 ? "bt601" : "other",
                 range == MFNominalRange_16_235 ? "16-235" : "other");
    snprintf(out, size, "%s %ux%u %u/%u%s", SubtypeName(subtype), w, h, num, den, colours);
}

// The value below which the given share of v lies (v sorted).
uint32_t Percentile(std::vector<uint32_t>& v, double share)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, (size_t)(share * (double)v.size()))];
}

HRESULT AskControls(IUnknown* object)
{
    ComPtr<IKsControl> controls;
    KSPROPERTY property = {};
    ULONG returned = 0;
    HRESULT hr = object->QueryInterface(IID_PPV_ARGS(&controls));
    return SUCCEEDED(hr) ? controls->KsProperty(&property, sizeof property, nullptr, 0, &returned)
                         : hr;
}

// Takes the stream's events one after another, each one late once told to.
class CLateTaker : public IMFAsyncCallback {
public:
    static const InterfaceEntry Interfaces[];

    CLateTaker(IMFMediaStream* s, uint32_t ms)
        : stream(s), lateMs(ms), done(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    virtual ~CLateTaker() { CloseHandle(done); }

    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* result) override
    {
        if (late)
            Sleep(lateMs);
        ComPtr<IMFMediaEvent> event;
        lastResult = stream->EndGetEvent(result, &event);
        MediaEventType type = MEUnknown;
        if (SUCCEEDED(lastResult))
            event->GetType(&type);
        lastType = type;
        if (FAILED(lastResult) || type == MEEndOfStream ||
            FAILED(stream->BeginGetEvent(this, nullptr)))
            SetEvent(done);
        return S_OK;
    }

    ComPtr<IMFMediaStream> stream;
    const uint32_t lateMs;
    HANDLE done;  // the events have ended
    std::atomic<bool> late{false};
    std::atomic<HRESULT> lastResult{S_OK};
    std::atomic<MediaEventType> lastType{MEUnknown};
};

const InterfaceEntry CLateTaker::Interfaces[] = {
    {&__uuidof(IMFAsyncCallback), InterfaceOf<CLateTaker, IMFAsyncCallback>},
    {nullptr,                     nullptr                                  },
};

// Starts the source, asks its stream for a few samples, and shuts the source
// down while the stream's events are taken late: the last one taken must be
// the end of the stream, not a failure of a queue shut down under the taker.
int RunLateEnd(IMFMediaSource* source, IMFPresentationDescriptor* pd, uint32_t lateMs)
{
    PROPVARIANT start;
    PropVariantInit(&start);
    HRESULT hr = source->Start(pd, nullptr, &start);
    ComPtr<IMFMediaStream> stream;
    for (int i = 0; SUCCEEDED(hr) && !stream && i < 4; ++i) {
        ComPtr<IMFMediaEvent> event;
        MediaEventType type = MEUnknown;
        hr = source->GetEvent(0, &event);
        if (SUCCEEDED(hr))
            hr = event->GetType(&type);
        PROPVARIANT value;
        PropVariantInit(&value);
        if (SUCCEEDED(hr) && type == MENewStream && SUCCEEDED(event->GetValue(&value)) &&
            value.vt == VT_UNKNOWN && value.punkVal != nullptr)
            hr = value.punkVal->QueryInterface(IID_PPV_ARGS(&stream));
        PropVariantClear(&value);
    }
    ComPtr<CLateTaker> taker;
    taker.Attach(NewComObject<CLateTaker>(stream.Get(), lateMs));
    if (SUCCEEDED(hr) && (!stream || !taker))
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        hr = stream->BeginGetEvent(taker.Get(), nullptr);
    for (int i = 0; SUCCEEDED(hr) && i < 4; ++i)
        hr = stream->RequestSample(nullptr);
    if (FAILED(hr)) {
        printf("late_end start hr=0x%08lX\n", (unsigned long)hr);
        source->Shutdown();
        return 1;
    }
    Sleep(500);
    taker->late = true;
    uint32_t begun = GetTickMs();
    source->Shutdown();
    uint32_t shutdownMs = GetTickMs() - begun;
    bool ended = WaitForSingleObject(taker->done, 10000) == WAIT_OBJECT_0;
    printf("late_end ended=%d end_of_stream=%d hr=0x%08lX shutdown_ms=%u\n", ended ? 1 : 0,
           ended && SUCCEEDED(taker->lastResult) && taker->lastType == MEEndOfStream ? 1 : 0,
           (unsigned long)taker->lastResult.load(), shutdownMs);
    return 0;
}

int Run(const Options& o)
{
    ComPtr<IMFMediaSource> source;
    HRESULT hr = CoCreateInstance(CLSID_OvalixMediaSource, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&source));
    if (FAILED(hr)) {
        printf("create hr=0x%08lX\n", (unsigned long)hr);
        return 1;
    }
    ComPtr<IMFPresentationDescriptor> pd;
    ComPtr<IMFStreamDescriptor> sd;
    ComPtr<IMFMediaTypeHandler> handler;
    BOOL selected = FALSE;
    DWORD count = 0;
    hr = source->CreatePresentationDescriptor(&pd);
    if (SUCCEEDED(hr))
        hr = pd->GetStreamDescriptorByIndex(0, &selected, &sd);
    if (SUCCEEDED(hr))
        hr = sd->GetMediaTypeHandler(&handler);
    if (SUCCEEDED(hr))
        hr = handler->GetMediaTypeCount(&count);
    if (FAILED(hr)) {
        printf("descriptor hr=0x%08lX\n", (unsigned long)hr);
        return 1;
    }
    ComPtr<IMFMediaSourceEx> ex;
    ComPtr<IMFAttributes> streamAttributes;
    UINT32 shared = 0;
    if (SUCCEEDED(source.As(&ex)) && SUCCEEDED(ex->GetStreamAttributes(0, &streamAttributes)))
        streamAttributes->GetUINT32(OVX_MF_DEVICESTREAM_FRAMESERVER_SHARED, &shared);
    // The camera has no controls: the frame server's questions are answered
    // "not supported".
    printf("source ex=%d shared=%u controls=0x%08lX\n", ex ? 1 : 0, shared,
           (unsigned long)AskControls(source.Get()));
    if (o.lateEndMs >= 0)
        return RunLateEnd(source.Get(), pd.Get(), (uint32_t)o.lateEndMs);
    char text[96];
    for (DWORD i = 0; o.list && i < count; ++i) {
        ComPtr<IMFMediaType> t;
        if (SUCCEEDED(handler->GetMediaTypeByIndex(i, &t))) {
            Describe(t.Get(), text, sizeof text);
            printf("type %lu: %s\n", (unsigned long)i, text);
        }
    }

    ComPtr<IMFSourceReader> reader;
    hr = MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader);
    if (SUCCEEDED(hr) && o.type >= 0) {
        // Set on the stream as the frame server does, then through the reader
        // as applications do: Wine 8's reader takes a type of the current
        // subtype as no change and never passes another size on.
        ComPtr<IMFMediaType> t;
        hr = handler->GetMediaTypeByIndex((DWORD)o.type, &t);
        if (SUCCEEDED(hr))
            hr = handler->SetCurrentMediaType(t.Get());
        if (SUCCEEDED(hr))
            hr = reader->SetCurrentMediaType((DWORD)MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr,
                                             t.Get());
    }
    ComPtr<IMFMediaType> current;
    if (SUCCEEDED(hr))
        hr = reader->GetCurrentMediaType((DWORD)MF_SOURCE_READER_FIRST_VIDEO_STREAM, &current);
    if (FAILED(hr)) {
        printf("reader hr=0x%08lX\n", (unsigned long)hr);
        source->Shutdown();
        return 1;
    }
    Describe(current.Get(), text, sizeof text);
    printf("reading %s\n", text);

    std::thread stopper;
    std::atomic<uint32_t> shutdownAt{0};
    if (o.shutdownAfterMs >= 0) {
        stopper = std::thread([&] {
            Sleep((DWORD)o.shutdownAfterMs);
            shutdownAt = GetTickMs() | 1;
            source->Shutdown();
        });
    }

    uint32_t start = GetTickMs(), second = 0, live = 0, placeholders = 0, total[2] = {0, 0};
    uint32_t kinds[4] = {0, 0, 0, 0};
    std::vector<uint32_t> decode, latency;
    uint32_t firstStamp = 0, lastStamp = 0;
    std::vector<BYTE> last;
    bool lastLive = false;
    HRESULT ended = S_OK;
    bool endOfStream = false;
    LONGLONG previousTime = -1;
    uint32_t backwards = 0;
    while (GetTickMs() - start < (uint32_t)(o.seconds * 1000)) {
        DWORD index = 0, flags = 0;
        LONGLONG time = 0;
        ComPtr<IMFSample> sample;
        hr = reader->ReadSample((DWORD)MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &index, &flags,
                                &time, &sample);
        uint32_t now = GetTickMs();
        while ((now - start) / 1000 > second) {
            printf("second=%u live=%u placeholder=%u\n", ++second, live, placeholders);
            total[0] += live;
            total[1] += placeholders;
            live = placeholders = 0;
        }
        if (FAILED(hr) || (flags & (MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_ENDOFSTREAM))) {
            ended = FAILED(hr) ? hr : E_FAIL;
            endOfStream = SUCCEEDED(hr) && (flags & MF_SOURCE_READERF_ENDOFSTREAM) != 0;
            break;
        }
        if (!sample)
            continue;
        if (previousTime >= 0 && time < previousTime)
            ++backwards;
        previousTime = time;
        UINT32 kind = 0, stamp = 0;
        UINT64 decodeTime = 0;
        sample->GetUINT32(OVALIX_SAMPLE_PLACEHOLDER, &kind);
        kinds[kind < 4 ? kind : 0]++;
        if (kind == 0) {
            ++live;
            if (SUCCEEDED(sample->GetUINT32(OVALIX_SAMPLE_PHONE_STAMP, &stamp))) {
                latency.push_back(now - stamp);
                if (total[0] + live == 1)
                    firstStamp = stamp;
                lastStamp = stamp;
            }
            if (SUCCEEDED(sample->GetUINT64(OVALIX_SAMPLE_DECODE_TIME, &decodeTime)))
                decode.push_back((uint32_t)(decodeTime / 10));
        } else {
            ++placeholders;
        }
        if (o.save != nullptr && (kind == 0 || !lastLive)) {
            ComPtr<IMFMediaBuffer> buffer;
            BYTE* data = nullptr;
            DWORD length = 0;
            if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer)) &&
                SUCCEEDED(buffer->Lock(&data, nullptr, &length))) {
                last.assign(data, data + length);
                buffer->Unlock();
                lastLive = kind == 0;
            }
        }
    }
    uint32_t readEnded = GetTickMs();
    if (stopper.joinable())
        stopper.join();
    total[0] += live;
    total[1] += placeholders;
    if (o.save != nullptr && !last.empty()) {
        FILE* f = fopen(o.save, "wb");
        if (f) {
            fwrite(last.data(), 1, last.size(), f);
            fclose(f);
        }
    }
    // Frames the phone sent between the first and the last one shown, at the
    // type's rate.
    UINT32 num = 30, den = 1;
    MFGetAttributeRatio(current.Get(), MF_MT_FRAME_RATE, &num, &den);
    double sent = total[0] > 0 ? (double)(lastStamp - firstStamp) * num / den / 1000.0 + 1 : 0;
    printf("summary live=%u placeholder=%u no_service=%u no_phone=%u no_picture=%u "
           "backwards=%u saved_live=%d live_share=%.3f decode_median_us=%u latency_p50_ms=%u "
           "latency_p99_ms=%u ended=0x%08lX",
           total[0], total[1], kinds[1], kinds[2], kinds[3], backwards, lastLive ? 1 : 0,
           sent > 0 ? total[0] / sent : 0.0, Percentile(decode, 0.5), Percentile(latency, 0.5),
           Percentile(latency, 0.99), (unsigned long)ended);
    if (shutdownAt != 0)
        printf(" shutdown_to_return_ms=%u end_of_stream=%d", readEnded - shutdownAt,
               endOfStream ? 1 : 0);
    printf("\n");
    reader.Reset();
    source->Shutdown();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        fprintf(stderr, "usage: ovalix-vcam-read [--list] [--type N] [--seconds S] [--save FILE] "
                        "[--shutdown-after MS] [--late-end MS]\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
    int rc = Run(o);
    MFShutdown();
    CoUninitialize();
    return rc;
}
