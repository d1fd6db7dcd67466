#include "picture_convert.h"

#include <string.h>

#include <new>

#include "jpeg_check.h"

namespace {

// Full range to video levels, rounded to the nearest step: luma 0-255 to
// 16-235 (range 219), chroma 0-255 to 16-240 around 128 (range 224). The
// division by 255 is the exact rounding trick for products up to 255 * 255,
// in 16-bit arithmetic, so that the compiler maps a whole plane with vector
// code, several times faster than a table.
inline uint8_t VideoLevel(uint32_t v, uint32_t range)
{
    uint16_t t = (uint16_t)(v * range + 128);
    return (uint8_t)(16 + ((t + (t >> 8)) >> 8));
}
const uint32_t LUMA_RANGE = 219, CHROMA_RANGE = 224;

void MapPlane(uint8_t* p, size_t n, uint32_t range)
{
    for (size_t i = 0; i < n; ++i)
        p[i] = VideoLevel(p[i], range);
}

// The same values as tables, for the loops that place bytes one by one
// (interleaved and resampled layouts): there the lookup is the cheaper.
struct LevelTables {
    uint8_t luma[256];
    uint8_t chroma[256];
    LevelTables()
    {
        for (uint32_t v = 0; v < 256; ++v) {
            luma[v] = VideoLevel(v, LUMA_RANGE);
            chroma[v] = VideoLevel(v, CHROMA_RANGE);
        }
    }
};
const LevelTables LEVELS;

// BT.601 at video levels, integer, as the usual converters compute it.
inline uint8_t RgbToY(int r, int g, int b)
{
    return (uint8_t)(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
inline uint8_t RgbToU(int r, int g, int b)
{
    return (uint8_t)(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
}
inline uint8_t RgbToV(int r, int g, int b)
{
    return (uint8_t)(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

// The fast integer inverse DCT: a live picture at camera qualities shows no
// difference, and it leaves more of the frame time to the application.
const int DECODE_FLAGS = TJFLAG_FASTDCT;

// A decode that reports only a warning (a slightly damaged scan) still made
// a whole picture.
bool Decoded(int rc, tjhandle handle)
{
    return rc == 0 || tjGetErrorCode(handle) == TJERR_WARNING;
}

bool IsRgb(PictureLayout layout)
{
    return layout == PICTURE_RGB32 || layout == PICTURE_RGB24;
}

}  // namespace

uint8_t VideoLuma(uint8_t y)
{
    return VideoLevel(y, LUMA_RANGE);
}
uint8_t VideoChroma(uint8_t c)
{
    return VideoLevel(c, CHROMA_RANGE);
}

uint32_t PictureStride(PictureLayout layout, uint32_t width)
{
    switch (layout) {
    case PICTURE_I420:
    case PICTURE_NV12:
        return width;
    case PICTURE_YUY2:
        return width * 2;
    case PICTURE_RGB32:
        return width * 4;
    case PICTURE_RGB24:
        return width * 3;
    default:
        return 0;
    }
}

uint32_t PictureSize(PictureLayout layout, uint32_t width, uint32_t height)
{
    if (layout == PICTURE_I420 || layout == PICTURE_NV12)
        return width * height + 2 * (width / 2) * (height / 2);
    return PictureStride(layout, width) * height;
}

CPictureConverter::CPictureConverter() : compressor(nullptr), scratch(nullptr), scratchSize(0)
{
    memset(&target, 0, sizeof target);
}

CPictureConverter::~CPictureConverter()
{
    if (compressor)
        tjDestroy(compressor);
    delete[] scratch;
}

bool CPictureConverter::Start(const PictureTarget& t)
{
    target = t;
    if (decompressor.Get() == nullptr)
        decompressor.Reset();
    if (decompressor.Get() == nullptr)
        return false;
    // Room for the JPEG's picture as 4:4:4 planes (padded to whole blocks) or
    // as 32-bit pixels, whichever is larger.
    uint32_t w = (t.jpegWidth + 15) & ~15u, h = (t.jpegHeight + 15) & ~15u;
    uint32_t need = t.layout == PICTURE_JPEG ? 0 : w * h * 4;
    if (need > scratchSize) {
        delete[] scratch;
        scratch = new (std::nothrow) uint8_t[need];
        scratchSize = scratch ? need : 0;
    }
    return scratchSize >= need;
}

ConvertResult CPictureConverter::FromJpeg(const uint8_t* jpeg, uint32_t size, uint8_t* sample,
                                          uint32_t capacity, uint32_t& written)
{
    written = 0;
    uint32_t width = 0, height = 0;
    if (decompressor.Get() == nullptr || !ReadWholeJpeg(jpeg, size, width, height))
        return CONVERT_BAD;
    if (width != target.jpegWidth || height != target.jpegHeight)
        return CONVERT_OTHER_SIZE;
    if (target.layout == PICTURE_JPEG) {
        if (size > capacity)
            return CONVERT_BAD;
        memcpy(sample, jpeg, size);
        written = size;
        return CONVERT_OK;
    }
    uint32_t image = PictureSize(target.layout, target.width, target.height);
    int w = 0, h = 0, subsampling = 0, colourspace = 0;
    if (capacity < image || image == 0)
        return CONVERT_BAD;
    bool ok = tjDecompressHeader3(decompressor.Get(), jpeg, size, &w, &h, &subsampling,
                                  &colourspace) == 0 &&
              (IsRgb(target.layout) ? DecodeRgb(jpeg, size, sample)
                                    : DecodeYuv(jpeg, size, subsampling, sample));
    if (!ok) {
        decompressor.Reset();
        return CONVERT_BAD;
    }
    written = image;
    return CONVERT_OK;
}

bool CPictureConverter::DecodeRgb(const uint8_t* jpeg, uint32_t size, uint8_t* sample)
{
    int format = target.layout == PICTURE_RGB32 ? TJPF_BGRX : TJPF_BGR;
    int flags = DECODE_FLAGS | (target.bottomUp ? TJFLAG_BOTTOMUP : 0);
    uint32_t pixel = (uint32_t)tjPixelSize[format];
    uint32_t stride = PictureStride(target.layout, target.width);
    int jw = (int)target.jpegWidth, jh = (int)target.jpegHeight;
    if (target.width == target.jpegWidth && target.height == target.jpegHeight)
        return Decoded(tjDecompress2(decompressor.Get(), jpeg, size, sample, jw, (int)stride, jh,
                                     format, flags),
                       decompressor.Get());
    // Cut to the sample's size: the right-most columns and the bottom rows go.
    uint32_t fullStride = (uint32_t)jw * pixel;
    if (!Decoded(tjDecompress2(decompressor.Get(), jpeg, size, scratch, jw, (int)fullStride, jh,
                               format, flags),
                 decompressor.Get()))
        return false;
    // Bottom-up, the bottom rows come first in the scratch copy.
    uint32_t skip = target.bottomUp ? (uint32_t)jh - target.height : 0;
    for (uint32_t r = 0; r < target.height; ++r)
        memcpy(sample + (size_t)r * stride, scratch + (size_t)(r + skip) * fullStride,
               (size_t)target.width * pixel);
    return true;
}

// The U V pairs of one output row, for every second column: U at u and V at v,
// then step bytes on; a grey JPEG (no chroma rows) gives neutral chroma.
void CPictureConverter::WriteChroma(const uint8_t* su, const uint8_t* sv, uint32_t xShift,
                                    uint8_t* u, uint8_t* v, uint32_t step) const
{
    uint32_t pairs = target.width / 2;
    if (su == nullptr) {
        for (uint32_t x = 0; x < pairs; ++x)
            u[x * step] = v[x * step] = 128;
        return;
    }
    for (uint32_t x = 0; x < pairs; ++x) {
        u[x * step] = LEVELS.chroma[su[(x * 2) >> xShift]];
        v[x * step] = LEVELS.chroma[sv[(x * 2) >> xShift]];
    }
}

bool CPictureConverter::DecodeYuv(const uint8_t* jpeg, uint32_t size, int subsampling,
                                  uint8_t* sample)
{
    PictureLayout layout = target.layout;
    uint32_t w = target.width, h = target.height;
    int jw = (int)target.jpegWidth, jh = (int)target.jpegHeight;
    uint8_t* chroma = sample + (size_t)w * h;  // I420's U plane, NV12's U V plane
    uint8_t* v420 = chroma + (size_t)(w / 2) * (h / 2);
    bool grey = subsampling == TJSAMP_GRAY;
    // The luma plane goes straight into the sample when it is the sample's
    // own plane, unpadded and uncut.
    bool lumaInPlace = layout != PICTURE_YUY2 && tjPlaneWidth(0, jw, subsampling) == (int)w &&
                       tjPlaneHeight(0, jh, subsampling) == (int)h;
    if (layout == PICTURE_I420 && subsampling == TJSAMP_420 && lumaInPlace) {
        // All three planes straight into the sample's.
        unsigned char* planes[3] = {sample, chroma, v420};
        int strides[3] = {(int)w, (int)w / 2, (int)w / 2};
        if (!Decoded(tjDecompressToYUVPlanes(decompressor.Get(), jpeg, size, planes, jw, strides,
                                             jh, DECODE_FLAGS),
                     decompressor.Get()))
            return false;
        MapPlane(sample, (size_t)w * h, LUMA_RANGE);
        MapPlane(chroma, (size_t)(w / 2) * (h / 2) * 2, CHROMA_RANGE);
        return true;
    }

    // Otherwise the chroma planes (and luma where it cannot go in place) in
    // the scratch buffer, then resampled.
    int pw[3], ph[3];
    unsigned char* planes[3] = {nullptr, nullptr, nullptr};
    size_t used = 0;
    for (int c = 0; c < 3; ++c) {
        pw[c] = tjPlaneWidth(grey ? 0 : c, jw, subsampling);
        ph[c] = tjPlaneHeight(grey ? 0 : c, jh, subsampling);
        if (pw[c] <= 0 || ph[c] <= 0)
            return false;
        if (c == 0 && lumaInPlace) {
            planes[0] = sample;
        } else if (c == 0 || !grey) {
            planes[c] = scratch + used;
            used += (size_t)pw[c] * ph[c];
        }
    }
    if (used > scratchSize || !Decoded(tjDecompressToYUVPlanes(decompressor.Get(), jpeg, size,
                                                               planes, jw, pw, jh, DECODE_FLAGS),
                                       decompressor.Get()))
        return false;

    // Nearest chroma sample for each luma column and row; JPEG chroma is
    // as wide as luma, or half or a quarter of it.
    uint32_t xShift = pw[1] * 4 <= pw[0] ? 2 : pw[1] * 2 <= pw[0] ? 1 : 0;
    auto chromaRow = [&](int plane, uint32_t yy) -> const uint8_t* {
        if (grey)
            return nullptr;
        uint32_t sy = (uint32_t)((uint64_t)yy * (uint32_t)ph[plane] / (uint32_t)ph[0]);
        return planes[plane] + (size_t)sy * (uint32_t)pw[plane];
    };
    const uint8_t* luma = planes[0];
    if (layout == PICTURE_YUY2) {
        for (uint32_t r = 0; r < h; ++r) {
            const uint8_t* src = luma + (size_t)r * (uint32_t)pw[0];
            uint8_t* dst = sample + (size_t)r * w * 2;
            for (uint32_t x = 0; x < w; ++x)
                dst[x * 2] = LEVELS.luma[src[x]];
            WriteChroma(chromaRow(1, r), chromaRow(2, r), xShift, dst + 1, dst + 3, 4);
        }
        return true;
    }
    if (lumaInPlace) {
        MapPlane(sample, (size_t)w * h, LUMA_RANGE);
    } else {
        for (uint32_t r = 0; r < h; ++r) {
            const uint8_t* src = luma + (size_t)r * (uint32_t)pw[0];
            uint8_t* dst = sample + (size_t)r * w;
            for (uint32_t x = 0; x < w; ++x)
                dst[x] = VideoLevel(src[x], LUMA_RANGE);
        }
    }
    for (uint32_t r = 0; r < h / 2; ++r) {
        const uint8_t* su = chromaRow(1, r * 2);
        const uint8_t* sv = chromaRow(2, r * 2);
        if (layout == PICTURE_I420)
            WriteChroma(su, sv, xShift, chroma + (size_t)r * (w / 2), v420 + (size_t)r * (w / 2),
                        1);
        else
            WriteChroma(su, sv, xShift, chroma + (size_t)r * w, chroma + (size_t)r * w + 1, 2);
    }
    return true;
}

bool CPictureConverter::FromRgb(const RgbImage& picture, uint8_t* sample, uint32_t capacity,
                                uint32_t& written)
{
    written = 0;
    uint32_t w = target.width, h = target.height;
    if (picture.width != w || picture.height != h)
        return false;
    const uint8_t* rgb = picture.pixels;
    if (target.layout == PICTURE_JPEG) {
        if (compressor == nullptr)
            compressor = tjInitCompress();
        unsigned char* jpeg = nullptr;
        unsigned long length = 0;
        bool ok = compressor != nullptr &&
                  tjCompress2(compressor, rgb, (int)w, (int)w * 3, (int)h, TJPF_RGB, &jpeg, &length,
                              TJSAMP_420, 85, 0) == 0 &&
                  length <= capacity;
        if (ok) {
            memcpy(sample, jpeg, length);
            written = (uint32_t)length;
        }
        tjFree(jpeg);
        return ok;
    }
    uint32_t image = PictureSize(target.layout, w, h);
    if (capacity < image || image == 0)
        return false;
    uint32_t stride = PictureStride(target.layout, w);
    if (IsRgb(target.layout)) {
        uint32_t pixel = target.layout == PICTURE_RGB32 ? 4 : 3;
        for (uint32_t r = 0; r < h; ++r) {
            const uint8_t* src = rgb + (size_t)(target.bottomUp ? h - 1 - r : r) * w * 3;
            uint8_t* dst = sample + (size_t)r * stride;
            for (uint32_t x = 0; x < w; ++x, src += 3, dst += pixel) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
                if (pixel == 4)
                    dst[3] = 0xFF;
            }
        }
        written = image;
        return true;
    }
    uint8_t* chroma = sample + (size_t)w * h;
    uint8_t* v420 = chroma + (size_t)(w / 2) * (h / 2);
    for (uint32_t r = 0; r < h; r += 2)
        for (uint32_t x = 0; x < w; x += 2) {
            // The 2 x 2 block's luma, and its mean colour for the chroma.
            int sum[3] = {0, 0, 0};
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
            if (target.layout == PICTURE_YUY2) {
                for (uint32_t dy = 0; dy < 2; ++dy) {
                    uint8_t* dst = sample + (size_t)(r + dy) * stride + x * 2;
                    dst[0] = luma[dy][0];
                    dst[1] = cu;
                    dst[2] = luma[dy][1];
                    dst[3] = cv;
                }
                continue;
            }
            for (uint32_t dy = 0; dy < 2; ++dy)
                memcpy(sample + (size_t)(r + dy) * w + x, luma[dy], 2);
            if (target.layout == PICTURE_I420) {
                chroma[(size_t)(r / 2) * (w / 2) + x / 2] = cu;
                v420[(size_t)(r / 2) * (w / 2) + x / 2] = cv;
            } else {
                chroma[(size_t)(r / 2) * w + x] = cu;
                chroma[(size_t)(r / 2) * w + x + 1] = cv;
            }
        }
    written = image;
    return true;
}
