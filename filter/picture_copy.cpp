#include "picture_copy.h"

#include <string.h>

void ScaleToBottomUp(const uint8_t* src, uint32_t srcWidth, uint32_t srcHeight,
                     uint32_t srcStride, uint8_t* dst, uint32_t dstWidth, uint32_t dstHeight,
                     uint32_t dstStride)
{
    if (srcWidth == 0 || srcHeight == 0)
        return;
    for (uint32_t y = 0; y < dstHeight; ++y) {
        // Centre of the destination pixel mapped into the source.
        uint32_t sy = (uint32_t)(((uint64_t)y * 2 + 1) * srcHeight / ((uint64_t)dstHeight * 2));
        const uint8_t* srow = src + (size_t)sy * srcStride;
        uint8_t* drow = dst + (size_t)(dstHeight - 1 - y) * dstStride;
        for (uint32_t x = 0; x < dstWidth; ++x) {
            uint32_t sx = (uint32_t)(((uint64_t)x * 2 + 1) * srcWidth / ((uint64_t)dstWidth * 2));
            memcpy(drow + (size_t)x * 3, srow + (size_t)sx * 3, 3);
        }
    }
}
