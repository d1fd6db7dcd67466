// The phone's JPEG into every sample layout, and the placeholder picture
// into each: colours, plane order, orientation, strides and video levels,
// the cut of sizes that are not whole words, and the frames that are refused.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "frame_convert.h"
#include "jpeg_blocks.h"

namespace {

std::vector<uint8_t> Jpeg(const std::vector<uint8_t>& rgb, uint32_t w, uint32_t h, int sampling)
{
    std::vector<uint8_t> jpeg = EncodeJpeg(rgb, w, h, sampling);
    EXPECT_FALSE(jpeg.empty());
    return jpeg;
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
    EXPECT_EQ(VideoChroma(255), 239);
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
