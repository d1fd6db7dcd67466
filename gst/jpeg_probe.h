#pragma once
// Reads a JPEG's picture size from its headers, without decoding it.

#include <stdint.h>

class CJpegProbe {
public:
    CJpegProbe();
    ~CJpegProbe();
    // False when the headers cannot be read (a damaged or cut frame).
    bool Size(const uint8_t* data, uint32_t size, uint32_t& width, uint32_t& height);

private:
    CJpegProbe(const CJpegProbe&);
    CJpegProbe& operator=(const CJpegProbe&);
    void* decompressor;
};
