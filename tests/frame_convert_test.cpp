// The phone's JPEG into every sample layout, and the placeholder picture
// into each: colours, plane order, orientation, strides and video levels,
// the cut of sizes that are not whole words, and the frames that are refused.
#include <gtest/gtest.h>

#include <string.h>
#include <turbojpeg.h>

#include <vector>

#include "frame_convert.h"

namespace {

// The stand-in's still picture: 4 x 2 cells, row by row, left to right.
const uint8_t CELLS[8][3] = { { 255, 255, 255 }, { 255, 255, 0 }, { 0, 255, 255 }, { 0, 255, 0 },
                              { 255, 0, 255 }, { 255, 0, 0 }, { 0, 0, 255 }, { 0, 0, 0 } };
const int TOLERANCE = 40;

std::vector<uint8_t> BlocksRgb(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> rgb((size_t)w * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t cell = (y * 2 / h) * 4 + x * 4 / w;
            memcpy(&rgb[((size_t)y * w + x) * 3], CELLS[cell], 3);
        }
    return rgb;
}

std::vector<uint8_t> Jpeg(const std::vector<uint8_t>& rgb, uint32_t w, uint32_t h, int sampling)
{
    tjhandle c = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(c, rgb.data(), (int)w, 0, (int)h, TJPF_RGB, &out, &size, sampling, 90, 0),
              0);
    std::vector<uint8_t> jpeg(out, out + size);
    tjFree(out);
    tjDestroy(c);
    return jpeg;
}

uint8_t Clamp(int v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

// BT.601 at video levels back to RGB.
void YuvToRgb(int y, int u, int v, uint8_t (&rgb)[3])
{
    int c = (y - 16) * 298, d = u - 128, e = v - 128;
    rgb[0] = Clamp((c + 409 * e + 128) >> 8);
    rgb[1] = Clamp((c - 100 * d - 208 * e + 128) >> 8);
    rgb[2] = Clamp((c + 516 * d + 128) >> 8);
}

// The colour at (x, y) of the picture (y from the top) in a sample.
void PixelAt(const StreamType& t, const std::vector<uint8_t>& s, uint32_t x, uint32_t y,
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

void ExpectBlocks(const StreamType& t, const std::vector<uint8_t>& s, const char* what)
{
    for (uint32_t cell = 0; cell < 8; ++cell) {
        uint32_t x = (cell % 4) * t.width / 4 + t.width / 8;
        uint32_t y = (cell / 4) * t.height / 2 + t.height / 4;
        uint8_t rgb[3];
        PixelAt(t, s, x, y, rgb);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(rgb[c], CELLS[cell][c], TOLERANCE)
                << what << " kind " << t.kind << " " << t.width << "x" << t.height << " cell "
                << cell << " channel " << c;
    }
}

StreamType TypeOf(SampleKind kind, uint32_t w, uint32_t h)
{
    StreamType t;
    t.kind = kind;
    t.entry = { w, h, 30.0f };
    EXPECT_TRUE(SamplePictureSize(kind, w, h, t.width, t.height));
    return t;
}

TEST(FrameConvert, EveryLayoutFromEverySubsamplingAndCutSizes)
{
    const int samplings[] = { TJSAMP_420, TJSAMP_422, TJSAMP_444 };
    // 854 x 480 needs a cut to 852 for whole-word rows; 176 x 145 an even height.
    const uint32_t sizes[][2] = { { 640, 480 }, { 854, 480 }, { 176, 145 } };
    CFrameConverter converter;
    for (const auto& size : sizes) {
        std::vector<uint8_t> rgb = BlocksRgb(size[0], size[1]);
        for (int sampling : samplings) {
            std::vector<uint8_t> jpeg = Jpeg(rgb, size[0], size[1], sampling);
            for (int k = 0; k < SAMPLE_KIND_COUNT; ++k) {
                StreamType t = TypeOf((SampleKind)k, size[0], size[1]);
                ASSERT_TRUE(converter.Start(t));
                uint32_t image = SampleImageSize(t.kind, t.width, t.height);
                // One byte past the sample shows any write beyond it.
                std::vector<uint8_t> sample(image + 1, 0xA5);
                uint32_t written = 0;
                ASSERT_EQ(converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), sample.data(),
                                             image, written),
                          CONVERT_OK)
                    << k << " " << size[0] << "x" << size[1] << " sampling " << sampling;
                EXPECT_EQ(sample[image], 0xA5);
                if (t.kind == SAMPLE_MJPG) {
                    ASSERT_EQ(written, jpeg.size());
                    EXPECT_EQ(memcmp(sample.data(), jpeg.data(), jpeg.size()), 0);
                    continue;
                }
                EXPECT_EQ(written, image);
                ExpectBlocks(t, sample, "jpeg");
            }
        }
    }
}

TEST(FrameConvert, VideoLevelsAndGreyJpegs)
{
    // White and black at the ends of the video range; a grey JPEG has
    // neutral chroma.
    EXPECT_EQ(VideoLuma(255), 235);
    EXPECT_EQ(VideoLuma(0), 16);
    EXPECT_EQ(VideoChroma(128), 128);
    EXPECT_EQ(VideoChroma(255), 240);
    EXPECT_EQ(VideoChroma(0), 16);
    std::vector<uint8_t> rgb(64 * 32 * 3, 255);
    for (size_t i = 0; i < rgb.size() / 2; ++i)
        rgb[i] = 0;   // top half black
    std::vector<uint8_t> jpeg = Jpeg(rgb, 64, 32, TJSAMP_GRAY);
    CFrameConverter converter;
    for (SampleKind kind : { SAMPLE_I420, SAMPLE_YUY2 }) {
        StreamType t = TypeOf(kind, 64, 32);
        ASSERT_TRUE(converter.Start(t));
        std::vector<uint8_t> sample(SampleImageSize(kind, 64, 32));
        uint32_t written = 0;
        ASSERT_EQ(converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), sample.data(),
                                     (uint32_t)sample.size(), written),
                  CONVERT_OK);
        if (kind == SAMPLE_I420) {
            EXPECT_NEAR(sample[0], 16, 2);
            EXPECT_NEAR(sample[64 * 31], 235, 2);
            EXPECT_EQ(sample[64 * 32], 128);
            EXPECT_EQ(sample.back(), 128);
        } else {
            EXPECT_NEAR(sample[0], 16, 2);
            EXPECT_EQ(sample[1], 128);
            EXPECT_NEAR(sample[64 * 2 * 31 + 2], 235, 2);
            EXPECT_EQ(sample[64 * 2 * 31 + 3], 128);
        }
    }
}

TEST(FrameConvert, RefusesOtherSizesDamageAndSamplesTooSmall)
{
    std::vector<uint8_t> jpeg = Jpeg(BlocksRgb(320, 240), 320, 240, TJSAMP_420);
    CFrameConverter converter;
    std::vector<uint8_t> sample(SampleImageSize(SAMPLE_RGB32, 640, 480));
    uint32_t written = 99;
    for (int k = 0; k < SAMPLE_KIND_COUNT; ++k) {
        // A whole frame of another size (the service still switching).
        ASSERT_TRUE(converter.Start(TypeOf((SampleKind)k, 640, 480)));
        EXPECT_EQ(converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), sample.data(),
                                     (uint32_t)sample.size(), written),
                  CONVERT_OTHER_SIZE);
        EXPECT_EQ(written, 0u);
        ASSERT_TRUE(converter.Start(TypeOf((SampleKind)k, 320, 240)));
        // Cut short, and garbage.
        EXPECT_EQ(converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size() / 2, sample.data(),
                                     (uint32_t)sample.size(), written),
                  CONVERT_BAD);
        EXPECT_EQ(converter.FromJpeg(sample.data(), 1000, sample.data() + 1000, 1000, written),
                  CONVERT_BAD);
        // A sample buffer smaller than the picture (or the JPEG) is never overrun.
        EXPECT_EQ(converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), sample.data(), 100,
                                     written),
                  CONVERT_BAD);
    }
}

TEST(FrameConvert, PlaceholderPictureIntoEveryLayout)
{
    const uint32_t w = 320, h = 240;
    std::vector<uint8_t> rgb = BlocksRgb(w, h);
    RgbImage picture = { rgb.data(), w, h };
    CFrameConverter converter;
    for (int k = 0; k < SAMPLE_KIND_COUNT; ++k) {
        StreamType t = TypeOf((SampleKind)k, w, h);
        ASSERT_TRUE(converter.Start(t));
        std::vector<uint8_t> sample(SampleImageSize(t.kind, w, h));
        uint32_t written = 0;
        ASSERT_TRUE(converter.FromRgb(picture, sample.data(), (uint32_t)sample.size(), written));
        if (t.kind != SAMPLE_MJPG) {
            EXPECT_EQ(written, sample.size());
            ExpectBlocks(t, sample, "placeholder");
            continue;
        }
        // Compressed: it decodes back to the picture.
        StreamType rgb24 = TypeOf(SAMPLE_RGB24, w, h);
        std::vector<uint8_t> decoded(SampleImageSize(SAMPLE_RGB24, w, h));
        uint32_t length = 0;
        ASSERT_TRUE(converter.Start(rgb24));
        ASSERT_EQ(converter.FromJpeg(sample.data(), written, decoded.data(),
                                     (uint32_t)decoded.size(), length),
                  CONVERT_OK);
        ExpectBlocks(rgb24, decoded, "placeholder jpeg");
    }
    // A picture of another size is not written anywhere.
    RgbImage small = { rgb.data(), w / 2, h };
    std::vector<uint8_t> sample(SampleImageSize(SAMPLE_RGB24, w, h));
    uint32_t written = 0;
    EXPECT_FALSE(converter.FromRgb(small, sample.data(), (uint32_t)sample.size(), written));
}

}  // namespace
