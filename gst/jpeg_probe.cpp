#include "jpeg_probe.h"

#include <turbojpeg.h>

CJpegProbe::CJpegProbe() : decompressor(tjInitDecompress()) {}

CJpegProbe::~CJpegProbe()
{
    if (decompressor != nullptr)
        tjDestroy(decompressor);
}

bool CJpegProbe::Size(const uint8_t* data, uint32_t size, uint32_t& width, uint32_t& height)
{
    if (decompressor == nullptr || size < 4)
        return false;
    int w = 0, h = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(decompressor, data, size, &w, &h, &subsampling, &colourspace) != 0 ||
        w <= 0 || h <= 0)
        return false;
    width = (uint32_t)w;
    height = (uint32_t)h;
    return true;
}
