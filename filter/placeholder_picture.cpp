#include "placeholder_picture.h"

#include <windows.h>
#include <string.h>

#include "source_logic.h"

namespace {
const COLORREF BACKGROUND = RGB(22, 26, 34);
const COLORREF TITLE = RGB(236, 238, 242);
const COLORREF MESSAGE = RGB(150, 160, 176);

void FillBackground(uint8_t* pixels, uint32_t width, uint32_t height)
{
    uint32_t stride = DibStride(width);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* p = pixels + (size_t)y * stride;
        for (uint32_t x = 0; x < width; ++x, p += 3) {
            p[0] = GetBValue(BACKGROUND);
            p[1] = GetGValue(BACKGROUND);
            p[2] = GetRValue(BACKGROUND);
        }
    }
}

void DrawLine(HDC dc, const wchar_t* text, int height, int weight, COLORREF colour, RECT box)
{
    HFONT font = CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                             VARIABLE_PITCH | FF_SWISS, L"Arial");
    HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, colour);
    DrawTextW(dc, text, -1, &box, DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteObject(font);
}
}  // namespace

bool DrawPlaceholder(uint8_t* pixels, uint32_t width, uint32_t height)
{
    FillBackground(pixels, width, height);
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = (LONG)width;
    info.bmiHeader.biHeight = (LONG)height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = dc ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    if (bitmap == nullptr || bits == nullptr) {
        if (dc)
            DeleteDC(dc);
        return false;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    memcpy(bits, pixels, DibImageSize(width, height));
    SetBkMode(dc, TRANSPARENT);

    int h = (int)height;
    int w = (int)width;
    int title = h / 11 > 10 ? h / 11 : 10;
    int message = h / 20 > 8 ? h / 20 : 8;
    RECT top = { 0, h / 2 - title * 3 / 2, w, h / 2 };
    RECT bottom = { 0, h / 2 + message / 2, w, h / 2 + message * 2 + message / 2 };
    DrawLine(dc, L"Ovalix Camera", title, FW_BOLD, TITLE, top);
    DrawLine(dc, L"Waiting for the phone\x2026", message, FW_NORMAL, MESSAGE, bottom);
    GdiFlush();

    memcpy(pixels, bits, DibImageSize(width, height));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return true;
}
