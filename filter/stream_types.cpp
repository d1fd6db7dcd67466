#include "stream_types.h"

#include "camera_block.h"
#include "video_formats.h"

bool SamplePictureSize(SampleKind kind, uint32_t entryWidth, uint32_t entryHeight, uint32_t& width,
                       uint32_t& height)
{
    width = entryWidth;
    height = entryHeight;
    if (kind != SAMPLE_MJPG) {
        width &= ~3u;
        height &= ~1u;
    }
    return width != 0 && height != 0;
}

namespace {

PictureLayout LayoutOf(SampleKind kind)
{
    static const PictureLayout layouts[SAMPLE_KIND_COUNT] = {
        PICTURE_I420, PICTURE_YUY2, PICTURE_RGB32, PICTURE_RGB24, PICTURE_JPEG};
    return layouts[kind];
}

}  // namespace

PictureTarget StreamPicture(const StreamType& type)
{
    PictureTarget t = {LayoutOf(type.kind), type.width, type.height, type.entry.width,
                       type.entry.height,   true,       false};
    return t;
}

uint32_t SampleImageSize(SampleKind kind, uint32_t width, uint32_t height)
{
    return kind == SAMPLE_MJPG ? FRAME_DATA_SIZE : PictureBytes(LayoutOf(kind), width, height);
}

uint32_t SampleBitCount(SampleKind kind)
{
    static const uint32_t bits[SAMPLE_KIND_COUNT] = {12, 16, 32, 24, 24};
    return bits[kind];
}

uint32_t BuildStreamTypes(const VideoFormat* formats, uint32_t count,
                          StreamType (&out)[STREAM_TYPE_MAX])
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < count && i < FORMAT_MAX_ENTRIES; ++i) {
        const VideoFormat& f = formats[i];
        bool repeated = false;
        for (uint32_t j = 0; j < i && !repeated; ++j)
            repeated = formats[j].width == f.width && formats[j].height == f.height &&
                       formats[j].fps == f.fps;
        if (repeated)
            continue;
        for (int k = 0; k < SAMPLE_KIND_COUNT; ++k) {
            StreamType t;
            t.kind = (SampleKind)k;
            t.entry = f;
            if (SamplePictureSize(t.kind, f.width, f.height, t.width, t.height))
                out[n++] = t;
        }
    }
    return n;
}

uint32_t PreviewTypes(const StreamType* types, uint32_t count, StreamType (&out)[STREAM_TYPE_MAX])
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const StreamType& t = types[i];
        if (t.kind != PREVIEW_KIND)
            continue;
        uint32_t j = 0;
        while (j < n && (out[j].width != t.width || out[j].height != t.height))
            ++j;
        if (j == n)
            out[n++] = t;
        else if (t.entry.fps > out[j].entry.fps)
            out[j] = t;
    }
    return n;
}

int64_t MinFrameDuration(const StreamType& type)
{
    return FrameDuration(type.entry.fps);
}

int64_t MaxFrameDuration(const StreamType& type)
{
    return type.entry.fps < MIN_STREAM_FPS ? MinFrameDuration(type) : FrameDuration(MIN_STREAM_FPS);
}

int FindStreamType(const StreamType* types, uint32_t count, SampleKind kind, uint32_t width,
                   uint32_t height, int64_t frameDuration)
{
    int found = -1;
    for (uint32_t i = 0; i < count; ++i) {
        const StreamType& t = types[i];
        if (t.kind != kind || t.width != width || t.height != height)
            continue;
        if (frameDuration == 0) {
            // Any rate: the fastest entry.
            if (found < 0 || t.entry.fps > types[found].entry.fps)
                found = (int)i;
            continue;
        }
        // Rates are rounded to 100 ns: a request at an entry's own rate may
        // come back a unit shorter.
        if (frameDuration + 1 < MinFrameDuration(t) || frameDuration > MaxFrameDuration(t))
            continue;
        if (found < 0 || t.entry.fps < types[found].entry.fps)
            found = (int)i;
    }
    return found;
}

uint32_t StreamBitRate(const StreamType& type, int64_t frameDuration)
{
    if (frameDuration <= 0)
        frameDuration = MinFrameDuration(type);
    uint64_t bits = (uint64_t)SampleImageSize(type.kind, type.width, type.height) * 8;
    uint64_t rate = bits * 10000000u / (uint64_t)frameDuration;
    // The caps' bit rates are signed 32-bit fields.
    return rate > 0x7FFFFFFFu ? 0x7FFFFFFFu : (uint32_t)rate;
}

void RatePacingStart(RatePacing& pacing, const StreamType& type, int64_t frameDuration)
{
    pacing.intervalUs = 0;
    if (frameDuration > MinFrameDuration(type) + 1)
        pacing.intervalUs = (uint64_t)frameDuration / 10;
    pacing.elapsedUs = 0;
    pacing.dueUs = 0;
    pacing.lastMs = 0;
    pacing.started = false;
}

bool RatePacingTake(RatePacing& pacing, uint32_t nowMs)
{
    if (pacing.intervalUs == 0)
        return true;
    if (pacing.started)
        pacing.elapsedUs += (uint64_t)(uint32_t)(nowMs - pacing.lastMs) * 1000;
    pacing.lastMs = nowMs;
    pacing.started = true;
    if (pacing.elapsedUs + pacing.intervalUs / 2 < pacing.dueUs)
        return false;
    // More than a frame late (a gap in the stream): due again from now.
    if (pacing.elapsedUs > pacing.dueUs + pacing.intervalUs)
        pacing.dueUs = pacing.elapsedUs;
    pacing.dueUs += pacing.intervalUs;
    return true;
}
