#pragma once
// What the capture source decides without a graph: which formats it offers
// and which one it starts with.

#include <stdint.h>

#include "video_formats.h"

// The formats to offer for the block's table (the default entry when there
// is no table), and the one to start with: the block's requested size if a
// format has it, else the last, which the service sends when no size is
// asked for.
uint32_t OfferedFormats(const FormatTable* table, VideoFormat (&out)[FORMAT_MAX_ENTRIES]);
uint32_t DefaultFormatIndex(const VideoFormat* formats, uint32_t count, uint32_t requestedWidth,
                            uint32_t requestedHeight);
