#include "picture_size.h"

namespace {

// One side: 1..4095 in decimal digits; null when there is none.
const char* ReadSide(const char* p, uint32_t& side)
{
    uint32_t value = 0;
    const char* start = p;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (uint32_t)(*p - '0');
        if (value > PICTURE_SIDE_LIMIT)
            return nullptr;
        ++p;
    }
    if (p == start || value == 0)
        return nullptr;
    side = value;
    return p;
}

}  // namespace

const char* ReadPictureSize(const char* text, PictureSize& size)
{
    if (text == nullptr)
        return nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    const char* p = ReadSide(text, width);
    if (p == nullptr || *p != 'x')
        return nullptr;
    p = ReadSide(p + 1, height);
    if (p == nullptr)
        return nullptr;
    size = {width, height};
    return p;
}

bool ParsePictureSize(const char* text, PictureSize& size)
{
    PictureSize read;
    const char* end = ReadPictureSize(text, read);
    if (end == nullptr || *end != '\0')
        return false;
    size = read;
    return true;
}
