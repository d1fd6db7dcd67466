// Play and Stop: the playback graph lives from one to the other.
#include <new>

#include "viewer_shell.h"

int32_t StartPreview()
{
    // With no records there is no format to play: the bar still shows the
    // playing state, and the next paint shows the idle picture.
    int32_t w = 0, h = 0;
    if (FormatList && SelectedFormat < FormatList->count) {
        w = FormatList->records[SelectedFormat].bmiHeader.biWidth;
        h = FormatList->records[SelectedFormat].bmiHeader.biHeight;
    }
    SetWindowPos(VideoWindow, nullptr, (MaxWidth - w) / 2, (MaxHeight - h) / 2, w, h,
                 SWP_NOZORDER | SWP_NOOWNERZORDER);
    ShowWindow(VideoWindow, SW_SHOW);

    CCaptureGraph* graph = new (std::nothrow) CCaptureGraph;
    if (!graph)
        return -1;
    *graph = CCaptureGraph();
    graph->state = GRAPH_CLOSED;
    graph->videoWindow = VideoWindow;
    // A graph left by an earlier Play is released first, never leaked.
    if (CaptureGraph) {
        ReleaseGraph(CaptureGraph);
        delete CaptureGraph;
    }
    CaptureGraph = graph;
    if (FormatList && SelectedFormat < FormatList->count && BuildCaptureGraph(w, h) >= 0) {
        FitVideoToWindow();
        RunGraph();
    }
    InvalidateRect(MainWindow, nullptr, TRUE);
    UpdateWindow(MainWindow);
    UpdateWindow(VideoWindow);
    SetPlayState(1);
    return 0;
}

int32_t StopPreview()
{
    if (CaptureGraph) {
        StopGraph();
        ReleaseGraph(CaptureGraph);
        delete CaptureGraph;
        CaptureGraph = nullptr;
    }
    DockControlBar();
    ShowWindow(VideoWindow, SW_HIDE);
    InvalidateRect(MainWindow, nullptr, TRUE);
    UpdateWindow(MainWindow);
    UpdateWindow(ControlBar);
    SetPlayState(0);
    return 0;
}
