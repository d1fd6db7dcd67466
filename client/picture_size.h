#pragma once
// A picture size as people and scripts write it: "WxH".

#include <stdint.h>

struct PictureSize {
    uint32_t width;
    uint32_t height;
};

// The largest side a format table entry can hold (12 bits).
const uint32_t PICTURE_SIDE_LIMIT = 4095;

// Reads "WxH" at the start of text: decimal digits only on each side (no
// sign, no spaces), each side 1..4095. Returns the character after the size,
// or null when text does not start with one.
const char* ReadPictureSize(const char* text, PictureSize& size);

// The whole of text is "WxH" as above, with nothing after it.
bool ParsePictureSize(const char* text, PictureSize& size);
