#include "placeholder_picture.h"

#include <stdlib.h>

#include "raw_video.h"

namespace {

struct Rgb {
    uint8_t r, g, b;
};

const Rgb BACKGROUND = { 28, 33, 43 };
const Rgb BODY = { 96, 108, 128 };
const Rgb ACCENT = { 255, 170, 50 };
const Rgb DONE = { 70, 190, 110 };
const Rgb PENDING = { 70, 78, 92 };

const size_t PLANE_CAPACITY = (size_t)RAW_MAX_WIDTH * RAW_MAX_HEIGHT;

int64_t Square(int64_t v) { return v * v; }

// What covers pixel (x, y); later shapes lie on top of earlier ones.
Rgb PixelAt(PlaceholderKind kind, int64_t x, int64_t y, int64_t width, int64_t height)
{
    int64_t s = (width < height ? width : height) / 3;
    if (s < 12)
        s = 12;
    int64_t cx = width / 2, cy = height * 42 / 100;
    int64_t bodyW = s, bodyH = s * 62 / 100;
    int64_t left = cx - bodyW / 2, top = cy - bodyH / 2;
    Rgb c = BACKGROUND;

    bool inBody = x >= left && x < left + bodyW && y >= top && y < top + bodyH;
    bool inFinder = x >= left + bodyW / 8 && x < left + bodyW * 3 / 8 && y >= top - bodyH / 6 &&
                    y < top;
    if (inBody || inFinder)
        c = BODY;
    int64_t d2 = Square(x - cx) + Square(y - cy);
    if (d2 <= Square(s * 22 / 100))
        c = BACKGROUND;
    if (d2 <= Square(s * 13 / 100))
        c = BODY;

    // The bar, top-left to bottom-right across the camera: distance to the
    // line through (left, top - bodyH/6) and (left + bodyW, top + bodyH).
    int64_t x0 = left, y0 = top - bodyH / 6, dx = bodyW, dy = bodyH + bodyH / 6;
    int64_t cross = (x - x0) * dy - (y - y0) * dx;
    int64_t thick = s / 16 + 1;
    if (x >= x0 - thick && x <= x0 + dx + thick && y >= y0 - thick && y <= y0 + dy + thick &&
        Square(cross) <= Square(thick) * (Square(dx) + Square(dy)))
        c = ACCENT;

    // The three steps.
    int64_t dotY = height * 75 / 100, gap = s / 2, r = s / 14 + 1;
    for (int64_t i = 0; i < 3; ++i) {
        int64_t dotX = cx + (i - 1) * gap;
        if (Square(x - dotX) + Square(y - dotY) <= Square(r))
            c = i < (int64_t)kind ? DONE : i == (int64_t)kind ? ACCENT : PENDING;
    }
    return c;
}

uint8_t Clamp(int v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

void DrawPlaceholderRgb(PlaceholderKind kind, uint8_t* rgb, uint32_t width, uint32_t height,
                        uint32_t stride)
{
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = rgb + (size_t)y * stride;
        for (uint32_t x = 0; x < width; ++x) {
            Rgb c = PixelAt(kind, x, y, width, height);
            row[3 * x] = c.r;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.b;
        }
    }
}

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
        DrawPlaceholderRgb(k, rgb, w, h, w * 3);
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
