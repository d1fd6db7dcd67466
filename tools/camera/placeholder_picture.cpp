#include "placeholder_picture.h"

#include <stdlib.h>

#include "placeholder_card.h"
#include "raw_video.h"

namespace {

const size_t PLANE_CAPACITY = (size_t)RAW_MAX_WIDTH * RAW_MAX_HEIGHT;

uint8_t Clamp(int v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

CPlaceholderPicture::CPlaceholderPicture()
    : rgb(static_cast<uint8_t*>(malloc(3 * PLANE_CAPACITY))),
      planes(static_cast<uint8_t*>(malloc(3 * PLANE_CAPACITY))), drawn(false),
      kind(PLACEHOLDER_NO_SERVICE), width(0), height(0)
{
}

CPlaceholderPicture::~CPlaceholderPicture()
{
    free(rgb);
    free(planes);
}

bool CPlaceholderPicture::Get(PlaceholderKind k, uint32_t w, uint32_t h, YcbcrPicture& out)
{
    if (rgb == nullptr || planes == nullptr || w == 0 || h == 0 || w > RAW_MAX_WIDTH ||
        h > RAW_MAX_HEIGHT)
        return false;
    uint8_t* y = planes;
    uint8_t* cb = planes + PLANE_CAPACITY;
    uint8_t* cr = planes + 2 * PLANE_CAPACITY;
    if (!drawn || k != kind || w != width || h != height) {
        RgbImage image = {rgb, w, h};
        DrawPlaceholderCard(k, image);
        // The JPEG (JFIF) conversion, chroma at full resolution.
        for (size_t i = 0; i < (size_t)w * h; ++i) {
            int r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
            y[i] = Clamp((299 * r + 587 * g + 114 * b + 500) / 1000);
            cb[i] = Clamp(128 + (-168736 * r - 331264 * g + 500000 * b + 500000) / 1000000);
            cr[i] = Clamp(128 + (500000 * r - 418688 * g - 81312 * b + 500000) / 1000000);
        }
        drawn = true;
        kind = k;
        width = w;
        height = h;
    }
    out.plane[0] = y;
    out.plane[1] = cb;
    out.plane[2] = cr;
    out.stride[0] = out.stride[1] = out.stride[2] = w;
    out.width = out.chromaWidth = w;
    out.height = out.chromaHeight = h;
    return true;
}
