#include "camera_types.h"

namespace {

bool Fits(CameraSubtype subtype, uint32_t width, uint32_t height)
{
    if (width == 0 || height == 0 || width > CAMERA_MAX_WIDTH || height > CAMERA_MAX_HEIGHT)
        return false;
    return subtype == CAMERA_RGB32 || (width % 2 == 0 && height % 2 == 0);
}

PictureLayout LayoutOf(CameraSubtype subtype)
{
    static const PictureLayout layouts[CAMERA_SUBTYPE_COUNT] = {PICTURE_NV12, PICTURE_YUY2,
                                                                PICTURE_RGB32};
    return layouts[subtype];
}

}  // namespace

uint32_t OfferedCameraTypes(const VideoFormat* formats, uint32_t count,
                            CameraType (&out)[CAMERA_MAX_TYPES])
{
    uint32_t n = 0;
    for (int s = 0; s < CAMERA_SUBTYPE_COUNT; ++s)
        for (uint32_t i = 0; i < count && n < CAMERA_MAX_TYPES; ++i)
            if (Fits((CameraSubtype)s, formats[i].width, formats[i].height))
                out[n++] = CameraType{(CameraSubtype)s, formats[i]};
    return n;
}

PictureTarget CameraPicture(const CameraType& type)
{
    const VideoFormat& f = type.format;
    PictureTarget t = {LayoutOf(type.subtype), f.width, f.height, f.width, f.height, true, false};
    return t;
}

uint32_t CameraStride(CameraSubtype subtype, uint32_t width)
{
    return PictureStride(LayoutOf(subtype), width);
}

uint32_t CameraFrameSize(CameraSubtype subtype, uint32_t width, uint32_t height)
{
    return Fits(subtype, width, height) ? PictureBytes(LayoutOf(subtype), width, height) : 0;
}
