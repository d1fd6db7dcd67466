#pragma once
// ovalix-camera's command line.

#include <stdint.h>

struct CameraOptions {
    const char* nodeName;     // PipeWire node name, stable for stored links
    const char* description;  // what camera pickers show
    bool stats;               // counts, gaps and latency printed at exit
    uint32_t seconds;         // 0: until SIGTERM or SIGINT
};

extern const char CAMERA_USAGE[];

// False on anything it does not know; the defaults otherwise.
bool ParseCameraOptions(int argc, char** argv, CameraOptions& o);
