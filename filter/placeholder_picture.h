#pragma once
// The source's own picture while there is nothing live to show: a dark
// background with a short message, drawn with GDI into a bottom-up RGB24
// buffer of the connected size.

#include <stdint.h>

// pixels holds DibImageSize(width, height) bytes. False when GDI fails, in
// which case the buffer holds the plain background.
bool DrawPlaceholder(uint8_t* pixels, uint32_t width, uint32_t height);
