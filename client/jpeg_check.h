#pragma once
// A cheap look at a phone frame before any decoder sees it: it is a JPEG,
// its frame header gives a picture size, and it was not cut short. A frame
// that fails would show as a broken picture downstream or stop a decoder.

#include <stdint.h>

// Bytes an encoder, camera or transport may leave after the end marker.
const uint32_t JPEG_TRAILER_MAX = 64;

// True when data starts with the start-of-image marker, its segments lead to
// a frame header with a non-zero width and height (given back), and the
// end-of-image marker lies within its last JPEG_TRAILER_MAX + 2 bytes.
bool ReadWholeJpeg(const uint8_t* data, uint32_t size, uint32_t& width, uint32_t& height);
