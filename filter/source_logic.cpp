#include "source_logic.h"

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
    return found >= 0 ? (uint32_t)found : count - 1;
}
