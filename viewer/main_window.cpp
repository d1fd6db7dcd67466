// The main window: class, start-up, layout, painting and clean-up.
#include <stdio.h>

#include <new>

#include "resource_ids.h"
#include "viewer_shell.h"

namespace {
const int32_t MIN_PICTURE_WIDTH = 640;

const int FACE_IDS[BUTTON_FACES] = {
    IDB_PLAY_NORMAL,  IDB_PLAY_PRESSED,  IDB_PLAY_DISABLED, IDB_STOP_NORMAL,
    IDB_STOP_PRESSED, IDB_STOP_DISABLED, IDB_EXIT_NORMAL,   IDB_EXIT_PRESSED,
    IDB_NEXT_NORMAL,  IDB_NEXT_PRESSED,  IDB_NEXT_DISABLED,
};

void LoadArtwork(HINSTANCE instance)
{
    for (int i = 0; i < BUTTON_FACES; i++)
        ButtonFaces[i] = LoadBitmapA(instance, MAKEINTRESOURCEA(FACE_IDS[i]));
    Logo = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_LOGO));
}

// The widest record sets the picture area; the first of equally wide ones
// gives its height. Each record gets its label.
void ReadFormatList()
{
    SelectedFormat = 0;
    for (int32_t i = 0; i < FormatList->count; i++) {
        const BITMAPINFOHEADER& header = FormatList->records[i].bmiHeader;
        if (header.biWidth > MaxWidth) {
            MaxWidth = header.biWidth;
            MaxHeight = header.biHeight;
        }
        snprintf(ResolutionLabels[i], RESOLUTION_LABEL_BYTES, "%4d x %3d",
                 static_cast<int>(header.biWidth), static_cast<int>(header.biHeight));
    }
}
}  // namespace

void RegisterViewerClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_VIEWER_LARGE));
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_VIEWER_SMALL));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = WindowClassName;
    RegisterClassExA(&windowClass);
}

bool CreateViewerWindows(HINSTANCE instance, int showCommand)
{
    if (AnotherInstanceRuns()) {
        HWND running = FindWindowA("OVALIXSETUP", "Ovalix Viewer");
        if (running)
            SetForegroundWindow(running);
        return false;
    }
    ModuleInstance = instance;
    MainWindow = CreateWindowExA(
        0, WindowClassName, WindowTitle, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
        CW_USEDEFAULT, CW_USEDEFAULT, 320, 240, nullptr, nullptr, instance, nullptr);
    if (!MainWindow)
        return false;
    LoadArtwork(instance);
    TextFont = CreateTextFont(TEXT_FONT_PIXELS);

    ControlBar = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_CONTROL_BAR), MainWindow,
                                    ControlBarProc, 0);
    RECT barRect = {};
    GetWindowRect(ControlBar, &barRect);
    BarHeight = barRect.bottom - barRect.top;

    VideoWindow = CreateWindowExA(0, "Button", "", WS_CHILD | WS_BORDER, 0, 0, 1, 1, MainWindow,
                                  nullptr, instance, nullptr);
    CoInitialize(nullptr);

    // The probe needs the list; without it the viewer cannot start.
    FormatList = new (std::nothrow) CFormatList;
    if (!FormatList)
        return false;
    FormatList->count = 0;
    FormatList->probeGraph = nullptr;
    FormatList->probeControl = nullptr;
    if (ProbeCaptureFormats() < 0)
        return false;

    ReadFormatList();
    ShowSelectedResolution();
    PictureWidth = MaxWidth < MIN_PICTURE_WIDTH ? MIN_PICTURE_WIDTH : MaxWidth;
    SetClientSize(PictureWidth, MaxHeight + BarHeight);
    DockControlBar();
    PlaceBarControls();
    BuildIdlePicture();

    ShowWindow(ControlBar, SW_SHOW);
    ShowWindow(MainWindow, showCommand);
    UpdateWindow(MainWindow);
    InvalidateRect(MainWindow, nullptr, TRUE);
    PlayState = 0;
    return true;
}

HFONT CreateTextFont(int pixels)
{
    return CreateFontA(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, "Ms Shell Dlg 2");
}

void SetClientSize(int32_t width, int32_t height)
{
    RECT client, outer;
    GetClientRect(MainWindow, &client);
    GetWindowRect(MainWindow, &outer);
    int32_t outerWidth = (outer.right - outer.left) - (client.right - client.left) + width;
    int32_t outerHeight = (outer.bottom - outer.top) - (client.bottom - client.top) + height;
    MoveWindow(MainWindow, outer.left, outer.top, outerWidth, outerHeight, TRUE);
}

void DockControlBar()
{
    RECT client;
    GetClientRect(MainWindow, &client);
    SetWindowPos(ControlBar, nullptr, 0, client.bottom - BarHeight, client.right - client.left,
                 BarHeight, SWP_NOZORDER);
}

void FitVideoToWindow()
{
    CCaptureGraph* graph = CaptureGraph;
    if (!graph)
        return;
    RECT client;
    GetClientRect(VideoWindow, &client);
    if (graph->renderer)
        graph->renderer->UpdateVideoPosition(graph->videoWindow, &client);
}

void PaintIdlePicture(HDC dc, const RECT* rect)
{
    ShowWindow(VideoWindow, SW_HIDE);
    BitBlt(dc, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
           IdlePicture, rect->left, rect->top, SRCCOPY);
}

void PaintMainWindow()
{
    CCaptureGraph* graph = CaptureGraph;
    PAINTSTRUCT paint;
    if (graph && graph->state != GRAPH_CLOSED && graph->renderer && graph->renderer->IsActive()) {
        HDC dc = BeginPaint(VideoWindow, &paint);
        graph->renderer->Repaint(graph->videoWindow, dc);
        EndPaint(VideoWindow, &paint);
        return;
    }
    // The video window is hidden before the paint starts, so that the area it
    // covered belongs to this paint; hidden only inside it, that area would be
    // clipped from it and then erased black by the default handling.
    ShowWindow(VideoWindow, SW_HIDE);
    HDC dc = BeginPaint(MainWindow, &paint);
    PaintIdlePicture(dc, &paint.rcPaint);
    EndPaint(MainWindow, &paint);
}

void ReleaseViewerResources()
{
    if (PlayState != 0)
        SetPlayState(0);
    if (FormatList) {
        ReleaseProbeGraph(FormatList);
        delete FormatList;
        FormatList = nullptr;
    }
    for (int i = 0; i < BUTTON_FACES; i++) {
        if (ButtonFaces[i])
            DeleteObject(ButtonFaces[i]);
        ButtonFaces[i] = nullptr;
    }
    if (Logo)
        DeleteObject(Logo);
    Logo = nullptr;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        ReleaseViewerResources();
        if (CaptureGraph) {
            ReleaseGraph(CaptureGraph);
            delete CaptureGraph;
            CaptureGraph = nullptr;
        }
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        return 0;
    case WM_PAINT:
        PaintMainWindow();
        break;
    case WM_DISPLAYCHANGE:
        if (CaptureGraph && CaptureGraph->renderer)
            CaptureGraph->renderer->DisplayModeChanged();
        break;
    case WM_GRAPH_EVENT:
        HandleGraphEvents();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
