#include "camera_media_type.h"

#include "com_object.h"

namespace {

const GUID& SubtypeGuid(CameraSubtype subtype)
{
    switch (subtype) {
    case CAMERA_NV12:
        return MFVideoFormat_NV12;
    case CAMERA_YUY2:
        return MFVideoFormat_YUY2;
    default:
        return MFVideoFormat_RGB32;
    }
}

}  // namespace

HRESULT CreateCameraMediaType(const CameraType& type, IMFMediaType** out)
{
    *out = nullptr;
    const VideoFormat& f = type.format;
    uint32_t size = CameraFrameSize(type.subtype, f.width, f.height);
    if (size == 0)
        return E_INVALIDARG;
    uint32_t num = 0, den = 0;
    RateFraction(f.fps, num, den);
    // RGB is bottom-up, as a negative default stride says.
    int32_t stride = (int32_t)CameraStride(type.subtype, f.width);
    if (type.subtype == CAMERA_RGB32)
        stride = -stride;
    ComPtr<IMFMediaType> t;
    HRESULT hr = MFCreateMediaType(&t);
    if (SUCCEEDED(hr))
        hr = t->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr))
        hr = t->SetGUID(MF_MT_SUBTYPE, SubtypeGuid(type.subtype));
    if (SUCCEEDED(hr))
        hr = MFSetAttributeSize(t.Get(), MF_MT_FRAME_SIZE, f.width, f.height);
    if (SUCCEEDED(hr))
        hr = MFSetAttributeRatio(t.Get(), MF_MT_FRAME_RATE, num, den);
    if (SUCCEEDED(hr))
        hr = MFSetAttributeRatio(t.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    if (SUCCEEDED(hr))
        hr = t->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    if (SUCCEEDED(hr))
        hr = t->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    if (SUCCEEDED(hr))
        hr = t->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE);
    if (SUCCEEDED(hr))
        hr = t->SetUINT32(MF_MT_SAMPLE_SIZE, size);
    if (SUCCEEDED(hr))
        hr = t->SetUINT32(MF_MT_DEFAULT_STRIDE, (UINT32)stride);
    // The YUV pictures are the phone's JPEG colours in BT.601 at studio
    // range. Unsaid, a reader takes BT.709 for HD sizes, and greens and reds
    // come out up to 40 levels off.
    if (SUCCEEDED(hr) && type.subtype != CAMERA_RGB32)
        hr = t->SetUINT32(MF_MT_YUV_MATRIX, MFVideoTransferMatrix_BT601);
    if (SUCCEEDED(hr) && type.subtype != CAMERA_RGB32)
        hr = t->SetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, MFNominalRange_16_235);
    if (SUCCEEDED(hr))
        *out = t.Detach();
    return hr;
}

bool ReadCameraMediaType(IMFMediaType* mediaType, CameraType& out)
{
    GUID major, subtype;
    UINT32 width = 0, height = 0, num = 0, den = 0;
    if (mediaType == nullptr || FAILED(mediaType->GetGUID(MF_MT_MAJOR_TYPE, &major)) ||
        !IsEqualGUID(major, MFMediaType_Video) ||
        FAILED(mediaType->GetGUID(MF_MT_SUBTYPE, &subtype)) ||
        FAILED(MFGetAttributeSize(mediaType, MF_MT_FRAME_SIZE, &width, &height)))
        return false;
    out.subtype = CAMERA_SUBTYPE_COUNT;
    for (int s = 0; s < CAMERA_SUBTYPE_COUNT; ++s)
        if (IsEqualGUID(subtype, SubtypeGuid((CameraSubtype)s)))
            out.subtype = (CameraSubtype)s;
    if (out.subtype == CAMERA_SUBTYPE_COUNT || CameraFrameSize(out.subtype, width, height) == 0)
        return false;
    out.format.width = width;
    out.format.height = height;
    out.format.fps = DEFAULT_VIDEO_FORMAT.fps;
    if (SUCCEEDED(MFGetAttributeRatio(mediaType, MF_MT_FRAME_RATE, &num, &den)) && den != 0)
        out.format.fps = (float)num / (float)den;
    return true;
}
