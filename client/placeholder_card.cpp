#include "placeholder_card.h"

#include <stdio.h>

namespace {

struct PlaceholderText {
    const char* message;
    const char* hint;
};

const PlaceholderText TEXTS[PLACEHOLDER_KIND_COUNT] = {
    {"NO CAMERA SERVICE", "START OVALIXSVC - THE PICTURE COMES BY ITSELF"},
    {"WAITING FOR THE PHONE", "CONNECT IT BY CABLE OR OVER THE NETWORK"},
    {"NO PICTURE FROM THE PHONE", "WAITING FOR IT TO SEND AGAIN"},
};

const uint8_t WHITE[3] = {240, 242, 246};
const uint8_t GREY[3] = {150, 162, 180};
const uint8_t ACCENT[3] = {255, 168, 48};
const uint8_t ICON[3] = {78, 92, 114};
const uint8_t ICON_DARK[3] = {30, 36, 48};
const uint8_t DONE[3] = {70, 190, 110};
const uint8_t PENDING[3] = {70, 78, 92};

uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }
uint32_t Max(uint32_t a, uint32_t b) { return a > b ? a : b; }

// The largest scale at which text fits into maxWidth, at most cap, at least 1.
uint32_t FitScale(const char* text, uint32_t maxWidth, uint32_t cap)
{
    uint32_t one = TextWidth(text, 1);
    uint32_t s = one == 0 ? cap : maxWidth / one;
    return Max(1, Min(s, cap));
}

void DrawCentred(RgbImage& image, const char* text, int32_t y, uint32_t scale,
                 const uint8_t (&rgb)[3])
{
    int32_t x = ((int32_t)image.width - (int32_t)TextWidth(text, scale)) / 2;
    DrawText(image, text, x, y, scale, rgb);
}

// A camera outline with a bar across it, centred on (cx, cy).
void DrawCameraIcon(RgbImage& image, int32_t cx, int32_t cy, int32_t size)
{
    int32_t w = size, h = size * 5 / 8;
    if (h == 0)   // too small a picture to show it (and the bar divides by h)
        return;
    int32_t x = cx - w / 2, y = cy - h / 2;
    FillRect(image, x + w / 8, y - h / 6, w / 4, h / 6 + 1, ICON);
    FillRect(image, x, y, w, h, ICON);
    int32_t lens = h * 3 / 5;
    FillRect(image, cx - lens / 2, cy - lens / 2, lens, lens, ICON_DARK);
    int32_t inner = lens / 2;
    FillRect(image, cx - inner / 2, cy - inner / 2, inner, inner, ICON);
    // The bar: a diagonal of squares from the top-left to the bottom-right.
    int32_t t = Max(2, (uint32_t)size / 24);
    for (int32_t i = -h / 2 - t; i <= h / 2 + t; ++i)
        FillRect(image, cx + i * w / h - t, cy + i - t / 2, 2 * t, t, ACCENT);
}

void FillDisc(RgbImage& image, int32_t cx, int32_t cy, int32_t r, const uint8_t (&rgb)[3])
{
    for (int32_t dy = -r; dy <= r; ++dy) {
        int32_t dx = 0;
        while ((dx + 1) * (dx + 1) + dy * dy <= r * r)
            ++dx;
        FillRect(image, cx - dx, cy + dy, 2 * dx + 1, 1, rgb);
    }
}

// The three steps to a live picture (service, phone, frames): the ones
// reached green, the missing one in the accent colour, the rest grey.
void DrawSteps(RgbImage& image, PlaceholderKind kind)
{
    int32_t w = (int32_t)image.width, h = (int32_t)image.height;
    int32_t s = Max(12, Min(image.width, image.height) / 3);
    int32_t y = h * 75 / 100, gap = s / 2, r = s / 14 + 1;
    for (int32_t i = 0; i < 3; ++i) {
        const uint8_t(&c)[3] = i < (int32_t)kind ? DONE : i == (int32_t)kind ? ACCENT : PENDING;
        FillDisc(image, w / 2 + (i - 1) * gap, y, r, c);
    }
}

}  // namespace

void DrawPlaceholderCard(PlaceholderKind kind, RgbImage& image)
{
    const PlaceholderText& text = TEXTS[kind < PLACEHOLDER_KIND_COUNT ? kind : 0];
    uint32_t w = image.width, h = image.height;
    // A dark vertical gradient, so the card never looks like a dead black screen.
    for (uint32_t row = 0; row < h; ++row) {
        uint32_t k = h > 1 ? row * 255 / (h - 1) : 0;
        uint8_t c[3] = {(uint8_t)(34 - k * 16 / 255), (uint8_t)(42 - k * 20 / 255),
                        (uint8_t)(58 - k * 26 / 255)};
        FillRect(image, 0, (int32_t)row, (int32_t)w, 1, c);
    }

    uint32_t big = FitScale(text.message, w * 86 / 100, Max(1, h / 84));
    uint32_t small = FitScale(text.hint, w * 92 / 100, Max(1, big / 2));
    int32_t iconSize = (int32_t)Min(w / 5, h / 4);
    int32_t iconY = (int32_t)h * 32 / 100;
    DrawCameraIcon(image, (int32_t)w / 2, iconY, iconSize);

    int32_t y = iconY + iconSize / 2 + (int32_t)TextHeight(big);
    DrawCentred(image, text.message, y, big, WHITE);
    y += (int32_t)TextHeight(big) + (int32_t)TextHeight(small) * 3 / 2;
    DrawCentred(image, text.hint, y, small, GREY);
    DrawSteps(image, kind);

    char footer[64];
    snprintf(footer, sizeof footer, "OVALIX  %u X %u", w, h);
    uint32_t foot = Max(1, small * 3 / 4);
    int32_t margin = (int32_t)TextHeight(foot);
    FillRect(image, 0, 0, (int32_t)w, Max(2, h / 120), ACCENT);
    DrawText(image, footer, margin, (int32_t)h - margin - (int32_t)TextHeight(foot), foot, ACCENT);
}
