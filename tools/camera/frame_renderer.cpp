#include "frame_renderer.h"

#include <stdlib.h>
#include <turbojpeg.h>

namespace {

const size_t PLANE_CAPACITY = (size_t)RAW_MAX_WIDTH * RAW_MAX_HEIGHT;

struct JpegInfo {
    int width;
    int height;
    int subsamp;
};

bool ReadHeader(void* handle, const uint8_t* jpeg, uint32_t size, JpegInfo& info)
{
    int colorspace = 0;
    if (tjDecompressHeader3(handle, jpeg, size, &info.width, &info.height, &info.subsamp,
                            &colorspace) != 0)
        return false;
    return info.width > 0 && info.height > 0 && info.subsamp >= 0 &&
           (colorspace == TJCS_YCbCr || colorspace == TJCS_GRAY);
}

// The largest of the decoder's scaling factors that fits the picture into the
// plane buffers (a phone may announce sizes up to 4095).
bool FitScale(JpegInfo& info)
{
    int count = 0;
    tjscalingfactor* factors = tjGetScalingFactors(&count);
    int bestW = 0, bestH = 0;
    for (int i = 0; factors != nullptr && i < count; ++i) {
        int w = TJSCALED(info.width, factors[i]);
        int h = TJSCALED(info.height, factors[i]);
        if (w <= (int)RAW_MAX_WIDTH && h <= (int)RAW_MAX_HEIGHT && w > bestW) {
            bestW = w;
            bestH = h;
        }
    }
    if (bestW == 0)
        return false;
    info.width = bestW;
    info.height = bestH;
    return true;
}

}  // namespace

CFrameRenderer::CFrameRenderer() : planes(static_cast<uint8_t*>(malloc(3 * PLANE_CAPACITY))) {}

CFrameRenderer::~CFrameRenderer()
{
    free(planes);
}

bool CFrameRenderer::DecodeIntoI420(const uint8_t* jpeg, uint32_t size, const RawLayout& l,
                                    uint8_t* frame)
{
    unsigned char* dst[3] = { frame + l.offset[0], frame + l.offset[1], frame + l.offset[2] };
    int strides[3] = { (int)l.stride[0], (int)l.stride[1], (int)l.stride[2] };
    if (tjDecompressToYUVPlanes(decompressor.Get(), jpeg, size, dst, (int)l.width, strides,
                                (int)l.height, 0) != 0)
        return false;
    uint32_t cw = (l.width + 1) / 2, ch = (l.height + 1) / 2;
    writer.ToVideoRange(dst[0], l.stride[0], l.width, l.height, false);
    writer.ToVideoRange(dst[1], l.stride[1], cw, ch, true);
    writer.ToVideoRange(dst[2], l.stride[2], cw, ch, true);
    return true;
}

bool CFrameRenderer::RenderJpeg(const uint8_t* jpeg, uint32_t size, const RawLayout& layout,
                                uint8_t* frame)
{
    if (!Ready())
        return false;
    if (Decode(jpeg, size, layout, frame))
        return true;
    decompressor.Reset();
    return false;
}

bool CFrameRenderer::Decode(const uint8_t* jpeg, uint32_t size, const RawLayout& layout,
                            uint8_t* frame)
{
    JpegInfo info;
    if (!ReadHeader(decompressor.Get(), jpeg, size, info))
        return false;
    if (layout.format == RAW_I420 && info.subsamp == TJSAMP_420 &&
        info.width == (int)layout.width && info.height == (int)layout.height)
        return DecodeIntoI420(jpeg, size, layout, frame);

    if (!FitScale(info))
        return false;
    YcbcrPicture picture = {};
    unsigned char* dst[3] = { planes, planes + PLANE_CAPACITY, planes + 2 * PLANE_CAPACITY };
    int strides[3] = { 0, 0, 0 };
    for (int k = 0; k < 3; ++k) {
        int w = tjPlaneWidth(k, info.width, info.subsamp);
        int h = tjPlaneHeight(k, info.height, info.subsamp);
        if (k > 0 && info.subsamp == TJSAMP_GRAY)
            break;
        if (w <= 0 || h <= 0 || (size_t)w * (size_t)h > PLANE_CAPACITY)
            return false;
        strides[k] = w;
        picture.plane[k] = dst[k];
        picture.stride[k] = (uint32_t)w;
        if (k == 1) {
            picture.chromaWidth = (uint32_t)w;
            picture.chromaHeight = (uint32_t)h;
        }
    }
    if (tjDecompressToYUVPlanes(decompressor.Get(), jpeg, size, dst, info.width, strides, info.height,
                                0) != 0)
        return false;
    picture.width = (uint32_t)info.width;
    picture.height = (uint32_t)info.height;
    writer.Write(picture, layout, frame);
    return true;
}

void CFrameRenderer::RenderPicture(const YcbcrPicture& picture, const RawLayout& layout,
                                   uint8_t* frame)
{
    writer.Write(picture, layout, frame);
}
