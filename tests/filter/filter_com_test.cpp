// The capture filter as a COM object in this process, loaded from its DLL
// without registration: class factory, filter and pin interfaces, formats
// without a service, connections a peer refuses, and a streaming graph that
// leaves no thread behind once released.
#define NO_DSHOW_STRSAFE
#include <dshow.h>
#include <qedit.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string.h>
#include <wchar.h>

#include <atomic>

#include "camera_block.h"
#include "filter_com_support.h"
#include "source_stats.h"
#include "stored_table_access.h"

namespace {

TEST_F(FilterTest, FactoryFilterAndPinInterfaces)
{
    ComPtr<IClassFactory> factory;
    ComPtr<IUnknown> other;
    EXPECT_EQ(dll.getClassObject(CLSID_FilterGraph, IID_PPV_ARGS(&factory)),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(dll.getClassObject(CLSID_OvalixCaptureFilter, IID_PPV_ARGS(&factory)), S_OK);
    IUnknown* outer = factory.Get();
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, (void**)&other), CLASS_E_NOAGGREGATION);

    ComPtr<IBaseFilter> filter = dll.Create();
    ASSERT_TRUE(filter);
    CLSID id;
    EXPECT_EQ(filter->GetClassID(&id), S_OK);
    EXPECT_TRUE(IsEqualCLSID(id, CLSID_OvalixCaptureFilter));
    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(filter.As(&flags), S_OK);
    EXPECT_EQ(flags->GetMiscFlags(), (ULONG)AM_FILTER_MISC_FLAGS_IS_SOURCE);
    ComPtr<IMediaSeeking> seeking;
    EXPECT_EQ(filter.As(&seeking), E_NOINTERFACE);

    ComPtr<IPin> pin = OnlyPin(filter.Get());
    ASSERT_TRUE(pin);
    PIN_DIRECTION direction;
    EXPECT_EQ(pin->QueryDirection(&direction), S_OK);
    EXPECT_EQ(direction, PINDIR_OUTPUT);
    PIN_INFO info;
    ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.pFilter, filter.Get());
    EXPECT_STREQ(info.achName, PIN_NAME);
    info.pFilter->Release();
    ComPtr<IPin> found;
    EXPECT_EQ(filter->FindPin(PIN_NAME, &found), S_OK);
    EXPECT_EQ(found.Get(), pin.Get());
    // The pin's interfaces lead back to the same object.
    ComPtr<IUnknown> a, b;
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin.As(&config), S_OK);
    config.As(&a);
    pin.As(&b);
    EXPECT_EQ(a.Get(), b.Get());

    ComPtr<IKsPropertySet> properties;
    ASSERT_EQ(pin.As(&properties), S_OK);
    GUID category = GUID_NULL;
    DWORD returned = 0, support = 0;
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                              sizeof category, &returned),
              S_OK);
    EXPECT_TRUE(IsEqualGUID(category, PIN_CATEGORY_CAPTURE));
    EXPECT_EQ(returned, sizeof(GUID));
    EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support), S_OK);
    EXPECT_EQ(support, (DWORD)KSPROPERTY_SUPPORT_GET);
    EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 2,
                              &returned),
              E_UNEXPECTED);
}

TEST_F(FilterTest, WithoutServiceOffersTheServiceDefaultFormat)
{
    RemoveStoredKey();
    ComPtr<IBaseFilter> filter = dll.Create();
    ASSERT_TRUE(filter);
    ComPtr<IPin> pin = OnlyPin(filter.Get());
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* mt = nullptr;
    AM_MEDIA_TYPE* more = nullptr;
    ASSERT_EQ(types->Next(1, &mt, nullptr), S_OK);
    EXPECT_EQ(types->Next(1, &more, nullptr), S_FALSE);   // one type per size
    EXPECT_TRUE(IsEqualGUID(mt->majortype, MEDIATYPE_Video));
    EXPECT_TRUE(IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB32));
    EXPECT_TRUE(IsEqualGUID(mt->formattype, FORMAT_VideoInfo));
    ASSERT_GE(mt->cbFormat, 88u);
    const VIDEOINFOHEADER* vih = Info(mt);
    EXPECT_EQ(vih->bmiHeader.biWidth, 640);
    EXPECT_EQ(vih->bmiHeader.biHeight, 480);
    EXPECT_EQ(vih->bmiHeader.biBitCount, 32);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, 640u * 480 * 4);
    EXPECT_EQ(vih->AvgTimePerFrame, 333333);
    EXPECT_EQ(mt->lSampleSize, 640u * 480 * 4);
    EXPECT_EQ(pin->QueryAccept(mt), S_OK);

    // Every subtype in the stream caps, with the rates from the entry's down
    // to 5 a second; an index past the count fails and sets no type.
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin.As(&config), S_OK);
    int count = 0, size = 0;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(size, (int)sizeof(VIDEO_STREAM_CONFIG_CAPS));
    VIDEO_STREAM_CONFIG_CAPS caps;
    AM_MEDIA_TYPE* capsType = nullptr;
    ASSERT_EQ(config->GetStreamCaps(0, &capsType, (BYTE*)&caps), S_OK);
    EXPECT_EQ(caps.MaxOutputSize.cx, 640);
    EXPECT_EQ(caps.MinFrameInterval, 333333);
    EXPECT_EQ(caps.MaxFrameInterval, 2000000);
    EXPECT_GT(caps.MaxBitsPerSecond, caps.MinBitsPerSecond);
    AM_MEDIA_TYPE* past = reinterpret_cast<AM_MEDIA_TYPE*>(&caps);
    EXPECT_EQ(config->GetStreamCaps(5, &past, (BYTE*)&caps), E_INVALIDARG);
    EXPECT_EQ(past, nullptr);
    past = reinterpret_cast<AM_MEDIA_TYPE*>(&caps);
    EXPECT_EQ(config->GetStreamCaps(0, &past, nullptr), E_POINTER);
    EXPECT_EQ(past, nullptr);

    // Only offered sizes, and subtypes whose header matches them, are taken.
    VIDEOINFOHEADER* editable = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
    editable->bmiHeader.biWidth = 320;
    EXPECT_EQ(pin->QueryAccept(mt), S_FALSE);
    EXPECT_EQ(config->SetFormat(mt), VFW_E_INVALIDMEDIATYPE);
    editable->bmiHeader.biWidth = 640;
    mt->subtype = MEDIASUBTYPE_YUY2;
    EXPECT_EQ(pin->QueryAccept(mt), S_FALSE);   // 32 bits, no FOURCC
    editable->bmiHeader.biBitCount = 16;
    editable->bmiHeader.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
    EXPECT_EQ(pin->QueryAccept(mt), S_OK);
    editable->AvgTimePerFrame = 166667;   // 60 fps: more than the entry's 30
    EXPECT_EQ(config->SetFormat(mt), VFW_E_INVALIDMEDIATYPE);
    editable->AvgTimePerFrame = 666667;
    EXPECT_EQ(config->SetFormat(mt), S_OK);
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    EXPECT_TRUE(IsEqualGUID(current->subtype, MEDIASUBTYPE_YUY2));
    EXPECT_EQ(Info(current)->AvgTimePerFrame, 666667);
    Free(current);
    Free(capsType);
    Free(mt);
}

TEST_F(FilterTest, WithoutServiceOffersTheStoredTable)
{
    // What a service would start with: the stored table, its last size asked
    // for. A table the service would throw out is not offered either.
    FormatTable stored;
    memset(&stored, 0, sizeof stored);
    stored.mode = 3;
    stored.count = 2;
    stored.entries[0] = { PackEntry(1280, 720, 0), 30.0f };
    stored.entries[1] = { PackEntry(320, 240, 0), 15.0f };
    for (bool usable : { true, false }) {
        if (!usable)
            stored.entries[1].fps = 60.0f;
        WriteStoredValue(&stored, sizeof stored);
        ComPtr<IBaseFilter> filter = dll.Create();
        ASSERT_TRUE(filter);
        ComPtr<IAMStreamConfig> config;
        ASSERT_EQ(OnlyPin(filter.Get()).As(&config), S_OK);
        int count = 0, size = 0;
        ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
        EXPECT_EQ(count, usable ? 10 : 5);
        AM_MEDIA_TYPE* current = nullptr;
        ASSERT_EQ(config->GetFormat(&current), S_OK);
        EXPECT_EQ(Info(current)->bmiHeader.biWidth, usable ? 320 : 640);
        Free(current);
    }
    RemoveStoredKey();
}

// An input pin that refuses every connection, or takes the type but has no
// way to take samples.
class CFakeInput : public CTestInputPin {
public:
    static const InterfaceEntry Interfaces[];
    explicit CFakeInput(bool accept) : acceptType(accept) {}
    virtual ~CFakeInput() {}
    bool acceptType;
    int connections = 0;
    int disconnects = 0;

    STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override
    {
        if (!acceptType)
            return VFW_E_TYPE_NOT_ACCEPTED;
        ++connections;
        return S_OK;
    }
    STDMETHODIMP Disconnect() override
    {
        ++disconnects;
        return S_OK;
    }
};

const InterfaceEntry CFakeInput::Interfaces[] = {
    { &IID_IPin, InterfaceOf<CFakeInput, IPin> },
    { nullptr, nullptr },
};

TEST_F(FilterTest, RefusedConnectionLeavesThePinUnconnected)
{
    ComPtr<IBaseFilter> filter = dll.Create();
    ASSERT_TRUE(filter);
    ComPtr<IPin> pin = OnlyPin(filter.Get());
    for (bool accept : { false, true }) {
        CFakeInput* fake = NewComObject<CFakeInput>(accept);
        ComPtr<IPin> peer;
        peer.Attach(fake);
        EXPECT_TRUE(FAILED(pin->Connect(peer.Get(), nullptr))) << accept;
        // A peer that took the type and then could not stream is let go again.
        EXPECT_EQ(fake->disconnects, fake->connections) << accept;
        ComPtr<IPin> connected;
        EXPECT_EQ(pin->ConnectedTo(&connected), VFW_E_NOT_CONNECTED);
        EXPECT_FALSE(connected);
        AM_MEDIA_TYPE mt;
        EXPECT_EQ(pin->ConnectionMediaType(&mt), VFW_E_NOT_CONNECTED);
    }

    // And the same pin then connects to a real renderer.
    ComPtr<IGraphBuilder> graph = Make<IGraphBuilder>(CLSID_FilterGraph);
    ComPtr<IBaseFilter> renderer = Make<IBaseFilter>(CLSID_NullRenderer);
    ASSERT_TRUE(graph && renderer);
    ASSERT_EQ(graph->AddFilter(filter.Get(), FILTER_NAME), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer.Get(), L"Null Renderer"), S_OK);
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> input;
    ASSERT_EQ(renderer->EnumPins(&pins), S_OK);
    ASSERT_EQ(pins->Next(1, &input, nullptr), S_OK);
    EXPECT_EQ(graph->ConnectDirect(pin.Get(), input.Get(), nullptr), S_OK);
    ComPtr<IPin> connected;
    EXPECT_EQ(pin->ConnectedTo(&connected), S_OK);
}

DWORD ThreadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD count = 0, self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self)
            ++count;
    CloseHandle(snapshot);
    return count;
}

// Builds filter → Sample Grabber → Null Renderer, runs it, pauses and
// stops it, and lets everything go. Returns the placeholder pictures seen.
uint64_t RunGraphOnce(FilterDll& dll, DWORD runMs)
{
    ComPtr<IGraphBuilder> graph = Make<IGraphBuilder>(CLSID_FilterGraph);
    ComPtr<IBaseFilter> grabber = Make<IBaseFilter>(CLSID_SampleGrabber);
    ComPtr<IBaseFilter> renderer = Make<IBaseFilter>(CLSID_NullRenderer);
    ComPtr<IMediaControl> control;
    EXPECT_TRUE(graph && grabber && renderer);
    if (!graph || !grabber || !renderer)
        return 0;
    graph.As(&control);
    ComPtr<IBaseFilter> filter = dll.Create();
    EXPECT_TRUE(filter);
    if (!filter)
        return 0;
    EXPECT_EQ(ConnectChain(graph.Get(), filter.Get(), grabber.Get(), renderer.Get()), S_OK);
    EXPECT_TRUE(SUCCEEDED(control->Run()));
    Sleep(runMs);
    EXPECT_TRUE(SUCCEEDED(control->Pause()));
    EXPECT_EQ(control->Stop(), S_OK);
    ComPtr<IOvalixSourceStats> stats;
    SourceStats counted = {};
    if (SUCCEEDED(filter.As(&stats)))
        stats->GetStats(&counted);
    return counted.placeholderFrames;
}

TEST_F(FilterTest, StreamsThePlaceholderAndLeavesNoThreadBehind)
{
    // Once for the graph manager's own first-use threads and objects.
    EXPECT_GT(RunGraphOnce(dll, 700), 0u);
    Sleep(500);
    DWORD threads = ThreadCount();
    DWORD handles = 0, handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    for (int i = 0; i < 3; ++i)
        EXPECT_GT(RunGraphOnce(dll, 500), 0u);
    EXPECT_EQ(dll.canUnload(), S_OK);
    DWORD after = ThreadCount();
    for (int i = 0; i < 40 && after > threads; ++i) {
        Sleep(50);
        after = ThreadCount();
    }
    EXPECT_LE(after, threads);
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    EXPECT_LE(handlesAfter, handles + 2);
}

// A downstream callback that asks the source pin about the connection from
// inside each sample's delivery, and takes its time over it.
class CCallingBack : public ISampleGrabberCB {
public:
    static const InterfaceEntry Interfaces[];
    explicit CCallingBack(IPin* p) : pin(p) {}
    virtual ~CCallingBack() {}
    std::atomic<int> samples{0};
    STDMETHODIMP SampleCB(double, IMediaSample*) override
    {
        AM_MEDIA_TYPE mt;
        if (SUCCEEDED(pin->ConnectionMediaType(&mt)) && mt.pbFormat)
            CoTaskMemFree(mt.pbFormat);
        ++samples;
        Sleep(40);
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return S_OK; }

private:
    IPin* pin;   // the graph holds the filter for as long as this runs
};

const InterfaceEntry CCallingBack::Interfaces[] = {
    { &IID_ISampleGrabberCB, InterfaceOf<CCallingBack, ISampleGrabberCB> },
    { nullptr, nullptr },
};

TEST_F(FilterTest, RunsAndStopsAgainWithASlowDownstreamThatCallsBack)
{
    ComPtr<IGraphBuilder> graph = Make<IGraphBuilder>(CLSID_FilterGraph);
    ComPtr<IBaseFilter> grabber = Make<IBaseFilter>(CLSID_SampleGrabber);
    ComPtr<IBaseFilter> renderer = Make<IBaseFilter>(CLSID_NullRenderer);
    ComPtr<IBaseFilter> filter = dll.Create();
    ASSERT_TRUE(graph && grabber && renderer && filter);
    ComPtr<ISampleGrabber> grab;
    ComPtr<IMediaControl> control;
    ASSERT_EQ(grabber.As(&grab), S_OK);
    ASSERT_EQ(graph.As(&control), S_OK);
    ComPtr<IPin> out = OnlyPin(filter.Get());
    CCallingBack* callback = NewComObject<CCallingBack>(out.Get());
    ComPtr<ISampleGrabberCB> callbackRef;
    callbackRef.Attach(callback);
    grab->SetCallback(callback, 0);
    ASSERT_EQ(ConnectChain(graph.Get(), filter.Get(), grabber.Get(), renderer.Get()), S_OK);
    // The same graph run and stopped again and again: a new worker each time,
    // and Stop lands at a different point of a delivery each round.
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        Sleep(250 + 17 * round);
        EXPECT_EQ(control->Stop(), S_OK);
    }
    EXPECT_GT(callback->samples.load(), 0);
    grab->SetCallback(nullptr, 0);
}

}  // namespace
