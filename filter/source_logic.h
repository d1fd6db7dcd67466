#pragma once
// What the capture source decides without a graph: which formats it offers
// and which one it starts with, and the length of a frame at a rate.

#include <stdint.h>

#include "video_formats.h"

// 100-ns units per frame at the rate; a rate outside 1..240 counts as 30.
int64_t FrameDuration(float fps);

// The formats to offer for the block's table (the default entry when there
// is no table), and the one to start with: the block's requested size if a
// format has it, else the last, which the service sends when no size is
// asked for.
uint32_t OfferedFormats(const FormatTable* table, VideoFormat (&out)[FORMAT_MAX_ENTRIES]);
uint32_t DefaultFormatIndex(const VideoFormat* formats, uint32_t count, uint32_t requestedWidth,
                            uint32_t requestedHeight);
