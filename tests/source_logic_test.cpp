// The capture source's plain logic: formats offered and the one it starts
// with, picture sizes, moving decoded rows into a bottom-up sample, and the
// placeholder as a sample.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "picture_copy.h"
#include "placeholder_card.h"
#include "placeholder_picture.h"
#include "source_logic.h"

namespace {

FormatTable Table(std::initializer_list<VideoFormat> entries)
{
    FormatTable t;
    memset(&t, 0, sizeof t);
    t.mode = 3;
    for (const VideoFormat& f : entries) {
        t.entries[t.count].packed = PackEntry(f.width, f.height, 0);
        t.entries[t.count].fps = f.fps;
        ++t.count;
    }
    return t;
}

TEST(SourceFormats, TableOrderDefaultFromRequestedSizeElseFirst)
{
    FormatTable t = Table({ { 1280, 720, 30 }, { 640, 480, 15 }, { 320, 240, 10 } });
    VideoFormat f[FORMAT_MAX_ENTRIES];
    ASSERT_EQ(OfferedFormats(&t, f), 3u);
    EXPECT_EQ(f[0].width, 1280u);
    EXPECT_EQ(f[1].height, 480u);
    EXPECT_EQ(f[2].fps, 10.0f);
    EXPECT_EQ(DefaultFormatIndex(f, 3, 320, 240), 2u);
    EXPECT_EQ(DefaultFormatIndex(f, 3, 0, 0), 0u);       // service's first start
    EXPECT_EQ(DefaultFormatIndex(f, 3, 320, 480), 0u);   // no entry of that size
}

TEST(SourceFormats, NoServiceOrEmptyTableOffersTheServiceDefault)
{
    VideoFormat f[FORMAT_MAX_ENTRIES];
    ASSERT_EQ(OfferedFormats(nullptr, f), 1u);
    EXPECT_EQ(f[0].width, 640u);
    EXPECT_EQ(f[0].height, 480u);
    FormatTable empty = Table({});
    ASSERT_EQ(OfferedFormats(&empty, f), 1u);
    EXPECT_EQ(f[0].width, 640u);
    FormatTable hostile = Table({ { 320, 240, 30 } });
    hostile.count = 0xFFFFFFFF;   // clamped, never read past the table
    EXPECT_EQ(OfferedFormats(&hostile, f), 1u);
}

TEST(SourceFormats, PictureNumbers)
{
    EXPECT_EQ(DibStride(640), 1920u);
    EXPECT_EQ(DibStride(175), 528u);   // 525 padded to four bytes
    EXPECT_EQ(DibImageSize(1280, 720), 1280u * 3 * 720);
    EXPECT_EQ(FrameDuration(30.0f), 333333);
    EXPECT_EQ(FrameDuration(15.0f), 666667);
    EXPECT_EQ(FrameDuration(10.0f), 1000000);
    EXPECT_EQ(FrameDuration(0.0f), 333333);   // unusable rates count as 30
    EXPECT_EQ(FrameDuration(__builtin_nanf("")), 333333);
}

// A top-down picture whose pixel (x, y) is (x, y, 7), in a padded buffer.
std::vector<uint8_t> Numbered(uint32_t w, uint32_t h, uint32_t stride)
{
    std::vector<uint8_t> p(stride * h, 0xEE);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            p[y * stride + x * 3] = (uint8_t)x;
            p[y * stride + x * 3 + 1] = (uint8_t)y;
            p[y * stride + x * 3 + 2] = 7;
        }
    return p;
}

TEST(PictureCopy, ScaleSameSizeIsAFlipAndDownUpPicksNearest)
{
    uint32_t ss = DibStride(4);
    std::vector<uint8_t> src = Numbered(4, 2, ss);
    std::vector<uint8_t> same(ss * 2);
    ScaleToBottomUp(src.data(), 4, 2, ss, same.data(), 4, 2, ss);
    EXPECT_EQ(same[0 * ss + 1], 1);   // bottom-up: first row is the last
    EXPECT_EQ(same[1 * ss + 1], 0);
    EXPECT_EQ(same[1 * ss + 9], 3);

    uint32_t ds = DibStride(8);
    std::vector<uint8_t> up(ds * 4, 0xAA);
    ScaleToBottomUp(src.data(), 4, 2, ss, up.data(), 8, 4, ds);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 8; ++x) {
            const uint8_t* px = &up[(3 - y) * ds + x * 3];
            EXPECT_EQ(px[0], x / 2);
            EXPECT_EQ(px[1], y / 2);
            EXPECT_EQ(px[2], 7);
        }

    uint32_t ds2 = DibStride(2);
    std::vector<uint8_t> down(ds2 * 1, 0xAA);
    ScaleToBottomUp(src.data(), 4, 2, ss, down.data(), 2, 1, ds2);
    EXPECT_EQ(down[0], 1);   // centres of 2-pixel-wide source spans
    EXPECT_EQ(down[3], 3);
    EXPECT_EQ(down[1], 1);
    EXPECT_EQ(down[ds2 - 1], 0xAA);   // row padding is left alone
}

TEST(PlaceholderPicture, TheSharedCardTurnedIntoABottomUpBgrDib)
{
    const uint32_t w = 97, h = 61;   // odd: rows are padded
    std::vector<uint8_t> rgb(w * h * 3), card(w * h * 3), dib(DibImageSize(w, h), 0xAA);
    DrawPlaceholder(PLACEHOLDER_NO_PHONE, rgb.data(), dib.data(), w, h);
    RgbImage image = {card.data(), w, h};
    DrawPlaceholderCard(PLACEHOLDER_NO_PHONE, image);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* c = &card[(y * w + x) * 3];
            const uint8_t* d = &dib[(h - 1 - y) * DibStride(w) + x * 3];
            ASSERT_TRUE(d[0] == c[2] && d[1] == c[1] && d[2] == c[0]) << x << "," << y;
        }
    EXPECT_EQ(dib[DibStride(w) - 1], 0xAA) << "row padding written";
}

}  // namespace
