#pragma once
// Moving decoded pictures into media samples: 24-bit pixels, rows padded to
// four bytes, a sample bottom-up (its first row is the picture's last).

#include <stdint.h>

// Scales a top-down picture into a bottom-up one of another size, nearest
// pixel, every destination row written.
void ScaleToBottomUp(const uint8_t* src, uint32_t srcWidth, uint32_t srcHeight,
                     uint32_t srcStride, uint8_t* dst, uint32_t dstWidth, uint32_t dstHeight,
                     uint32_t dstStride);
