// Another viewer runs when the named mutex that every viewer holds for its
// lifetime already exists in this session. The handle stays open until the
// process ends.
#include "viewer_shell.h"

bool AnotherInstanceRuns()
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Local\\OvalixViewerInstance");
    return mutex && GetLastError() == ERROR_ALREADY_EXISTS;
}
