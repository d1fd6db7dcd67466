#pragma once
// Writes a decoded picture into a raw frame of the negotiated format and
// size. The picture is full-range YCbCr as JPEG stores it; YUV frames get the
// video range (luma 16-235, chroma 16-240) that consumers assume for them,
// RGB frames full levels. A picture of another size is scaled to the frame by
// nearest neighbour, so a consumer always gets frames of the size it chose,
// even while the phone still sends the previous size.

#include <stdint.h>

#include "raw_video.h"

// Chroma at any subsampling: its plane size is given separately. A picture
// without chroma planes (a grey JPEG) has chromaWidth 0 and reads as grey.
struct YcbcrPicture {
    const uint8_t* plane[3];
    uint32_t stride[3];
    uint32_t width;
    uint32_t height;
    uint32_t chromaWidth;
    uint32_t chromaHeight;
};

class CRawWriter {
public:
    CRawWriter();

    void Write(const YcbcrPicture& picture, const RawLayout& layout, uint8_t* frame);

    // Turns a full-range plane into video range in place (a frame that was
    // decoded straight into its buffer).
    void ToVideoRange(uint8_t* plane, uint32_t stride, uint32_t width, uint32_t height,
                      bool chroma) const;

private:
    void MapColumns(const YcbcrPicture& picture, uint32_t width);
    void WriteI420(const YcbcrPicture& picture, const RawLayout& layout, uint8_t* frame) const;
    void WriteYuy2(const YcbcrPicture& picture, const RawLayout& layout, uint8_t* frame) const;
    void WriteRgb(const YcbcrPicture& picture, const RawLayout& layout, uint8_t* frame) const;

    uint8_t lumaRange[256];
    uint8_t chromaRange[256];
    int32_t crToR[256], cbToB[256], crToG[256], cbToG[256];
    // For each column of the frame: the picture's luma and chroma column.
    uint32_t lumaColumn[RAW_MAX_WIDTH];
    uint32_t chromaColumn[RAW_MAX_WIDTH];
};
