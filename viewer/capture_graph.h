// The capture filter's format list, read once through a probe graph, and the
// playback graph built on Play. Everything runs on the viewer's UI thread.
#pragma once
#include <stdint.h>

#include "directshow.h"
#include "video_renderer.h"

enum { FORMAT_LIST_RECORDS = 50 };

struct CFormatList {
    int32_t count;
    VIDEOINFOHEADER records[FORMAT_LIST_RECORDS];
    IGraphBuilder* probeGraph;
    IMediaControl* probeControl;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88, "a format record is the whole VIDEOINFOHEADER");

enum GraphState {
    GRAPH_CLOSED = 0,
    GRAPH_RUNNING = 1,
    GRAPH_PAUSED = 2,
    GRAPH_STOPPED = 3,
};

struct CCaptureGraph {
    int32_t state;
    HWND videoWindow;
    IGraphBuilder* graph;
    IMediaControl* control;
    IMediaEventEx* events;
    CVideoRenderer* renderer;
};

// The message the graph posts to the main window when events are queued.
enum { WM_GRAPH_EVENT = WM_APP + 1 };

extern const CLSID CLSID_OvalixCaptureFilter;

// The shell's objects the graph operations work on (the shell owns them).
extern CFormatList* FormatList;
extern CCaptureGraph* CaptureGraph;
extern HWND MainWindow;

int32_t ProbeCaptureFormats();
void ReleaseProbeGraph(CFormatList* list);
HRESULT BuildCaptureGraph(int32_t width, int32_t height);
HRESULT RunGraph();
HRESULT StopGraph();
void ReleaseGraph(CCaptureGraph* graph);
HRESULT HandleGraphEvents();

// Internal steps, open to the tests.
IBaseFilter* CreateProbeGraph(CFormatList* list);
HRESULT CreateGraph(CCaptureGraph* graph);
HRESULT RenderCaptureFilter(CCaptureGraph* graph, IBaseFilter* filter);
HRESULT CreateVideoRenderer(CCaptureGraph* graph);
void FreeMediaType(AM_MEDIA_TYPE* type);
// Hands each media type of the filter's first pin to visit, then frees it;
// the result is that of EnumPins.
HRESULT VisitFirstPinTypes(IBaseFilter* filter,
                           void (*visit)(IPin* pin, const AM_MEDIA_TYPE* type, void* context),
                           void* context);
