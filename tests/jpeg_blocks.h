#pragma once
// The phone stand-in's still picture (4 x 2 coloured cells) as RGB and as a
// JPEG, and its check in a sample of any raw layout.

#include <gtest/gtest.h>

#include <string.h>
#include <turbojpeg.h>

#include "picture_convert.h"
#include "test_pattern.h"  // the stand-in's BLOCK_COLOURS

#include <vector>

// How far a decoded colour may stray from its cell's.
const int BLOCK_TOLERANCE = 40;

inline std::vector<uint8_t> BlocksRgb(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> rgb((size_t)w * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            memcpy(&rgb[((size_t)y * w + x) * 3], BLOCK_COLOURS[(y * 2 / h) * 4 + x * 4 / w], 3);
    return rgb;
}

// Empty when the encoder fails.
inline std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgb, uint32_t w, uint32_t h,
                                       int sampling)
{
    tjhandle c = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> jpeg;
    if (c != nullptr &&
        tjCompress2(c, rgb.data(), (int)w, 0, (int)h, TJPF_RGB, &out, &size, sampling, 90, 0) == 0)
        jpeg.assign(out, out + size);
    tjFree(out);
    if (c != nullptr)
        tjDestroy(c);
    return jpeg;
}

// The centre of cell i of a w x h picture.
inline void BlockCentre(uint32_t i, uint32_t w, uint32_t h, uint32_t& x, uint32_t& y)
{
    x = (i % 4) * w / 4 + w / 8;
    y = (i / 4) * h / 2 + h / 4;
}

inline uint8_t Clamp(int v)
{
    return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
}

// BT.601 at video levels back to RGB.
inline void YuvToRgb(int y, int u, int v, uint8_t (&rgb)[3])
{
    int c = (y - 16) * 298, d = u - 128, e = v - 128;
    rgb[0] = Clamp((c + 409 * e + 128) >> 8);
    rgb[1] = Clamp((c - 100 * d - 208 * e + 128) >> 8);
    rgb[2] = Clamp((c + 516 * d + 128) >> 8);
}

// The colour at (x, y) of the picture (y from the top) in a sample.
inline void PixelAt(const PictureTarget& t, const std::vector<uint8_t>& s, uint32_t x, uint32_t y,
                    uint8_t (&rgb)[3])
{
    PicturePlanes p;
    PlanesOf(t.layout, t.width, t.height, t.padded, p);
    const uint8_t* luma = &s[(size_t)y * p.stride[0]];
    const uint8_t* chroma = &s[p.offset[1] + (size_t)(y / 2) * p.stride[1]];
    switch (t.layout) {
    case PICTURE_I420:
        YuvToRgb(luma[x], chroma[x / 2], s[p.offset[2] + (size_t)(y / 2) * p.stride[2] + x / 2],
                 rgb);
        return;
    case PICTURE_NV12:
        YuvToRgb(luma[x], chroma[x & ~1u], chroma[(x & ~1u) + 1], rgb);
        return;
    case PICTURE_YUY2: {
        const uint8_t* pair = luma + (x & ~1u) * 2;
        YuvToRgb(pair[(x & 1) * 2], pair[1], pair[3], rgb);
        return;
    }
    default: {
        uint32_t pixel = t.layout == PICTURE_RGB32 ? 4 : 3;
        uint32_t row = t.bottomUp ? t.height - 1 - y : y;
        const uint8_t* px = &s[(size_t)row * p.stride[0] + x * pixel];
        rgb[0] = px[2];
        rgb[1] = px[1];
        rgb[2] = px[0];
    }
    }
}

// grey: a grey JPEG's picture, each cell at its colour's luma.
inline void ExpectBlocks(const PictureTarget& t, const std::vector<uint8_t>& s, const char* what,
                         bool grey = false)
{
    for (uint32_t cell = 0; cell < 8; ++cell) {
        uint32_t x, y;
        BlockCentre(cell, t.width, t.height, x, y);
        uint8_t rgb[3];
        PixelAt(t, s, x, y, rgb);
        const uint8_t* want = BLOCK_COLOURS[cell];
        int luma = (want[0] * 299 + want[1] * 587 + want[2] * 114) / 1000;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(rgb[c], grey ? luma : want[c], BLOCK_TOLERANCE)
                << what << " layout " << t.layout << " " << t.width << "x" << t.height
                << (t.bottomUp ? " bottom-up" : " top-down") << " cell " << cell << " channel "
                << c;
    }
}
