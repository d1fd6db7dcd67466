#pragma once
#include <stdint.h>

class CCameraClient;

struct TakeOptions {
    double seconds = 0;   // 0: until Ctrl-C or the frame limit
    uint64_t frames = 0;  // 0: no limit
    const char* saveDir = nullptr;
    bool quiet = false;
    bool newestOnly = false;  // take only the newest frame; older ones are freed unseen
    // Count only frames published after the take starts: what waits in the
    // ring then (up to twenty frames of a ring no one was reading, seconds
    // old) is freed unseen, so it counts neither as late nor its gap as lost.
    bool fresh = false;
};

// Takes frames as a video consumer does and prints one line per second and a
// summary line at the end. Returns the process exit code.
int TakeFrames(CCameraClient& client, const TakeOptions& options);
