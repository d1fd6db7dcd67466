// The camera's picture side without PipeWire: frame layouts, the phone's
// JPEG rendered into every offered format at its own size and scaled,
// other subsamplings, damaged and oversized JPEGs, and the placeholder.
// Frames are read back the way a consumer reads them (video-range BT.601 for
// YUV).

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <vector>

#include "frame_renderer.h"
#include "placeholder_picture.h"
#include "raw_video.h"
#include "test_pattern.h"

namespace {

struct Rgb {
    int r, g, b;
};

Rgb FromVideoYuv(int y, int u, int v)
{
    double c = 1.164 * (y - 16), d = u - 128, e = v - 128;
    auto clamp = [](double x) { return x < 0 ? 0 : x > 255 ? 255 : (int)(x + 0.5); };
    return { clamp(c + 1.596 * e), clamp(c - 0.392 * d - 0.813 * e), clamp(c + 2.017 * d) };
}

Rgb PixelOf(const std::vector<uint8_t>& frame, const RawLayout& l, uint32_t x, uint32_t y)
{
    const uint8_t* f = frame.data();
    switch (l.format) {
    case RAW_I420:
        return FromVideoYuv(f[l.offset[0] + y * l.stride[0] + x],
                            f[l.offset[1] + y / 2 * l.stride[1] + x / 2],
                            f[l.offset[2] + y / 2 * l.stride[2] + x / 2]);
    case RAW_YUY2: {
        const uint8_t* p = f + y * l.stride[0] + x / 2 * 4;
        return FromVideoYuv(p[x % 2 == 0 ? 0 : 2], p[1], p[3]);
    }
    default: {
        const uint8_t* p = f + y * l.stride[0] + x * 3;
        return { p[0], p[1], p[2] };
    }
    }
}

bool Near(Rgb a, const uint8_t (&b)[3], int tolerance = 40)
{
    return abs(a.r - b[0]) <= tolerance && abs(a.g - b[1]) <= tolerance &&
           abs(a.b - b[2]) <= tolerance;
}

// Cell centres of the stand-in's blocks picture at the frame's size.
void ExpectBlocks(const std::vector<uint8_t>& frame, const RawLayout& l)
{
    uint32_t cw = l.width / BLOCK_COLUMNS, ch = l.height / BLOCK_ROWS;
    for (uint32_t i = 0; i < BLOCK_COLUMNS * BLOCK_ROWS; ++i) {
        uint32_t col = i % BLOCK_COLUMNS, row = i / BLOCK_COLUMNS;
        uint32_t w = col == BLOCK_COLUMNS - 1 ? l.width - col * cw : cw;
        uint32_t h = row == BLOCK_ROWS - 1 ? l.height - row * ch : ch;
        Rgb got = PixelOf(frame, l, col * cw + w / 2, row * ch + h / 2);
        EXPECT_TRUE(Near(got, BLOCK_COLOURS[i]))
            << RawFormatName(l.format) << " " << l.width << "x" << l.height << " cell " << i
            << ": " << got.r << "," << got.g << "," << got.b;
    }
}

std::vector<uint8_t> BlocksJpeg(uint32_t width, uint32_t height)
{
    TestPattern pattern(true);
    EXPECT_TRUE(pattern.Resize(width, height));
    std::vector<uint8_t> out(width * height * 3 + 65536);
    uint32_t size = pattern.Encode(1, 85, out.data(), (uint32_t)out.size());
    out.resize(size);
    return out;
}

// Left half red, right half blue, in the given subsampling.
std::vector<uint8_t> HalvesJpeg(uint32_t width, uint32_t height, int subsamp)
{
    std::vector<uint8_t> rgb((size_t)width * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &rgb[((size_t)y * width + x) * 3];
            p[0] = x < width / 2 ? 255 : 0;
            p[2] = x < width / 2 ? 0 : 255;
        }
    tjhandle h = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(0, tjCompress2(h, rgb.data(), (int)width, 0, (int)height, TJPF_RGB, &jpeg, &size,
                             subsamp, 90, 0));
    std::vector<uint8_t> out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(h);
    return out;
}

const uint8_t RED[3] = { 255, 0, 0 };
const uint8_t BLUE[3] = { 0, 0, 255 };
const uint8_t GREY[3] = { 76, 76, 76 };   // red's luma, as a grey JPEG keeps it

}  // namespace

TEST(CameraPicture, LayoutsMatchTheUsualDefaultsAndRejectOddSizes)
{
    RawLayout l;
    ASSERT_TRUE(ComputeRawLayout(RAW_I420, 640, 480, l));
    EXPECT_EQ(3u, l.planes);
    EXPECT_EQ(640u, l.stride[0]);
    EXPECT_EQ(320u, l.stride[1]);
    EXPECT_EQ(640u * 480, l.offset[1]);
    EXPECT_EQ(640u * 480 + 320 * 240, l.offset[2]);
    EXPECT_EQ(640u * 480 * 3 / 2, l.size);
    // Odd sizes: rows padded to four bytes, chroma covering the last row.
    ASSERT_TRUE(ComputeRawLayout(RAW_I420, 175, 143, l));
    EXPECT_EQ(176u, l.stride[0]);
    EXPECT_EQ(88u, l.stride[1]);
    EXPECT_EQ(176u * 144, l.offset[1]);
    EXPECT_EQ(176u * 144 + 88 * 72 * 2, l.size);
    ASSERT_TRUE(ComputeRawLayout(RAW_YUY2, 175, 143, l));
    EXPECT_EQ(352u, l.stride[0]);
    ASSERT_TRUE(ComputeRawLayout(RAW_RGB, 175, 143, l));
    EXPECT_EQ(528u, l.stride[0]);
    EXPECT_EQ(528u * 143, l.size);
    EXPECT_FALSE(ComputeRawLayout(RAW_I420, 0, 480, l));
    EXPECT_FALSE(ComputeRawLayout(RAW_RGB, RAW_MAX_WIDTH + 1, 480, l));
    EXPECT_FALSE(ComputeRawLayout(RAW_RGB, 640, RAW_MAX_HEIGHT + 1, l));
}

TEST(CameraPicture, PhoneFramesInEveryFormatAtTheirOwnSizeAndScaled)
{
    std::vector<uint8_t> jpeg = BlocksJpeg(640, 480);
    ASSERT_FALSE(jpeg.empty());
    CFrameRenderer renderer;
    ASSERT_TRUE(renderer.Ready());
    const uint32_t sizes[][2] = { { 640, 480 }, { 320, 240 }, { 1280, 720 }, { 175, 143 } };
    for (uint32_t f = 0; f < RAW_FORMAT_COUNT; ++f)
        for (const auto& s : sizes) {
            RawLayout l;
            ASSERT_TRUE(ComputeRawLayout((RawFormat)f, s[0], s[1], l));
            std::vector<uint8_t> frame(l.size, 0x55);
            ASSERT_TRUE(renderer.RenderJpeg(jpeg.data(), (uint32_t)jpeg.size(), l, frame.data()));
            ExpectBlocks(frame, l);
        }
}

TEST(CameraPicture, OtherSubsamplingsAndGrey)
{
    CFrameRenderer renderer;
    const int subsamplings[] = { TJSAMP_444, TJSAMP_422, TJSAMP_440, TJSAMP_411 };
    for (int subsamp : subsamplings)
        for (uint32_t f = 0; f < RAW_FORMAT_COUNT; ++f) {
            std::vector<uint8_t> jpeg = HalvesJpeg(320, 240, subsamp);
            RawLayout l;
            ASSERT_TRUE(ComputeRawLayout((RawFormat)f, 320, 240, l));
            std::vector<uint8_t> frame(l.size);
            ASSERT_TRUE(renderer.RenderJpeg(jpeg.data(), (uint32_t)jpeg.size(), l, frame.data()));
            EXPECT_TRUE(Near(PixelOf(frame, l, 80, 120), RED)) << subsamp << " " << f;
            EXPECT_TRUE(Near(PixelOf(frame, l, 240, 120), BLUE)) << subsamp << " " << f;
        }
    std::vector<uint8_t> grey = HalvesJpeg(320, 240, TJSAMP_GRAY);
    RawLayout l;
    ASSERT_TRUE(ComputeRawLayout(RAW_I420, 320, 240, l));
    std::vector<uint8_t> frame(l.size);
    ASSERT_TRUE(renderer.RenderJpeg(grey.data(), (uint32_t)grey.size(), l, frame.data()));
    EXPECT_TRUE(Near(PixelOf(frame, l, 80, 120), GREY, 12));
}

// Mid greys tell a range mistake apart: full-range values read as video
// range would come out 10 to 15 levels off.
TEST(CameraPicture, GreyLevelsKeepTheirValueInEveryFormat)
{
    const uint8_t levels[] = { 50, 128, 200 };
    CFrameRenderer renderer;
    for (uint8_t level : levels) {
        std::vector<uint8_t> rgb(320 * 240 * 3, level);
        tjhandle h = tjInitCompress();
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        ASSERT_EQ(0, tjCompress2(h, rgb.data(), 320, 0, 240, TJPF_RGB, &jpeg, &size, TJSAMP_420,
                                 95, 0));
        const uint8_t expected[3] = { level, level, level };
        for (uint32_t f = 0; f < RAW_FORMAT_COUNT; ++f)
            for (uint32_t width : { 320u, 640u }) {
                RawLayout l;
                ASSERT_TRUE(ComputeRawLayout((RawFormat)f, width, width * 3 / 4, l));
                std::vector<uint8_t> frame(l.size);
                ASSERT_TRUE(renderer.RenderJpeg(jpeg, (uint32_t)size, l, frame.data()));
                Rgb got = PixelOf(frame, l, width / 2, width * 3 / 8);
                EXPECT_TRUE(Near(got, expected, 3)) << (int)level << " " << f << " " << width
                                                    << ": " << got.r << "," << got.g << ","
                                                    << got.b;
            }
        tjFree(jpeg);
        tjDestroy(h);
    }
}

TEST(CameraPicture, DamagedJpegsAreRefusedAndOversizedOnesScaledDown)
{
    CFrameRenderer renderer;
    RawLayout l;
    ASSERT_TRUE(ComputeRawLayout(RAW_I420, 640, 480, l));
    std::vector<uint8_t> frame(l.size);
    for (uint32_t which = 1; which <= 2; ++which) {
        std::vector<uint8_t> jpeg = BlocksJpeg(640, 480);
        uint32_t size = DamageJpeg(jpeg.data(), (uint32_t)jpeg.size(), which);
        EXPECT_FALSE(renderer.RenderJpeg(jpeg.data(), size, l, frame.data())) << which;
    }
    const uint8_t junk[] = { 0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0x12, 0x34 };
    EXPECT_FALSE(renderer.RenderJpeg(junk, sizeof junk, l, frame.data()));
    EXPECT_FALSE(renderer.RenderJpeg(junk, 0, l, frame.data()));
    // The next good frame decodes again.
    std::vector<uint8_t> good = BlocksJpeg(640, 480);
    ASSERT_TRUE(renderer.RenderJpeg(good.data(), (uint32_t)good.size(), l, frame.data()));
    ExpectBlocks(frame, l);

    // Larger than the decoder's buffers: decoded at a reduced scale.
    std::vector<uint8_t> big = HalvesJpeg(4000, 3000, TJSAMP_420);
    ASSERT_TRUE(renderer.RenderJpeg(big.data(), (uint32_t)big.size(), l, frame.data()));
    EXPECT_TRUE(Near(PixelOf(frame, l, 100, 240), RED));
    EXPECT_TRUE(Near(PixelOf(frame, l, 540, 240), BLUE));
}

