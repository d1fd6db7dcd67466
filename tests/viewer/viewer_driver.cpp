// Drives a running OvalixViewer from outside, as a person's clicks and eyes
// would, and reads its resources:
//   viewer_driver state              the windows, controls and their places (JSON)
//   viewer_driver command ID         the control bar's command ID, as a click gives it
//   viewer_driver press ID 0|1       shows button ID pressed or released
//   viewer_driver close              the window's close command
//   viewer_driver second EXE         takes the foreground, starts EXE, waits for its
//                                    end; its exit code and who has the foreground
//   viewer_driver resources EXE      the program's resources (JSON)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

HWND FindViewer()
{
    for (int i = 0; i < 200; i++) {
        HWND main = FindWindowA("OVALIXSETUP", "Ovalix Viewer");
        if (main && IsWindowVisible(main))
            return main;
        Sleep(50);
    }
    return nullptr;
}

// The bar is the child holding control 1003; the video window is the
// direct child of class Button without an id.
struct Children {
    HWND main, bar, video;
};

BOOL CALLBACK VisitChild(HWND child, LPARAM context)
{
    Children* found = reinterpret_cast<Children*>(context);
    if (GetParent(child) != found->main)
        return TRUE;
    char name[64];
    GetClassNameA(child, name, sizeof name);
    if (GetDlgItem(child, 1003))
        found->bar = child;
    else if (!_stricmp(name, "Button") && GetDlgCtrlID(child) == 0)
        found->video = child;
    return TRUE;
}

Children FindChildren(HWND main)
{
    Children found = {main, nullptr, nullptr};
    EnumChildWindows(main, VisitChild, reinterpret_cast<LPARAM>(&found));
    return found;
}

// A window's rectangle in the client coordinates of another.
void PrintPlace(HWND window, HWND relativeTo)
{
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(HWND_DESKTOP, relativeTo, reinterpret_cast<POINT*>(&r), 2);
    printf("\"rect\": [%ld, %ld, %ld, %ld], \"visible\": %s, \"enabled\": %s", r.left, r.top,
           r.right - r.left, r.bottom - r.top, IsWindowVisible(window) ? "true" : "false",
           IsWindowEnabled(window) ? "true" : "false");
}

void PrintString(const char* text)
{
    putchar('"');
    for (const char* c = text; *c; c++) {
        if (*c == '"' || *c == '\\')
            putchar('\\');
        if (static_cast<unsigned char>(*c) >= 0x20)
            putchar(*c);
    }
    putchar('"');
}

int State()
{
    HWND main = FindViewer();
    if (!main) {
        printf("{}\n");
        return 1;
    }
    Children c = FindChildren(main);
    RECT client;
    GetClientRect(main, &client);
    POINT origin = {0, 0};
    ClientToScreen(main, &origin);
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    printf("{\"pid\": %lu, \"client\": [%ld, %ld], \"origin\": [%ld, %ld], \"foreground\": %s,\n",
           pid, client.right, client.bottom, origin.x, origin.y,
           GetForegroundWindow() == main ? "true" : "false");
    printf(" \"style\": %lu, \"exstyle\": %lu,\n",
           static_cast<unsigned long>(GetWindowLongA(main, GWL_STYLE)),
           static_cast<unsigned long>(GetWindowLongA(main, GWL_EXSTYLE)));
    if (c.video) {
        printf(" \"video\": {");
        PrintPlace(c.video, main);
        printf("},\n");
    }
    if (c.bar) {
        printf(" \"bar\": {");
        PrintPlace(c.bar, main);
        printf(", \"controls\": {");
        const int ids[] = {1003, 1004, 1006, 1007, 1008, 1009};
        for (int i = 0; i < 6; i++) {
            HWND control = GetDlgItem(c.bar, ids[i]);
            char text[128] = "";
            if (control)
                GetWindowTextA(control, text, sizeof text);
            printf("%s\n  \"%d\": {", i ? "," : "", ids[i]);
            if (control) {
                PrintPlace(control, c.bar);
                printf(", \"text\": ");
                PrintString(text);
            }
            printf("}");
        }
        printf("}}");
    }
    printf("}\n");
    return 0;
}

int Command(int id)
{
    HWND main = FindViewer();
    if (!main)
        return 1;
    Children c = FindChildren(main);
    PostMessageA(c.bar, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(c.bar, id)));
    return 0;
}

int Press(int id, int down)
{
    HWND main = FindViewer();
    if (!main)
        return 1;
    Children c = FindChildren(main);
    SendMessageA(GetDlgItem(c.bar, id), BM_SETSTATE, down, 0);
    return 0;
}

LRESULT CALLBACK PlainProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return DefWindowProcA(w, m, wp, lp);
}

int Second(const char* exe)
{
    HWND main = FindViewer();
    WNDCLASSA plain = {};
    plain.lpfnWndProc = PlainProc;
    plain.lpszClassName = "OvalixDriver";
    RegisterClassA(&plain);
    HWND mine = CreateWindowExA(0, "OvalixDriver", "driver", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                200, 100, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(mine);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    bool before = GetForegroundWindow() == main;

    char commandLine[MAX_PATH + 4];
    snprintf(commandLine, sizeof commandLine, "\"%s\"", exe);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(exe, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return 1;
    DWORD waited = WaitForSingleObject(process.hProcess, 20000);
    DWORD code = 259;
    GetExitCodeProcess(process.hProcess, &code);
    for (int i = 0; i < 20 && GetForegroundWindow() != main; i++)
        Sleep(50);
    printf("{\"ended\": %s, \"exit\": %lu, \"foregroundBefore\": %s, \"foregroundAfter\": %s, "
           "\"viewers\": %d}\n",
           waited == WAIT_OBJECT_0 ? "true" : "false", code, before ? "true" : "false",
           GetForegroundWindow() == main ? "true" : "false", main ? 1 : 0);
    DestroyWindow(mine);
    return 0;
}

// ---- resources

const BYTE* Resource(HMODULE module, LPCSTR type, int id, DWORD* size)
{
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!found)
        return nullptr;
    *size = SizeofResource(module, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
}

const WORD* Align4(const WORD* p, const BYTE* base)
{
    size_t offset = reinterpret_cast<const BYTE*>(p) - base;
    return reinterpret_cast<const WORD*>(base + ((offset + 3) & ~size_t(3)));
}

// An ordinal or a string field of a dialog template, printed as JSON.
const WORD* PrintSzOrOrd(const WORD* p)
{
    if (*p == 0xFFFF) {
        printf("%u", p[1]);
        return p + 2;
    }
    putchar('"');
    while (*p)
        putchar(static_cast<char>(*p++));
    putchar('"');
    return p + 1;
}

void PrintDialog(HMODULE module)
{
    DWORD size = 0;
    const BYTE* base = Resource(module, MAKEINTRESOURCEA(5), 104, &size);
    if (!base) {
        printf("null");
        return;
    }
    const WORD* w = reinterpret_cast<const WORD*>(base);
    const DWORD* d;
    printf("{\"version\": %u, \"signature\": %u, ", w[0], w[1]);
    d = reinterpret_cast<const DWORD*>(w + 2);
    printf("\"helpId\": %lu, \"exstyle\": %lu, \"style\": %lu, ", d[0], d[1], d[2]);
    w = reinterpret_cast<const WORD*>(d + 3);
    int count = w[0];
    printf("\"count\": %d, \"box\": [%d, %d, %d, %d], \"menu\": ", count, (short)w[1], (short)w[2],
           (short)w[3], (short)w[4]);
    w = PrintSzOrOrd(w + 5);
    printf(", \"class\": ");
    w = PrintSzOrOrd(w);
    printf(", \"title\": ");
    w = PrintSzOrOrd(w);
    printf(", \"font\": [%u, %u, %u, %u, ", w[0], w[1], w[2] & 0xFF, w[2] >> 8);
    w = PrintSzOrOrd(w + 3);
    printf("], \"controls\": [");
    for (int i = 0; i < count; i++) {
        w = Align4(w, base);
        d = reinterpret_cast<const DWORD*>(w);
        printf("%s\n  {\"helpId\": %lu, \"exstyle\": %lu, \"style\": %lu, ", i ? "," : "", d[0],
               d[1], d[2]);
        w = reinterpret_cast<const WORD*>(d + 3);
        printf("\"box\": [%d, %d, %d, %d], ", (short)w[0], (short)w[1], (short)w[2], (short)w[3]);
        d = reinterpret_cast<const DWORD*>(w + 4);
        printf("\"id\": %lu, \"class\": ", d[0]);
        w = PrintSzOrOrd(reinterpret_cast<const WORD*>(d + 1));
        printf(", \"text\": ");
        w = PrintSzOrOrd(w);
        printf(", \"extra\": %u}", w[0]);
        w = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(w + 1) + w[0]);
    }
    printf("]}");
}

void PrintBitmap(HMODULE module, int id)
{
    DWORD size = 0;
    const BYTE* data = Resource(module, MAKEINTRESOURCEA(2), id, &size);
    const BITMAPINFOHEADER* h = reinterpret_cast<const BITMAPINFOHEADER*>(data);
    printf("\"%d\": [%ld, %ld, %u]", id, h ? h->biWidth : 0, h ? h->biHeight : 0,
           h ? h->biBitCount : 0);
}

void PrintIcon(HMODULE module, int id)
{
    DWORD size = 0;
    const BYTE* group = Resource(module, MAKEINTRESOURCEA(14), id, &size);
    if (!group) {
        printf("\"%d\": []", id);
        return;
    }
    int count = reinterpret_cast<const WORD*>(group)[2];
    printf("\"%d\": [", id);
    for (int i = 0; i < count; i++) {
        const BYTE* entry = group + 6 + i * 14;
        printf("%s[%u, %u, %u]", i ? ", " : "", entry[0], entry[1],
               *reinterpret_cast<const WORD*>(entry + 6));
    }
    printf("]");
}

int Resources(const char* exe)
{
    HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return 1;
    char text[100];
    printf("{\"strings\": {");
    LoadStringA(module, 103, text, sizeof text);
    printf("\"103\": ");
    PrintString(text);
    LoadStringA(module, 109, text, sizeof text);
    printf(", \"109\": ");
    PrintString(text);
    printf("},\n \"dialog\": ");
    PrintDialog(module);
    DWORD size = 0;
    const BYTE* accel = Resource(module, MAKEINTRESOURCEA(9), 109, &size);
    printf(",\n \"accelerators\": [");
    for (DWORD i = 0; accel && i + 8 <= size; i += 8) {
        const WORD* e = reinterpret_cast<const WORD*>(accel + i);
        printf("%s[%u, %u, %u]", i ? ", " : "", e[0], e[1], e[2]);
    }
    printf("],\n \"bitmaps\": {");
    const int bitmaps[] = {135, 136, 139, 140, 141, 142, 143, 144, 145, 147, 148, 149, 150};
    for (int i = 0; i < 13; i++) {
        if (i)
            printf(", ");
        PrintBitmap(module, bitmaps[i]);
    }
    printf("},\n \"icons\": {");
    PrintIcon(module, 107);
    printf(", ");
    PrintIcon(module, 108);
    const char* manifest =
        reinterpret_cast<const char*>(Resource(module, MAKEINTRESOURCEA(24), 1, &size));
    printf("},\n \"manifest\": ");
    if (manifest) {
        char copy[4096];
        snprintf(copy, sizeof copy, "%.*s", static_cast<int>(size), manifest);
        PrintString(copy);
    } else {
        printf("null");
    }
    const BYTE* version = Resource(module, MAKEINTRESOURCEA(16), 1, &size);
    printf(",\n \"version\": {");
    if (version) {
        // The version record is read through a copy, as the API requires.
        void* copy = malloc(size);
        memcpy(copy, version, size);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        VerQueryValueA(copy, "\\", reinterpret_cast<void**>(&fixed), &length);
        if (fixed)
            printf("\"file\": [%lu, %lu], \"product\": [%lu, %lu]", fixed->dwFileVersionMS,
                   fixed->dwFileVersionLS, fixed->dwProductVersionMS, fixed->dwProductVersionLS);
        const char* names[] = {"FileDescription", "ProductName"};
        for (const char* name : names) {
            char path[128];
            snprintf(path, sizeof path, "\\StringFileInfo\\040904b0\\%s", name);
            char* value = nullptr;
            if (VerQueryValueA(copy, path, reinterpret_cast<void**>(&value), &length) && value) {
                printf(", \"%s\": ", name);
                PrintString(value);
            }
        }
        free(copy);
    }
    printf("}}\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && !strcmp(argv[1], "state"))
        return State();
    if (argc >= 3 && !strcmp(argv[1], "command"))
        return Command(atoi(argv[2]));
    if (argc >= 4 && !strcmp(argv[1], "press"))
        return Press(atoi(argv[2]), atoi(argv[3]));
    if (argc >= 2 && !strcmp(argv[1], "close")) {
        HWND main = FindViewer();
        return main && PostMessageA(main, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (argc >= 3 && !strcmp(argv[1], "second"))
        return Second(argv[2]);
    if (argc >= 3 && !strcmp(argv[1], "resources"))
        return Resources(argv[2]);
    fprintf(stderr,
            "usage: viewer_driver state|command ID|press ID 0|1|close|second EXE|resources EXE\n");
    return 2;
}
