#include "frame_convert.h"

#include <string.h>

#include <new>

#include "jpeg_check.h"

namespace {

// Full range to video levels: luma 0-255 to 16-235, chroma 0-255 to 16-239
// around 128, within one step of the exact scale. Plain arithmetic, which
// the compiler turns into vector code for whole planes.
inline uint8_t ToVideoLuma(uint8_t y) { return (uint8_t)(16 + ((y * 220 + 128) >> 8)); }
inline uint8_t ToVideoChroma(uint8_t c) { return (uint8_t)(16 + ((c * 224 + 128) >> 8)); }

// A whole plane, four bytes at a time as two 16-bit lanes of each pair (the
// products stay below 65,536), for targets without vector units; the same
// results as the functions above.
template <uint32_t SCALE>
void MapPlane(uint8_t* p, size_t n)
{
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint32_t w;
        memcpy(&w, p + i, 4);
        uint32_t even = ((w & 0x00FF00FFu) * SCALE + 0x00800080u) >> 8 & 0x00FF00FFu;
        uint32_t odd = (((w >> 8) & 0x00FF00FFu) * SCALE + 0x00800080u) >> 8 & 0x00FF00FFu;
        w = (even | odd << 8) + 0x10101010u;
        memcpy(p + i, &w, 4);
    }
    for (; i < n; ++i)
        p[i] = (uint8_t)(16 + ((p[i] * SCALE + 128) >> 8));
}

void MapLuma(uint8_t* p, size_t n) { MapPlane<220>(p, n); }
void MapChroma(uint8_t* p, size_t n) { MapPlane<224>(p, n); }

// BT.601 at video levels, integer, as the usual converters compute it.
inline uint8_t RgbToY(int r, int g, int b) { return (uint8_t)(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16); }
inline uint8_t RgbToU(int r, int g, int b) { return (uint8_t)(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128); }
inline uint8_t RgbToV(int r, int g, int b) { return (uint8_t)(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128); }

// The fast integer inverse DCT: a live picture at camera qualities shows no
// difference, and it leaves more of the frame time to the application.
const int DECODE_FLAGS = TJFLAG_FASTDCT;

// A decode that reports only a warning (a slightly damaged scan) still made
// a whole picture.
bool Decoded(int rc, tjhandle handle)
{
    return rc == 0 || tjGetErrorCode(handle) == TJERR_WARNING;
}

}  // namespace

uint8_t VideoLuma(uint8_t y) { return ToVideoLuma(y); }
uint8_t VideoChroma(uint8_t c) { return ToVideoChroma(c); }

CFrameConverter::CFrameConverter() : compressor(nullptr), scratch(nullptr), scratchSize(0)
{
    memset(&type, 0, sizeof type);
}

CFrameConverter::~CFrameConverter()
{
    if (compressor)
        tjDestroy(compressor);
    delete[] scratch;
}

bool CFrameConverter::Start(const StreamType& t)
{
    type = t;
    if (decompressor.Get() == nullptr)
        decompressor.Reset();
    if (decompressor.Get() == nullptr)
        return false;
    // Room for the entry's picture as 4:4:4 planes (chroma planes padded to
    // whole blocks) or as 32-bit pixels, whichever is larger.
    uint32_t w = (t.entry.width + 15) & ~15u, h = (t.entry.height + 15) & ~15u;
    uint32_t need = t.kind == SAMPLE_MJPG ? 0 : w * h * 4;
    if (need > scratchSize) {
        delete[] scratch;
        scratch = new (std::nothrow) uint8_t[need];
        scratchSize = scratch ? need : 0;
    }
    return scratchSize >= need;
}

ConvertResult CFrameConverter::FromJpeg(const uint8_t* jpeg, uint32_t size, uint8_t* sample,
                                        uint32_t capacity, uint32_t& written)
{
    written = 0;
    uint32_t width = 0, height = 0;
    if (decompressor.Get() == nullptr || !ReadWholeJpeg(jpeg, size, width, height))
        return CONVERT_BAD;
    if (width != type.entry.width || height != type.entry.height)
        return CONVERT_OTHER_SIZE;
    if (type.kind == SAMPLE_MJPG) {
        if (size > capacity)
            return CONVERT_BAD;
        memcpy(sample, jpeg, size);
        written = size;
        return CONVERT_OK;
    }
    uint32_t image = SampleImageSize(type.kind, type.width, type.height);
    int w = 0, h = 0, subsampling = 0, colourspace = 0;
    if (capacity < image)
        return CONVERT_BAD;
    bool ok = tjDecompressHeader3(decompressor.Get(), jpeg, size, &w, &h, &subsampling,
                                  &colourspace) == 0 &&
              (type.kind == SAMPLE_RGB32 || type.kind == SAMPLE_RGB24
                   ? DecodeRgb(jpeg, size, sample)
                   : DecodeYuv(jpeg, size, subsampling, sample));
    if (!ok) {
        decompressor.Reset();
        return CONVERT_BAD;
    }
    written = image;
    return CONVERT_OK;
}

bool CFrameConverter::DecodeRgb(const uint8_t* jpeg, uint32_t size, uint8_t* sample)
{
    int format = type.kind == SAMPLE_RGB32 ? TJPF_BGRX : TJPF_BGR;
    uint32_t pixel = (uint32_t)tjPixelSize[format];
    uint32_t stride = SampleStride(type.kind, type.width);
    int jw = (int)type.entry.width, jh = (int)type.entry.height;
    if (type.width == type.entry.width && type.height == type.entry.height)
        return Decoded(tjDecompress2(decompressor.Get(), jpeg, size, sample, jw, (int)stride, jh,
                                     format, TJFLAG_BOTTOMUP | DECODE_FLAGS),
                       decompressor.Get());
    // Cut to the sample's size: the right-most columns and the bottom row go.
    uint32_t fullStride = (uint32_t)jw * pixel;
    if (!Decoded(tjDecompress2(decompressor.Get(), jpeg, size, scratch, jw, (int)fullStride, jh,
                               format, TJFLAG_BOTTOMUP | DECODE_FLAGS),
                 decompressor.Get()))
        return false;
    uint32_t skip = (uint32_t)jh - type.height;   // bottom rows, first in the bottom-up copy
    for (uint32_t r = 0; r < type.height; ++r)
        memcpy(sample + (size_t)r * stride, scratch + (size_t)(r + skip) * fullStride,
               (size_t)type.width * pixel);
    return true;
}

bool CFrameConverter::DecodeYuv(const uint8_t* jpeg, uint32_t size, int subsampling,
                                uint8_t* sample)
{
    uint32_t w = type.width, h = type.height;
    int jw = (int)type.entry.width, jh = (int)type.entry.height;
    uint8_t* y = sample;
    uint8_t* u = sample + (size_t)w * h;
    uint8_t* v = u + (size_t)(w / 2) * (h / 2);
    if (type.kind == SAMPLE_I420 && subsampling == TJSAMP_420 && (int)w == jw && (int)h == jh) {
        // Straight into the sample's planes.
        unsigned char* planes[3] = { y, u, v };
        int strides[3] = { (int)w, (int)w / 2, (int)w / 2 };
        if (!Decoded(tjDecompressToYUVPlanes(decompressor.Get(), jpeg, size, planes, jw, strides,
                                             jh, DECODE_FLAGS),
                     decompressor.Get()))
            return false;
        MapLuma(y, (size_t)w * h);
        MapChroma(u, (size_t)(w / 2) * (h / 2) * 2);
        return true;
    }

    // The JPEG's own planes in the scratch buffer, then resampled.
    bool grey = subsampling == TJSAMP_GRAY;
    int pw[3], ph[3];
    unsigned char* planes[3] = { scratch, nullptr, nullptr };
    size_t used = 0;
    for (int c = 0; c < 3; ++c) {
        pw[c] = tjPlaneWidth(grey ? 0 : c, jw, subsampling);
        ph[c] = tjPlaneHeight(grey ? 0 : c, jh, subsampling);
        if (pw[c] <= 0 || ph[c] <= 0)
            return false;
        if (c > 0 && !grey)
            planes[c] = scratch + used;
        if (c == 0 || !grey)
            used += (size_t)pw[c] * ph[c];
    }
    if (used > scratchSize ||
        !Decoded(tjDecompressToYUVPlanes(decompressor.Get(), jpeg, size, planes, jw, pw, jh,
                                         DECODE_FLAGS),
                 decompressor.Get()))
        return false;

    // Nearest chroma sample for each luma column and row; JPEG chroma is
    // as wide as luma, or half or a quarter of it.
    uint32_t xShift = pw[1] * 4 <= pw[0] ? 2 : pw[1] * 2 <= pw[0] ? 1 : 0;
    auto chromaRow = [&](int plane, uint32_t yy) -> const uint8_t* {
        uint32_t sy = (uint32_t)((uint64_t)yy * (uint32_t)ph[plane] / (uint32_t)ph[0]);
        return planes[plane] + (size_t)sy * (uint32_t)pw[plane];
    };
    const uint8_t* luma = planes[0];
    if (type.kind == SAMPLE_I420) {
        for (uint32_t r = 0; r < h; ++r) {
            const uint8_t* src = luma + (size_t)r * (uint32_t)pw[0];
            uint8_t* dst = y + (size_t)r * w;
            for (uint32_t x = 0; x < w; ++x)
                dst[x] = ToVideoLuma(src[x]);
        }
        for (uint32_t r = 0; r < h / 2; ++r) {
            uint8_t* du = u + (size_t)r * (w / 2);
            uint8_t* dv = v + (size_t)r * (w / 2);
            if (grey) {
                memset(du, 128, w / 2);
                memset(dv, 128, w / 2);
                continue;
            }
            const uint8_t* su = chromaRow(1, r * 2);
            const uint8_t* sv = chromaRow(2, r * 2);
            for (uint32_t x = 0; x < w / 2; ++x) {
                du[x] = ToVideoChroma(su[(x * 2) >> xShift]);
                dv[x] = ToVideoChroma(sv[(x * 2) >> xShift]);
            }
        }
        return true;
    }
    for (uint32_t r = 0; r < h; ++r) {
        const uint8_t* src = luma + (size_t)r * (uint32_t)pw[0];
        uint8_t* dst = sample + (size_t)r * w * 2;
        const uint8_t* su = grey ? nullptr : chromaRow(1, r);
        const uint8_t* sv = grey ? nullptr : chromaRow(2, r);
        for (uint32_t x = 0; x < w; x += 2, dst += 4) {
            dst[0] = ToVideoLuma(src[x]);
            dst[1] = grey ? 128 : ToVideoChroma(su[x >> xShift]);
            dst[2] = ToVideoLuma(src[x + 1]);
            dst[3] = grey ? 128 : ToVideoChroma(sv[x >> xShift]);
        }
    }
    return true;
}

bool CFrameConverter::FromRgb(const RgbImage& picture, uint8_t* sample, uint32_t capacity,
                              uint32_t& written)
{
    written = 0;
    uint32_t w = type.width, h = type.height;
    if (picture.width != w || picture.height != h)
        return false;
    const uint8_t* rgb = picture.pixels;
    if (type.kind == SAMPLE_MJPG) {
        if (compressor == nullptr)
            compressor = tjInitCompress();
        unsigned char* jpeg = nullptr;
        unsigned long length = 0;
        bool ok = compressor != nullptr &&
                  tjCompress2(compressor, rgb, (int)w, (int)w * 3, (int)h, TJPF_RGB, &jpeg,
                              &length, TJSAMP_420, 85, 0) == 0 &&
                  length <= capacity;
        if (ok) {
            memcpy(sample, jpeg, length);
            written = (uint32_t)length;
        }
        tjFree(jpeg);
        return ok;
    }
    uint32_t image = SampleImageSize(type.kind, w, h);
    if (capacity < image)
        return false;
    uint32_t stride = SampleStride(type.kind, w);
    if (type.kind == SAMPLE_RGB32 || type.kind == SAMPLE_RGB24) {
        uint32_t pixel = type.kind == SAMPLE_RGB32 ? 4 : 3;
        for (uint32_t r = 0; r < h; ++r) {
            const uint8_t* src = rgb + (size_t)(h - 1 - r) * w * 3;
            uint8_t* dst = sample + (size_t)r * stride;
            for (uint32_t x = 0; x < w; ++x, src += 3, dst += pixel) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
                if (pixel == 4)
                    dst[3] = 0xFF;
            }
        }
    } else {
        uint8_t* u = sample + (size_t)w * h;
        uint8_t* v = u + (size_t)(w / 2) * (h / 2);
        for (uint32_t r = 0; r < h; r += 2)
            for (uint32_t x = 0; x < w; x += 2) {
                // The 2 x 2 block's luma, and its mean colour for the chroma.
                int sum[3] = { 0, 0, 0 };
                uint8_t luma[2][2];
                for (uint32_t dy = 0; dy < 2; ++dy)
                    for (uint32_t dx = 0; dx < 2; ++dx) {
                        const uint8_t* p = rgb + ((size_t)(r + dy) * w + x + dx) * 3;
                        luma[dy][dx] = RgbToY(p[0], p[1], p[2]);
                        for (int c = 0; c < 3; ++c)
                            sum[c] += p[c];
                    }
                uint8_t cu = RgbToU(sum[0] / 4, sum[1] / 4, sum[2] / 4);
                uint8_t cv = RgbToV(sum[0] / 4, sum[1] / 4, sum[2] / 4);
                if (type.kind == SAMPLE_I420) {
                    for (uint32_t dy = 0; dy < 2; ++dy)
                        memcpy(sample + (size_t)(r + dy) * w + x, luma[dy], 2);
                    u[(size_t)(r / 2) * (w / 2) + x / 2] = cu;
                    v[(size_t)(r / 2) * (w / 2) + x / 2] = cv;
                } else {
                    for (uint32_t dy = 0; dy < 2; ++dy) {
                        uint8_t* dst = sample + (size_t)(r + dy) * stride + x * 2;
                        dst[0] = luma[dy][0];
                        dst[1] = cu;
                        dst[2] = luma[dy][1];
                        dst[3] = cv;
                    }
                }
            }
    }
    written = image;
    return true;
}
