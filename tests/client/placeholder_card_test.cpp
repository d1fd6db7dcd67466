// The placeholder card every consumer shows: the missing step marked, and
// any size drawn inside the picture.
#include <gtest/gtest.h>

#include <vector>

#include "camera_block.h"
#include "jpeg_check.h"
#include "placeholder_card.h"
#include "placeholder_sample.h"

namespace {

struct Card {
    std::vector<uint8_t> pixels;
    RgbImage image;
    Card(PlaceholderKind kind, uint32_t w, uint32_t h) : pixels((size_t)w * h * 3)
    {
        image = {pixels.data(), w, h};
        DrawPlaceholderCard(kind, image);
    }
    const uint8_t* At(uint32_t x, uint32_t y) const
    {
        return &pixels[((size_t)y * image.width + x) * 3];
    }
};

bool Amber(const uint8_t* p)
{
    return p[0] > 200 && p[1] > 120 && p[1] < 200 && p[2] < 100;
}
bool Green(const uint8_t* p)
{
    return p[1] > 150 && p[0] < 120 && p[2] < 150;
}

TEST(PlaceholderCard, MarksTheMissingStepAtEverySize)
{
    const uint32_t sizes[][2] = {
        {640,  480 },
        {1280, 720 },
        {160,  120 },
        {1920, 1080}
    };
    for (const auto& size : sizes) {
        uint32_t w = size[0], h = size[1];
        uint32_t s = (w < h ? w : h) / 3, y = h * 75 / 100;
        for (int k = 0; k < PLACEHOLDER_KIND_COUNT; ++k) {
            Card card((PlaceholderKind)k, w, h);
            for (int i = 0; i < 3; ++i) {
                const uint8_t* dot = card.At(w / 2 + (i - 1) * (s / 2), y);
                EXPECT_EQ(i == k, Amber(dot)) << w << "x" << h << " kind " << k << " step " << i;
                EXPECT_EQ(i < k, Green(dot)) << w << "x" << h << " kind " << k << " step " << i;
            }
        }
    }
}

TEST(PlaceholderCard, TinyAndOddSizesStayInsideThePicture)
{
    // The picture sits between two guard bands filled with a pattern; drawing
    // must leave the guards alone and paint every pixel of the picture.
    const uint8_t MARK = 0xA5;
    const size_t GUARD = 4096;
    const uint32_t sizes[][2] = {
        {1,   1  },
        {2,   3  },
        {17,  5  },
        {5,   17 },
        {642, 482}
    };
    for (const auto& size : sizes) {
        uint32_t w = size[0], h = size[1];
        size_t bytes = (size_t)w * h * 3;
        for (int k = 0; k <= PLACEHOLDER_KIND_COUNT; ++k) {
            std::vector<uint8_t> buffer(GUARD + bytes + GUARD, MARK);
            RgbImage image = {buffer.data() + GUARD, w, h};
            DrawPlaceholderCard((PlaceholderKind)k, image);
            size_t outside = 0, unpainted = 0;
            for (size_t i = 0; i < GUARD; ++i)
                outside += (buffer[i] != MARK) + (buffer[GUARD + bytes + i] != MARK);
            for (size_t p = 0; p < bytes; p += 3) {
                const uint8_t* px = image.pixels + p;
                unpainted += px[0] == MARK && px[1] == MARK && px[2] == MARK;
            }
            EXPECT_EQ(0u, outside) << w << "x" << h << " kind " << k;
            EXPECT_EQ(0u, unpainted) << w << "x" << h << " kind " << k;
        }
    }
}

// The card as a compressed sample fits one frame's room at every size a
// consumer may ask for, even where fine lettering at 3840 x 2160 would not
// fit at the usual quality, and stays a whole JPEG of that size.
TEST(PlaceholderCard, CompressedCardFitsAFrameAtEverySize)
{
    const uint32_t sizes[][2] = {
        {3840, 2160},
        {1920, 1080},
        {176,  144 }
    };
    CPlaceholderSample cache;
    for (const auto& size : sizes)
        for (int k = 0; k < PLACEHOLDER_KIND_COUNT; ++k) {
            SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " kind " << k);
            PictureTarget target = {};
            target.layout = PICTURE_JPEG;
            target.width = size[0];
            target.height = size[1];
            uint32_t length = 0, w = 0, h = 0;
            const uint8_t* card = cache.Get((PlaceholderKind)k, target, length);
            ASSERT_NE(card, nullptr);
            EXPECT_LE(length, FRAME_DATA_SIZE);
            ASSERT_TRUE(ReadWholeJpeg(card, length, w, h));
            EXPECT_EQ(w, size[0]);
            EXPECT_EQ(h, size[1]);
        }
}

}  // namespace
