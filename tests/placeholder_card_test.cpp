// The placeholder card every consumer shows: the missing step marked, and
// any size drawn inside the picture.
#include <gtest/gtest.h>

#include <vector>

#include "placeholder_card.h"

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

bool Amber(const uint8_t* p) { return p[0] > 200 && p[1] > 120 && p[1] < 200 && p[2] < 100; }
bool Green(const uint8_t* p) { return p[1] > 150 && p[0] < 120 && p[2] < 150; }

TEST(PlaceholderCard, MarksTheMissingStepAtEverySize)
{
    const uint32_t sizes[][2] = {{640, 480}, {1280, 720}, {160, 120}, {1920, 1080}};
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
    // The sanitizers catch a write outside the buffer.
    const uint32_t sizes[][2] = {{1, 1}, {2, 3}, {17, 5}, {5, 17}, {642, 482}};
    for (const auto& size : sizes)
        for (int k = 0; k <= PLACEHOLDER_KIND_COUNT; ++k)
            Card((PlaceholderKind)k, size[0], size[1]);
}

}  // namespace
