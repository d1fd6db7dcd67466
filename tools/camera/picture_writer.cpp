#include "picture_writer.h"

#include <stddef.h>

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

}  // namespace

CRawWriter::CRawWriter()
{
    for (int v = 0; v < 256; ++v) {
        lumaRange[v] = (uint8_t)(16 + (v * 219 + 127) / 255);
        chromaRange[v] = (uint8_t)(16 + (v * 224 + 127) / 255);
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
        const uint8_t* src = p.plane[0] + (size_t)SourceRow(y, l.height, p.height, p.height) * p.stride[0];
        uint8_t* dst = frame + l.offset[0] + (size_t)y * l.stride[0];
        for (uint32_t x = 0; x < l.width; ++x)
            dst[x] = lumaRange[src[lumaColumn[x]]];
    }
    uint32_t cw = (l.width + 1) / 2, ch = (l.height + 1) / 2;
    for (uint32_t k = 1; k <= 2; ++k) {
        for (uint32_t cy = 0; cy < ch; ++cy) {
            uint8_t* dst = frame + l.offset[k] + (size_t)cy * l.stride[k];
            if (p.chromaWidth == 0) {
                for (uint32_t cx = 0; cx < cw; ++cx)
                    dst[cx] = chromaRange[NEUTRAL_CHROMA];
                continue;
            }
            const uint8_t* src =
                p.plane[k] + (size_t)SourceRow(2 * cy, l.height, p.height, p.chromaHeight) * p.stride[k];
            for (uint32_t cx = 0; cx < cw; ++cx)
                dst[cx] = chromaRange[src[chromaColumn[2 * cx]]];
        }
    }
}

void CRawWriter::WriteYuy2(const YcbcrPicture& p, const RawLayout& l, uint8_t* frame) const
{
    for (uint32_t y = 0; y < l.height; ++y) {
        const uint8_t* ys = p.plane[0] + (size_t)SourceRow(y, l.height, p.height, p.height) * p.stride[0];
        const uint8_t* us = nullptr;
        const uint8_t* vs = nullptr;
        if (p.chromaWidth != 0) {
            size_t row = SourceRow(y, l.height, p.height, p.chromaHeight);
            us = p.plane[1] + row * p.stride[1];
            vs = p.plane[2] + row * p.stride[2];
        }
        uint8_t* dst = frame + (size_t)y * l.stride[0];
        for (uint32_t x = 0; x < l.width; x += 2) {
            uint32_t x1 = x + 1 < l.width ? x + 1 : x;
            dst[0] = lumaRange[ys[lumaColumn[x]]];
            dst[1] = chromaRange[us ? us[chromaColumn[x]] : NEUTRAL_CHROMA];
            dst[2] = lumaRange[ys[lumaColumn[x1]]];
            dst[3] = chromaRange[vs ? vs[chromaColumn[x]] : NEUTRAL_CHROMA];
            dst += 4;
        }
    }
}

void CRawWriter::WriteRgb(const YcbcrPicture& p, const RawLayout& l, uint8_t* frame) const
{
    const int32_t half = 1 << (FIX - 1);
    for (uint32_t y = 0; y < l.height; ++y) {
        const uint8_t* ys = p.plane[0] + (size_t)SourceRow(y, l.height, p.height, p.height) * p.stride[0];
        const uint8_t* us = nullptr;
        const uint8_t* vs = nullptr;
        if (p.chromaWidth != 0) {
            size_t row = SourceRow(y, l.height, p.height, p.chromaHeight);
            us = p.plane[1] + row * p.stride[1];
            vs = p.plane[2] + row * p.stride[2];
        }
        uint8_t* dst = frame + (size_t)y * l.stride[0];
        for (uint32_t x = 0; x < l.width; ++x) {
            int32_t luma = ys[lumaColumn[x]];
            uint8_t cb = us ? us[chromaColumn[x]] : NEUTRAL_CHROMA;
            uint8_t cr = vs ? vs[chromaColumn[x]] : NEUTRAL_CHROMA;
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
