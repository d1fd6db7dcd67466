// The idle picture: composed once at start-up into an off-screen bitmap of
// W x maxH pixels; each paint copies the invalid rectangle from it.
#include <stdio.h>

#include "viewer_shell.h"

namespace {
const COLORREF IDLE_BACKGROUND = RGB(85, 153, 187);

void DrawLine(HDC dc, const char* text, int32_t top)
{
    RECT rect = {0, top, PictureWidth, MaxHeight};
    DrawTextA(dc, text, -1, &rect, DT_CENTER | DT_TOP | DT_SINGLELINE);
}
}  // namespace

void BuildIdlePicture()
{
    HDC windowDc = GetDC(MainWindow);
    IdlePicture = CreateCompatibleDC(windowDc);
    HBITMAP picture = CreateCompatibleBitmap(windowDc, PictureWidth, MaxHeight);
    SelectObject(IdlePicture, picture);

    RECT all = {0, 0, PictureWidth, MaxHeight};
    HBRUSH background = CreateSolidBrush(IDLE_BACKGROUND);
    FillRect(IdlePicture, &all, background);
    DeleteObject(background);

    BITMAP logoSize = {};
    GetObjectA(Logo, sizeof logoSize, &logoSize);
    int32_t x = (PictureWidth - logoSize.bmWidth) / 2;
    int32_t y = (MaxHeight - logoSize.bmHeight) / 4;
    HDC logoDc = CreateCompatibleDC(windowDc);
    HGDIOBJ previous = SelectObject(logoDc, Logo);
    BitBlt(IdlePicture, x, y, logoSize.bmWidth, logoSize.bmHeight, logoDc, 0, 0, SRCCOPY);
    SelectObject(logoDc, previous);
    DeleteDC(logoDc);

    SelectObject(IdlePicture, TextFont);
    SetBkColor(IdlePicture, IDLE_BACKGROUND);
    SetTextColor(IdlePicture, RGB(255, 255, 255));
    char line[256];
    snprintf(line, sizeof line, "Ovalix version %d.%d", 2, 0);
    DrawLine(IdlePicture, line, y + logoSize.bmHeight + 40);
    snprintf(line, sizeof line, "Built on %s", __DATE__);
    DrawLine(IdlePicture, line, y + logoSize.bmHeight + 80);
    ReleaseDC(MainWindow, windowDc);
}
