// The viewer's shell state and operations: one main window with its idle
// picture and video window, the docked control bar, Play and Stop. All of it
// runs on the one thread of the message loop.
#pragma once
#include <stdint.h>

#include "capture_graph.h"

enum { TEXT_BUFFER = 100, RESOLUTION_LABEL_BYTES = 50, BUTTON_FACES = 11, TEXT_FONT_PIXELS = 32 };

enum ButtonFace {
    FACE_PLAY_NORMAL,
    FACE_PLAY_PRESSED,
    FACE_PLAY_DISABLED,
    FACE_STOP_NORMAL,
    FACE_STOP_PRESSED,
    FACE_STOP_DISABLED,
    FACE_EXIT_NORMAL,
    FACE_EXIT_PRESSED,
    FACE_NEXT_NORMAL,
    FACE_NEXT_PRESSED,
    FACE_NEXT_DISABLED,
};

extern char WindowTitle[TEXT_BUFFER];
extern char WindowClassName[TEXT_BUFFER];
extern HINSTANCE ModuleInstance;
extern HWND ControlBar;
extern HWND VideoWindow;
extern HBITMAP ButtonFaces[BUTTON_FACES];
extern HBITMAP Logo;
extern HFONT TextFont;
extern HDC IdlePicture;
extern int32_t PlayState;
extern int32_t SelectedFormat;
extern char ResolutionLabels[FORMAT_LIST_RECORDS][RESOLUTION_LABEL_BYTES];
extern int32_t MaxWidth, MaxHeight;  // widest record and its height
extern int32_t PictureWidth;         // MaxWidth, at least 640
extern int32_t BarHeight;

// Shell (main window)
void RegisterViewerClass(HINSTANCE instance);
bool CreateViewerWindows(HINSTANCE instance, int showCommand);
void SetClientSize(int32_t width, int32_t height);
HFONT CreateTextFont(int pixels);  // the idle picture's and label's face, this high
int32_t StartPreview();
int32_t StopPreview();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PaintMainWindow();
void PaintIdlePicture(HDC dc, const RECT* rect);
void FitVideoToWindow();
void ReleaseViewerResources();
void BuildIdlePicture();
void DockControlBar();
bool AnotherInstanceRuns();

// Control bar
INT_PTR CALLBACK ControlBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam);
void DrawBarButton(const DRAWITEMSTRUCT* item);
void SetPlayState(int32_t state);
void ShowSelectedResolution();
void PlaceBarControls();
