#include "camera_options.h"

#include <stdlib.h>
#include <string.h>

const char CAMERA_USAGE[] =
    "usage: ovalix-camera [--node-name NAME] [--description TEXT] [--stats] [--seconds S]\n"
    "  --node-name NAME     PipeWire node name (ovalix-camera)\n"
    "  --description TEXT   name shown in camera pickers (Ovalix Camera)\n"
    "  --stats              print frame counts, gaps and latency at exit\n"
    "  --seconds S          stop after S seconds\n";

bool ParseCameraOptions(int argc, char** argv, CameraOptions& o)
{
    o.nodeName = "ovalix-camera";
    o.description = "Ovalix Camera";
    o.stats = false;
    o.seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!strcmp(a, "--stats")) {
            o.stats = true;
        } else if (!strcmp(a, "--node-name") && v != nullptr && *v != '\0') {
            o.nodeName = v;
            ++i;
        } else if (!strcmp(a, "--description") && v != nullptr && *v != '\0') {
            o.description = v;
            ++i;
        } else if (!strcmp(a, "--seconds") && v != nullptr && atoi(v) > 0) {
            o.seconds = (uint32_t)atoi(v);
            ++i;
        } else {
            return false;
        }
    }
    return true;
}
