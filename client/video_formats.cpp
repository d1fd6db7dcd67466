#include "video_formats.h"

uint32_t UsableFormats(const FormatTable& table, VideoFormat (&out)[FORMAT_MAX_ENTRIES])
{
    uint32_t count = table.count;
    if (count > FORMAT_MAX_ENTRIES)
        count = FORMAT_MAX_ENTRIES;
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const FormatEntry& e = table.entries[i];
        VideoFormat f = {EntryWidth(e), EntryHeight(e), e.fps};
        if (f.width == 0 || f.height == 0)
            continue;
        f.fps = UsableRate(f.fps);
        out[n++] = f;
    }
    if (n == 0)
        out[n++] = DEFAULT_VIDEO_FORMAT;
    return n;
}

float UsableRate(float fps)
{
    return fps >= 1.0f && fps <= 240.0f ? fps : DEFAULT_VIDEO_FORMAT.fps;
}

int64_t FrameDuration(float fps)
{
    return (int64_t)(10000000.0 / (double)UsableRate(fps) + 0.5);
}

void RateFraction(float fps, uint32_t& numerator, uint32_t& denominator)
{
    numerator = (uint32_t)(UsableRate(fps) * 100.0f + 0.5f);
    denominator = 100;
    while (numerator % 10 == 0 && denominator % 10 == 0) {
        numerator /= 10;
        denominator /= 10;
    }
}

int FindFormat(const VideoFormat* formats, uint32_t count, uint32_t width, uint32_t height)
{
    for (uint32_t i = 0; i < count; ++i)
        if (formats[i].width == width && formats[i].height == height)
            return (int)i;
    return -1;
}

bool ReadStoredTable(FormatTable& out)
{
    if (ReadStoredFormats(reinterpret_cast<uint8_t*>(&out), FORMAT_TABLE_SIZE) != STORE_READ_OK ||
        out.count == 0 || out.count > FORMAT_MAX_ENTRIES)
        return false;
    for (uint32_t i = 0; i < out.count; ++i)
        if (!StoredEntryUsable(out.entries[i]))
            return false;
    return true;
}

bool IsPhoneTable(const FormatTable& table)
{
    const uint8_t* header = reinterpret_cast<const uint8_t*>(&table.header);
    for (size_t i = 0; i < sizeof(table.header); ++i)
        if (header[i] != 0)
            return true;
    return false;
}
