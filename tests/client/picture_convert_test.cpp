// The phone's JPEG into every raw layout, and the placeholder picture into
// each: colours, plane order, row order, packed and padded strides and video
// levels, the cut of sizes that are not whole words, and the frames that are
// refused. The card as every consumer's sample: its JPEG mark, and its room.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "camera_block.h"
#include "jpeg_blocks.h"
#include "picture_convert.h"
#include "placeholder_sample.h"

namespace {

const PictureLayout RAW_LAYOUTS[] = {PICTURE_I420, PICTURE_NV12, PICTURE_YUY2, PICTURE_RGB32,
                                     PICTURE_RGB24};

std::vector<uint8_t> Jpeg(const std::vector<uint8_t>& rgb, uint32_t w, uint32_t h, int sampling)
{
    std::vector<uint8_t> jpeg = EncodeJpeg(rgb, w, h, sampling);
    EXPECT_FALSE(jpeg.empty());
    return jpeg;
}

// A raw layout's picture is the JPEG's cut to an even height, and to a width
// of whole words where rows are packed (an even one where they are padded);
// the JPEG layout keeps the JPEG's size.
PictureTarget TargetOf(PictureLayout layout, uint32_t w, uint32_t h, bool bottomUp = true,
                       bool padded = false)
{
    bool raw = layout != PICTURE_JPEG;
    uint32_t cut = padded ? w & ~1u : w & ~3u;
    PictureTarget t = {layout, raw ? cut : w, raw ? h & ~1u : h, w, h, bottomUp, padded};
    return t;
}

uint32_t ImageSize(const PictureTarget& t, uint32_t jpegSize)
{
    PicturePlanes planes;
    return PlanesOf(t.layout, t.width, t.height, t.padded, planes) ? planes.size : jpegSize;
}

TEST(PictureConvert, EveryLayoutFromEverySubsamplingBothRowOrdersAndCutSizes)
{
    const int samplings[] = {TJSAMP_420, TJSAMP_422, TJSAMP_444, TJSAMP_GRAY};
    // 854 x 480 needs a cut to 852 for whole-word rows; 176 x 145 an even height.
    const uint32_t sizes[][2] = {
        {640, 480},
        {854, 480},
        {176, 145}
    };
    CPictureConverter converter;
    for (const auto& size : sizes) {
        std::vector<uint8_t> rgb = BlocksRgb(size[0], size[1]);
        for (int sampling : samplings) {
            std::vector<uint8_t> jpeg = Jpeg(rgb, size[0], size[1], sampling);
            for (int l = PICTURE_I420; l <= PICTURE_JPEG; ++l)
                for (int order = 0; order < 4; ++order) {
                    // Both row orders, packed and padded rows.
                    PictureTarget t =
                        TargetOf((PictureLayout)l, size[0], size[1], order & 1, order & 2);
                    ASSERT_TRUE(converter.Start(t));
                    uint32_t image = ImageSize(t, (uint32_t)jpeg.size());
                    // One byte past the sample shows any write beyond it.
                    std::vector<uint8_t> sample(image + 1, 0xA5);
                    uint32_t written = 0;
                    ASSERT_EQ(converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), sample.data(),
                                                 image, written),
                              CONVERT_OK)
                        << l << " " << size[0] << "x" << size[1] << " sampling " << sampling;
                    EXPECT_EQ(sample[image], 0xA5);
                    EXPECT_EQ(written, image);
                    if (t.layout == PICTURE_JPEG) {
                        EXPECT_EQ(memcmp(sample.data(), jpeg.data(), jpeg.size()), 0);
                    } else {
                        ExpectBlocks(t, sample, "jpeg", sampling == TJSAMP_GRAY);
                    }
                }
        }
    }
}

TEST(PictureConvert, VideoLevelsAndGreyJpegs)
{
    // White and black at the ends of the video range; a grey JPEG has
    // neutral chroma.
    EXPECT_EQ(VideoLuma(255), 235);
    EXPECT_EQ(VideoLuma(0), 16);
    EXPECT_EQ(VideoChroma(128), 128);
    EXPECT_EQ(VideoChroma(255), 240);
    EXPECT_EQ(VideoChroma(0), 16);
    for (int v = 0; v < 256; ++v) {
        ASSERT_EQ(VideoLuma((uint8_t)v), 16 + (v * 219 + 127) / 255) << v;
        ASSERT_EQ(VideoChroma((uint8_t)v), 16 + (v * 224 + 127) / 255) << v;
    }
    std::vector<uint8_t> rgb(64 * 32 * 3, 255);
    for (size_t i = 0; i < rgb.size() / 2; ++i)
        rgb[i] = 0;  // top half black
    std::vector<uint8_t> jpeg = Jpeg(rgb, 64, 32, TJSAMP_GRAY);
    CPictureConverter converter;
    for (PictureLayout layout : {PICTURE_I420, PICTURE_NV12, PICTURE_YUY2}) {
        PictureTarget t = TargetOf(layout, 64, 32);
        ASSERT_TRUE(converter.Start(t));
        std::vector<uint8_t> sample(PictureBytes(layout, 64, 32));
        uint32_t written = 0;
        ASSERT_EQ(converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), sample.data(),
                                     (uint32_t)sample.size(), written),
                  CONVERT_OK);
        if (layout != PICTURE_YUY2) {
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

TEST(PictureConvert, RefusesOtherSizesDamageAndSamplesTooSmallThenDecodesTheNextFrame)
{
    std::vector<uint8_t> jpeg = Jpeg(BlocksRgb(320, 240), 320, 240, TJSAMP_420);
    std::vector<uint8_t> noise(jpeg);
    for (size_t i = 2; i < 40; ++i)
        noise[i] = (uint8_t)(i * 37);
    CPictureConverter converter;
    std::vector<uint8_t> sample(PictureBytes(PICTURE_RGB32, 640, 480));
    for (int l = PICTURE_I420; l <= PICTURE_JPEG; ++l) {
        uint32_t written = 99;
        // A whole frame of another size (the service still switching).
        ASSERT_TRUE(converter.Start(TargetOf((PictureLayout)l, 640, 480)));
        EXPECT_EQ(converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), sample.data(),
                                     (uint32_t)sample.size(), written),
                  CONVERT_OTHER_SIZE);
        EXPECT_EQ(written, 0u);
        PictureTarget t = TargetOf((PictureLayout)l, 320, 240);
        ASSERT_TRUE(converter.Start(t));
        // Cut short, garbage, and a header that is noise.
        EXPECT_EQ(converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size() / 2, sample.data(),
                                     (uint32_t)sample.size(), written),
                  CONVERT_BAD);
        EXPECT_EQ(converter.FromJpeg(sample.data(), 1000, sample.data() + 1000, 1000, written),
                  CONVERT_BAD);
        if (t.layout != PICTURE_JPEG) {
            EXPECT_EQ(converter.FromJpeg(noise.data(), (uint32_t)noise.size(), sample.data(),
                                         (uint32_t)sample.size(), written),
                      CONVERT_BAD);
        }
        // A sample buffer smaller than the picture (or the JPEG) is never overrun.
        EXPECT_EQ(
            converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), sample.data(), 100, written),
            CONVERT_BAD);
        // The next whole frame decodes: a failure leaves no broken state.
        uint32_t image = ImageSize(t, (uint32_t)jpeg.size());
        std::vector<uint8_t> good(image);
        ASSERT_EQ(
            converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), good.data(), image, written),
            CONVERT_OK);
        if (t.layout != PICTURE_JPEG)
            ExpectBlocks(t, good, "after damage");
    }
}

TEST(PictureConvert, PlaceholderPictureIntoEveryLayout)
{
    const uint32_t w = 320, h = 240;
    std::vector<uint8_t> rgb = BlocksRgb(w, h);
    RgbImage picture = {rgb.data(), w, h};
    CPictureConverter converter;
    for (PictureLayout layout : RAW_LAYOUTS)
        for (bool bottomUp : {true, false}) {
            PictureTarget t = TargetOf(layout, w, h, bottomUp);
            ASSERT_TRUE(converter.Start(t));
            std::vector<uint8_t> sample(PictureBytes(layout, w, h));
            uint32_t written = 0;
            ASSERT_TRUE(
                converter.FromRgb(picture, sample.data(), (uint32_t)sample.size(), written));
            EXPECT_EQ(written, sample.size());
            ExpectBlocks(t, sample, "placeholder");
        }
    // Compressed: it decodes back to the picture.
    ASSERT_TRUE(converter.Start(TargetOf(PICTURE_JPEG, w, h)));
    std::vector<uint8_t> sample(PictureBytes(PICTURE_RGB24, w, h));
    uint32_t written = 0;
    ASSERT_TRUE(converter.FromRgb(picture, sample.data(), (uint32_t)sample.size(), written));
    PictureTarget rgb24 = TargetOf(PICTURE_RGB24, w, h);
    std::vector<uint8_t> decoded(PictureBytes(PICTURE_RGB24, w, h));
    uint32_t length = 0;
    ASSERT_TRUE(converter.Start(rgb24));
    ASSERT_EQ(converter.FromJpeg(sample.data(), written, decoded.data(), (uint32_t)decoded.size(),
                                 length),
              CONVERT_OK);
    ExpectBlocks(rgb24, decoded, "placeholder jpeg");
    // A picture of another size, or a sample too small, is not written anywhere.
    RgbImage small = {rgb.data(), w / 2, h};
    EXPECT_FALSE(converter.FromRgb(small, decoded.data(), (uint32_t)decoded.size(), written));
    EXPECT_FALSE(converter.FromRgb(picture, decoded.data(), 100, written));
}

// The JPEG card carries its kind, decodes at the size asked for as a dark
// card with light lettering, fits a frame's room even at 3840 x 2160 (where
// the usual quality does not), and makes way for a raw card when the target
// changes.
TEST(PlaceholderSample, JpegCardsAreMarkedFitAFrameAndFollowTheTarget)
{
    CPlaceholderSample cache;
    CPictureConverter converter;
    const uint32_t sizes[][2] = {
        {640,  480},
        {176,  144},
        {1280, 720}
    };
    for (const auto& size : sizes)
        for (int k = 0; k < PLACEHOLDER_KIND_COUNT; ++k) {
            SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " kind " << k);
            uint32_t length = 0;
            const uint8_t* jpeg =
                cache.Get((PlaceholderKind)k, TargetOf(PICTURE_JPEG, size[0], size[1]), length);
            ASSERT_NE(nullptr, jpeg);
            PlaceholderKind kind;
            ASSERT_TRUE(ReadPlaceholderKind(jpeg, length, kind));
            EXPECT_EQ(k, (int)kind);
            PictureTarget rgb = TargetOf(PICTURE_RGB24, size[0], size[1], false);
            std::vector<uint8_t> pixels(PictureBytes(PICTURE_RGB24, size[0], size[1]));
            uint32_t written = 0;
            ASSERT_TRUE(converter.Start(rgb));
            ASSERT_EQ(CONVERT_OK, converter.FromJpeg(jpeg, length, pixels.data(),
                                                     (uint32_t)pixels.size(), written));
            size_t bright = 0, count = pixels.size() / 3;
            for (size_t i = 0; i < count; ++i)
                bright += pixels[3 * i] > 200 && pixels[3 * i + 1] > 200 && pixels[3 * i + 2] > 200;
            EXPECT_GT(bright, count / 200);
            EXPECT_LT(bright, count / 5);
        }
    uint32_t length = 0;
    const uint8_t* large =
        cache.Get(PLACEHOLDER_NO_PHONE, TargetOf(PICTURE_JPEG, 3840, 2160), length);
    ASSERT_NE(nullptr, large);
    EXPECT_LE(length, FRAME_DATA_SIZE);
    PlaceholderKind kind;
    EXPECT_TRUE(ReadPlaceholderKind(large, length, kind));
    ASSERT_NE(nullptr, cache.Get(PLACEHOLDER_NO_PHONE, TargetOf(PICTURE_I420, 640, 480), length));
    EXPECT_EQ(PictureBytes(PICTURE_I420, 640, 480), length);

    // A phone frame's own comment, and a card's comment cut short, are not cards.
    const uint8_t phone[] = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x0A, 'O', 'V', 'X', 'F', 1, 0, 0, 0};
    EXPECT_FALSE(ReadPlaceholderKind(phone, sizeof phone, kind));
    const uint8_t* card =
        cache.Get(PLACEHOLDER_NO_SERVICE, TargetOf(PICTURE_JPEG, 320, 240), length);
    ASSERT_NE(nullptr, card);
    std::vector<uint8_t> copy(card, card + length);
    copy[5] = 0xFF;  // a comment length past the end
    EXPECT_FALSE(ReadPlaceholderKind(copy.data(), (uint32_t)copy.size(), kind));
    EXPECT_FALSE(ReadPlaceholderKind(card, 8, kind));
}

}  // namespace
