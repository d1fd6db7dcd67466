// The shell's process-wide state.
#include "viewer_shell.h"

char WindowTitle[TEXT_BUFFER];
char WindowClassName[TEXT_BUFFER];
HINSTANCE ModuleInstance;
HWND ControlBar;
HWND VideoWindow;
HBITMAP ButtonFaces[BUTTON_FACES];
HBITMAP Logo;
HFONT TextFont;
HDC IdlePicture;
int32_t PlayState;
int32_t SelectedFormat;
char ResolutionLabels[FORMAT_LIST_RECORDS][RESOLUTION_LABEL_BYTES];
int32_t MaxWidth, MaxHeight;
int32_t PictureWidth;
int32_t BarHeight;
