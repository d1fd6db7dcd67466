#pragma once
#include <stdint.h>

class CCameraClient;

struct TakeOptions {
    double seconds = 0;      // 0: until Ctrl-C or the frame limit
    uint64_t frames = 0;     // 0: no limit
    const char* saveDir = nullptr;
    bool quiet = false;
    bool newestOnly = false; // take only the newest frame; older ones are freed unseen
};

// Takes frames as a video consumer does and prints one line per second and a
// summary line at the end. Returns the process exit code.
int TakeFrames(CCameraClient& client, const TakeOptions& options);
