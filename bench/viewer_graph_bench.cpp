// Times of the viewer's capture graph under Wine, median of 10 runs each:
// the format probe, and build + run until the first sample has reached the
// video renderer. Over the tests' stand-in source (1280 x 720 RGB24, grey
// frames); reports numbers and never fails on them.
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "capture_graph.h"
#include "test_capture_filter.h"

namespace {
double Ms(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}
}  // namespace

int main()
{
    CoInitialize(nullptr);
    DWORD cookie = 0;
    CoRegisterClassObject(CLSID_OvalixCaptureFilter, TestFilterFactory(), CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &cookie);
    ResetTestFilter();
    AddTestFormat(1280, 720);
    AddTestFormat(640, 480);
    AddTestFormat(320, 240);
    TestFilterSettings.stream = true;
    MainWindow = CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 1300, 800,
                                 nullptr, nullptr, nullptr, nullptr);
    HWND video = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_BORDER, 0, 0, 1280, 720, MainWindow,
                                 nullptr, nullptr, nullptr);
    CFormatList list = {};
    FormatList = &list;

    std::vector<double> probe, firstSample;
    for (int i = 0; i < 10; i++) {
        list.count = 0;
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        ProbeCaptureFormats();
        QueryPerformanceCounter(&t1);
        probe.push_back(Ms(t0, t1));
    }
    int missed = 0;
    for (int i = 0; i < 10; i++) {
        CCaptureGraph graph = {};
        graph.videoWindow = video;
        CaptureGraph = &graph;
        TestFilterSeen.samplesDelivered = 0;
        LARGE_INTEGER t0;
        QueryPerformanceCounter(&t0);
        if (BuildCaptureGraph(1280, 720) >= 0) {
            graph.renderer->UpdateVideoPosition(video, nullptr);
            RunGraph();
        }
        for (int wait = 0; wait < 500 && TestFilterSeen.samplesDelivered == 0; wait++) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            Sleep(2);
        }
        if (TestFilterSeen.samplesDelivered > 0)
            firstSample.push_back(Ms(t0, TestFilterSeen.firstSample));
        else
            missed++;
        StopGraph();
        ReleaseGraph(&graph);
        CaptureGraph = nullptr;
    }
    printf("ProbeCaptureFormats: median %.2f ms (10 runs, 3 formats)\n", Median(probe));
    printf("BuildCaptureGraph + RunGraph to the first sample at the renderer: median %.2f ms "
           "(%zu runs, %d without a sample)\n",
           Median(firstSample), firstSample.size(), missed);
    return 0;
}
