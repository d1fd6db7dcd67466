#include "jpeg_probe.h"

#include <turbojpeg.h>

namespace {

// Some encoders pad a JPEG after its end marker; this much is allowed.
const uint32_t END_MARKER_SEARCH = 64;

bool HasEndMarker(const uint8_t* data, uint32_t size)
{
    uint32_t from = size > END_MARKER_SEARCH ? size - END_MARKER_SEARCH : 0;
    for (uint32_t i = size; i-- > from + 1;)
        if (data[i - 1] == 0xFF && data[i] == 0xD9)
            return true;
    return false;
}

}  // namespace

CJpegProbe::CJpegProbe() : decompressor(tjInitDecompress()) {}

CJpegProbe::~CJpegProbe()
{
    if (decompressor != nullptr)
        tjDestroy(decompressor);
}

bool CJpegProbe::Check(const uint8_t* data, uint32_t size, uint32_t& width, uint32_t& height)
{
    if (decompressor == nullptr || size < 4 || !HasEndMarker(data, size))
        return false;
    int w = 0, h = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(decompressor, data, size, &w, &h, &subsampling, &colourspace) != 0) {
        // This libjpeg-turbo leaves the handle mid-header after a failed
        // read, and every later read fails too: start from a fresh one.
        tjDestroy(decompressor);
        decompressor = tjInitDecompress();
        return false;
    }
    if (w <= 0 || h <= 0)
        return false;
    width = (uint32_t)w;
    height = (uint32_t)h;
    return true;
}
