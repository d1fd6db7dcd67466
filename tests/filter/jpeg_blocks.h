#pragma once
// The phone stand-in's still picture (4 x 2 coloured cells) as RGB and as a
// JPEG, and its check in a sample of any of the capture filter's layouts.

#include <gtest/gtest.h>

#include <string.h>
#include <turbojpeg.h>

#include "stream_types.h"

#include <vector>

// Row by row, left to right.
const uint8_t BLOCK_CELLS[8][3] = { { 255, 255, 255 }, { 255, 255, 0 }, { 0, 255, 255 },
                                    { 0, 255, 0 },     { 255, 0, 255 }, { 255, 0, 0 },
                                    { 0, 0, 255 },     { 0, 0, 0 } };
// How far a decoded colour may stray from its cell's.
const int BLOCK_TOLERANCE = 40;

inline std::vector<uint8_t> BlocksRgb(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> rgb((size_t)w * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            memcpy(&rgb[((size_t)y * w + x) * 3], BLOCK_CELLS[(y * 2 / h) * 4 + x * 4 / w], 3);
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
    if (c != nullptr && tjCompress2(c, rgb.data(), (int)w, 0, (int)h, TJPF_RGB, &out, &size,
                                    sampling, 90, 0) == 0)
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

inline uint8_t Clamp(int v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

// BT.601 at video levels back to RGB.
inline void YuvToRgb(int y, int u, int v, uint8_t (&rgb)[3])
{
    int c = (y - 16) * 298, d = u - 128, e = v - 128;
    rgb[0] = Clamp((c + 409 * e + 128) >> 8);
    rgb[1] = Clamp((c - 100 * d - 208 * e + 128) >> 8);
    rgb[2] = Clamp((c + 516 * d + 128) >> 8);
}

// The colour at (x, y) of the picture (y from the top) in a sample.
inline void PixelAt(const StreamType& t, const std::vector<uint8_t>& s, uint32_t x, uint32_t y,
             uint8_t (&rgb)[3])
{
    uint32_t w = t.width, h = t.height, stride = SampleStride(t.kind, w);
    switch (t.kind) {
    case SAMPLE_I420: {
        const uint8_t* u = &s[(size_t)w * h];
        const uint8_t* v = u + (w / 2) * (h / 2);
        size_t c = (size_t)(y / 2) * (w / 2) + x / 2;
        YuvToRgb(s[(size_t)y * w + x], u[c], v[c], rgb);
        return;
    }
    case SAMPLE_YUY2: {
        const uint8_t* pair = &s[(size_t)y * stride + (x & ~1u) * 2];
        YuvToRgb(pair[(x & 1) * 2], pair[1], pair[3], rgb);
        return;
    }
    default: {
        uint32_t pixel = t.kind == SAMPLE_RGB32 ? 4 : 3;
        const uint8_t* p = &s[(size_t)(h - 1 - y) * stride + x * pixel];   // bottom-up
        rgb[0] = p[2];
        rgb[1] = p[1];
        rgb[2] = p[0];
    }
    }
}

inline void ExpectBlocks(const StreamType& t, const std::vector<uint8_t>& s, const char* what)
{
    for (uint32_t cell = 0; cell < 8; ++cell) {
        uint32_t x, y;
        BlockCentre(cell, t.width, t.height, x, y);
        uint8_t rgb[3];
        PixelAt(t, s, x, y, rgb);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(rgb[c], BLOCK_CELLS[cell][c], BLOCK_TOLERANCE)
                << what << " kind " << t.kind << " " << t.width << "x" << t.height << " cell "
                << cell << " channel " << c;
    }
}
