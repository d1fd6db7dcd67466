#include "picture_copy.h"

#include <string.h>

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
