#pragma once
// The Windows 11 virtual camera for the media source: register, unregister
// and report, through mfsensorgroup.dll loaded at run time (Windows 10 and
// earlier have none). Every call to the system's virtual camera API is here.

#include <stdio.h>

enum RegistrarResult {
    REGISTRAR_OK = 0,
    REGISTRAR_FAILED = 1,
    REGISTRAR_NO_API = 2,   // no mfsensorgroup.dll, or it lacks the entry point
};

// Creates the camera (software camera source, system lifetime, all users,
// "Ovalix Camera", the source's class) and starts it. Needs the source's
// class registered and administrator rights.
RegistrarResult RegisterCamera(FILE* out);
// Creates the same camera and removes it from the system.
RegistrarResult UnregisterCamera(FILE* out);
// What the system reports: its build, the API, the source's class in both
// registry views, and the video capture devices Media Foundation lists.
RegistrarResult PrintCameraStatus(FILE* out);
