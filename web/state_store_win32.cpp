#include "state_store.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

// The machine's application data (ProgramData), asked of the shell rather
// than of the environment, which a service may not have: the installer finds
// the same folder when it removes the state.
bool DefaultStateDir(char* out, size_t cap)
{
    char data[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data) != S_OK)
        return false;
    return snprintf(out, cap, "%s\\Ovalix", data) < static_cast<int>(cap);
}

// Full control for SYSTEM (the service's account) and the Administrators,
// inherited by what the folder holds; nothing inherited from above.
static const char kPrivateAcl[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

static bool ApplyPrivateAcl(const char* path, SECURITY_ATTRIBUTES* attributes)
{
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            kPrivateAcl, SDDL_REVISION_1, &attributes->lpSecurityDescriptor, nullptr)) {
        return false;
    }
    attributes->nLength = sizeof *attributes;
    attributes->bInheritHandle = FALSE;
    bool ok = CreateDirectoryA(path, attributes) || GetLastError() == ERROR_ALREADY_EXISTS;
    // An existing folder gets the same list.
    ok = ok && SetFileSecurityA(path, DACL_SECURITY_INFORMATION, attributes->lpSecurityDescriptor);
    LocalFree(attributes->lpSecurityDescriptor);
    return ok;
}

bool MakePrivateDir(const char* path)
{
    char parent[STATE_PATH_CHARS];
    snprintf(parent, sizeof parent, "%s", path);
    char* slash = strrchr(parent, '\\');
    if (slash != nullptr) {
        *slash = 0;
        CreateDirectoryA(parent, nullptr);
    }
    SECURITY_ATTRIBUTES attributes = {};
    return ApplyPrivateAcl(path, &attributes);
}

bool WritePrivateFile(const char* path, const void* data, size_t length)
{
    char temporary[STATE_PATH_CHARS + 8];
    if (snprintf(temporary, sizeof temporary, "%s.new", path) >=
        static_cast<int>(sizeof temporary)) {
        return false;
    }
    // The new file takes the folder's inherited access list.
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr) &&
              written == length && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    if (!ok || !MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary);
        return false;
    }
    return true;
}
