#pragma once
// Text drawn from a built-in 5 x 7 pixel font into an RGB picture, so the
// placeholder needs no font library. Capitals, digits and a little
// punctuation; lower-case letters are drawn as capitals, anything else as a
// space.

#include <stdint.h>

struct RgbImage {
    uint8_t* pixels;   // width * height * 3 bytes, rows top to bottom
    uint32_t width;
    uint32_t height;
};

// Width in pixels of text at scale (each font pixel a scale x scale square,
// one column of space between characters).
uint32_t TextWidth(const char* text, uint32_t scale);
uint32_t TextHeight(uint32_t scale);

// Draws text with its top-left corner at (x, y); clipped at the edges.
void DrawText(RgbImage& image, const char* text, int32_t x, int32_t y, uint32_t scale,
              const uint8_t (&rgb)[3]);

// Fills a rectangle, clipped at the edges.
void FillRect(RgbImage& image, int32_t x, int32_t y, int32_t w, int32_t h,
              const uint8_t (&rgb)[3]);
