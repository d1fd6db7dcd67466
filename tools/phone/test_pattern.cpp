#include "test_pattern.h"

#include <stdlib.h>
#include <string.h>
#include <turbojpeg.h>

#include "frame_stats.h"

namespace {

// 5 x 7 digits, one byte per row, bit 4 leftmost.
const uint8_t DIGITS[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

const uint8_t BARS[8][3] = {
    {235, 235, 235},
    {235, 235, 16 },
    {16,  235, 235},
    {16,  235, 16 },
    {235, 16,  235},
    {235, 16,  16 },
    {16,  16,  235},
    {16,  16,  16 },
};

const uint32_t MAX_SIDE = 4095;  // the format table packs each side in 12 bits
const int LOWEST_QUALITY = 10;

}  // namespace

TestPattern::TestPattern() : TestPattern(false) {}

TestPattern::TestPattern(bool blocksPicture)
    : blocks(blocksPicture), compressor(tjInitCompress()), width(0), height(0), barRows(0),
      rgb(nullptr), barRow(nullptr), jpeg(nullptr), jpegCapacity(0)
{
}

TestPattern::~TestPattern()
{
    Release();
    if (compressor)
        tjDestroy(compressor);
}

void TestPattern::Release()
{
    free(rgb);
    free(barRow);
    if (jpeg)
        tjFree(jpeg);
    rgb = barRow = jpeg = nullptr;
    width = height = 0;
}

bool TestPattern::Resize(uint32_t w, uint32_t h)
{
    if (w == width && h == height && rgb)
        return true;
    Release();
    if (!compressor || w < 16 || h < 16 || w > MAX_SIDE || h > MAX_SIDE)
        return false;
    rgb = (uint8_t*)malloc((size_t)w * h * 3);
    barRow = (uint8_t*)malloc((size_t)w * 2 * 3);
    jpegCapacity = tjBufSize((int)w, (int)h, TJSAMP_420);
    jpeg = tjAlloc((int)jpegCapacity);
    if (!rgb || !barRow || !jpeg) {
        Release();
        return false;
    }
    width = w;
    height = h;
    barRows = h * 2 / 3;
    if (blocks)
        DrawBlocks();
    else
        DrawStatic();
    return true;
}

void TestPattern::DrawStatic()
{
    for (uint32_t x = 0; x < width * 2; ++x) {
        const uint8_t* c = BARS[(x % width) * 8 / width];
        memcpy(barRow + x * 3, c, 3);
    }
    // Lower band: fine texture on the left (it makes the JPEG about as heavy
    // as a real camera picture), a grey ramp on the right.
    uint32_t seed = 12345;
    for (uint32_t y = barRows; y < height; ++y) {
        uint8_t* row = rgb + (size_t)y * width * 3;
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = row + x * 3;
            if (x < width / 2) {
                seed = seed * 1103515245u + 12345u;
                uint8_t v = (uint8_t)(64 + ((seed >> 16) & 0x7F));
                p[0] = v;
                p[1] = (uint8_t)(v / 2 + 40);
                p[2] = (uint8_t)(255 - v);
            } else {
                uint8_t v = (uint8_t)((x - width / 2) * 255 / (width - width / 2));
                p[0] = p[1] = p[2] = v;
            }
        }
    }
}

void TestPattern::DrawBlocks()
{
    uint32_t cellW = width / BLOCK_COLUMNS, cellH = height / BLOCK_ROWS;
    for (uint32_t row = 0; row < BLOCK_ROWS; ++row)
        for (uint32_t col = 0; col < BLOCK_COLUMNS; ++col) {
            const uint8_t* c = BLOCK_COLOURS[row * BLOCK_COLUMNS + col];
            uint32_t w = col + 1 == BLOCK_COLUMNS ? width - col * cellW : cellW;
            uint32_t h = row + 1 == BLOCK_ROWS ? height - row * cellH : cellH;
            FillRect(col * cellW, row * cellH, w, h, c[0], c[1], c[2]);
        }
}

void TestPattern::FillRect(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint8_t r, uint8_t g,
                           uint8_t b)
{
    if (x >= width || y >= height)
        return;
    if (w > width - x)
        w = width - x;
    if (h > height - y)
        h = height - y;
    for (uint32_t j = 0; j < h; ++j) {
        uint8_t* p = rgb + ((size_t)(y + j) * width + x) * 3;
        for (uint32_t i = 0; i < w; ++i, p += 3) {
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
    }
}

void TestPattern::DrawNumber(uint32_t value, uint32_t x, uint32_t y, uint32_t scale)
{
    char text[12];
    int n = 0;
    do {
        text[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value && n < 10);
    FillRect(x, y, (uint32_t)(n * 6 + 1) * scale, 9 * scale, 0, 0, 0);
    for (int k = 0; k < n; ++k) {
        const uint8_t* glyph = DIGITS[text[n - 1 - k] - '0'];
        uint32_t gx = x + (uint32_t)(k * 6 + 1) * scale;
        for (uint32_t row = 0; row < 7; ++row)
            for (uint32_t col = 0; col < 5; ++col)
                if (glyph[row] & (0x10 >> col))
                    FillRect(gx + col * scale, y + (row + 1) * scale, scale, scale, 255, 255, 255);
    }
}

void TestPattern::DrawMoving(uint32_t counter)
{
    uint32_t shift = (counter * 4) % width;
    for (uint32_t y = 0; y < barRows; ++y)
        memcpy(rgb + (size_t)y * width * 3, barRow + shift * 3, (size_t)width * 3);
    uint32_t box = height / 8;
    uint32_t travel = width > box ? width - box : 1;
    uint32_t phase = (counter * 8) % (2 * travel);
    uint32_t bx = phase < travel ? phase : 2 * travel - phase;
    FillRect(bx, barRows - box - box / 2, box, box, 255, 255, 255);
    uint32_t scale = height / 90 > 0 ? height / 90 : 1;
    DrawNumber(counter, scale * 4, scale * 4, scale);
}

uint32_t TestPattern::Encode(uint32_t counter, int quality, uint8_t* out, uint32_t capacity)
{
    if (!rgb || capacity <= FRAME_COUNTER_PREFIX)
        return 0;
    if (!blocks)
        DrawMoving(counter);
    for (int q = quality; q >= LOWEST_QUALITY; q -= 10) {
        unsigned long size = jpegCapacity;
        if (tjCompress2(compressor, rgb, (int)width, 0, (int)height, TJPF_RGB, &jpeg, &size,
                        TJSAMP_420, q, TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0)
            return 0;
        // The encoder's output starts with its own SOI; the comment goes
        // between that marker and the rest.
        if (size < 2 || size - 2 + FRAME_COUNTER_PREFIX > capacity)
            continue;
        WriteFrameCounter(out, counter);
        memcpy(out + FRAME_COUNTER_PREFIX, jpeg + 2, size - 2);
        return (uint32_t)(size - 2 + FRAME_COUNTER_PREFIX);
    }
    return 0;
}

uint32_t DamageJpeg(uint8_t* jpeg, uint32_t size, uint32_t which)
{
    if (which % 2 == 1)
        return size / 3 > FRAME_COUNTER_PREFIX ? size / 3 : size;
    // Baseline frame header: FF C0, length, precision, height (big-endian).
    for (uint32_t i = 2; i + 7 <= size; ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = 0;
            jpeg[i + 6] = 0;
            break;
        }
    return size;
}
