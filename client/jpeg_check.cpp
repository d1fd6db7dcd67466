#include "jpeg_check.h"

namespace {

uint32_t BigEndian16(const uint8_t* p)
{
    return (uint32_t)p[0] << 8 | p[1];
}

// Start-of-frame markers: C0-CF except DHT (C4), JPG (C8) and DAC (CC).
bool IsFrameHeader(uint8_t marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
           marker != 0xCC;
}

bool ReadFrameHeader(const uint8_t* data, uint32_t size, uint32_t& width, uint32_t& height)
{
    uint32_t i = 2;
    while (i + 4 <= size) {
        if (data[i] != 0xFF)
            return false;
        uint8_t marker = data[i + 1];
        if (marker == 0xFF) {   // fill byte before a marker
            ++i;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {   // no length
            i += 2;
            continue;
        }
        // The scan or the end before any frame header: no picture size.
        if (marker == 0xDA || marker == 0xD9 || marker == 0xD8)
            return false;
        uint32_t length = BigEndian16(data + i + 2);
        if (length < 2)
            return false;
        if (IsFrameHeader(marker)) {
            // Length, precision, height, width.
            if (length < 7 || i + 9 > size)
                return false;
            height = BigEndian16(data + i + 5);
            width = BigEndian16(data + i + 7);
            return width != 0 && height != 0;
        }
        i += 2 + length;
    }
    return false;
}

bool HasEndMarker(const uint8_t* data, uint32_t size)
{
    // Entropy-coded data never holds FF D9, so a frame cut short has none
    // near its end.
    uint32_t from = size > JPEG_TRAILER_MAX + 4 ? size - JPEG_TRAILER_MAX - 2 : 2;
    for (uint32_t i = size - 2; i >= from; --i)
        if (data[i] == 0xFF && data[i + 1] == 0xD9)
            return true;
    return false;
}

}  // namespace

bool ReadWholeJpeg(const uint8_t* data, uint32_t size, uint32_t& width, uint32_t& height)
{
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8 || !HasEndMarker(data, size))
        return false;
    return ReadFrameHeader(data, size, width, height);
}
