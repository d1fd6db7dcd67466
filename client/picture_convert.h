#pragma once
// The phone's JPEG frames, and RGB pictures such as the placeholder card,
// turned into the bytes of one raw sample, with libjpeg-turbo, for every
// consumer that hands out raw video. A frame of the expected size is decoded
// straight into the sample where the layout allows (RGB, the luma plane of
// I420 and NV12, all of I420 from a 4:2:0 JPEG) and otherwise through a
// scratch buffer sized once per stream. A frame of any other size is refused:
// while the service switches sizes a stream shows its placeholder rather than
// a stretched old picture.
//
// YUV samples carry video levels (BT.601: Y 16-235, U and V 16-240 around
// 128), as decoders, renderers and applications read them; JPEG's full-range
// values are mapped by one formula, over whole planes where they lie in the
// sample as decoded, and through tables made from it where bytes are placed
// one by one. RGB samples are full range.

#include <stdint.h>

#include "bitmap_text.h"
#include "turbo_decompressor.h"

enum PictureLayout {
    PICTURE_I420 = 0,   // Y plane, then U and V planes at half size
    PICTURE_NV12 = 1,   // Y plane, then one plane of interleaved U V at half size
    PICTURE_YUY2 = 2,   // packed Y0 U Y1 V
    PICTURE_RGB32 = 3,  // B G R X
    PICTURE_RGB24 = 4,  // B G R
    PICTURE_JPEG = 5,   // the phone's JPEG itself
};

struct PictureTarget {
    PictureLayout layout;
    uint32_t width;  // the sample's picture: the source cut to this size
    uint32_t height;
    uint32_t jpegWidth;  // the size a frame must have
    uint32_t jpegHeight;
    bool bottomUp;  // RGB rows last row first
    // Every row starts on a 4-byte boundary, in each plane: the layout
    // GStreamer and PipeWire consumers assume for raw video. Otherwise rows
    // are packed, as DirectShow and Media Foundation samples are.
    bool padded;
};

// Where each plane of a raw sample lies; YUV layouts take an even size.
struct PicturePlanes {
    uint32_t count;
    uint32_t offset[3];
    uint32_t stride[3];
    uint32_t size;  // bytes of the whole sample
};

// False for the JPEG layout (it has no fixed size) and a zero size.
bool PlanesOf(PictureLayout layout, uint32_t width, uint32_t height, bool padded,
              PicturePlanes& out);

// Bytes per row of the (first) plane, and of a whole raw sample, with packed
// rows. The JPEG layout: 0.
uint32_t PictureStride(PictureLayout layout, uint32_t width);
uint32_t PictureBytes(PictureLayout layout, uint32_t width, uint32_t height);

enum ConvertResult {
    CONVERT_OK = 0,
    CONVERT_BAD = 1,         // damaged, truncated or not a JPEG, or no room
    CONVERT_OTHER_SIZE = 2,  // a whole frame, but not of the expected size
};

class CPictureConverter {
public:
    CPictureConverter();
    ~CPictureConverter();

    // Readies the converter for a stream: the library's handles and the
    // scratch buffer. A converter that is only given RGB pictures (decodes
    // false) needs no scratch. False when memory runs out.
    bool Start(const PictureTarget& target, bool decodes = true);

    // One frame into sample (capacity bytes); written is the sample's length.
    // On failure the sample may hold part of a picture and must not be sent.
    ConvertResult FromJpeg(const uint8_t* jpeg, uint32_t size, uint8_t* sample, uint32_t capacity,
                           uint32_t& written);

    // A top-down RGB picture of the target's size into sample; for the JPEG
    // layout it is compressed, at the best of a few qualities that fits.
    // False when it does not fit.
    bool FromRgb(const RgbImage& picture, uint8_t* sample, uint32_t capacity, uint32_t& written);

private:
    CPictureConverter(const CPictureConverter&);
    CPictureConverter& operator=(const CPictureConverter&);

    struct DecodedYuv;

    bool DecodeRgb(const uint8_t* jpeg, uint32_t size, uint8_t* sample);
    bool DecodeYuv(const uint8_t* jpeg, uint32_t size, int subsampling, uint8_t* sample);
    bool DecodeI420InPlace(const uint8_t* jpeg, uint32_t size, uint8_t* sample);
    bool DecodePlanes(const uint8_t* jpeg, uint32_t size, int subsampling, uint8_t* sample,
                      DecodedYuv& out);
    void WriteYuy2(const DecodedYuv& d, uint8_t* sample) const;
    void WriteSemiPlanar(const DecodedYuv& d, uint8_t* sample) const;
    void WriteChroma(const uint8_t* su, const uint8_t* sv, uint32_t xShift, uint8_t* u, uint8_t* v,
                     uint32_t step) const;
    bool RgbToJpeg(const RgbImage& picture, uint8_t* sample, uint32_t capacity, uint32_t& written);
    void RgbToRgb(const RgbImage& picture, uint8_t* sample) const;
    void RgbToYuv(const RgbImage& picture, uint8_t* sample) const;

    PictureTarget target;
    PicturePlanes planes;  // of the target, for the raw layouts
    CTurboDecompressor decompressor;
    tjhandle compressor;  // made on first use, for JPEG placeholders
    uint8_t* scratch;
    uint32_t scratchSize;
};

// Full-range JPEG values at video levels.
uint8_t VideoLuma(uint8_t y);
uint8_t VideoChroma(uint8_t c);
