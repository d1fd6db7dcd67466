#include "raw_video.h"

namespace {

uint32_t RoundUp4(uint32_t n) { return (n + 3) & ~3u; }

}  // namespace

bool ComputeRawLayout(RawFormat format, uint32_t width, uint32_t height, RawLayout& out)
{
    if (width == 0 || height == 0 || width > RAW_MAX_WIDTH || height > RAW_MAX_HEIGHT)
        return false;
    out.format = format;
    out.width = width;
    out.height = height;
    out.offset[0] = out.offset[1] = out.offset[2] = 0;
    out.stride[1] = out.stride[2] = 0;
    switch (format) {
    case RAW_I420: {
        // Chroma of an odd size covers the last column and row too.
        uint32_t evenHeight = (height + 1) & ~1u;
        out.planes = 3;
        out.stride[0] = RoundUp4(width);
        out.stride[1] = out.stride[2] = RoundUp4((width + 1) / 2);
        out.offset[1] = out.stride[0] * evenHeight;
        out.offset[2] = out.offset[1] + out.stride[1] * (evenHeight / 2);
        out.size = out.offset[2] + out.stride[2] * (evenHeight / 2);
        return true;
    }
    case RAW_YUY2:
        out.planes = 1;
        out.stride[0] = RoundUp4(((width + 1) & ~1u) * 2);
        out.size = out.stride[0] * height;
        return true;
    case RAW_RGB:
        out.planes = 1;
        out.stride[0] = RoundUp4(width * 3);
        out.size = out.stride[0] * height;
        return true;
    default:
        return false;
    }
}

const char* RawFormatName(RawFormat format)
{
    switch (format) {
    case RAW_I420: return "I420";
    case RAW_YUY2: return "YUY2";
    case RAW_RGB: return "RGB";
    default: return "?";
    }
}
