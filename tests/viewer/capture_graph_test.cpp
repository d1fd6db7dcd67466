// The capture graph and the renderers with the platform's real filter graph,
// over the stand-in capture source registered for this process only.
#include <string.h>

#include <gtest/gtest.h>

#include "capture_graph.h"
#include "test_capture_filter.h"

namespace {

// Creating a class registered this way fails as if it were not installed.
class MissingClass : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        *out = (iid == IID_IUnknown || iid == IID_IClassFactory) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** out) override
    {
        *out = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
} missingClass;

class CaptureGraphTest : public ::testing::Test {
protected:
    DWORD filterCookie = 0;
    DWORD hiddenCookie = 0;
    CCaptureGraph graph = {};
    CFormatList list = {};

    void SetUp() override
    {
        CoInitialize(nullptr);
        ResetTestFilter();
        ASSERT_EQ(S_OK,
                  CoRegisterClassObject(CLSID_OvalixCaptureFilter, TestFilterFactory(),
                                        CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &filterCookie));
        MainWindow = CreateWindowExA(0, "STATIC", "graph test", WS_OVERLAPPEDWINDOW, 0, 0, 700, 560,
                                     nullptr, nullptr, nullptr, nullptr);
        graph.videoWindow = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_BORDER, 10, 20, 640, 480,
                                            MainWindow, nullptr, nullptr, nullptr);
        FormatList = &list;
        CaptureGraph = &graph;
    }
    void TearDown() override
    {
        ReleaseGraph(&graph);
        CaptureGraph = nullptr;
        FormatList = nullptr;
        DestroyWindow(MainWindow);
        MainWindow = nullptr;
        if (filterCookie)
            CoRevokeClassObject(filterCookie);
        if (hiddenCookie)
            CoRevokeClassObject(hiddenCookie);
        // Nothing the graph created may keep the stand-in alive.
        EXPECT_EQ(0, TestFilterObjects);
    }
    void Hide(REFCLSID filterClass)
    {
        // The first class object registered for a class wins.
        if (filterClass == CLSID_OvalixCaptureFilter) {
            CoRevokeClassObject(filterCookie);
            filterCookie = 0;
        }
        ASSERT_EQ(S_OK, CoRegisterClassObject(filterClass, &missingClass, CLSCTX_INPROC_SERVER,
                                              REGCLS_MULTIPLEUSE, &hiddenCookie));
    }
    bool Holds(const wchar_t* name)
    {
        IBaseFilter* filter = nullptr;
        if (!graph.graph || FAILED(graph.graph->FindFilterByName(name, &filter)))
            return false;
        filter->Release();
        return true;
    }
    // Waits for the graph's notification to reach the main window.
    bool WaitForGraphEvent()
    {
        for (int i = 0; i < 500; i++) {
            MSG msg;
            if (PeekMessageA(&msg, MainWindow, WM_GRAPH_EVENT, WM_GRAPH_EVENT, PM_REMOVE))
                return true;
            Sleep(10);
        }
        return false;
    }
};

VIDEOINFOHEADER Expected(int32_t w, int32_t h, int bits)
{
    VIDEOINFOHEADER v = {};
    v.AvgTimePerFrame = 333333;
    v.bmiHeader = {sizeof(BITMAPINFOHEADER),
                   w,
                   h,
                   1,
                   static_cast<WORD>(bits),
                   BI_RGB,
                   static_cast<DWORD>(w * h * bits / 8),
                   0,
                   0,
                   0,
                   0};
    v.dwBitRate = v.bmiHeader.biSizeImage * 8 * 30;
    return v;
}

TEST_F(CaptureGraphTest, ProbeCopiesWholeRecordsInTheFiltersOrder)
{
    AddTestFormat(1280, 720);
    AddTestFormat(640, 480, true, 120);  // a longer block: only its first 88 bytes
    AddTestFormat(800, 600, false, 40);  // shorter than a record: never read
    AddTestFormat(640, 480);             // same size again: recorded again
    TestFilterSettings.audioPin = true;  // only the first pin is looked at
    EXPECT_EQ(S_OK, ProbeCaptureFormats());
    ASSERT_EQ(3, list.count);
    VIDEOINFOHEADER expected[] = {Expected(1280, 720, 24), Expected(640, 480, 32),
                                  Expected(640, 480, 24)};
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(0, memcmp(&expected[i], &list.records[i], 88)) << i;
    EXPECT_EQ(nullptr, list.probeGraph);
    EXPECT_EQ(nullptr, list.probeControl);
}

TEST_F(CaptureGraphTest, ProbeStoresAtMostFiftyRecords)
{
    for (int i = 0; i < 60; i++)
        AddTestFormat(100 + i, 100);
    EXPECT_EQ(S_OK, ProbeCaptureFormats());
    ASSERT_EQ(50, list.count);
    EXPECT_EQ(149, list.records[49].bmiHeader.biWidth);
}

TEST_F(CaptureGraphTest, ProbeOutcomesForFiltersWithoutFormats)
{
    Hide(CLSID_OvalixCaptureFilter);
    EXPECT_EQ(-1, ProbeCaptureFormats());
    CoRevokeClassObject(hiddenCookie);
    hiddenCookie = 0;
    ASSERT_EQ(S_OK, CoRegisterClassObject(CLSID_OvalixCaptureFilter, TestFilterFactory(),
                                          CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &filterCookie));

    AddTestFormat(640, 480);
    TestFilterSettings.enumPinsFails = true;
    EXPECT_EQ(E_FAIL, ProbeCaptureFormats());
    TestFilterSettings.enumPinsFails = false;
    TestFilterSettings.noPins = true;
    EXPECT_EQ(S_OK, ProbeCaptureFormats());
    TestFilterSettings.noPins = false;
    TestFilterSettings.enumTypesFails = true;
    EXPECT_EQ(S_OK, ProbeCaptureFormats());
    EXPECT_EQ(0, list.count);
    EXPECT_EQ(nullptr, list.probeGraph);
}

TEST_F(CaptureGraphTest, BuildAppliesEveryMatchingTypeAndRendersIntoVmr9)
{
    AddTestFormat(320, 240);
    AddTestFormat(640, 480);
    AddTestFormat(640, 480, true);
    TestFilterSettings.stream = true;
    ASSERT_EQ(S_OK, BuildCaptureGraph(640, 480));
    EXPECT_EQ(2, TestFilterSeen.setFormatCalls);
    EXPECT_TRUE(TestFilterSeen.lastRgb32);
    EXPECT_EQ(640, TestFilterSeen.connectedWidth);
    EXPECT_TRUE(Holds(L"Ovalix filter"));
    EXPECT_TRUE(Holds(L"VMR-9"));
    EXPECT_FALSE(Holds(L"VMR-7"));
    EXPECT_FALSE(Holds(L"Audio Renderer"));  // no audio pin
    ASSERT_NE(nullptr, dynamic_cast<CVMR9*>(graph.renderer));
    EXPECT_TRUE(graph.renderer->IsActive());
    EXPECT_EQ(GRAPH_STOPPED, graph.state);

    EXPECT_TRUE(SUCCEEDED(RunGraph()));
    EXPECT_EQ(GRAPH_RUNNING, graph.state);
    // The picture cannot be checked under Wine; the samples reaching the
    // renderer can.
    for (int i = 0; i < 300 && TestFilterSeen.samplesDelivered < 3; i++)
        Sleep(10);
    EXPECT_GE(TestFilterSeen.samplesDelivered, 3);
    EXPECT_EQ(VFW_E_WRONG_STATE, RunGraph());
    EXPECT_TRUE(SUCCEEDED(StopGraph()));
    EXPECT_EQ(GRAPH_STOPPED, graph.state);
    EXPECT_EQ(VFW_E_WRONG_STATE, StopGraph());
    EXPECT_EQ(S_OK, HandleGraphEvents());  // nothing queued

    ReleaseGraph(&graph);
    EXPECT_EQ(GRAPH_CLOSED, graph.state);
    EXPECT_EQ(nullptr, graph.renderer);
    EXPECT_EQ(VFW_E_WRONG_STATE, StopGraph());
    EXPECT_EQ(GRAPH_CLOSED, graph.state);
    EXPECT_EQ(E_UNEXPECTED, HandleGraphEvents());
}

TEST_F(CaptureGraphTest, UnlistedSizeKeepsTheFiltersDefault)
{
    AddTestFormat(320, 240);
    AddTestFormat(640, 480);
    ASSERT_EQ(S_OK, BuildCaptureGraph(1280, 720));
    EXPECT_EQ(0, TestFilterSeen.setFormatCalls);
    EXPECT_EQ(320, TestFilterSeen.connectedWidth);
}

TEST_F(CaptureGraphTest, VideoPositionIsWhereTheRendererReportsIt)
{
    AddTestFormat(640, 480);
    ASSERT_EQ(S_OK, BuildCaptureGraph(640, 480));
    IVMRWindowlessControl9* control = static_cast<CVMR9*>(graph.renderer)->windowlessControl;
    RECT source, placed, client;
    GetClientRect(graph.videoWindow, &client);
    EXPECT_EQ(S_OK, graph.renderer->UpdateVideoPosition(graph.videoWindow, nullptr));
    ASSERT_EQ(S_OK, control->GetVideoPosition(&source, &placed));
    EXPECT_TRUE(EqualRect(&client, &placed));
    RECT wanted = {10, 20, 330, 260};
    EXPECT_EQ(S_OK, graph.renderer->UpdateVideoPosition(graph.videoWindow, &wanted));
    ASSERT_EQ(S_OK, control->GetVideoPosition(&source, &placed));
    EXPECT_TRUE(EqualRect(&wanted, &placed));
    // Wine's VMR-9 answers DisplayModeChanged with a failure; the shell
    // ignores that result, so it is not looked at here.
    graph.renderer->DisplayModeChanged();
}

TEST_F(CaptureGraphTest, SecondAudioPinEndsInTheAudioRenderer)
{
    AddTestFormat(640, 480);
    TestFilterSettings.audioPin = true;
    ASSERT_EQ(S_OK, BuildCaptureGraph(640, 480));
    EXPECT_TRUE(Holds(L"Audio Renderer"));
    EXPECT_TRUE(Holds(L"VMR-9"));
    EXPECT_TRUE(SUCCEEDED(RunGraph()));
}

TEST_F(CaptureGraphTest, VideoThatReachesNoRendererDropsTheRenderer)
{
    AddTestFormat(640, 480);
    TestFilterSettings.unrenderableVideo = true;
    TestFilterSettings.audioPin = true;
    ASSERT_EQ(S_OK, BuildCaptureGraph(640, 480));
    EXPECT_FALSE(Holds(L"VMR-9"));
    EXPECT_TRUE(Holds(L"Audio Renderer"));
    ASSERT_NE(nullptr, graph.renderer);
    EXPECT_FALSE(graph.renderer->IsActive());
    RECT r = {0, 0, 10, 10};
    EXPECT_EQ(S_OK, graph.renderer->UpdateVideoPosition(graph.videoWindow, &r));
    EXPECT_EQ(S_OK, graph.renderer->Repaint(graph.videoWindow, nullptr));
    EXPECT_EQ(S_OK, graph.renderer->DisplayModeChanged());
    EXPECT_EQ(S_OK, graph.renderer->DropIfUnconnected(graph.graph));
}

TEST_F(CaptureGraphTest, NothingRenderedFailsAndClosesTheGraph)
{
    AddTestFormat(640, 480);
    TestFilterSettings.unrenderableVideo = true;
    EXPECT_EQ(VFW_E_CANNOT_RENDER, BuildCaptureGraph(640, 480));
    EXPECT_EQ(GRAPH_CLOSED, graph.state);
    EXPECT_EQ(nullptr, graph.graph);
    TestFilterSettings.noPins = true;
    EXPECT_EQ(VFW_E_CANNOT_RENDER, BuildCaptureGraph(640, 480));
    TestFilterSettings.noPins = false;
    TestFilterSettings.enumPinsFails = true;
    EXPECT_EQ(E_FAIL, BuildCaptureGraph(640, 480));
    Hide(CLSID_OvalixCaptureFilter);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, BuildCaptureGraph(640, 480));
    EXPECT_EQ(GRAPH_CLOSED, graph.state);
}

TEST_F(CaptureGraphTest, EndOfStreamStopsTheGraph)
{
    AddTestFormat(640, 480);
    TestFilterSettings.endOfStream = true;
    ASSERT_EQ(S_OK, BuildCaptureGraph(640, 480));
    ASSERT_TRUE(SUCCEEDED(RunGraph()));
    // Other events may come first; each notification drains the queue.
    for (int i = 0; i < 20 && graph.state == GRAPH_RUNNING && WaitForGraphEvent(); i++)
        EXPECT_EQ(S_OK, HandleGraphEvents());
    EXPECT_EQ(GRAPH_STOPPED, graph.state);
    EXPECT_NE(nullptr, graph.graph);  // stopped, not released
}

// Without VMR-9 the VMR-7 variant is tried. Wine's VMR-7 has no aspect-ratio
// mode (E_NOTIMPL), so there the build fails with that result and neither
// renderer is left in the graph; on Windows VMR-7 takes the stream.
TEST_F(CaptureGraphTest, WithoutVmr9TheVmr7VariantIsTried)
{
    AddTestFormat(640, 480);
    Hide(CLSID_VideoMixingRenderer9);
    ASSERT_EQ(S_OK, CreateGraph(&graph));
    HRESULT hr = CreateVideoRenderer(&graph);
    EXPECT_FALSE(Holds(L"VMR-9"));
    if (hr == E_NOTIMPL) {
        EXPECT_EQ(nullptr, graph.renderer);
        EXPECT_FALSE(Holds(L"VMR-7"));
        EXPECT_EQ(E_NOTIMPL, BuildCaptureGraph(640, 480));
    } else {
        EXPECT_EQ(S_OK, hr);
        EXPECT_NE(nullptr, dynamic_cast<CVMR7*>(graph.renderer));
        EXPECT_TRUE(Holds(L"VMR-7"));
    }
}

TEST_F(CaptureGraphTest, FilterHelpers)
{
    AddTestFormat(640, 480);
    ASSERT_EQ(S_OK, BuildCaptureGraph(640, 480));
    IBaseFilter* source = nullptr;
    IBaseFilter* vmr = nullptr;
    ASSERT_EQ(S_OK, graph.graph->FindFilterByName(L"Ovalix filter", &source));
    ASSERT_EQ(S_OK, graph.graph->FindFilterByName(L"VMR-9", &vmr));
    IPin* pin = nullptr;
    EXPECT_EQ(S_OK, FindConnectedInputPin(vmr, &pin));
    ASSERT_NE(nullptr, pin);
    pin->Release();
    bool removed = true;
    EXPECT_EQ(S_OK, RemoveIfUnconnected(&removed, graph.graph, vmr));
    EXPECT_FALSE(removed);
    // Its only connected pin is an output pin: counted as unconnected.
    EXPECT_EQ(VFW_E_NOT_FOUND, FindConnectedInputPin(source, &pin));
    EXPECT_EQ(nullptr, pin);
    EXPECT_EQ(S_OK, RemoveIfUnconnected(&removed, graph.graph, source));
    EXPECT_TRUE(removed);
    EXPECT_FALSE(Holds(L"Ovalix filter"));
    source->Release();
    vmr->Release();

    IBaseFilter* added = reinterpret_cast<IBaseFilter*>(1);
    // No class is registered under an interface identifier.
    EXPECT_TRUE(FAILED(CreateAndAddFilter(&added, graph.graph, IID_IPin, L"nothing")));
    EXPECT_EQ(nullptr, added);
}

}  // namespace
