#pragma once
// The picture formats a consumer can offer, taken from the block's format
// table: every usable entry in table order, or the service's default entry
// when the table has none.

#include <stdint.h>

#include "camera_block.h"
#include "format_store.h"

struct VideoFormat {
    uint32_t width;
    uint32_t height;
    float fps;
};

// What the service offers before any phone or stored table.
const VideoFormat DEFAULT_VIDEO_FORMAT = {DEFAULT_ENTRY_WIDTH, DEFAULT_ENTRY_HEIGHT,
                                          DEFAULT_ENTRY_FPS};

// Entries past the clamped count, or with a zero width or height, are left
// out; a rate that is not a number between 1 and 240 reads as 30. Returns the
// number of formats written to out (at least 1).
uint32_t UsableFormats(const FormatTable& table, VideoFormat (&out)[FORMAT_MAX_ENTRIES]);

// A rate between 1 and 240 as it is; anything else (not a number too) as 30.
float UsableRate(float fps);

// The length of one frame at the rate, in 100-ns units, as DirectShow and
// Media Foundation count time.
int64_t FrameDuration(float fps);

// The rate as a fraction in lowest terms, to a hundredth of a frame: 30 is
// 30/1, 29.97 is 2997/100.
void RateFraction(float fps, uint32_t& numerator, uint32_t& denominator);

// Index of the first format of that size, or -1.
int FindFormat(const VideoFormat* formats, uint32_t count, uint32_t width, uint32_t height);

// The table a service would start with, read from the store while no
// service runs: true when the stored value holds one the service takes.
bool ReadStoredTable(FormatTable& out);

// A table that never came from a phone (the service's defaults before any
// phone connected) has an all-zero message header; it says nothing about the
// sizes the phone will offer.
bool IsPhoneTable(const FormatTable& table);
