#pragma once
// Moving decoded pictures into media samples: 24-bit pixels, rows padded to
// four bytes, a sample bottom-up (its first row is the picture's last).

#include <stdint.h>

// Scales a top-down picture into a bottom-up one of another size, nearest
// pixel, every destination row written.
void ScaleToBottomUp(const uint8_t* src, uint32_t srcWidth, uint32_t srcHeight,
                     uint32_t srcStride, uint8_t* dst, uint32_t dstWidth, uint32_t dstHeight,
                     uint32_t dstStride);

// A cheap look at the frame before it goes to the decoder: it starts with
// the start-of-image marker and has the end-of-image marker within its last
// JPEG_TRAILER_MAX + 2 bytes. A frame cut short fails it.
const uint32_t JPEG_TRAILER_MAX = 64;
bool JpegLooksWhole(const uint8_t* data, uint32_t size);
