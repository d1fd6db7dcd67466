#pragma once
// Checks a JPEG without decoding it: its headers give the picture size, and
// an end-of-image marker shows it was not cut short.

#include <stdint.h>

class CJpegProbe {
public:
    CJpegProbe();
    ~CJpegProbe();
    // False when the headers cannot be read or the end marker is missing.
    bool Check(const uint8_t* data, uint32_t size, uint32_t& width, uint32_t& height);

private:
    CJpegProbe(const CJpegProbe&);
    CJpegProbe& operator=(const CJpegProbe&);
    void* decompressor;
};
