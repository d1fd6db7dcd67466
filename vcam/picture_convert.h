#pragma once
// Turns the phone's JPEG frames, and RGB pictures such as the placeholder
// card, into frames of the camera's media types. JPEG is decoded with
// libjpeg-turbo straight into the frame: luma into an NV12 frame's Y plane,
// RGB32 into the frame itself; only chroma (NV12) and YUY2 pass through the
// converter's own planes. JPEG holds full-range YCbCr, the YUV types get the
// video range (luma 16-235, chroma 16-240) that applications assume.

#include <stdint.h>

#include "camera_types.h"
#include "turbo_decompressor.h"

enum ConvertResult {
    CONVERT_OK = 0,
    CONVERT_DAMAGED = 1,      // not a JPEG, cut short, or not YCbCr / grey
    CONVERT_OTHER_SIZE = 2,   // a whole JPEG of another size (the service switching)
};

// A decoded picture's planes: chroma at the JPEG's own subsampling, or none
// for a grey JPEG.
struct DecodedPlanes {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
    uint32_t yStride;
    uint32_t chromaWidth;    // 0: grey
    uint32_t chromaHeight;
};

class CPictureConverter {
public:
    CPictureConverter();
    ~CPictureConverter();

    bool Ready() const { return decompressor.Get() != nullptr && planes != nullptr; }

    // The frame holds CameraFrameSize bytes; on failure it may hold part of a
    // picture and must not be sent.
    ConvertResult FromJpeg(const uint8_t* jpeg, uint32_t size, CameraSubtype subtype,
                           uint32_t width, uint32_t height, uint8_t* frame);

    // rgb: width x height, three bytes per pixel, rows top to bottom.
    void FromRgb(const uint8_t* rgb, CameraSubtype subtype, uint32_t width, uint32_t height,
                 uint8_t* frame) const;

private:
    CPictureConverter(const CPictureConverter&);
    CPictureConverter& operator=(const CPictureConverter&);

    ConvertResult Decode(const uint8_t* jpeg, uint32_t size, CameraSubtype subtype,
                         uint32_t width, uint32_t height, uint8_t* frame);

    void MapChromaColumns(const DecodedPlanes& p, uint32_t width);
    void WriteChroma(const DecodedPlanes& p, uint32_t row, uint32_t height, uint32_t width,
                     uint8_t* out, uint32_t step) const;

    CTurboDecompressor decompressor;
    uint8_t* planes;   // Y, U and V planes of the largest picture
    // For every second frame column, the chroma column it takes.
    uint32_t chromaColumn[CAMERA_MAX_WIDTH / 2];
    uint8_t lumaRange[256];
    uint8_t chromaRange[256];
};
