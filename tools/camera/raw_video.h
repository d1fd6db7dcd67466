#pragma once
// The raw picture formats the camera offers and how a frame of each is laid
// out in one buffer: planes one after another, rows padded to four bytes, as
// a consumer that assumes the usual default layout for the size expects.

#include <stdint.h>

enum RawFormat {
    RAW_I420 = 0,   // 8-bit Y plane, then U and V at half width and height
    RAW_YUY2 = 1,   // packed Y0 U Y1 V
    RAW_RGB = 2,    // packed R G B
    RAW_FORMAT_COUNT = 3,
};

// The largest picture the camera offers or draws.
const uint32_t RAW_MAX_WIDTH = 1920;
const uint32_t RAW_MAX_HEIGHT = 1080;

struct RawLayout {
    RawFormat format;
    uint32_t width;
    uint32_t height;
    uint32_t planes;
    uint32_t offset[3];
    uint32_t stride[3];
    uint32_t size;   // bytes of one whole frame
};

// False for a size of zero or above the maximum.
bool ComputeRawLayout(RawFormat format, uint32_t width, uint32_t height, RawLayout& out);

const char* RawFormatName(RawFormat format);
