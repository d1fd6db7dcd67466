#pragma once
// The phone's JPEG frames, and the placeholder picture, turned into the
// bytes of one sample of a stream type, with libjpeg-turbo. A frame of the
// entry's size is decoded straight into the sample where the layout allows
// (RGB of the full width, I420 from a 4:2:0 JPEG of the full size) and
// otherwise through a scratch buffer sized once per stream. A frame of any
// other size is refused: while the service switches sizes the stream shows
// its placeholder rather than a stretched old picture.
//
// YUV samples carry video levels (BT.601: Y 16-235, U and V around 128), as
// DirectShow's decoders and renderers read them; JPEG's full-range values
// are mapped.

#include <stdint.h>

#include "bitmap_text.h"
#include "stream_types.h"
#include "turbo_decompressor.h"

enum ConvertResult {
    CONVERT_OK = 0,
    CONVERT_BAD = 1,          // damaged, truncated or not a JPEG
    CONVERT_OTHER_SIZE = 2,   // a whole frame, but not of the entry's size
};

class CFrameConverter {
public:
    CFrameConverter();
    ~CFrameConverter();

    // Readies the converter for a stream of the type: the library's handles
    // and the scratch buffer. False when memory runs out.
    bool Start(const StreamType& type);

    // One frame into sample (capacity bytes); written is the sample's length.
    ConvertResult FromJpeg(const uint8_t* jpeg, uint32_t size, uint8_t* sample, uint32_t capacity,
                           uint32_t& written);

    // A top-down RGB picture of the type's picture size into sample; for MJPG
    // it is compressed. False when it does not fit.
    bool FromRgb(const RgbImage& picture, uint8_t* sample, uint32_t capacity, uint32_t& written);

private:
    CFrameConverter(const CFrameConverter&);
    CFrameConverter& operator=(const CFrameConverter&);

    bool DecodeRgb(const uint8_t* jpeg, uint32_t size, uint8_t* sample);
    bool DecodeYuv(const uint8_t* jpeg, uint32_t size, int subsampling, uint8_t* sample);

    StreamType type;
    CTurboDecompressor decompressor;
    tjhandle compressor;   // made on first use, for MJPG placeholders
    uint8_t* scratch;
    uint32_t scratchSize;
};

// Full-range JPEG values at video levels, for tests and the converter.
uint8_t VideoLuma(uint8_t y);
uint8_t VideoChroma(uint8_t c);
