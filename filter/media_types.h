#pragma once
// DirectShow media types for the pin's stream types: video, FORMAT_VideoInfo
// with a whole VIDEOINFOHEADER; RGB bottom-up, YUV and MJPG by FOURCC.

#define NO_DSHOW_STRSAFE
#include <dshow.h>

#include "stream_types.h"

// A stream type at a frame duration (100-ns units).
struct StreamChoice {
    StreamType type;
    int64_t frameDuration;
};

// The media subtype of a kind.
const GUID& KindSubtype(SampleKind kind);

// Fills mt (its format block in task memory); false when memory runs out.
bool FillMediaType(AM_MEDIA_TYPE& mt, const StreamChoice& choice);
// Frees what FillMediaType or a peer put into mt, leaving it empty.
void ClearMediaType(AM_MEDIA_TYPE& mt);
// A whole media type in task memory, as enumerators hand out; null on failure.
AM_MEDIA_TYPE* NewMediaType(const StreamChoice& choice);

// The stream type mt describes, with its rate: video, one of the five
// subtypes with its matching bit count and compression, FORMAT_VideoInfo of
// a type's picture size (RGB bottom-up) and a frame duration that type
// offers (0 takes the entry's own). -1 when none.
int MatchMediaType(const AM_MEDIA_TYPE& mt, const StreamType* types, uint32_t count,
                   int64_t& frameDuration);

void FillStreamCaps(VIDEO_STREAM_CONFIG_CAPS& caps, const StreamType& type);
