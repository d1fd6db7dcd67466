#pragma once
// Turns what the camera sends into raw frames: the phone's JPEG frames
// (decoded with libjpeg-turbo, straight into the frame when it is I420 of the
// JPEG's own size and subsampling) and ready-made pictures such as the
// placeholder. Buffers are allocated once, for the largest picture.

#include <stdint.h>

#include "picture_writer.h"
#include "raw_video.h"
#include "turbo_decompressor.h"

class CFrameRenderer {
public:
    CFrameRenderer();
    ~CFrameRenderer();

    bool Ready() const { return decompressor.Get() != nullptr && planes != nullptr; }

    // False when the JPEG is damaged, cut short or not YCbCr; the frame may
    // then hold part of a picture and must not be sent.
    bool RenderJpeg(const uint8_t* jpeg, uint32_t size, const RawLayout& layout, uint8_t* frame);

    void RenderPicture(const YcbcrPicture& picture, const RawLayout& layout, uint8_t* frame);

private:
    CFrameRenderer(const CFrameRenderer&);
    CFrameRenderer& operator=(const CFrameRenderer&);

    bool Decode(const uint8_t* jpeg, uint32_t size, const RawLayout& layout, uint8_t* frame);
    bool DecodeIntoI420(const uint8_t* jpeg, uint32_t size, const RawLayout& layout,
                        uint8_t* frame);

    CTurboDecompressor decompressor;
    uint8_t* planes;   // three planes of the largest size
    CRawWriter writer;
};
