// Entry point and message loop of OvalixViewer.
#include "resource_ids.h"
#include "viewer_shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    LoadStringA(instance, IDS_VIEWER_TITLE, WindowTitle, TEXT_BUFFER);
    LoadStringA(instance, IDS_VIEWER_CLASS, WindowClassName, TEXT_BUFFER);
    RegisterViewerClass(instance);
    if (!CreateViewerWindows(instance, showCommand))
        return 0;
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDA_VIEWER));
    // Messages are not passed through the dialog keyboard handling: Tab and
    // the arrow keys do not move between the bar's buttons.
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorA(msg.hwnd, accelerators, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
