#include "source_logic.h"

uint32_t DibStride(uint32_t width)
{
    return (width * 3 + 3) & ~3u;
}

uint32_t DibImageSize(uint32_t width, uint32_t height)
{
    return DibStride(width) * height;
}

int64_t FrameDuration(float fps)
{
    if (!(fps >= 1.0f && fps <= 240.0f))
        fps = DEFAULT_VIDEO_FORMAT.fps;
    return (int64_t)(10000000.0 / (double)fps + 0.5);
}

uint32_t OfferedFormats(const FormatTable* table, VideoFormat (&out)[FORMAT_MAX_ENTRIES])
{
    if (table == nullptr) {
        out[0] = DEFAULT_VIDEO_FORMAT;
        return 1;
    }
    return UsableFormats(*table, out);
}

uint32_t DefaultFormatIndex(const VideoFormat* formats, uint32_t count, uint32_t requestedWidth,
                            uint32_t requestedHeight)
{
    int found = FindFormat(formats, count, requestedWidth, requestedHeight);
    return found >= 0 ? (uint32_t)found : 0;
}

void CSourceSchedule::Start(uint32_t nowMs)
{
    startMs = nowMs;
    haveLive = false;
    havePlaceholder = false;
}

void CSourceSchedule::LiveFrameShown(uint32_t nowMs)
{
    haveLive = true;
    lastLiveMs = nowMs;
}

bool CSourceSchedule::PlaceholderDue(uint32_t nowMs)
{
    // Live since the start or within the stall time: no placeholder. A fresh
    // start waits one interval for the first frame before showing it.
    uint32_t quietSince = haveLive ? lastLiveMs : startMs;
    uint32_t grace = haveLive ? STALL_MS : PLACEHOLDER_INTERVAL_MS;
    if (nowMs - quietSince < grace)
        return false;
    if (havePlaceholder && nowMs - lastPlaceholderMs < PLACEHOLDER_INTERVAL_MS)
        return false;
    havePlaceholder = true;
    lastPlaceholderMs = nowMs;
    return true;
}

uint32_t CSourceSchedule::WaitMs(uint32_t nowMs) const
{
    // Times are a wrapping millisecond tick: only differences are compared.
    uint32_t quietSince = haveLive ? lastLiveMs : startMs;
    uint32_t grace = haveLive ? STALL_MS : PLACEHOLDER_INTERVAL_MS;
    uint32_t quiet = nowMs - quietSince;
    uint32_t wait = quiet < grace ? grace - quiet : 0;
    if (havePlaceholder) {
        uint32_t since = nowMs - lastPlaceholderMs;
        uint32_t next = since < PLACEHOLDER_INTERVAL_MS ? PLACEHOLDER_INTERVAL_MS - since : 0;
        if (next > wait)
            wait = next;
    }
    if (wait == 0)
        return 1;
    return wait > PLACEHOLDER_INTERVAL_MS ? PLACEHOLDER_INTERVAL_MS : wait;
}
