// ovalix-snap: checks the camera without any application. Builds a graph
// with the capture filter, a Sample Grabber and a Null Renderer (or VMR-9 in
// a top-level window), runs it for a while, prints what arrived every second
// and a summary, and saves pictures.
#define NO_DSHOW_STRSAFE
#include <dshow.h>
#include <d3d9.h>
#include <vmr9.h>
#include <qedit.h>

#include <stdio.h>
#include <string.h>

#include <mutex>
#include <vector>

#include "com_object.h"
#include "filter_ids.h"
#include "picture_file.h"
#include "snap_options.h"
#include "source_stats.h"

extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace {

// Keeps the newest sample, and the newest one the filter decoded from the
// phone (the filter counts a sample before it sends it).
class CGrabber : public ISampleGrabberCB {
public:
    static const InterfaceEntry Interfaces[];
    explicit CGrabber(IOvalixSourceStats* s) : stats(s) {}
    virtual ~CGrabber() {}

    STDMETHODIMP SampleCB(double, IMediaSample* sample) override
    {
        BYTE* data = nullptr;
        long size = sample->GetActualDataLength();
        if (FAILED(sample->GetPointer(&data)) || size <= 0)
            return S_OK;
        bool live = false;
        if (stats) {
            stats->GetStats(&scratch);
            live = scratch.liveFrames > liveSeen;
            liveSeen = scratch.liveFrames;
        }
        std::lock_guard<std::mutex> hold(lock);
        ++samples;
        last.assign(data, data + size);
        if (live)
            lastLive.assign(data, data + size);
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return S_OK; }

    uint64_t Samples()
    {
        std::lock_guard<std::mutex> hold(lock);
        return samples;
    }
    std::vector<uint8_t> Last(bool live)
    {
        std::lock_guard<std::mutex> hold(lock);
        return live ? lastLive : last;
    }

private:
    ComPtr<IOvalixSourceStats> stats;
    SourceStats scratch = {};
    uint64_t liveSeen = 0;
    std::mutex lock;
    uint64_t samples = 0;
    std::vector<uint8_t> last;
    std::vector<uint8_t> lastLive;
};

const InterfaceEntry CGrabber::Interfaces[] = {
    {&IID_ISampleGrabberCB, InterfaceOf<CGrabber, ISampleGrabberCB>},
    {nullptr,                     nullptr                                  },
};

int Fail(const char* what, HRESULT hr)
{
    fprintf(stderr, "ovalix-snap: %s failed (0x%08lX)\n", what, (unsigned long)hr);
    return 1;
}

HRESULT FindDevice(ComPtr<IBaseFilter>& out)
{
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&devices));
    if (FAILED(hr))
        return hr;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (hr != S_OK)
        return FAILED(hr) ? hr : VFW_E_NOT_FOUND;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        VARIANT name;
        VariantInit(&name);
        bool ours = SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag))) &&
                    SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
                    wcscmp(name.bstrVal, FRIENDLY_NAME) == 0;
        VariantClear(&name);
        if (ours)
            return moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&out));
        moniker.Reset();
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FirstPin(IBaseFilter* filter, PIN_DIRECTION direction, ComPtr<IPin>& out)
{
    ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) {
            out = pin;
            return S_OK;
        }
        pin.Reset();
    }
    return VFW_E_NOT_FOUND;
}

void FreeType(AM_MEDIA_TYPE* mt)
{
    if (mt == nullptr)
        return;
    if (mt->pbFormat)
        CoTaskMemFree(mt->pbFormat);
    if (mt->pUnk)
        mt->pUnk->Release();
    CoTaskMemFree(mt);
}

const VIDEOINFOHEADER* VideoInfo(const AM_MEDIA_TYPE* mt)
{
    if (!IsEqualGUID(mt->formattype, FORMAT_VideoInfo) || mt->cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
}

// The subtype of a name given with --subtype.
GUID SubtypeOf(const char* name)
{
    if (!strcmp(name, "RGB32"))
        return MEDIASUBTYPE_RGB32;
    if (!strcmp(name, "RGB24"))
        return MEDIASUBTYPE_RGB24;
    // The others are FOURCC subtypes.
    GUID fourcc = {
        MAKEFOURCC(name[0], name[1], name[2], name[3]),
        0x0000,
        0x0010,
        {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}
    };
    return fourcc;
}

const char* NameOf(const GUID& subtype)
{
    static const char* const names[] = {"I420", "YUY2", "RGB32", "RGB24", "MJPG"};
    for (const char* name : names)
        if (IsEqualGUID(subtype, SubtypeOf(name)))
            return name;
    return "other";
}

// Prints the pin's media types and stream caps, or selects the stream caps
// entry of the subtype (and size) asked for, at the rate asked for.
HRESULT ListOrSelect(IPin* pin, const SnapOptions& o, bool print)
{
    ComPtr<IEnumMediaTypes> types;
    HRESULT hr = pin->EnumMediaTypes(&types);
    if (FAILED(hr))
        return hr;
    AM_MEDIA_TYPE* mt = nullptr;
    for (int i = 0; print && types->Next(1, &mt, nullptr) == S_OK; ++i) {
        if (const VIDEOINFOHEADER* vih = VideoInfo(mt))
            printf("format %d: %ld x %ld avgtime %lld bits %u\n", i, vih->bmiHeader.biWidth,
                   vih->bmiHeader.biHeight, (long long)vih->AvgTimePerFrame,
                   (unsigned)vih->bmiHeader.biBitCount);
        FreeType(mt);
        mt = nullptr;
    }
    ComPtr<IAMStreamConfig> config;
    int count = 0, size = 0;
    if (FAILED(hr = pin->QueryInterface(IID_PPV_ARGS(&config))) ||
        FAILED(hr = config->GetNumberOfCapabilities(&count, &size)))
        return hr;
    if (print)
        printf("capabilities: %d\n", count);
    bool select = o.width != 0 || o.subtype != nullptr || o.fps != 0;
    GUID wanted = SubtypeOf(o.subtype ? o.subtype : "RGB24");
    VIDEO_STREAM_CONFIG_CAPS caps;
    for (int i = 0; i < count && (print || select); ++i) {
        if (FAILED(hr = config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps))))
            return hr;
        const VIDEOINFOHEADER* vih = VideoInfo(mt);
        if (vih != nullptr && print)
            printf("caps %d: %s %ld x %ld interval %lld-%lld\n", i, NameOf(mt->subtype),
                   vih->bmiHeader.biWidth, vih->bmiHeader.biHeight,
                   (long long)caps.MinFrameInterval, (long long)caps.MaxFrameInterval);
        if (vih != nullptr && select && IsEqualGUID(mt->subtype, wanted) &&
            (o.width == 0 || (vih->bmiHeader.biWidth == (LONG)o.width &&
                              vih->bmiHeader.biHeight == (LONG)o.height))) {
            if (o.fps != 0)
                reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame =
                    (REFERENCE_TIME)(1e7 / o.fps + 0.5);
            hr = config->SetFormat(mt);
            select = false;
            if (FAILED(hr)) {
                FreeType(mt);
                return hr;
            }
        }
        FreeType(mt);
        mt = nullptr;
    }
    return select ? VFW_E_INVALIDMEDIATYPE : S_OK;
}

// Sample Grabber and Null Renderer after the pin: connected pin to pin, or
// by the capture graph builder for the capture category as capture
// applications do (it may put a Smart Tee in between).
HRESULT AddGrabberChain(IGraphBuilder* graph, IBaseFilter* sourceFilter, IPin* source,
                        CGrabber* grabber, const GUID& subtype, bool builder)
{
    ComPtr<IBaseFilter> grabFilter, nullFilter;
    ComPtr<ISampleGrabber> grab;
    ComPtr<IPin> grabIn, grabOut, nullIn;
    HRESULT hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&grabFilter));
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&nullFilter));
    if (SUCCEEDED(hr))
        hr = grabFilter.As(&grab);
    if (FAILED(hr))
        return hr;
    AM_MEDIA_TYPE want;
    memset(&want, 0, sizeof want);
    want.majortype = MEDIATYPE_Video;
    want.subtype = subtype;
    grab->SetMediaType(&want);
    grab->SetBufferSamples(FALSE);
    grab->SetCallback(grabber, 0);
    if (FAILED(hr = graph->AddFilter(grabFilter.Get(), L"Sample Grabber")) ||
        FAILED(hr = graph->AddFilter(nullFilter.Get(), L"Null Renderer")) ||
        FAILED(hr = FirstPin(grabFilter.Get(), PINDIR_INPUT, grabIn)) ||
        FAILED(hr = FirstPin(grabFilter.Get(), PINDIR_OUTPUT, grabOut)))
        return hr;
    if (builder) {
        ComPtr<ICaptureGraphBuilder2> capture;
        if (FAILED(hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_PPV_ARGS(&capture))) ||
            FAILED(hr = capture->SetFiltergraph(graph)))
            return hr;
        return capture->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, sourceFilter,
                                     grabFilter.Get(), nullFilter.Get());
    }
    if (FAILED(hr = FirstPin(nullFilter.Get(), PINDIR_INPUT, nullIn)) ||
        FAILED(hr = graph->Connect(source, grabIn.Get())) ||
        FAILED(hr = graph->Connect(grabOut.Get(), nullIn.Get())))
        return hr;
    return S_OK;
}

HWND CreateVideoWindow(uint32_t width, uint32_t height)
{
    WNDCLASSW wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OvalixSnapVideo";
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"ovalix-snap", WS_POPUP | WS_VISIBLE, 0, 0,
                                  (int)width, (int)height, nullptr, nullptr, wc.hInstance, nullptr);
    return window;
}

// VMR-9 windowless in a top-level window, then the graph manager renders
// the pin into it (and only into it).
HRESULT AddVmr9(IGraphBuilder* graph, IPin* source, HWND window, ComPtr<IBaseFilter>& vmr)
{
    ComPtr<IVMRFilterConfig9> config;
    ComPtr<IVMRWindowlessControl9> windowless;
    ComPtr<IFilterGraph2> graph2;
    HRESULT hr = CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&vmr));
    if (FAILED(hr) || FAILED(hr = graph->AddFilter(vmr.Get(), L"Video Mixing Renderer 9")) ||
        FAILED(hr = vmr.As(&config)) ||
        FAILED(hr = config->SetRenderingMode(VMR9Mode_Windowless)) ||
        FAILED(hr = vmr.As(&windowless)) || FAILED(hr = windowless->SetVideoClippingWindow(window)))
        return hr;
    RECT area;
    GetClientRect(window, &area);
    windowless->SetVideoPosition(nullptr, &area);
    if (FAILED(hr = graph->QueryInterface(IID_PPV_ARGS(&graph2))))
        return hr;
    hr = graph2->RenderEx(source, AM_RENDEREX_RENDERTOEXISTINGRENDERERS, nullptr);
    printf("renderex hr=0x%08lX\n", (unsigned long)hr);
    return hr;
}

void PumpFor(DWORD ms)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) / 1e7;
}

bool SaveSample(const char* path, const std::vector<uint8_t>& pixels, uint32_t width,
                uint32_t height)
{
    size_t n = strlen(path);
    if (n > 4 && _stricmp(path + n - 4, ".raw") == 0) {
        FILE* f = fopen(path, "wb");
        bool ok = f != nullptr && !pixels.empty() &&
                  fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
        if (f != nullptr && fclose(f) != 0)
            ok = false;
        if (!ok)
            fprintf(stderr, "ovalix-snap: could not write %s\n", path);
        else
            printf("saved %s\n", path);
        return ok;
    }
    uint32_t need = ((width * 3 + 3) & ~3u) * height;
    if (pixels.size() < need) {
        fprintf(stderr, "ovalix-snap: no picture to save as %s\n", path);
        return false;
    }
    if (!SavePicture(path, pixels.data(), width, height)) {
        fprintf(stderr, "ovalix-snap: could not write %s\n", path);
        return false;
    }
    printf("saved %s\n", path);
    return true;
}

// The graph and what the run needs of it.
struct SnapGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> source;
    ComPtr<IPin> pin;
    ComPtr<IOvalixSourceStats> stats;  // null if the filter has no counters
    ComPtr<ISampleGrabberCB> grabberRef;
    CGrabber* grabber = nullptr;
    ComPtr<IBaseFilter> vmr;
    HWND window = nullptr;
    uint32_t width = 0, height = 0;  // the connected format
    double fps = 30.0;
    const char* connectedSubtype = "none";
};

// What the run measured.
struct SnapRun {
    double seconds, cpu;
    DWORD stopMs;
    HRESULT stopHr;
    SourceStats stats;
};

// The filter in a new graph, its output pin, and the format asked for.
int AddSource(SnapGraph& g, const SnapOptions& o)
{
    HRESULT hr =
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&g.graph));
    if (FAILED(hr) || FAILED(hr = g.graph.As(&g.control)))
        return Fail("creating the filter graph", hr);
    hr = o.device ? FindDevice(g.source)
                  : CoCreateInstance(CLSID_OvalixCaptureFilter, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&g.source));
    if (FAILED(hr))
        return Fail(o.device ? "finding \"Ovalix Camera\"" : "creating the capture filter", hr);
    if (FAILED(hr = g.graph->AddFilter(g.source.Get(), FILTER_NAME)))
        return Fail("adding the filter", hr);
    if (FAILED(hr = FirstPin(g.source.Get(), PINDIR_OUTPUT, g.pin)))
        return Fail("finding the output pin", hr);
    if (FAILED(hr = ListOrSelect(g.pin.Get(), o, o.list)))
        return Fail("selecting the size", hr);
    return 0;
}

// The grabber chain or VMR-9 after the pin.
int AddSink(SnapGraph& g, const SnapOptions& o)
{
    g.source.As(&g.stats);
    g.grabber = NewComObject<CGrabber>(g.stats.Get());
    g.grabberRef.Attach(g.grabber);
    HRESULT hr;
    if (o.vmr9) {
        g.window = CreateVideoWindow(o.width ? o.width : 640, o.height ? o.height : 480);
        hr = AddVmr9(g.graph.Get(), g.pin.Get(), g.window, g.vmr);
    } else {
        hr = AddGrabberChain(g.graph.Get(), g.source.Get(), g.pin.Get(), g.grabber,
                             SubtypeOf(o.subtype ? o.subtype : "RGB24"), o.builder);
    }
    return FAILED(hr) ? Fail("connecting the graph", hr) : 0;
}

// Reads the connected format and prints what the pin is connected to.
void ReadConnection(SnapGraph& g)
{
    AM_MEDIA_TYPE mt;
    if (SUCCEEDED(g.pin->ConnectionMediaType(&mt))) {
        g.connectedSubtype = NameOf(mt.subtype);
        if (const VIDEOINFOHEADER* vih = VideoInfo(&mt)) {
            g.width = (uint32_t)vih->bmiHeader.biWidth;
            g.height = (uint32_t)vih->bmiHeader.biHeight;
            if (vih->AvgTimePerFrame > 0)
                g.fps = 1e7 / (double)vih->AvgTimePerFrame;
        }
        if (mt.pbFormat)
            CoTaskMemFree(mt.pbFormat);
        if (mt.pUnk)
            mt.pUnk->Release();
    }
    ComPtr<IPin> peer;
    PIN_INFO peerInfo = {};
    if (SUCCEEDED(g.pin->ConnectedTo(&peer)) && SUCCEEDED(peer->QueryPinInfo(&peerInfo))) {
        printf("connected %u x %u %s at %.3f fps to \"%ls\"\n", g.width, g.height,
               g.connectedSubtype, g.fps, peerInfo.achName);
        if (peerInfo.pFilter) {
            FILTER_INFO info;
            if (SUCCEEDED(peerInfo.pFilter->QueryFilterInfo(&info))) {
                printf("downstream filter \"%ls\"\n", info.achName);
                if (info.pGraph)
                    info.pGraph->Release();
            }
            peerInfo.pFilter->Release();
        }
    }
    fflush(stdout);
}

// Runs the graph for the time asked, printing the samples of every second,
// and stops it.
int Run(SnapGraph& g, const SnapOptions& o, SnapRun& run)
{
    double cpuStart = CpuSeconds();
    DWORD start = GetTickCount();
    HRESULT hr = g.control->Run();
    if (FAILED(hr))
        return Fail("running the graph", hr);
    SourceStats before = {}, now = {};
    uint64_t samplesBefore = 0;
    DWORD total = (DWORD)(o.seconds * 1000.0);
    for (DWORD second = 1; GetTickCount() - start < total; ++second) {
        DWORD elapsed = GetTickCount() - start;
        DWORD target = second * 1000 < total ? second * 1000 : total;
        PumpFor(target > elapsed ? target - elapsed : 0);
        if (g.stats)
            g.stats->GetStats(&now);
        uint64_t samples = g.grabber->Samples();
        if (!o.quiet) {
            printf("second=%lu samples=%llu live=%llu placeholder=%llu skipped=%llu\n",
                   (unsigned long)second, (unsigned long long)(samples - samplesBefore),
                   (unsigned long long)(now.liveFrames - before.liveFrames),
                   (unsigned long long)(now.placeholderFrames - before.placeholderFrames),
                   (unsigned long long)(now.skippedFrames - before.skippedFrames));
            fflush(stdout);
        }
        before = now;
        samplesBefore = samples;
    }
    run.seconds = (double)(GetTickCount() - start) / 1000.0;
    run.cpu = CpuSeconds() - cpuStart;
    DWORD stopStart = GetTickCount();
    run.stopHr = g.control->Stop();
    run.stopMs = GetTickCount() - stopStart;
    if (g.stats)
        g.stats->GetStats(&now);
    run.stats = now;
    return 0;
}

void PrintSummary(const SnapGraph& g, const SnapRun& run)
{
    const SourceStats& s = run.stats;
    // Frames the phone sent between the first and the last one that arrived,
    // by its own send stamps at the connected rate.
    double stampSpan = (double)(uint32_t)(s.lastStamp - s.firstStamp);
    double expected = s.liveFrames ? stampSpan * g.fps / 1000.0 + 1.0 : 0;
    int decode = StatsPercentile(s.decodeTenthMs, 0.5);
    printf("summary samples=%llu live=%llu placeholder=%llu skipped=%llu other_size=%llu "
           "connected=%ux%u subtype=%s seconds=%.1f live_share=%.3f latency_p50_ms=%d "
           "latency_p99_ms=%d decode_median_ms=%.1f cpu_percent=%.1f stop_ms=%lu stop_hr=0x%08lX "
           "stamps=%u-%u\n",
           (unsigned long long)g.grabber->Samples(), (unsigned long long)s.liveFrames,
           (unsigned long long)s.placeholderFrames, (unsigned long long)s.skippedFrames,
           (unsigned long long)s.otherSizeFrames, g.width, g.height, g.connectedSubtype,
           run.seconds, expected > 0 ? (double)s.liveFrames / expected : 0.0,
           StatsPercentile(s.latencyMs, 0.5), StatsPercentile(s.latencyMs, 0.99),
           decode < 0 ? -1.0 : decode / 10.0, run.seconds > 0 ? run.cpu * 100.0 / run.seconds : 0.0,
           (unsigned long)run.stopMs, (unsigned long)run.stopHr, s.firstStamp, s.lastStamp);
    fflush(stdout);
}

int Snap(const SnapOptions& o)
{
    SnapGraph g;
    int rc = AddSource(g, o);
    if (rc != 0 || o.list)
        return rc;
    if ((rc = AddSink(g, o)) != 0)
        return rc;
    ReadConnection(g);
    SnapRun run;
    if ((rc = Run(g, o, run)) != 0)
        return rc;
    PrintSummary(g, run);
    if (o.save && !SaveSample(o.save, g.grabber->Last(false), g.width, g.height))
        rc = 1;
    if (o.saveLive && !SaveSample(o.saveLive, g.grabber->Last(true), g.width, g.height))
        rc = 1;
    if (g.window)
        DestroyWindow(g.window);
    return rc;
}

}  // namespace

int main(int argc, char** argv)
{
    SnapOptions options;
    char error[256] = "";
    int parsed = ParseSnapOptions(argc, argv, options, error, sizeof error);
    if (parsed != 0) {
        if (parsed < 0)
            fprintf(stderr, "ovalix-snap: %s\n", error);
        fputs(SNAP_USAGE, parsed < 0 ? stderr : stdout);
        return parsed < 0 ? 2 : 0;
    }
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc = Snap(options);
    if (SUCCEEDED(com))
        CoUninitialize();
    return rc;
}
