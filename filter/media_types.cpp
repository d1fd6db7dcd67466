#include "media_types.h"

#include <string.h>

#include "source_logic.h"

bool FillMediaType(AM_MEDIA_TYPE& mt, const VideoFormat& format)
{
    memset(&mt, 0, sizeof mt);
    VIDEOINFOHEADER* vih = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (vih == nullptr)
        return false;
    memset(vih, 0, sizeof *vih);
    int64_t duration = FrameDuration(format.fps);
    uint32_t image = DibImageSize(format.width, format.height);
    vih->rcSource = { 0, 0, (LONG)format.width, (LONG)format.height };
    vih->rcTarget = vih->rcSource;
    vih->dwBitRate = (DWORD)((uint64_t)image * 8 * 10000000 / (uint64_t)duration);
    vih->AvgTimePerFrame = duration;
    BITMAPINFOHEADER& bih = vih->bmiHeader;
    bih.biSize = sizeof(BITMAPINFOHEADER);
    bih.biWidth = (LONG)format.width;
    bih.biHeight = (LONG)format.height;   // positive: bottom-up
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = BI_RGB;
    bih.biSizeImage = image;

    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB24;
    mt.bFixedSizeSamples = TRUE;
    mt.bTemporalCompression = FALSE;
    mt.lSampleSize = image;
    mt.formattype = FORMAT_VideoInfo;
    mt.cbFormat = sizeof(VIDEOINFOHEADER);
    mt.pbFormat = reinterpret_cast<BYTE*>(vih);
    return true;
}

void ClearMediaType(AM_MEDIA_TYPE& mt)
{
    if (mt.pbFormat != nullptr)
        CoTaskMemFree(mt.pbFormat);
    if (mt.pUnk != nullptr)
        mt.pUnk->Release();
    memset(&mt, 0, sizeof mt);
}

AM_MEDIA_TYPE* NewMediaType(const VideoFormat& format)
{
    AM_MEDIA_TYPE* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (mt == nullptr)
        return nullptr;
    if (!FillMediaType(*mt, format)) {
        CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

int MatchMediaType(const AM_MEDIA_TYPE& mt, const VideoFormat* formats, uint32_t count)
{
    if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) || !IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB24) ||
        !IsEqualGUID(mt.formattype, FORMAT_VideoInfo) || mt.pbFormat == nullptr ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return -1;
    const VIDEOINFOHEADER* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    const BITMAPINFOHEADER& bih = vih->bmiHeader;
    if (bih.biBitCount != 24 || bih.biCompression != BI_RGB || bih.biWidth <= 0 || bih.biHeight <= 0)
        return -1;
    return FindFormat(formats, count, (uint32_t)bih.biWidth, (uint32_t)bih.biHeight);
}

void FillStreamCaps(VIDEO_STREAM_CONFIG_CAPS& caps, const VideoFormat& format)
{
    memset(&caps, 0, sizeof caps);
    SIZE size = { (LONG)format.width, (LONG)format.height };
    int64_t duration = FrameDuration(format.fps);
    uint32_t bits = DibImageSize(format.width, format.height) * 8;
    caps.guid = FORMAT_VideoInfo;
    caps.VideoStandard = 0;
    caps.InputSize = size;
    caps.MinCroppingSize = size;
    caps.MaxCroppingSize = size;
    caps.CropGranularityX = 1;
    caps.CropGranularityY = 1;
    caps.CropAlignX = 1;
    caps.CropAlignY = 1;
    caps.MinOutputSize = size;
    caps.MaxOutputSize = size;
    caps.OutputGranularityX = 1;
    caps.OutputGranularityY = 1;
    caps.MinFrameInterval = duration;
    caps.MaxFrameInterval = duration;
    caps.MinBitsPerSecond = (LONG)((uint64_t)bits * 10000000 / (uint64_t)duration);
    caps.MaxBitsPerSecond = caps.MinBitsPerSecond;
}
