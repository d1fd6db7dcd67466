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

bool JpegLooksWhole(const uint8_t* data, uint32_t size)
{
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    // Encoders, cameras and transports may leave a few bytes after the end
    // marker; entropy-coded data never holds FF D9, so a frame cut short has
    // none near its end.
    uint32_t from = size > JPEG_TRAILER_MAX + 4 ? size - JPEG_TRAILER_MAX - 2 : 2;
    for (uint32_t i = size - 2; i >= from; --i)
        if (data[i] == 0xFF && data[i + 1] == 0xD9)
            return true;
    return false;
}
