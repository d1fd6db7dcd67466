#pragma once
// A phone's format table (mode 3) listing the given entries in order.

#include <string.h>

#include <initializer_list>

#include "video_formats.h"

inline FormatTable TableOf(std::initializer_list<VideoFormat> entries)
{
    FormatTable t;
    memset(&t, 0, sizeof t);
    t.mode = 3;
    for (const VideoFormat& f : entries) {
        t.entries[t.count].packed = PackEntry(f.width, f.height, 0);
        t.entries[t.count].fps = f.fps;
        ++t.count;
    }
    return t;
}
