// The camera's media types and picture conversion, without Media Foundation:
// which types the table gives, and the stand-in's colour blocks through each
// conversion (JPEG at several subsamplings, and RGB pictures).
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <turbojpeg.h>

#include <vector>

#include "camera_types.h"
#include "picture_convert.h"

namespace {

// The stand-in's still picture: 4 x 2 cells of these colours.
const uint8_t BLOCKS[8][3] = { { 255, 255, 255 }, { 255, 255, 0 }, { 0, 255, 255 }, { 0, 255, 0 },
                               { 255, 0, 255 },   { 255, 0, 0 },   { 0, 0, 255 },   { 0, 0, 0 } };
const int TOLERANCE = 40;

std::vector<uint8_t> BlocksRgb(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> rgb((size_t)w * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* c = BLOCKS[(y * 2 / h) * 4 + x * 4 / w];
            for (int k = 0; k < 3; ++k)
                rgb[((size_t)y * w + x) * 3 + k] = c[k];
        }
    return rgb;
}

std::vector<uint8_t> Jpeg(const std::vector<uint8_t>& rgb, uint32_t w, uint32_t h, int subsamp)
{
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(0, tjCompress2(handle, rgb.data(), (int)w, 0, (int)h, TJPF_RGB, &out, &size,
                             subsamp, 90, 0));
    std::vector<uint8_t> jpeg(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    return jpeg;
}

// RGB of the frame's pixel (x, y), from studio-range YUV or bottom-up BGRX.
void PixelOf(const std::vector<uint8_t>& f, CameraSubtype s, uint32_t w, uint32_t h, uint32_t x,
             uint32_t y, int rgb[3])
{
    if (s == CAMERA_RGB32) {
        const uint8_t* p = &f[((size_t)(h - 1 - y) * w + x) * 4];
        rgb[0] = p[2], rgb[1] = p[1], rgb[2] = p[0];
        return;
    }
    int Y, U, V;
    if (s == CAMERA_NV12) {
        Y = f[(size_t)y * w + x];
        const uint8_t* uv = &f[(size_t)w * h + (size_t)(y / 2) * w + (x & ~1u)];
        U = uv[0], V = uv[1];
    } else {
        const uint8_t* p = &f[(size_t)y * w * 2 + (x & ~1u) * 2];
        Y = x % 2 ? p[2] : p[0];
        U = p[1], V = p[3];
    }
    double c = 1.164 * (Y - 16), d = U - 128, e = V - 128;
    rgb[0] = (int)(c + 1.596 * e);
    rgb[1] = (int)(c - 0.392 * d - 0.813 * e);
    rgb[2] = (int)(c + 2.017 * d);
}

void ExpectBlocks(const std::vector<uint8_t>& f, CameraSubtype s, uint32_t w, uint32_t h,
                  bool grey)
{
    for (int i = 0; i < 8; ++i) {
        uint32_t x = (uint32_t)(i % 4) * w / 4 + w / 8, y = (uint32_t)(i / 4) * h / 2 + h / 4;
        int got[3];
        PixelOf(f, s, w, h, x, y, got);
        const uint8_t* want = BLOCKS[i];
        int luma = (want[0] * 299 + want[1] * 587 + want[2] * 114) / 1000;
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(grey ? luma : want[k], got[k], TOLERANCE)
                << CameraSubtypeName(s) << " cell " << i << " channel " << k;
    }
}

}  // namespace

TEST(CameraTypes, NV12ForEverySizeFirstThenYUY2ThenRGB32OddAndHugeSizesLeftOut)
{
    const VideoFormat formats[4] = { { 1280, 720, 30 }, { 641, 480, 15 }, { 320, 240, 10 },
                                     { 2560, 1440, 30 } };
    CameraType types[CAMERA_MAX_TYPES];
    uint32_t n = OfferedCameraTypes(formats, 4, types);
    ASSERT_EQ(7u, n);
    const CameraSubtype want[7] = { CAMERA_NV12, CAMERA_NV12, CAMERA_YUY2, CAMERA_YUY2,
                                    CAMERA_RGB32, CAMERA_RGB32, CAMERA_RGB32 };
    const uint32_t widths[7] = { 1280, 320, 1280, 320, 1280, 641, 320 };
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(want[i], types[i].subtype) << i;
        EXPECT_EQ(widths[i], types[i].format.width) << i;
    }
    EXPECT_EQ(1280u * 720 * 3 / 2, CameraFrameSize(CAMERA_NV12, 1280, 720));
    EXPECT_EQ(0u, CameraFrameSize(CAMERA_NV12, 641, 480));
    EXPECT_EQ(641u * 480 * 4, CameraFrameSize(CAMERA_RGB32, 641, 480));

    uint32_t num = 0, den = 0;
    CameraFrameRate(30.0f, num, den);
    EXPECT_EQ(30u, num);
    EXPECT_EQ(1u, den);
    CameraFrameRate(29.97f, num, den);
    EXPECT_EQ(2997u, num);
    EXPECT_EQ(100u, den);
    CameraFrameRate(NAN, num, den);   // not a number: the default rate
    EXPECT_EQ(30u, num);
    EXPECT_EQ(333333, CameraFrameDuration(30.0f));
}

TEST(PictureConvert, BlocksSurviveEveryJpegSubsamplingIntoEverySubtype)
{
    const uint32_t w = 320, h = 240;
    std::vector<uint8_t> rgb = BlocksRgb(w, h);
    CPictureConverter converter;
    ASSERT_TRUE(converter.Ready());
    for (int subsamp : { TJSAMP_420, TJSAMP_422, TJSAMP_444, TJSAMP_GRAY }) {
        std::vector<uint8_t> jpeg = Jpeg(rgb, w, h, subsamp);
        for (int s = 0; s < CAMERA_SUBTYPE_COUNT; ++s) {
            std::vector<uint8_t> frame(CameraFrameSize((CameraSubtype)s, w, h), 0xEE);
            ASSERT_EQ(CONVERT_OK, converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(),
                                                     (CameraSubtype)s, w, h, frame.data()))
                << "subsampling " << subsamp << " into " << CameraSubtypeName((CameraSubtype)s);
            ExpectBlocks(frame, (CameraSubtype)s, w, h, subsamp == TJSAMP_GRAY);
        }
    }
}

TEST(PictureConvert, OtherSizeAndDamageAreRefusedAndTheNextWholeFrameDecodes)
{
    const uint32_t w = 320, h = 240;
    std::vector<uint8_t> jpeg = Jpeg(BlocksRgb(w, h), w, h, TJSAMP_420);
    std::vector<uint8_t> frame(CameraFrameSize(CAMERA_NV12, 640, 480));
    CPictureConverter converter;
    EXPECT_EQ(CONVERT_OTHER_SIZE,
              converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), CAMERA_NV12, 640, 480,
                                 frame.data()));
    // Cut short, then a header that is noise: each refused.
    EXPECT_EQ(CONVERT_DAMAGED, converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size() / 2,
                                                  CAMERA_NV12, w, h, frame.data()));
    std::vector<uint8_t> noise(jpeg);
    for (size_t i = 2; i < 40; ++i)
        noise[i] = (uint8_t)(i * 37);
    EXPECT_EQ(CONVERT_DAMAGED, converter.FromJpeg(noise.data(), (uint32_t)noise.size(),
                                                  CAMERA_NV12, w, h, frame.data()));
    // A size the subtype cannot carry is refused before any write.
    EXPECT_EQ(CONVERT_DAMAGED, converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(),
                                                  CAMERA_NV12, w + 1, h, frame.data()));
    frame.assign(CameraFrameSize(CAMERA_NV12, w, h), 0);
    ASSERT_EQ(CONVERT_OK, converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), CAMERA_NV12, w,
                                             h, frame.data()));
    ExpectBlocks(frame, CAMERA_NV12, w, h, false);
}

TEST(PictureConvert, RgbPicturesBecomeEverySubtype)
{
    const uint32_t w = 64, h = 48;
    std::vector<uint8_t> rgb = BlocksRgb(w, h);
    CPictureConverter converter;
    for (int s = 0; s < CAMERA_SUBTYPE_COUNT; ++s) {
        std::vector<uint8_t> frame(CameraFrameSize((CameraSubtype)s, w, h), 0xEE);
        converter.FromRgb(rgb.data(), (CameraSubtype)s, w, h, frame.data());
        ExpectBlocks(frame, (CameraSubtype)s, w, h, false);
    }
}
