#pragma once
// JPEG frames into bottom-up RGB24 samples with WIC. A frame of the sample's
// size is decoded straight into the sample, row by row from the bottom; one
// of another size (while the phone renegotiates) goes through a scratch buffer
// and is scaled. Needs COM on the calling thread.

#include <windows.h>
#include <wincodec.h>

#include <stdint.h>

#include "com_object.h"

enum DecodeResult {
    DECODE_OK = 0,
    DECODE_SCALED = 1,    // decoded from another size and scaled
    DECODE_BAD = 2,       // damaged, truncated or not a JPEG: skip it
    DECODE_TOO_LARGE = 3, // larger than the scratch buffer holds
};

// Largest frame of another size that can be scaled (the phone's formats go
// up to 1280 x 720; this leaves room).
const uint32_t SCRATCH_MAX_PIXELS = 1920 * 1088;

class CJpegDecoder {
public:
    CJpegDecoder();
    ~CJpegDecoder();
    bool Init();   // the factory and the buffers; false without WIC
    DecodeResult Decode(const uint8_t* data, uint32_t size, uint8_t* sample, uint32_t width,
                        uint32_t height, uint32_t& frameWidth, uint32_t& frameHeight);

private:
    CJpegDecoder(const CJpegDecoder&);
    CJpegDecoder& operator=(const CJpegDecoder&);

    ComPtr<IWICImagingFactory> factory;
    uint8_t* scratch;
};
