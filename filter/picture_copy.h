#pragma once
// A check of the phone's frames before they reach the decoder.

#include <stdint.h>

// A cheap look at the frame before it goes to the decoder: it starts with
// the start-of-image marker and has the end-of-image marker within its last
// JPEG_TRAILER_MAX + 2 bytes. A frame cut short fails it.
const uint32_t JPEG_TRAILER_MAX = 64;
bool JpegLooksWhole(const uint8_t* data, uint32_t size);
