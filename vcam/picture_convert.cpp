#include "picture_convert.h"

#include <stdlib.h>
#include <string.h>
#include <turbojpeg.h>

namespace {

const size_t PLANE_CAPACITY = (size_t)CAMERA_MAX_WIDTH * CAMERA_MAX_HEIGHT;
const uint8_t NEUTRAL_CHROMA = 128;

// The decoded picture's planes: chroma at the JPEG's own subsampling, or
// none for a grey JPEG.
struct Planes {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
    uint32_t yStride;
    uint32_t chromaWidth;    // 0: grey
    uint32_t chromaHeight;
};

// Chroma at frame position (x, y) of a width x height picture.
inline uint32_t ChromaOffset(const Planes& p, uint32_t x, uint32_t y, uint32_t width,
                             uint32_t height)
{
    uint32_t cx = (uint32_t)((uint64_t)x * p.chromaWidth / width);
    uint32_t cy = (uint32_t)((uint64_t)y * p.chromaHeight / height);
    return cy * p.chromaWidth + cx;
}

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
    Planes p;
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

    if (subtype == CAMERA_NV12) {
        uint8_t* y = frame;
        for (size_t i = 0, n = (size_t)width * height; i < n; ++i)
            y[i] = lumaRange[y[i]];
        uint8_t* uv = frame + (size_t)width * height;
        for (uint32_t row = 0; row < height; row += 2) {
            for (uint32_t x = 0; x < width; x += 2) {
                uint8_t u = NEUTRAL_CHROMA, v = NEUTRAL_CHROMA;
                if (p.chromaWidth != 0) {
                    uint32_t at = ChromaOffset(p, x, row, width, height);
                    u = chromaRange[p.u[at]];
                    v = chromaRange[p.v[at]];
                }
                *uv++ = u;
                *uv++ = v;
            }
        }
        return CONVERT_OK;
    }

    for (uint32_t row = 0; row < height; ++row) {
        const uint8_t* y = p.y + (size_t)row * p.yStride;
        uint8_t* out = frame + (size_t)row * width * 2;
        for (uint32_t x = 0; x < width; x += 2) {
            uint8_t u = NEUTRAL_CHROMA, v = NEUTRAL_CHROMA;
            if (p.chromaWidth != 0) {
                uint32_t at = ChromaOffset(p, x, row, width, height);
                u = chromaRange[p.u[at]];
                v = chromaRange[p.v[at]];
            }
            out[0] = lumaRange[y[x]];
            out[1] = u;
            out[2] = lumaRange[y[x + 1]];
            out[3] = v;
            out += 4;
        }
    }
    return CONVERT_OK;
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
