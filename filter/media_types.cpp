#include "media_types.h"

#include <string.h>

namespace {

// I420 is not in the toolchain's uuids.h: the FOURCC subtype of its kind.
const GUID SUBTYPE_I420 = { 0x30323449, 0x0000, 0x0010,
                            { 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71 } };

struct KindIds {
    const GUID* subtype;
    DWORD compression;
};

const KindIds KIND_IDS[SAMPLE_KIND_COUNT] = {
    { &SUBTYPE_I420, MAKEFOURCC('I', '4', '2', '0') },
    { &MEDIASUBTYPE_YUY2, MAKEFOURCC('Y', 'U', 'Y', '2') },
    { &MEDIASUBTYPE_RGB32, BI_RGB },
    { &MEDIASUBTYPE_RGB24, BI_RGB },
    { &MEDIASUBTYPE_MJPG, MAKEFOURCC('M', 'J', 'P', 'G') },
};

}  // namespace

const GUID& KindSubtype(SampleKind kind)
{
    return *KIND_IDS[kind].subtype;
}

bool FillMediaType(AM_MEDIA_TYPE& mt, const StreamChoice& choice)
{
    memset(&mt, 0, sizeof mt);
    VIDEOINFOHEADER* vih = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (vih == nullptr)
        return false;
    memset(vih, 0, sizeof *vih);
    const StreamType& t = choice.type;
    int64_t duration = choice.frameDuration > 0 ? choice.frameDuration : MinFrameDuration(t);
    uint32_t image = SampleImageSize(t.kind, t.width, t.height);
    vih->rcSource = { 0, 0, (LONG)t.width, (LONG)t.height };
    vih->rcTarget = vih->rcSource;
    vih->dwBitRate = StreamBitRate(t, duration);
    vih->AvgTimePerFrame = duration;
    BITMAPINFOHEADER& bih = vih->bmiHeader;
    bih.biSize = sizeof(BITMAPINFOHEADER);
    bih.biWidth = (LONG)t.width;
    bih.biHeight = (LONG)t.height;   // positive: RGB bottom-up
    bih.biPlanes = 1;
    bih.biBitCount = (WORD)SampleBitCount(t.kind);
    bih.biCompression = KIND_IDS[t.kind].compression;
    bih.biSizeImage = image;

    bool compressed = t.kind == SAMPLE_MJPG;
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = *KIND_IDS[t.kind].subtype;
    mt.bFixedSizeSamples = compressed ? FALSE : TRUE;
    mt.bTemporalCompression = FALSE;
    mt.lSampleSize = compressed ? 0 : image;
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

AM_MEDIA_TYPE* NewMediaType(const StreamChoice& choice)
{
    AM_MEDIA_TYPE* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (mt == nullptr)
        return nullptr;
    if (!FillMediaType(*mt, choice)) {
        CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

int MatchMediaType(const AM_MEDIA_TYPE& mt, const StreamType* types, uint32_t count,
                   int64_t& frameDuration)
{
    frameDuration = 0;
    if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) ||
        !IsEqualGUID(mt.formattype, FORMAT_VideoInfo) || mt.pbFormat == nullptr ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return -1;
    int kind = 0;
    while (kind < SAMPLE_KIND_COUNT && !IsEqualGUID(mt.subtype, *KIND_IDS[kind].subtype))
        ++kind;
    if (kind == SAMPLE_KIND_COUNT)
        return -1;
    const VIDEOINFOHEADER* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    const BITMAPINFOHEADER& bih = vih->bmiHeader;
    // A top-down RGB picture (negative height) is not what the decoder writes.
    if (bih.biBitCount != SampleBitCount((SampleKind)kind) ||
        bih.biCompression != KIND_IDS[kind].compression || bih.biWidth <= 0 ||
        bih.biHeight <= 0 || vih->AvgTimePerFrame < 0)
        return -1;
    int found = FindStreamType(types, count, (SampleKind)kind, (uint32_t)bih.biWidth,
                               (uint32_t)bih.biHeight, vih->AvgTimePerFrame);
    if (found >= 0)
        frameDuration = vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame
                                                 : MinFrameDuration(types[found]);
    return found;
}

void FillStreamCaps(VIDEO_STREAM_CONFIG_CAPS& caps, const StreamType& type)
{
    memset(&caps, 0, sizeof caps);
    SIZE size = { (LONG)type.width, (LONG)type.height };
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
    caps.MinFrameInterval = MinFrameDuration(type);
    caps.MaxFrameInterval = MaxFrameDuration(type);
    caps.MinBitsPerSecond = (LONG)StreamBitRate(type, caps.MaxFrameInterval);
    caps.MaxBitsPerSecond = (LONG)StreamBitRate(type, caps.MinFrameInterval);
}
