#include "placeholder.h"

#include <stdio.h>
#include <string.h>
#include <turbojpeg.h>

#include "bitmap_text.h"

namespace {

const char COMMENT_PREFIX[] = "ovalix-placeholder:";
const int QUALITIES[] = {85, 60, 35, 15};

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

}  // namespace

bool ReadPlaceholderKind(const uint8_t* data, uint32_t size, PlaceholderKind& kind)
{
    const uint32_t prefix = sizeof(COMMENT_PREFIX) - 1;
    if (size < 6 + prefix || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF ||
        data[3] != 0xFE)
        return false;
    uint32_t length = (uint32_t)data[4] << 8 | data[5];
    if (length < 2 + prefix || 4 + length > size || memcmp(data + 6, COMMENT_PREFIX, prefix) != 0)
        return false;
    const char* name = (const char*)data + 6 + prefix;
    uint32_t nameLength = length - 2 - prefix;
    for (int k = 0; k < PLACEHOLDER_KIND_COUNT; ++k) {
        const char* known = PlaceholderKindName((PlaceholderKind)k);
        if (strlen(known) == nameLength && memcmp(name, known, nameLength) == 0) {
            kind = (PlaceholderKind)k;
            return true;
        }
    }
    return false;
}

void DrawPlaceholder(PlaceholderKind kind, RgbImage& image)
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

    char footer[64];
    snprintf(footer, sizeof footer, "OVALIX  %u X %u", w, h);
    uint32_t foot = Max(1, small * 3 / 4);
    int32_t margin = (int32_t)TextHeight(foot);
    FillRect(image, 0, 0, (int32_t)w, Max(2, h / 120), ACCENT);
    DrawText(image, footer, margin, (int32_t)h - margin - (int32_t)TextHeight(foot), foot, ACCENT);
}

CPlaceholderImages::CPlaceholderImages() : compressor(nullptr), width(0), height(0) {}

CPlaceholderImages::~CPlaceholderImages()
{
    if (compressor != nullptr)
        tjDestroy(compressor);
}

void CPlaceholderImages::SetSize(uint32_t w, uint32_t h)
{
    if (w == width && h == height)
        return;
    width = w;
    height = h;
    for (std::vector<uint8_t>& j : jpeg)
        j.clear();
}

const uint8_t* CPlaceholderImages::Jpeg(PlaceholderKind kind, uint32_t capacity, uint32_t& size)
{
    if (kind >= PLACEHOLDER_KIND_COUNT || width == 0 || height == 0)
        return nullptr;
    if (jpeg[kind].empty() && !Encode(kind, capacity))
        return nullptr;
    if (jpeg[kind].size() > capacity)
        return nullptr;
    size = (uint32_t)jpeg[kind].size();
    return jpeg[kind].data();
}

bool CPlaceholderImages::Encode(PlaceholderKind kind, uint32_t capacity)
{
    if (compressor == nullptr && (compressor = tjInitCompress()) == nullptr)
        return false;
    std::vector<uint8_t> rgb((size_t)width * height * 3);
    RgbImage image = {rgb.data(), width, height};
    DrawPlaceholder(kind, image);

    char comment[64];
    int n = snprintf(comment, sizeof comment, "%s%s", COMMENT_PREFIX, PlaceholderKindName(kind));
    uint32_t segment = 4 + (uint32_t)n;   // FF FE, a 2-byte length, the text
    for (int quality : QUALITIES) {
        unsigned char* out = nullptr;
        unsigned long outSize = 0;
        if (tjCompress2(compressor, rgb.data(), (int)width, 0, (int)height, TJPF_RGB, &out,
                        &outSize, TJSAMP_420, quality, 0) != 0) {
            tjFree(out);
            return false;
        }
        bool fits = outSize >= 2 && outSize + segment <= capacity;
        if (fits) {
            std::vector<uint8_t>& j = jpeg[kind];
            j.resize(outSize + segment);
            j[0] = 0xFF;
            j[1] = 0xD8;
            j[2] = 0xFF;
            j[3] = 0xFE;
            j[4] = (uint8_t)((n + 2) >> 8);
            j[5] = (uint8_t)(n + 2);
            memcpy(j.data() + 6, comment, (size_t)n);
            memcpy(j.data() + segment + 2, out + 2, outSize - 2);
        }
        tjFree(out);
        if (fits)
            return true;
    }
    return false;
}
