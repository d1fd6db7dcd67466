#pragma once
// Writes a bottom-up RGB24 picture (rows padded to four bytes) as a BMP, or
// as a PNG when the name ends in ".png".

#include <stdint.h>

bool SavePicture(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height);
