#pragma once
// DirectShow media types for the source's formats: video, RGB24, bottom-up,
// FORMAT_VideoInfo with a whole VIDEOINFOHEADER.

#define NO_DSHOW_STRSAFE
#include <dshow.h>

#include "video_formats.h"

// Fills mt (its format block in task memory); false when memory runs out.
bool FillMediaType(AM_MEDIA_TYPE& mt, const VideoFormat& format);
// Frees what FillMediaType or a peer put into mt, leaving it empty.
void ClearMediaType(AM_MEDIA_TYPE& mt);
// A whole media type in task memory, as enumerators hand out; null on failure.
AM_MEDIA_TYPE* NewMediaType(const VideoFormat& format);

// The index of the offered format that mt describes, or -1. A type must be
// video, RGB24, FORMAT_VideoInfo with a bottom-up picture of an offered size.
int MatchMediaType(const AM_MEDIA_TYPE& mt, const VideoFormat* formats, uint32_t count);

void FillStreamCaps(VIDEO_STREAM_CONFIG_CAPS& caps, const VideoFormat& format);
