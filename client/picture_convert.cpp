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

// A plane's rows of width bytes, stride apart: in one run when packed.
void MapRows(uint8_t* p, uint32_t stride, uint32_t width, uint32_t rows, uint32_t range)
{
    if (stride == width) {
        MapPlane(p, (size_t)width * rows, range);
        return;
    }
    for (uint32_t r = 0; r < rows; ++r)
        MapPlane(p + (size_t)r * stride, width, range);
}

uint32_t Pad(uint32_t bytes, bool padded)
{
    return padded ? (bytes + 3) & ~3u : bytes;
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

bool PlanesOf(PictureLayout layout, uint32_t width, uint32_t height, bool padded,
              PicturePlanes& out)
{
    memset(&out, 0, sizeof out);
    if (width == 0 || height == 0)
        return false;
    out.count = 1;
    switch (layout) {
    case PICTURE_I420:
        out.count = 3;
        out.stride[0] = Pad(width, padded);
        out.stride[1] = out.stride[2] = Pad(width / 2, padded);
        out.offset[1] = out.stride[0] * height;
        out.offset[2] = out.offset[1] + out.stride[1] * (height / 2);
        out.size = out.offset[2] + out.stride[2] * (height / 2);
        return true;
    case PICTURE_NV12:
        out.count = 2;
        out.stride[0] = out.stride[1] = Pad(width, padded);
        out.offset[1] = out.stride[0] * height;
        out.size = out.offset[1] + out.stride[1] * (height / 2);
        return true;
    case PICTURE_YUY2:
        out.stride[0] = Pad(width * 2, padded);
        break;
    case PICTURE_RGB32:
        out.stride[0] = width * 4;
        break;
    case PICTURE_RGB24:
        out.stride[0] = Pad(width * 3, padded);
        break;
    default:
        return false;
    }
    out.size = out.stride[0] * height;
    return true;
}

uint32_t PictureStride(PictureLayout layout, uint32_t width)
{
    PicturePlanes p;
    return PlanesOf(layout, width, 2, false, p) ? p.stride[0] : 0;
}

uint32_t PictureBytes(PictureLayout layout, uint32_t width, uint32_t height)
{
    PicturePlanes p;
    return PlanesOf(layout, width, height, false, p) ? p.size : 0;
}

CPictureConverter::CPictureConverter() : compressor(nullptr), scratch(nullptr), scratchSize(0)
{
    memset(&target, 0, sizeof target);
    memset(&planes, 0, sizeof planes);
}

CPictureConverter::~CPictureConverter()
{
    if (compressor)
        tjDestroy(compressor);
    delete[] scratch;
}

bool CPictureConverter::Start(const PictureTarget& t, bool decodes)
{
    target = t;
    PlanesOf(t.layout, t.width, t.height, t.padded, planes);
    if (!decodes)
        return true;
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
    int w = 0, h = 0, subsampling = 0, colourspace = 0;
    if (capacity < planes.size || planes.size == 0)
        return CONVERT_BAD;
    bool ok = tjDecompressHeader3(decompressor.Get(), jpeg, size, &w, &h, &subsampling,
                                  &colourspace) == 0 &&
              (IsRgb(target.layout) ? DecodeRgb(jpeg, size, sample)
                                    : DecodeYuv(jpeg, size, subsampling, sample));
    if (!ok) {
        decompressor.Reset();
        return CONVERT_BAD;
    }
    written = planes.size;
    return CONVERT_OK;
}

bool CPictureConverter::DecodeRgb(const uint8_t* jpeg, uint32_t size, uint8_t* sample)
{
    int format = target.layout == PICTURE_RGB32 ? TJPF_BGRX : TJPF_BGR;
    int flags = DECODE_FLAGS | (target.bottomUp ? TJFLAG_BOTTOMUP : 0);
    uint32_t pixel = (uint32_t)tjPixelSize[format];
    uint32_t stride = planes.stride[0];
    int jw = (int)target.jpegWidth, jh = (int)target.jpegHeight;
    if (target.width == target.jpegWidth && target.height == target.jpegHeight)
        return Decoded(tjDecompress2(decompressor.Get(), jpeg, size, sample, jw, (int)stride, jh,
                                     format, flags),
                       decompressor.Get());
    // Cut to the sample's size: the right-most columns and the bottom rows go.
    uint32_t fullStride = (uint32_t)jw * pixel;
    if ((size_t)fullStride * (size_t)jh > scratchSize)
        return false;
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

// The JPEG's planes as decoded: luma in the sample's own plane where it fits
// there, the rest in the scratch buffer.
struct CPictureConverter::DecodedYuv {
    const uint8_t* plane[3];
    int width[3];
    int height[3];
    bool grey;
    bool lumaInPlace;
    uint32_t xShift;  // chroma is as wide as luma, or half or a quarter of it

    // The nearest chroma row for luma row y; null for a grey JPEG.
    const uint8_t* ChromaRow(int c, uint32_t y) const
    {
        if (grey)
            return nullptr;
        uint32_t sy = (uint32_t)((uint64_t)y * (uint32_t)height[c] / (uint32_t)height[0]);
        return plane[c] + (size_t)sy * (uint32_t)width[c];
    }
};

bool CPictureConverter::DecodeYuv(const uint8_t* jpeg, uint32_t size, int subsampling,
                                  uint8_t* sample)
{
    int jw = (int)target.jpegWidth, jh = (int)target.jpegHeight;
    bool lumaFits = tjPlaneWidth(0, jw, subsampling) == (int)target.width &&
                    tjPlaneHeight(0, jh, subsampling) == (int)target.height;
    if (target.layout == PICTURE_I420 && subsampling == TJSAMP_420 && lumaFits)
        return DecodeI420InPlace(jpeg, size, sample);
    DecodedYuv d;
    if (!DecodePlanes(jpeg, size, subsampling, sample, d))
        return false;
    if (target.layout == PICTURE_YUY2)
        WriteYuy2(d, sample);
    else
        WriteSemiPlanar(d, sample);
    return true;
}

// All three planes straight into the sample's, then mapped to video levels.
bool CPictureConverter::DecodeI420InPlace(const uint8_t* jpeg, uint32_t size, uint8_t* sample)
{
    uint32_t w = target.width, h = target.height;
    unsigned char* p[3] = {sample, sample + planes.offset[1], sample + planes.offset[2]};
    int strides[3] = {(int)planes.stride[0], (int)planes.stride[1], (int)planes.stride[2]};
    if (!Decoded(tjDecompressToYUVPlanes(decompressor.Get(), jpeg, size, p, (int)target.jpegWidth,
                                         strides, (int)target.jpegHeight, DECODE_FLAGS),
                 decompressor.Get()))
        return false;
    MapRows(p[0], planes.stride[0], w, h, LUMA_RANGE);
    MapRows(p[1], planes.stride[1], w / 2, h / 2, CHROMA_RANGE);
    MapRows(p[2], planes.stride[2], w / 2, h / 2, CHROMA_RANGE);
    return true;
}

bool CPictureConverter::DecodePlanes(const uint8_t* jpeg, uint32_t size, int subsampling,
                                     uint8_t* sample, DecodedYuv& d)
{
    int jw = (int)target.jpegWidth, jh = (int)target.jpegHeight;
    d.grey = subsampling == TJSAMP_GRAY;
    // The luma plane goes straight into the sample when it is the sample's
    // own plane, uncut.
    d.lumaInPlace = target.layout != PICTURE_YUY2 &&
                    tjPlaneWidth(0, jw, subsampling) == (int)target.width &&
                    tjPlaneHeight(0, jh, subsampling) == (int)target.height;
    unsigned char* p[3] = {nullptr, nullptr, nullptr};
    int strides[3] = {0, 0, 0};
    size_t used = 0;
    for (int c = 0; c < 3; ++c) {
        d.width[c] = strides[c] = tjPlaneWidth(d.grey ? 0 : c, jw, subsampling);
        d.height[c] = tjPlaneHeight(d.grey ? 0 : c, jh, subsampling);
        if (d.width[c] <= 0 || d.height[c] <= 0)
            return false;
        if (c == 0 && d.lumaInPlace) {
            p[0] = sample;
            strides[0] = (int)planes.stride[0];
        } else if (c == 0 || !d.grey) {
            p[c] = scratch + used;
            used += (size_t)d.width[c] * d.height[c];
        }
        d.plane[c] = p[c];
    }
    d.xShift = d.width[1] * 4 <= d.width[0] ? 2 : d.width[1] * 2 <= d.width[0] ? 1 : 0;
    return used <= scratchSize && Decoded(tjDecompressToYUVPlanes(decompressor.Get(), jpeg, size, p,
                                                                  jw, strides, jh, DECODE_FLAGS),
                                          decompressor.Get());
}

void CPictureConverter::WriteYuy2(const DecodedYuv& d, uint8_t* sample) const
{
    for (uint32_t r = 0; r < target.height; ++r) {
        const uint8_t* src = d.plane[0] + (size_t)r * (uint32_t)d.width[0];
        uint8_t* dst = sample + (size_t)r * planes.stride[0];
        for (uint32_t x = 0; x < target.width; ++x)
            dst[x * 2] = LEVELS.luma[src[x]];
        WriteChroma(d.ChromaRow(1, r), d.ChromaRow(2, r), d.xShift, dst + 1, dst + 3, 4);
    }
}

// I420 and NV12 from planes of any subsampling: luma mapped (or copied from
// the scratch plane), chroma resampled to half size.
void CPictureConverter::WriteSemiPlanar(const DecodedYuv& d, uint8_t* sample) const
{
    uint32_t w = target.width, h = target.height;
    if (d.lumaInPlace) {
        MapRows(sample, planes.stride[0], w, h, LUMA_RANGE);
    } else {
        for (uint32_t r = 0; r < h; ++r) {
            const uint8_t* src = d.plane[0] + (size_t)r * (uint32_t)d.width[0];
            uint8_t* dst = sample + (size_t)r * planes.stride[0];
            for (uint32_t x = 0; x < w; ++x)
                dst[x] = VideoLevel(src[x], LUMA_RANGE);
        }
    }
    for (uint32_t r = 0; r < h / 2; ++r) {
        const uint8_t* su = d.ChromaRow(1, r * 2);
        const uint8_t* sv = d.ChromaRow(2, r * 2);
        uint8_t* row = sample + planes.offset[1] + (size_t)r * planes.stride[1];
        if (target.layout == PICTURE_I420)
            WriteChroma(su, sv, d.xShift, row,
                        sample + planes.offset[2] + (size_t)r * planes.stride[2], 1);
        else
            WriteChroma(su, sv, d.xShift, row, row + 1, 2);
    }
}

bool CPictureConverter::FromRgb(const RgbImage& picture, uint8_t* sample, uint32_t capacity,
                                uint32_t& written)
{
    written = 0;
    if (picture.width != target.width || picture.height != target.height)
        return false;
    if (target.layout == PICTURE_JPEG)
        return RgbToJpeg(picture, sample, capacity, written);
    if (capacity < planes.size || planes.size == 0)
        return false;
    if (IsRgb(target.layout))
        RgbToRgb(picture, sample);
    else
        RgbToYuv(picture, sample);
    written = planes.size;
    return true;
}

bool CPictureConverter::RgbToJpeg(const RgbImage& picture, uint8_t* sample, uint32_t capacity,
                                  uint32_t& written)
{
    if (compressor == nullptr)
        compressor = tjInitCompress();
    if (compressor == nullptr)
        return false;
    // The best quality that fits: fine lettering at a large size may need
    // less than the usual one to fit the sample's room.
    const int qualities[] = {85, 60, 35, 15};
    int w = (int)picture.width, h = (int)picture.height;
    for (int quality : qualities) {
        unsigned char* jpeg = nullptr;
        unsigned long length = 0;
        bool made = tjCompress2(compressor, picture.pixels, w, w * 3, h, TJPF_RGB, &jpeg, &length,
                                TJSAMP_420, quality, 0) == 0;
        bool fits = made && length <= capacity;
        if (fits) {
            memcpy(sample, jpeg, length);
            written = (uint32_t)length;
        }
        tjFree(jpeg);
        if (fits || !made)
            return fits;
    }
    return false;
}

void CPictureConverter::RgbToRgb(const RgbImage& picture, uint8_t* sample) const
{
    uint32_t w = target.width, h = target.height;
    uint32_t pixel = target.layout == PICTURE_RGB32 ? 4 : 3;
    for (uint32_t r = 0; r < h; ++r) {
        const uint8_t* src = picture.pixels + (size_t)(target.bottomUp ? h - 1 - r : r) * w * 3;
        uint8_t* dst = sample + (size_t)r * planes.stride[0];
        for (uint32_t x = 0; x < w; ++x, src += 3, dst += pixel) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            if (pixel == 4)
                dst[3] = 0xFF;
        }
    }
}

// Each 2 x 2 block: its four lumas, and its mean colour as the chroma.
void CPictureConverter::RgbToYuv(const RgbImage& picture, uint8_t* sample) const
{
    uint32_t w = target.width, h = target.height;
    for (uint32_t r = 0; r + 1 < h; r += 2)
        for (uint32_t x = 0; x + 1 < w; x += 2) {
            int sum[3] = {0, 0, 0};
            uint8_t luma[2][2];
            for (uint32_t dy = 0; dy < 2; ++dy)
                for (uint32_t dx = 0; dx < 2; ++dx) {
                    const uint8_t* p = picture.pixels + ((size_t)(r + dy) * w + x + dx) * 3;
                    luma[dy][dx] = RgbToY(p[0], p[1], p[2]);
                    for (int c = 0; c < 3; ++c)
                        sum[c] += p[c];
                }
            uint8_t cu = RgbToU(sum[0] / 4, sum[1] / 4, sum[2] / 4);
            uint8_t cv = RgbToV(sum[0] / 4, sum[1] / 4, sum[2] / 4);
            if (target.layout == PICTURE_YUY2) {
                for (uint32_t dy = 0; dy < 2; ++dy) {
                    uint8_t* dst = sample + (size_t)(r + dy) * planes.stride[0] + x * 2;
                    dst[0] = luma[dy][0];
                    dst[1] = cu;
                    dst[2] = luma[dy][1];
                    dst[3] = cv;
                }
                continue;
            }
            for (uint32_t dy = 0; dy < 2; ++dy)
                memcpy(sample + (size_t)(r + dy) * planes.stride[0] + x, luma[dy], 2);
            uint8_t* u = sample + planes.offset[1] + (size_t)(r / 2) * planes.stride[1];
            if (target.layout == PICTURE_I420) {
                u[x / 2] = cu;
                sample[planes.offset[2] + (size_t)(r / 2) * planes.stride[2] + x / 2] = cv;
            } else {
                u[x] = cu;
                u[x + 1] = cv;
            }
        }
}
