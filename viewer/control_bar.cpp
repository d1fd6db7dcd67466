// The control bar: a borderless white dialog docked along the bottom of the
// main window with the Play, Stop, Exit and Next resolution picture buttons,
// the resolution label and the HD badge.
#include <string.h>

#include "resource_ids.h"
#include "viewer_shell.h"

namespace {
HBRUSH WhiteBrush;
// Made once per process: messages that still reach the bar after its
// WM_DESTROY must not make a new one that nothing deletes.
bool WhiteBrushMade;
// The resolution label's font: the text font, or a smaller one of its face.
HFONT LabelFont;

struct ControlPlace {
    int id;
    int x, y, width, height;
};
const ControlPlace PLACES[] = {
    {IDC_PLAY,            4,   4, 60,  60},
    {IDC_STOP,            68,  4, 60,  60},
    {IDC_EXIT,            132, 4, 60,  60},
    {IDC_NEXT_RESOLUTION, 196, 4, 60,  60},
    {IDC_HD_BADGE,        442, 8, 110, 48},
};

struct ButtonFaceSet {
    int id;
    int normal, pressed, disabled;
};
const ButtonFaceSet FACE_SETS[] = {
    {IDC_PLAY,            FACE_PLAY_NORMAL, FACE_PLAY_PRESSED, FACE_PLAY_DISABLED},
    {IDC_STOP,            FACE_STOP_NORMAL, FACE_STOP_PRESSED, FACE_STOP_DISABLED},
    {IDC_EXIT,            FACE_EXIT_NORMAL, FACE_EXIT_PRESSED, FACE_EXIT_NORMAL  },
    {IDC_NEXT_RESOLUTION, FACE_NEXT_NORMAL, FACE_NEXT_PRESSED, FACE_NEXT_DISABLED},
};

void Enable(int id, bool enabled)
{
    EnableWindow(GetDlgItem(ControlBar, id), enabled);
}

// The width of the widest resolution label in the font selected into dc.
int WidestLabel(HDC dc)
{
    int widest = 0;
    int32_t count = FormatList ? FormatList->count : 0;
    for (int32_t i = 0; i < count && i < FORMAT_LIST_RECORDS; i++) {
        SIZE size = {};
        GetTextExtentPoint32A(dc, ResolutionLabels[i],
                              static_cast<int>(strlen(ResolutionLabels[i])), &size);
        if (size.cx > widest)
            widest = size.cx;
    }
    return widest;
}

// The label keeps its place from the template, which under some dialog
// metrics is narrower than "1280 x 720" in the text font, and the HD badge
// stands over its right end. A text too wide for its static control wraps at
// a space and loses its second line, so the label gets the text font, or about
// the largest smaller one in which every label fits left of the badge. One
// font for all labels: the text keeps its size while Next steps through them.
void FitLabelFont()
{
    HWND label = GetDlgItem(ControlBar, IDC_RESOLUTION_LABEL);
    RECT labelRect = {}, badgeRect = {};
    GetWindowRect(label, &labelRect);
    GetWindowRect(GetDlgItem(ControlBar, IDC_HD_BADGE), &badgeRect);
    LONG right = labelRect.right;
    if (badgeRect.left > labelRect.left && badgeRect.left < right)
        right = badgeRect.left;
    const int room = static_cast<int>(right - labelRect.left);

    HDC dc = GetDC(label);
    HGDIOBJ previous = SelectObject(dc, TextFont);
    int widest = WidestLabel(dc);
    HFONT font = TextFont;
    // Text width goes nearly in proportion to the font's height: start from
    // the proportional guess and step down until the labels fit.
    int pixels = widest > room ? TEXT_FONT_PIXELS * room / widest : TEXT_FONT_PIXELS;
    while (widest > room && pixels > 1) {
        if (font != TextFont)
            DeleteObject(font);
        font = CreateTextFont(pixels--);
        SelectObject(dc, font);
        widest = WidestLabel(dc);
    }
    SelectObject(dc, previous);
    ReleaseDC(label, dc);
    LabelFont = font;
}

void NextResolution()
{
    SelectedFormat++;
    if (!FormatList || SelectedFormat >= FormatList->count)
        SelectedFormat = 0;
    ShowSelectedResolution();
}
}  // namespace

void PlaceBarControls()
{
    for (const ControlPlace& place : PLACES)
        SetWindowPos(GetDlgItem(ControlBar, place.id), nullptr, place.x, place.y, place.width,
                     place.height, SWP_NOZORDER | SWP_NOOWNERZORDER);
    // A static control draws with the font it was given, not with the one
    // selected into its device context while it colours itself: hand the
    // label its font.
    FitLabelFont();
    SendMessageA(GetDlgItem(ControlBar, IDC_RESOLUTION_LABEL), WM_SETFONT,
                 reinterpret_cast<WPARAM>(LabelFont), FALSE);
}

void ShowSelectedResolution()
{
    int32_t index = SelectedFormat;
    if (index < 0 || index >= FORMAT_LIST_RECORDS)
        index = 0;
    const char* text = ResolutionLabels[index];
    SetWindowTextA(GetDlgItem(ControlBar, IDC_RESOLUTION_LABEL), text);
    ShowWindow(GetDlgItem(ControlBar, IDC_HD_BADGE),
               strstr(text, "1280 x 720") ? SW_SHOWNORMAL : SW_HIDE);
}

void SetPlayState(int32_t state)
{
    if (state == 0) {
        if (PlayState == 1 && FormatList)
            ReleaseProbeGraph(FormatList);
        Enable(IDC_PLAY, true);
        Enable(IDC_STOP, false);
        Enable(IDC_NEXT_RESOLUTION, true);
    } else {
        Enable(IDC_PLAY, false);
        Enable(IDC_STOP, true);
        Enable(IDC_NEXT_RESOLUTION, false);
    }
    PlayState = state;
}

void DrawBarButton(const DRAWITEMSTRUCT* item)
{
    const ButtonFaceSet* faces = nullptr;
    for (const ButtonFaceSet& set : FACE_SETS)
        if (set.id == static_cast<int>(item->CtlID))
            faces = &set;
    if (!faces)
        return;
    int face = faces->normal;
    if (item->itemState & ODS_SELECTED)
        face = faces->pressed;
    else if (item->itemState & ODS_DISABLED)
        face = faces->disabled;
    const RECT& r = item->rcItem;
    HDC memory = CreateCompatibleDC(item->hDC);
    HGDIOBJ previous = SelectObject(memory, ButtonFaces[face]);
    BitBlt(item->hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

INT_PTR CALLBACK ControlBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!WhiteBrushMade) {
        WhiteBrush = CreateSolidBrush(RGB(255, 255, 255));
        WhiteBrushMade = true;
    }
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PLAY:
            StartPreview();
            return TRUE;
        case IDC_STOP:
            StopPreview();
            return TRUE;
        case IDC_EXIT:
            EndDialog(bar, IDC_EXIT);
            DestroyWindow(MainWindow);
            return TRUE;
        case IDC_NEXT_RESOLUTION:
            NextResolution();
            return TRUE;
        }
        return FALSE;
    case WM_DRAWITEM:
        DrawBarButton(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return FALSE;
    case WM_CTLCOLORDLG:
        return reinterpret_cast<INT_PTR>(WhiteBrush);
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, RGB(255, 255, 255));
        SelectObject(dc, LabelFont ? LabelFont : TextFont);
        return reinterpret_cast<INT_PTR>(WhiteBrush);
    }
    case WM_DESTROY:
        DeleteObject(WhiteBrush);
        WhiteBrush = nullptr;
        if (LabelFont != TextFont)
            DeleteObject(LabelFont);
        LabelFont = nullptr;
        return FALSE;
    }
    return FALSE;
}
