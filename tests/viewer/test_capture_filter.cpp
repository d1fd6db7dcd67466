#include "test_capture_filter.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "capture_graph.h"

TestFilterConfig TestFilterSettings;
volatile LONG TestFilterObjects = 0;
TestFilterRecord TestFilterSeen;

void ResetTestFilter()
{
    memset(&TestFilterSettings, 0, sizeof TestFilterSettings);
    memset(&TestFilterSeen, 0, sizeof TestFilterSeen);
}

void AddTestFormat(int32_t width, int32_t height, bool rgb32, uint32_t formatBytes)
{
    TestFilterConfig& c = TestFilterSettings;
    if (c.formatCount < TEST_FILTER_MAX_FORMATS)
        c.formats[c.formatCount++] = {width, height, rgb32, formatBytes};
}

bool ParseTestFilterConfig(const char* text, TestFilterConfig* config)
{
    memset(config, 0, sizeof *config);
    char buffer[1024];
    snprintf(buffer, sizeof buffer, "%s", text);
    char* saveGroup = nullptr;
    for (char* group = strtok_r(buffer, ";", &saveGroup); group;
         group = strtok_r(nullptr, ";", &saveGroup)) {
        if (!strcmp(group, "none"))
            continue;
        if (!strcmp(group, "nopins"))
            config->noPins = true;
        else if (!strcmp(group, "enumpinsfails"))
            config->enumPinsFails = true;
        else if (!strcmp(group, "enumtypesfails"))
            config->enumTypesFails = true;
        else if (!strcmp(group, "audio"))
            config->audioPin = true;
        else if (!strcmp(group, "unrenderable"))
            config->unrenderableVideo = true;
        else if (!strcmp(group, "eos"))
            config->endOfStream = true;
        else if (!strcmp(group, "stream"))
            config->stream = true;
        else {
            char* saveSize = nullptr;
            for (char* size = strtok_r(group, ",", &saveSize); size;
                 size = strtok_r(nullptr, ",", &saveSize)) {
                int w = 0, h = 0;
                if (sscanf(size, "%dx%d", &w, &h) != 2)
                    return false;
                if (config->formatCount < TEST_FILTER_MAX_FORMATS)
                    config->formats[config->formatCount++] = {w, h, strchr(size, '*') != nullptr,
                                                              88};
            }
        }
    }
    return true;
}

namespace {
const GUID SUBTYPE_UNRENDERABLE = {
    0x4f565830, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}
};

// Lines for the shell tests, which cannot look into the viewer's process.
void Log(const char* what, int32_t w, int32_t h)
{
    const char* path = getenv("OVALIX_TEST_FILTER_LOG");
    if (!path)
        return;
    FILE* f = fopen(path, "a");
    if (!f)
        return;
    fprintf(f, "%s %dx%d\n", what, static_cast<int>(w), static_cast<int>(h));
    fclose(f);
}

void FillVideoType(AM_MEDIA_TYPE* mt, const TestFormat& f, bool unrenderable)
{
    int bits = f.rgb32 ? 32 : 24;
    VIDEOINFOHEADER full = {};
    full.AvgTimePerFrame = 333333;
    full.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    full.bmiHeader.biWidth = f.width;
    full.bmiHeader.biHeight = f.height;
    full.bmiHeader.biPlanes = 1;
    full.bmiHeader.biBitCount = static_cast<WORD>(bits);
    full.bmiHeader.biCompression = unrenderable ? SUBTYPE_UNRENDERABLE.Data1 : BI_RGB;
    full.bmiHeader.biSizeImage = static_cast<DWORD>(f.width * f.height * bits / 8);
    full.dwBitRate = full.bmiHeader.biSizeImage * 8 * 30;
    memset(mt, 0, sizeof *mt);
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = unrenderable ? SUBTYPE_UNRENDERABLE
                  : f.rgb32    ? MEDIASUBTYPE_RGB32
                               : MEDIASUBTYPE_RGB24;
    mt->bFixedSizeSamples = TRUE;
    mt->lSampleSize = full.bmiHeader.biSizeImage;
    mt->formattype = FORMAT_VideoInfo;
    mt->cbFormat = f.formatBytes;
    mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(f.formatBytes));
    // A longer block carries a marker after the header; a shorter one only
    // the header's beginning.
    memset(mt->pbFormat, 0xAB, f.formatBytes);
    memcpy(mt->pbFormat, &full, f.formatBytes < sizeof full ? f.formatBytes : sizeof full);
}

void FillAudioType(AM_MEDIA_TYPE* mt)
{
    memset(mt, 0, sizeof *mt);
    WAVEFORMATEX* wave = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    *wave = {WAVE_FORMAT_PCM, 2, 48000, 48000 * 4, 4, 16, 0};
    mt->majortype = MEDIATYPE_Audio;
    mt->subtype = MEDIASUBTYPE_PCM;
    mt->bFixedSizeSamples = TRUE;
    mt->lSampleSize = 4;
    mt->formattype = FORMAT_WaveFormatEx;
    mt->cbFormat = sizeof(WAVEFORMATEX);
    mt->pbFormat = reinterpret_cast<BYTE*>(wave);
}

void ClearType(AM_MEDIA_TYPE* mt)
{
    CoTaskMemFree(mt->pbFormat);
    memset(mt, 0, sizeof *mt);
}

template <typename T> HRESULT Hand(T* object, void** out)
{
    object->AddRef();
    *out = object;
    return S_OK;
}

template <typename T> ULONG Drop(T* object, volatile LONG& refs)
{
    LONG left = InterlockedDecrement(&refs);
    if (left == 0)
        delete object;
    return left;
}

class TestFilter;

class TestPin : public IPin, public IAMStreamConfig {
public:
    TestFilter* filter = nullptr;
    bool audio = false;
    IPin* peer = nullptr;
    AM_MEDIA_TYPE connectedType = {};
    int chosen = -1;

    int TypeCount();
    void MakeType(int index, AM_MEDIA_TYPE* mt);
    int FindType(const AM_MEDIA_TYPE* mt);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IPin)
            return Hand(static_cast<IPin*>(this), out);
        if (iid == IID_IAMStreamConfig && !audio)
            return Hand(static_cast<IAMStreamConfig*>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) override
    {
        if (peer)
            return VFW_E_ALREADY_CONNECTED;
        for (int i = 0; i < TypeCount(); i++) {
            if (chosen >= 0 && i != chosen)
                continue;
            AM_MEDIA_TYPE mt;
            MakeType(i, &mt);
            bool fits =
                !wanted || ((wanted->majortype == GUID_NULL || wanted->majortype == mt.majortype) &&
                            (wanted->subtype == GUID_NULL || wanted->subtype == mt.subtype));
            if (fits && receiver->ReceiveConnection(this, &mt) == S_OK) {
                peer = receiver;
                peer->AddRef();
                connectedType = mt;
                if (!audio) {
                    const VIDEOINFOHEADER* v =
                        reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
                    if (mt.cbFormat >= sizeof *v) {
                        TestFilterSeen.connectedWidth = v->bmiHeader.biWidth;
                        TestFilterSeen.connectedHeight = v->bmiHeader.biHeight;
                        Log("connected", v->bmiHeader.biWidth, v->bmiHeader.biHeight);
                    }
                }
                return S_OK;
            }
            ClearType(&mt);
        }
        return VFW_E_NO_ACCEPTABLE_TYPES;
    }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override
    {
        return E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override
    {
        if (!peer)
            return S_FALSE;
        peer->Release();
        peer = nullptr;
        ClearType(&connectedType);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** out) override
    {
        *out = peer;
        if (!peer)
            return VFW_E_NOT_CONNECTED;
        peer->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) override
    {
        if (!peer)
            return VFW_E_NOT_CONNECTED;
        *mt = connectedType;
        mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(mt->cbFormat));
        memcpy(mt->pbFormat, connectedType.pbFormat, mt->cbFormat);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override
    {
        *dir = PINDIR_OUTPUT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override
    {
        const wchar_t* name = audio ? L"Audio" : L"Video";
        *id = static_cast<LPWSTR>(CoTaskMemAlloc((wcslen(name) + 1) * sizeof(wchar_t)));
        wcscpy(*id, name);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) override
    {
        return FindType(mt) >= 0 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** out) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override
    {
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* mt) override
    {
        int index = mt ? FindType(mt) : -1;
        if (index < 0)
            return VFW_E_INVALIDMEDIATYPE;
        chosen = index;
        const TestFormat& f = TestFilterSettings.formats[index];
        TestFilterSeen.setFormatCalls++;
        TestFilterSeen.lastWidth = f.width;
        TestFilterSeen.lastHeight = f.height;
        TestFilterSeen.lastRgb32 = f.rgb32;
        Log("setformat", f.width, f.height);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** out) override
    {
        if (TypeCount() == 0)
            return E_FAIL;
        *out = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        MakeType(chosen < 0 ? 0 : chosen, *out);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override
    {
        *count = TypeCount();
        *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** out, BYTE* caps) override
    {
        if (index < 0 || index >= TypeCount())
            return S_FALSE;
        memset(caps, 0, sizeof(VIDEO_STREAM_CONFIG_CAPS));
        *out = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        MakeType(index, *out);
        return S_OK;
    }
};

class TestFilter final : public IBaseFilter {
public:
    LONG refs = 1;
    TestFilterConfig config = TestFilterSettings;
    TestPin pins[2];
    int pinCount = 0;
    FILTER_STATE state = State_Stopped;
    IReferenceClock* clock = nullptr;
    IFilterGraph* graph = nullptr;  // not counted: the graph holds the filter
    wchar_t name[128] = {};

    TestFilter()
    {
        InterlockedIncrement(&TestFilterObjects);
        if (!config.noPins) {
            pins[pinCount++].filter = this;
            if (config.audioPin) {
                pins[pinCount].filter = this;
                pins[pinCount++].audio = true;
            }
        }
    }
    ~TestFilter()
    {
        StopStream();
        for (int i = 0; i < pinCount; i++)
            pins[i].Disconnect();
        if (clock)
            clock->Release();
        InterlockedDecrement(&TestFilterObjects);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter ||
            iid == IID_IBaseFilter)
            return Hand(this, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(this, refs); }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override
    {
        *id = CLSID_OvalixCaptureFilter;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        StopStream();
        state = State_Stopped;
        return S_OK;
    }

    // Samples: grey frames of the connected type, about 30 a second, from a
    // thread of the filter's through an allocator of its own.
    IMemInputPin* input = nullptr;
    IMemAllocator* allocator = nullptr;
    HANDLE streamer = nullptr;
    volatile LONG stopping = 0;

    void StartStream()
    {
        TestPin& video = pins[0];
        if (!video.peer || video.audio)
            return;
        if (FAILED(video.peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input))))
            return;
        if (FAILED(input->GetAllocator(&allocator)) &&
            FAILED(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IMemAllocator, reinterpret_cast<void**>(&allocator))))
            return;
        ALLOCATOR_PROPERTIES wanted = {3, static_cast<long>(video.connectedType.lSampleSize), 1, 0};
        ALLOCATOR_PROPERTIES actual;
        if (FAILED(allocator->SetProperties(&wanted, &actual)) ||
            FAILED(input->NotifyAllocator(allocator, FALSE)) || FAILED(allocator->Commit()))
            return;
        stopping = 0;
        streamer = CreateThread(nullptr, 0, Stream, this, 0, nullptr);
    }
    void StopStream()
    {
        stopping = 1;
        if (allocator)
            allocator->Decommit();
        if (streamer) {
            WaitForSingleObject(streamer, 5000);
            CloseHandle(streamer);
            streamer = nullptr;
        }
        if (allocator)
            allocator->Release();
        allocator = nullptr;
        if (input)
            input->Release();
        input = nullptr;
    }
    static DWORD WINAPI Stream(void* context)
    {
        TestFilter* self = static_cast<TestFilter*>(context);
        while (!self->stopping) {
            IMediaSample* sample = nullptr;
            if (FAILED(self->allocator->GetBuffer(&sample, nullptr, nullptr, 0)))
                break;
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            memset(data, 0x80, sample->GetSize());
            sample->SetActualDataLength(sample->GetSize());
            HRESULT hr = self->input->Receive(sample);
            sample->Release();
            if (hr != S_OK)
                break;
            if (InterlockedIncrement(&TestFilterSeen.samplesDelivered) == 1)
                QueryPerformanceCounter(&TestFilterSeen.firstSample);
            Sleep(33);
        }
        return 0;
    }

    HRESULT STDMETHODCALLTYPE Pause() override
    {
        if (state == State_Stopped && config.stream)
            StartStream();
        if (state == State_Stopped && config.endOfStream) {
            // The stream ends before its first sample, from a thread of the
            // filter's as a real source's would; the renderers then finish
            // pausing and report the end once the graph runs.
            AddRef();
            HANDLE thread = CreateThread(nullptr, 0, EndStream, this, 0, nullptr);
            if (thread)
                CloseHandle(thread);
            else
                Release();
        }
        state = State_Paused;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override
    {
        state = State_Running;
        return S_OK;
    }
    static DWORD WINAPI EndStream(void* context)
    {
        TestFilter* self = static_cast<TestFilter*>(context);
        Sleep(100);
        for (int i = 0; i < self->pinCount; i++)
            if (self->pins[i].peer)
                self->pins[i].peer->EndOfStream();
        self->Release();
        return 0;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* out) override
    {
        *out = state;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* newClock) override
    {
        if (newClock)
            newClock->AddRef();
        if (clock)
            clock->Release();
        clock = newClock;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** out) override
    {
        *out = clock;
        if (clock)
            clock->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** out) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin** out) override
    {
        *out = nullptr;
        return VFW_E_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override
    {
        wcscpy(info->achName, name);
        info->pGraph = graph;
        if (graph)
            graph->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* newGraph, LPCWSTR newName) override
    {
        graph = newGraph;
        name[0] = 0;
        if (newName)
            wcsncpy(name, newName, 127);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }
};

ULONG TestPin::AddRef()
{
    return filter->AddRef();
}
ULONG TestPin::Release()
{
    return filter->Release();
}

int TestPin::TypeCount()
{
    return audio ? 1 : filter->config.formatCount;
}

void TestPin::MakeType(int index, AM_MEDIA_TYPE* mt)
{
    if (audio)
        FillAudioType(mt);
    else
        FillVideoType(mt, filter->config.formats[index], filter->config.unrenderableVideo);
}

int TestPin::FindType(const AM_MEDIA_TYPE* wanted)
{
    for (int i = 0; i < TypeCount(); i++) {
        AM_MEDIA_TYPE mt;
        MakeType(i, &mt);
        bool same = mt.majortype == wanted->majortype && mt.subtype == wanted->subtype &&
                    mt.formattype == wanted->formattype && mt.cbFormat == wanted->cbFormat &&
                    wanted->pbFormat && !memcmp(mt.pbFormat, wanted->pbFormat, mt.cbFormat);
        ClearType(&mt);
        if (same)
            return i;
    }
    return -1;
}

HRESULT TestPin::QueryPinInfo(PIN_INFO* info)
{
    info->pFilter = filter;
    filter->AddRef();
    info->dir = PINDIR_OUTPUT;
    wcscpy(info->achName, audio ? L"Audio" : L"Video");
    return S_OK;
}

// One enumerator class for pins and media types: a cursor over a count,
// holding the filter alive while it exists.
template <typename Interface, typename Item> class TestEnum final : public Interface {
public:
    LONG refs = 1;
    TestFilter* filter;
    TestPin* pin;  // null for the pin enumerator
    int next = 0;
    TestEnum(TestFilter* f, TestPin* p) : filter(f), pin(p)
    {
        filter->AddRef();
        InterlockedIncrement(&TestFilterObjects);
    }
    ~TestEnum()
    {
        filter->Release();
        InterlockedDecrement(&TestFilterObjects);
    }
    int Count() { return pin ? pin->TypeCount() : filter->pinCount; }
    void Make(int index, IPin** out)
    {
        *out = &filter->pins[index];
        (*out)->AddRef();
    }
    void Make(int index, AM_MEDIA_TYPE** out)
    {
        *out = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        pin->MakeType(index, *out);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == __uuidof(Interface))
            return Hand(this, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(this, refs); }
    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, Item* out, ULONG* fetched) override
    {
        ULONG n = 0;
        while (n < wanted && next < Count())
            Make(next++, &out[n++]);
        if (fetched)
            *fetched = n;
        return n == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        next += static_cast<int>(count);
        return next <= Count() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        next = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Interface** out) override
    {
        TestEnum* copy = new TestEnum(filter, pin);
        copy->next = next;
        *out = copy;
        return S_OK;
    }
};

HRESULT TestFilter::EnumPins(IEnumPins** out)
{
    *out = nullptr;
    if (config.enumPinsFails)
        return E_FAIL;
    *out = new TestEnum<IEnumPins, IPin*>(this, nullptr);
    return S_OK;
}

HRESULT TestPin::EnumMediaTypes(IEnumMediaTypes** out)
{
    *out = nullptr;
    if (filter->config.enumTypesFails)
        return E_FAIL;
    *out = new TestEnum<IEnumMediaTypes, AM_MEDIA_TYPE*>(filter, this);
    return S_OK;
}

class TestFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IClassFactory)
            return Hand(this, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        TestFilter* filter = new (std::nothrow) TestFilter;
        if (!filter)
            return E_OUTOFMEMORY;
        HRESULT hr = filter->QueryInterface(iid, out);
        filter->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

TestFactory factory;
}  // namespace

IClassFactory* TestFilterFactory()
{
    return &factory;
}
