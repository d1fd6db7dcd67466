#include "picture_convert.h"

#include <stdlib.h>
#include <string.h>
#include <turbojpeg.h>

namespace {

const size_t PLANE_CAPACITY = (size_t)CAMERA_MAX_WIDTH * CAMERA_MAX_HEIGHT;
const uint8_t NEUTRAL_CHROMA = 128;

// BT.601 studio-range YCbCr of an RGB pixel.
inline void RgbToYuv(const uint8_t* rgb, uint8_t& y, uint8_t& u, uint8_t& v)
{
    int r = rgb[0], g = rgb[1], b = rgb[2];
    y = (uint8_t)(16 + ((66 * r + 129 * g + 25 * b + 128) >> 8));
    u = (uint8_t)(128 + ((-38 * r - 74 * g + 112 * b + 128) >> 8));
    v = (uint8_t)(128 + ((112 * r - 94 * g - 18 * b + 128) >> 8));
}

}  // namespace

CPictureConverter::CPictureConverter() : planes(static_cast<uint8_t*>(malloc(3 * PLANE_CAPACITY)))
{
    for (int v = 0; v < 256; ++v) {
        lumaRange[v] = (uint8_t)(16 + (v * 219 + 127) / 255);
        chromaRange[v] = (uint8_t)(16 + (v * 224 + 127) / 255);
    }
}

CPictureConverter::~CPictureConverter()
{
    free(planes);
}

ConvertResult CPictureConverter::FromJpeg(const uint8_t* jpeg, uint32_t size,
                                          CameraSubtype subtype, uint32_t width, uint32_t height,
                                          uint8_t* frame)
{
    if (!Ready())
        return CONVERT_DAMAGED;
    ConvertResult result = Decode(jpeg, size, subtype, width, height, frame);
    if (result == CONVERT_DAMAGED)
        decompressor.Reset();
    return result;
}

ConvertResult CPictureConverter::Decode(const uint8_t* jpeg, uint32_t size, CameraSubtype subtype,
                                        uint32_t width, uint32_t height, uint8_t* frame)
{
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
    if (CameraFrameSize(subtype, width, height) == 0 ||
        tjDecompressHeader3(decompressor.Get(), jpeg, size, &w, &h, &subsamp, &colorspace) != 0 ||
        (colorspace != TJCS_YCbCr && colorspace != TJCS_GRAY) || subsamp < 0)
        return CONVERT_DAMAGED;
    if ((uint32_t)w != width || (uint32_t)h != height)
        return CONVERT_OTHER_SIZE;

    if (subtype == CAMERA_RGB32) {
        return tjDecompress2(decompressor.Get(), jpeg, size, frame, w, w * 4, h, TJPF_BGRX,
                             TJFLAG_BOTTOMUP) == 0
                   ? CONVERT_OK
                   : CONVERT_DAMAGED;
    }

    // NV12 takes luma straight into its Y plane; YUY2 interleaves it later.
    DecodedPlanes p;
    p.y = subtype == CAMERA_NV12 ? frame : planes;
    p.yStride = width;
    p.chromaWidth = subsamp == TJSAMP_GRAY ? 0 : (uint32_t)tjPlaneWidth(1, w, subsamp);
    p.chromaHeight = subsamp == TJSAMP_GRAY ? 0 : (uint32_t)tjPlaneHeight(1, h, subsamp);
    p.u = planes + PLANE_CAPACITY;
    p.v = planes + 2 * PLANE_CAPACITY;
    unsigned char* dst[3] = { const_cast<uint8_t*>(p.y), const_cast<uint8_t*>(p.u),
                              const_cast<uint8_t*>(p.v) };
    int strides[3] = { (int)width, (int)p.chromaWidth, (int)p.chromaWidth };
    if ((size_t)p.chromaWidth * p.chromaHeight > PLANE_CAPACITY ||
        tjDecompressToYUVPlanes(decompressor.Get(), jpeg, size, dst, w, strides, h, 0) != 0)
        return CONVERT_DAMAGED;

    MapChromaColumns(p, width);
    if (subtype == CAMERA_NV12) {
        uint8_t* y = frame;
        for (size_t i = 0, n = (size_t)width * height; i < n; ++i)
            y[i] = lumaRange[y[i]];
        uint8_t* uv = frame + (size_t)width * height;
        for (uint32_t row = 0; row < height; row += 2, uv += width)
            WriteChroma(p, row, height, width, uv, 2);
        return CONVERT_OK;
    }
    for (uint32_t row = 0; row < height; ++row) {
        const uint8_t* y = p.y + (size_t)row * p.yStride;
        uint8_t* out = frame + (size_t)row * width * 2;
        for (uint32_t x = 0; x < width; ++x)
            out[2 * x] = lumaRange[y[x]];
        WriteChroma(p, row, height, width, out + 1, 4);
    }
    return CONVERT_OK;
}

void CPictureConverter::MapChromaColumns(const DecodedPlanes& p, uint32_t width)
{
    for (uint32_t x = 0; x < width; x += 2)
        chromaColumn[x / 2] = x * p.chromaWidth / width;
}

// The U V pairs of one row of an NV12 or YUY2 frame: for every second column,
// U at out and V at out + step / 2, then step bytes on.
void CPictureConverter::WriteChroma(const DecodedPlanes& p, uint32_t row, uint32_t height,
                                    uint32_t width, uint8_t* out, uint32_t step) const
{
    uint32_t half = step / 2;
    if (p.chromaWidth == 0) {
        for (uint32_t x = 0; x < width; x += 2, out += step)
            out[0] = out[half] = NEUTRAL_CHROMA;
        return;
    }
    size_t offset = (size_t)(row * p.chromaHeight / height) * p.chromaWidth;
    const uint8_t* u = p.u + offset;
    const uint8_t* v = p.v + offset;
    for (uint32_t x = 0; x < width; x += 2, out += step) {
        uint32_t at = chromaColumn[x / 2];
        out[0] = chromaRange[u[at]];
        out[half] = chromaRange[v[at]];
    }
}

void CPictureConverter::FromRgb(const uint8_t* rgb, CameraSubtype subtype, uint32_t width,
                                uint32_t height, uint8_t* frame) const
{
    if (CameraFrameSize(subtype, width, height) == 0)
        return;
    switch (subtype) {
    case CAMERA_NV12: {
        uint8_t* uv = frame + (size_t)width * height;
        for (uint32_t row = 0; row < height; ++row) {
            const uint8_t* src = rgb + (size_t)row * width * 3;
            for (uint32_t x = 0; x < width; ++x) {
                uint8_t u, v;
                RgbToYuv(src + 3 * x, frame[(size_t)row * width + x], u, v);
                if (row % 2 == 0 && x % 2 == 0) {
                    uv[((size_t)row / 2) * width + x] = u;
                    uv[((size_t)row / 2) * width + x + 1] = v;
                }
            }
        }
        break;
    }
    case CAMERA_YUY2:
        for (uint32_t row = 0; row < height; ++row) {
            const uint8_t* src = rgb + (size_t)row * width * 3;
            uint8_t* out = frame + (size_t)row * width * 2;
            for (uint32_t x = 0; x < width; x += 2, out += 4) {
                uint8_t u1, v1;
                RgbToYuv(src + 3 * x, out[0], out[1], out[3]);
                RgbToYuv(src + 3 * (x + 1), out[2], u1, v1);
            }
        }
        break;
    case CAMERA_RGB32:
        for (uint32_t row = 0; row < height; ++row) {
            const uint8_t* src = rgb + (size_t)row * width * 3;
            uint8_t* out = frame + (size_t)(height - 1 - row) * width * 4;
            for (uint32_t x = 0; x < width; ++x, src += 3, out += 4) {
                out[0] = src[2];
                out[1] = src[1];
                out[2] = src[0];
                out[3] = 0xFF;
            }
        }
        break;
    default:
        break;
    }
}
