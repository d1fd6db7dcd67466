#pragma once
// Command line of ovalix-snap.

#include <stdint.h>

struct SnapOptions {
    uint32_t width, height;   // 0: the filter's default format
    const char* subtype;      // I420, YUY2, RGB32, RGB24 or MJPG; null: RGB24 for the grabber
    double fps;               // 0: the format's own rate
    double seconds;
    const char* save;         // last sample: .bmp or .png (RGB24), .raw (its bytes)
    const char* saveLive;     // last live (decoded) sample
    bool list;                // print the formats and stream caps and end
    bool device;              // create the filter through the device category
    bool vmr9;                // render into VMR-9 in a top-level window instead
    bool builder;             // connect through the capture graph builder
    bool quiet;               // only the summary
};

// 0 on success, 1 for --help, -1 on a bad argument (message in error).
int ParseSnapOptions(int argc, char** argv, SnapOptions& options, char* error, uint32_t errorSize);

extern const char SNAP_USAGE[];
