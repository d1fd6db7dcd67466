#include "placeholder_picture.h"

#include "placeholder_card.h"
#include "source_logic.h"

void DrawPlaceholder(PlaceholderKind kind, uint8_t* rgb, uint8_t* pixels, uint32_t width,
                     uint32_t height)
{
    RgbImage card = {rgb, width, height};
    DrawPlaceholderCard(kind, card);
    // A DIB's rows run bottom to top, its pixels blue first.
    uint32_t stride = DibStride(width);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* src = rgb + (size_t)y * width * 3;
        uint8_t* dst = pixels + (size_t)(height - 1 - y) * stride;
        for (uint32_t x = 0; x < width; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
}
