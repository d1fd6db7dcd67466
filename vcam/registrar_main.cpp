// ovalix-vcam: registers the phone as a Windows 11 camera (a virtual camera
// over the Media Foundation source), removes it, or prints what the system
// reports about it.
#include <stdio.h>
#include <string.h>

#include "camera_registrar.h"

int main(int argc, char** argv)
{
    const char* command = argc == 2 ? argv[1] : "";
    if (strcmp(command, "register") == 0)
        return RegisterCamera(stdout);
    if (strcmp(command, "unregister") == 0)
        return UnregisterCamera(stdout);
    if (strcmp(command, "status") == 0)
        return PrintCameraStatus(stdout);
    fprintf(stderr,
            "usage: ovalix-vcam register|unregister|status\n"
            "  register    make \"Ovalix Camera\" a camera of this PC for all users\n"
            "              (Windows 11; as administrator, after regsvr32 ovalix_vcam.dll)\n"
            "  unregister  remove it again\n"
            "  status      what the system reports about it\n"
            "exit status: 0 done, 1 failed, 2 this Windows has no virtual cameras\n");
    return 1;
}
