#include "picture_writer.h"

#include <stddef.h>

#include "picture_convert.h"

namespace {

const uint8_t NEUTRAL_CHROMA = 128;
const int32_t FIX = 16;   // fixed-point fraction bits of the RGB tables

uint8_t Clamp(int32_t v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

int32_t Fixed(double v) { return (int32_t)(v * (1 << FIX) + (v < 0 ? -0.5 : 0.5)); }

// Row of the picture's plane for frame row y (planeHeight rows in all).
uint32_t SourceRow(uint32_t y, uint32_t frameHeight, uint32_t pictureHeight, uint32_t planeHeight)
{
    uint32_t lumaRow = (uint32_t)((uint64_t)y * pictureHeight / frameHeight);
    return (uint32_t)((uint64_t)lumaRow * planeHeight / pictureHeight);
}

// A grey picture's chroma: every chroma column maps to 0 then.
const uint8_t NEUTRAL_ROW[1] = { NEUTRAL_CHROMA };

struct SourceRows {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
};

SourceRows RowsFor(const YcbcrPicture& p, uint32_t y, uint32_t frameHeight)
{
    SourceRows r;
    r.y = p.plane[0] + (size_t)SourceRow(y, frameHeight, p.height, p.height) * p.stride[0];
    r.u = r.v = NEUTRAL_ROW;
    if (p.chromaWidth != 0) {
        size_t row = SourceRow(y, frameHeight, p.height, p.chromaHeight);
        r.u = p.plane[1] + row * p.stride[1];
        r.v = p.plane[2] + row * p.stride[2];
    }
    return r;
}

}  // namespace

CRawWriter::CRawWriter()
{
    for (int v = 0; v < 256; ++v) {
        lumaRange[v] = VideoLuma((uint8_t)v);
        chromaRange[v] = VideoChroma((uint8_t)v);
        // The JPEG (JFIF) conversion back to RGB.
        int32_t c = v - 128;
        crToR[v] = Fixed(1.402 * c);
        cbToB[v] = Fixed(1.772 * c);
        crToG[v] = Fixed(-0.714136 * c);
        cbToG[v] = Fixed(-0.344136 * c);
    }
    for (uint32_t i = 0; i < RAW_MAX_WIDTH; ++i)
        lumaColumn[i] = chromaColumn[i] = 0;
}

void CRawWriter::MapColumns(const YcbcrPicture& picture, uint32_t width)
{
    for (uint32_t x = 0; x < width; ++x) {
        uint32_t lx = (uint32_t)((uint64_t)x * picture.width / width);
        lumaColumn[x] = lx;
        chromaColumn[x] = picture.chromaWidth == 0
                              ? 0
                              : (uint32_t)((uint64_t)lx * picture.chromaWidth / picture.width);
    }
}

void CRawWriter::Write(const YcbcrPicture& picture, const RawLayout& layout, uint8_t* frame)
{
    MapColumns(picture, layout.width);
    switch (layout.format) {
    case RAW_I420: WriteI420(picture, layout, frame); break;
    case RAW_YUY2: WriteYuy2(picture, layout, frame); break;
    case RAW_RGB: WriteRgb(picture, layout, frame); break;
    default: break;
    }
}

void CRawWriter::WriteI420(const YcbcrPicture& p, const RawLayout& l, uint8_t* frame) const
{
    for (uint32_t y = 0; y < l.height; ++y) {
        const uint8_t* src = RowsFor(p, y, l.height).y;
        uint8_t* dst = frame + l.offset[0] + (size_t)y * l.stride[0];
        for (uint32_t x = 0; x < l.width; ++x)
            dst[x] = lumaRange[src[lumaColumn[x]]];
    }
    uint32_t cw = (l.width + 1) / 2, ch = (l.height + 1) / 2;
    for (uint32_t cy = 0; cy < ch; ++cy) {
        SourceRows rows = RowsFor(p, 2 * cy, l.height);
        uint8_t* u = frame + l.offset[1] + (size_t)cy * l.stride[1];
        uint8_t* v = frame + l.offset[2] + (size_t)cy * l.stride[2];
        for (uint32_t cx = 0; cx < cw; ++cx) {
            u[cx] = chromaRange[rows.u[chromaColumn[2 * cx]]];
            v[cx] = chromaRange[rows.v[chromaColumn[2 * cx]]];
        }
    }
}

void CRawWriter::WriteYuy2(const YcbcrPicture& p, const RawLayout& l, uint8_t* frame) const
{
    for (uint32_t y = 0; y < l.height; ++y) {
        SourceRows rows = RowsFor(p, y, l.height);
        uint8_t* dst = frame + (size_t)y * l.stride[0];
        for (uint32_t x = 0; x < l.width; x += 2) {
            uint32_t x1 = x + 1 < l.width ? x + 1 : x;
            dst[0] = lumaRange[rows.y[lumaColumn[x]]];
            dst[1] = chromaRange[rows.u[chromaColumn[x]]];
            dst[2] = lumaRange[rows.y[lumaColumn[x1]]];
            dst[3] = chromaRange[rows.v[chromaColumn[x]]];
            dst += 4;
        }
    }
}

void CRawWriter::WriteRgb(const YcbcrPicture& p, const RawLayout& l, uint8_t* frame) const
{
    const int32_t half = 1 << (FIX - 1);
    for (uint32_t y = 0; y < l.height; ++y) {
        SourceRows rows = RowsFor(p, y, l.height);
        uint8_t* dst = frame + (size_t)y * l.stride[0];
        for (uint32_t x = 0; x < l.width; ++x) {
            int32_t luma = rows.y[lumaColumn[x]];
            uint8_t cb = rows.u[chromaColumn[x]];
            uint8_t cr = rows.v[chromaColumn[x]];
            dst[0] = Clamp(luma + ((crToR[cr] + half) >> FIX));
            dst[1] = Clamp(luma + ((cbToG[cb] + crToG[cr] + half) >> FIX));
            dst[2] = Clamp(luma + ((cbToB[cb] + half) >> FIX));
            dst += 3;
        }
    }
}

void CRawWriter::ToVideoRange(uint8_t* plane, uint32_t stride, uint32_t width, uint32_t height,
                              bool chroma) const
{
    const uint8_t* table = chroma ? chromaRange : lumaRange;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = plane + (size_t)y * stride;
        for (uint32_t x = 0; x < width; ++x)
            row[x] = table[row[x]];
    }
}
