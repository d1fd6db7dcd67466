// The capture filter as widely used camera applications drive it, in this
// process over a shared camera block this test writes as the service would:
// one that lists every capability and records RGB24 through a Sample
// Grabber; one that picks I420 at the largest size into a sink of its own,
// which also stops the graph from its sample callback; one that lists the
// options and records the phone's JPEGs at a lower rate; and a phone that
// connects with another table between a count and the calls it counted.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "filter_com_support.h"
#include "format_table_of.h"
#include "jpeg_blocks.h"
#include "block_writer.h"
#include "source_stats.h"
#include "stored_table_access.h"
#include "stream_types.h"
#include "ticks.h"

namespace {

VIDEOINFOHEADER* Editable(AM_MEDIA_TYPE* mt)
{
    return reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
}

const GUID SUBTYPE_I420 = { 0x30323449, 0x0000, 0x0010,
                            { 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71 } };

void PublishTable(std::initializer_list<VideoFormat> entries)
{
    g_formats = TableOf(entries);
    PublishFormats();
}

// Publishes one JPEG every 33 ms, as a streaming link does, until stopped.
class CPhone {
public:
    void Start(const std::vector<uint8_t>& jpeg)
    {
        Stop();
        frame = jpeg;
        stop = false;
        thread = std::thread([this] {
            while (!stop) {
                PublishFrame(frame.data(), (uint32_t)frame.size(), 0, GetTickMs());
                ++sent;
                Sleep(33);
            }
        });
    }
    void Stop()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
    ~CPhone() { Stop(); }
    std::atomic<int> sent{0};

private:
    std::vector<uint8_t> frame;
    std::atomic<bool> stop{true};
    std::thread thread;
};

class ConsumerTest : public FilterTest {
protected:
    void SetUp() override
    {
        FilterTest::SetUp();
        ASSERT_TRUE(OpenSharedBlock());
        SetLinkState(LINK_STREAMING);
    }
    void TearDown() override
    {
        phone.Stop();
        CloseServiceResources();
        RemoveStoredKey();   // saved at the close, as a service does
        FilterTest::TearDown();
    }
    void Requested(uint32_t& w, uint32_t& h) { ReadRequestedSize(w, h); }
    CPhone phone;
};

// The stream caps entry of a subtype and size, or null.
AM_MEDIA_TYPE* FindCaps(IAMStreamConfig* config, const GUID& subtype, LONG width, LONG height)
{
    int count = 0, size = 0;
    if (FAILED(config->GetNumberOfCapabilities(&count, &size)))
        return nullptr;
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps;
        AM_MEDIA_TYPE* mt = nullptr;
        if (config->GetStreamCaps(i, &mt, (BYTE*)&caps) != S_OK)
            return nullptr;
        if (IsEqualGUID(mt->subtype, subtype) && Info(mt)->bmiHeader.biWidth == width &&
            Info(mt)->bmiHeader.biHeight == height)
            return mt;
        Free(mt);
    }
    return nullptr;
}

// Keeps a copy of the newest sample's bytes.
class CGrab : public ISampleGrabberCB {
public:
    static const InterfaceEntry Interfaces[];
    virtual ~CGrab() {}
    STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
    STDMETHODIMP BufferCB(double, BYTE* data, long size) override
    {
        std::lock_guard<std::mutex> hold(lock);
        last.assign(data, data + size);
        ++samples;
        return S_OK;
    }
    std::vector<uint8_t> Last()
    {
        std::lock_guard<std::mutex> hold(lock);
        return last;
    }
    std::atomic<int> samples{0};

private:
    std::mutex lock;
    std::vector<uint8_t> last;
};

const InterfaceEntry CGrab::Interfaces[] = {
    { &IID_ISampleGrabberCB, InterfaceOf<CGrab, ISampleGrabberCB> },
    { nullptr, nullptr },
};

TEST_F(ConsumerTest, ListsEveryCapabilityThenRecordsRgb24ThroughTheSampleGrabber)
{
    // As a service that has just started: its table's last size asked for.
    PublishTable({ { 1280, 720, 30 }, { 854, 480, 30 }, { 640, 480, 30 } });
    SetRequestedSize(640, 480);
    ComPtr<IBaseFilter> filter = dll.Create();
    ASSERT_TRUE(filter);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(OnlyPin(filter.Get()).As(&config), S_OK);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    ASSERT_EQ(count, 15);
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps;
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(config->GetStreamCaps(i, &mt, (BYTE*)&caps), S_OK);
        ASSERT_NE(mt, nullptr);
        const BITMAPINFOHEADER& bih = Info(mt)->bmiHeader;
        EXPECT_EQ(caps.MaxOutputSize.cx, bih.biWidth);
        EXPECT_EQ(caps.MaxOutputSize.cy, bih.biHeight);
        // RGB rows need no padding: width times bytes per pixel is the stride.
        if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB24)) {
            EXPECT_EQ(bih.biWidth * 3 % 4, 0) << bih.biWidth;
            EXPECT_EQ(bih.biSizeImage, (DWORD)(bih.biWidth * bih.biHeight * 3));
        }
        Free(mt);
    }

    AM_MEDIA_TYPE* rgb24 = FindCaps(config.Get(), MEDIASUBTYPE_RGB24, 852, 480);
    ASSERT_NE(rgb24, nullptr);
    EXPECT_EQ(config->SetFormat(rgb24), S_OK);
    Free(rgb24);
    uint32_t w = 0, h = 0;
    Requested(w, h);
    EXPECT_EQ(w, 640u) << "choosing a format asked the phone for another size";

    ComPtr<IGraphBuilder> graph = Make<IGraphBuilder>(CLSID_FilterGraph);
    ComPtr<IBaseFilter> grabber = Make<IBaseFilter>(CLSID_SampleGrabber);
    ComPtr<IBaseFilter> renderer = Make<IBaseFilter>(CLSID_NullRenderer);
    ComPtr<ISampleGrabber> grab;
    ComPtr<IMediaControl> control;
    ASSERT_TRUE(graph && grabber && renderer);
    ASSERT_EQ(grabber.As(&grab), S_OK);
    ASSERT_EQ(graph.As(&control), S_OK);
    AM_MEDIA_TYPE want = {};
    want.majortype = MEDIATYPE_Video;
    want.subtype = MEDIASUBTYPE_RGB24;
    grab->SetMediaType(&want);
    CGrab* callback = NewComObject<CGrab>();
    ComPtr<ISampleGrabberCB> callbackRef;
    callbackRef.Attach(callback);
    grab->SetCallback(callback, 1);
    ASSERT_EQ(ConnectChain(graph.Get(), filter.Get(), grabber.Get(), renderer.Get()), S_OK);

    std::vector<uint8_t> jpeg = EncodeJpeg(BlocksRgb(854, 480), 854, 480, TJSAMP_420);
    phone.Start(jpeg);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    for (int i = 0; i < 100 && callback->samples < 15; ++i)
        Sleep(50);
    Requested(w, h);
    EXPECT_TRUE(w == 854 && h == 480) << "streaming did not ask for its size: " << w << "x" << h;
    EXPECT_EQ(control->Stop(), S_OK);
    std::vector<uint8_t> last = callback->Last();
    ASSERT_EQ(last.size(), 852u * 480 * 3);
    StreamType t = { SAMPLE_RGB24, 852, 480, { 854, 480, 30 } };
    ExpectBlocks(StreamPicture(t), last, "sample grabber");
}

// An input pin of the application's own: it takes only the subtypes it
// lists, keeps the newest sample, and can stop the filter from inside a
// delivery, as an application's sample callback may.
class CSinkPin : public CTestInputPin, public IMemInputPin {
public:
    static const InterfaceEntry Interfaces[];
    explicit CSinkPin(std::vector<GUID> kinds) : accepted(kinds) {}
    virtual ~CSinkPin() {}

    std::atomic<int> samples{0};
    std::atomic<int> stopped{0};      // Stop calls that returned, from the streaming thread
    IBaseFilter* stopFrom = nullptr;  // set: the next sample stops this filter
    HRESULT stopResult = E_FAIL;
    GUID subtype = GUID_NULL;
    BOOL fixedSize = TRUE;

    std::vector<uint8_t> Last()
    {
        std::lock_guard<std::mutex> hold(lock);
        return last;
    }

    // IPin
    STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE* mt) override
    {
        for (const GUID& g : accepted)
            if (IsEqualGUID(mt->majortype, MEDIATYPE_Video) && IsEqualGUID(mt->subtype, g) &&
                IsEqualGUID(mt->formattype, FORMAT_VideoInfo)) {
                subtype = g;
                fixedSize = mt->bFixedSizeSamples;
                return S_OK;
            }
        return VFW_E_TYPE_NOT_ACCEPTED;
    }

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator**) override { return VFW_E_NO_ALLOCATOR; }
    STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* sample) override
    {
        BYTE* data = nullptr;
        if (SUCCEEDED(sample->GetPointer(&data))) {
            std::lock_guard<std::mutex> hold(lock);
            last.assign(data, data + sample->GetActualDataLength());
        }
        ++samples;
        if (IBaseFilter* f = stopFrom) {
            stopFrom = nullptr;
            stopResult = f->Stop();
            ++stopped;
        }
        return S_OK;
    }
    STDMETHODIMP ReceiveMultiple(IMediaSample** s, long n, long* done) override
    {
        for (*done = 0; *done < n; ++*done)
            Receive(s[*done]);
        return S_OK;
    }
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

private:
    std::vector<GUID> accepted;
    std::mutex lock;
    std::vector<uint8_t> last;
};

const InterfaceEntry CSinkPin::Interfaces[] = {
    { &IID_IPin, InterfaceOf<CSinkPin, IPin> },
    { &IID_IMemInputPin, InterfaceOf<CSinkPin, IMemInputPin> },
    { nullptr, nullptr },
};

bool WaitFor(const std::atomic<int>& value, int atLeast, DWORD ms)
{
    for (DWORD waited = 0; value < atLeast && waited < ms; waited += 20)
        Sleep(20);
    return value >= atLeast;
}

SourceStats StatsOf(IBaseFilter* filter)
{
    SourceStats s = {};
    ComPtr<IOvalixSourceStats> stats;
    if (SUCCEEDED(filter->QueryInterface(IID_PPV_ARGS(&stats))))
        stats->GetStats(&s);
    return s;
}

TEST_F(ConsumerTest, TakesI420AtTheLargestSizeIntoItsOwnSinkAndStopsFromItsCallback)
{
    PublishTable({ { 640, 480, 30 }, { 1280, 720, 30 }, { 320, 240, 30 } });
    ComPtr<IBaseFilter> filter = dll.Create();
    ASSERT_TRUE(filter);
    ComPtr<IPin> pin = OnlyPin(filter.Get());
    ComPtr<IKsPropertySet> properties;
    ASSERT_EQ(pin.As(&properties), S_OK);
    GUID category = GUID_NULL;
    DWORD returned = 0;
    ASSERT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                              sizeof category, &returned),
              S_OK);
    EXPECT_TRUE(IsEqualGUID(category, PIN_CATEGORY_CAPTURE));

    // Every capability in turn; the largest I420 wins.
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin.As(&config), S_OK);
    int count = 0, size = 0, best = -1;
    LONG bestArea = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps;
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(config->GetStreamCaps(i, &mt, (BYTE*)&caps), S_OK);
        LONG area = caps.MaxOutputSize.cx * caps.MaxOutputSize.cy;
        if (IsEqualGUID(mt->subtype, SUBTYPE_I420) && area > bestArea) {
            best = i;
            bestArea = area;
        }
        Free(mt);
    }
    ASSERT_GE(best, 0);
    VIDEO_STREAM_CONFIG_CAPS caps;
    AM_MEDIA_TYPE* i420 = nullptr;
    ASSERT_EQ(config->GetStreamCaps(best, &i420, (BYTE*)&caps), S_OK);
    EXPECT_EQ(Info(i420)->bmiHeader.biWidth, 1280);
    EXPECT_EQ(Info(i420)->bmiHeader.biBitCount, 12);
    EXPECT_EQ(Info(i420)->bmiHeader.biSizeImage, 1280u * 720 * 3 / 2);
    ASSERT_EQ(config->SetFormat(i420), S_OK);

    CSinkPin* sink = NewComObject<CSinkPin>(
        std::vector<GUID>{ SUBTYPE_I420, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_MJPG });
    ComPtr<IPin> sinkRef;
    sinkRef.Attach(static_cast<IPin*>(sink));
    ASSERT_EQ(pin->Connect(sinkRef.Get(), nullptr), S_OK);
    EXPECT_TRUE(IsEqualGUID(sink->subtype, SUBTYPE_I420));
    // Connected, only what the stream delivers is acceptable.
    EXPECT_EQ(pin->QueryAccept(i420), S_OK);
    Editable(i420)->bmiHeader.biWidth = 640;
    Editable(i420)->bmiHeader.biHeight = 480;
    EXPECT_EQ(pin->QueryAccept(i420), S_FALSE);
    Free(i420);

    phone.Start(EncodeJpeg(BlocksRgb(1280, 720), 1280, 720, TJSAMP_420));
    ASSERT_EQ(filter->Run(0), S_OK);
    ASSERT_TRUE(WaitFor(sink->samples, 10, 5000));
    StreamType t = { SAMPLE_I420, 1280, 720, { 1280, 720, 30 } };
    ExpectBlocks(StreamPicture(t), sink->Last(), "own sink");
    EXPECT_GT(StatsOf(filter.Get()).liveFrames, 5u);

    // Frames of another size (a service still switching) are not shown
    // stretched: the placeholder takes over.
    phone.Start(EncodeJpeg(BlocksRgb(640, 480), 640, 480, TJSAMP_420));
    Sleep(300);
    SourceStats before = StatsOf(filter.Get());
    Sleep(1800);
    SourceStats after = StatsOf(filter.Get());
    EXPECT_EQ(after.liveFrames, before.liveFrames);
    EXPECT_GT(after.otherSizeFrames, before.otherSizeFrames + 20);
    EXPECT_GT(after.placeholderFrames, before.placeholderFrames);
    EXPECT_EQ(sink->Last().size(), 1280u * 720 * 3 / 2);

    // Stop from inside a delivery returns, and the filter runs again.
    sink->stopFrom = filter.Get();
    ASSERT_TRUE(WaitFor(sink->stopped, 1, 5000));
    EXPECT_EQ(sink->stopResult, S_OK);
    FILTER_STATE state;
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    int samples = sink->samples;
    ASSERT_EQ(filter->Run(0), S_OK);
    EXPECT_TRUE(WaitFor(sink->samples, samples + 3, 5000));
    EXPECT_EQ(filter->Stop(), S_OK);
    EXPECT_EQ(pin->Disconnect(), S_OK);
}

TEST_F(ConsumerTest, ListsTheOptionsThenRecordsThePhonesJpegsAtALowerRate)
{
    PublishTable({ { 1280, 720, 30 }, { 640, 480, 30 }, { 640, 480, 15 } });
    ComPtr<IBaseFilter> filter = dll.Create();
    ASSERT_TRUE(filter);
    ComPtr<IPin> pin = OnlyPin(filter.Get());
    // Each size once among the media types, however many rates it has.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
    std::vector<LONG> widths;
    AM_MEDIA_TYPE* mt = nullptr;
    while (types->Next(1, &mt, nullptr) == S_OK) {
        widths.push_back(Info(mt)->bmiHeader.biWidth);
        Free(mt);
    }
    EXPECT_EQ(widths, (std::vector<LONG>{ 1280, 640 }));

    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin.As(&config), S_OK);
    AM_MEDIA_TYPE* mjpg = FindCaps(config.Get(), MEDIASUBTYPE_MJPG, 1280, 720);
    ASSERT_NE(mjpg, nullptr);
    EXPECT_EQ(mjpg->bFixedSizeSamples, FALSE);
    EXPECT_EQ(Info(mjpg)->bmiHeader.biSizeImage, FRAME_DATA_SIZE);
    Editable(mjpg)->AvgTimePerFrame = 166667;   // 60 fps
    EXPECT_EQ(config->SetFormat(mjpg), VFW_E_INVALIDMEDIATYPE);
    Editable(mjpg)->AvgTimePerFrame = 666667;   // 15 fps of the 30 fps entry
    ASSERT_EQ(config->SetFormat(mjpg), S_OK);
    Free(mjpg);

    CSinkPin* sink = NewComObject<CSinkPin>(std::vector<GUID>{ MEDIASUBTYPE_MJPG });
    ComPtr<IPin> sinkRef;
    sinkRef.Attach(static_cast<IPin*>(sink));
    ASSERT_EQ(pin->Connect(sinkRef.Get(), nullptr), S_OK);
    EXPECT_EQ(sink->fixedSize, FALSE);

    std::vector<uint8_t> jpeg = EncodeJpeg(BlocksRgb(1280, 720), 1280, 720, TJSAMP_420);
    phone.Start(jpeg);
    ASSERT_EQ(filter->Run(0), S_OK);
    ASSERT_TRUE(WaitFor(phone.sent, 15, 5000));
    int sentBefore = phone.sent, samplesBefore = sink->samples;
    Sleep(3000);
    int sent = phone.sent - sentBefore, samples = sink->samples - samplesBefore;
    EXPECT_EQ(filter->Stop(), S_OK);
    // Every sample is the phone's JPEG as it came; half of them go.
    EXPECT_EQ(sink->Last(), jpeg);
    EXPECT_NEAR(samples, sent / 2, sent / 8 + 1) << samples << " of " << sent;
}

TEST_F(ConsumerTest, APhoneReconnectingBetweenTheCountAndTheCallsItCounted)
{
    PublishTable({ { 1280, 720, 30 }, { 640, 480, 30 }, { 320, 240, 30 } });
    ComPtr<IBaseFilter> filter = dll.Create();
    ASSERT_TRUE(filter);
    ComPtr<IPin> pin = OnlyPin(filter.Get());
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin.As(&config), S_OK);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    ASSERT_EQ(count, 15);
    PublishTable({ { 640, 480, 30 } });
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps;
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(config->GetStreamCaps(i, &mt, (BYTE*)&caps), S_OK) << i;
        ASSERT_NE(mt, nullptr);
        EXPECT_EQ(Info(mt)->bmiHeader.biWidth, i < 5 ? 1280 : i < 10 ? 640 : 320);
        Free(mt);
    }
    // A new count sees the new table, and the list stays that way while the
    // pin is connected, whatever the phone does.
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 5);
    CSinkPin* sink = NewComObject<CSinkPin>(std::vector<GUID>{ MEDIASUBTYPE_RGB32 });
    ComPtr<IPin> sinkRef;
    sinkRef.Attach(static_cast<IPin*>(sink));
    ASSERT_EQ(pin->Connect(sinkRef.Get(), nullptr), S_OK);
    PublishTable({ { 1280, 720, 30 }, { 640, 480, 30 } });
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 5);
    AM_MEDIA_TYPE* mt = reinterpret_cast<AM_MEDIA_TYPE*>(&count);
    VIDEO_STREAM_CONFIG_CAPS caps;
    EXPECT_EQ(config->GetStreamCaps(5, &mt, (BYTE*)&caps), E_INVALIDARG);
    EXPECT_EQ(mt, nullptr);
    EXPECT_EQ(pin->Disconnect(), S_OK);
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 10);
}

}  // namespace
