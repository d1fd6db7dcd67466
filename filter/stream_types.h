#pragma once
// The capture pin's stream types without DirectShow: for every entry of the
// format table, the picture in five sample layouts (the phone's JPEG decoded
// into I420, YUY2, RGB32 or RGB24, or passed through as MJPG), their sizes
// and strides, which type a media type asks for, and which rate it runs at.
//
// Decoded pictures have a width that is a multiple of four and an even
// height: the entry's size rounded down, the right-most columns and the
// bottom row of the phone's picture left out. Then every row of every layout
// fills whole 32-bit words and the chroma planes have exact halves, so a
// consumer that assumes unpadded rows and one that assumes DWORD-aligned rows
// read the same bytes. MJPG keeps the entry's own size.

#include <stdint.h>

#include "picture_convert.h"
#include "video_formats.h"

enum SampleKind {
    SAMPLE_I420 = 0,   // planar 4:2:0: Y, then U, then V, rows unpadded
    SAMPLE_YUY2 = 1,   // packed 4:2:2: Y0 U Y1 V
    SAMPLE_RGB32 = 2,  // B G R 0xFF, bottom-up
    SAMPLE_RGB24 = 3,  // B G R, bottom-up
    SAMPLE_MJPG = 4,   // the phone's JPEG as it came
    SAMPLE_KIND_COUNT = 5,
};

// The type an unconnected pin enumerates for each size: of the ones the
// video mixing renderers take without a converter, the cheapest to show.
const SampleKind PREVIEW_KIND = SAMPLE_RGB32;
// The type a connection without a chosen type starts with (and GetFormat
// reports): the one programs that grab frames without choosing one expect,
// which every renderer takes too.
const SampleKind DEFAULT_KIND = SAMPLE_RGB24;

struct StreamType {
    SampleKind kind;
    uint32_t width;  // of the picture in the sample
    uint32_t height;
    VideoFormat entry;  // the table entry: the size the service is asked for, the highest rate
};

// Every table entry times every kind, plus one per size for the preview.
const uint32_t STREAM_TYPE_MAX = FORMAT_MAX_ENTRIES * SAMPLE_KIND_COUNT;

// The lowest rate offered for an entry (or the entry's own, when lower).
const float MIN_STREAM_FPS = 5.0f;

// The picture size of kind for an entry of the given size; false when
// nothing is left of it.
bool SamplePictureSize(SampleKind kind, uint32_t entryWidth, uint32_t entryHeight, uint32_t& width,
                       uint32_t& height);
// Bytes of a whole sample (for MJPG the largest frame the block carries).
uint32_t SampleImageSize(SampleKind kind, uint32_t width, uint32_t height);
uint32_t SampleBitCount(SampleKind kind);
// What the converter makes of a type's samples: RGB rows bottom-up, as
// DirectShow's RGB types are laid out.
PictureTarget StreamPicture(const StreamType& type);

// Every type of the formats, entry by entry in table order, each entry's
// kinds in SampleKind order; an entry that repeats an earlier one's size
// and rate adds nothing. Returns the count.
uint32_t BuildStreamTypes(const VideoFormat* formats, uint32_t count,
                          StreamType (&out)[STREAM_TYPE_MAX]);

// The preview kind's types, one per picture size in the order the sizes
// first appear, each the fastest entry of that size. Returns the count.
uint32_t PreviewTypes(const StreamType* types, uint32_t count, StreamType (&out)[STREAM_TYPE_MAX]);

// The type of that kind and picture size whose rates hold frameDuration
// (100-ns units; 0: any): of the entries that can run that fast, the slowest.
// -1 when none.
int FindStreamType(const StreamType* types, uint32_t count, SampleKind kind, uint32_t width,
                   uint32_t height, int64_t frameDuration);

// The shortest and longest frame duration a type offers (100-ns units).
int64_t MinFrameDuration(const StreamType& type);
int64_t MaxFrameDuration(const StreamType& type);

// Bits per second of a type at a frame duration, clamped to what the 32-bit
// fields of a media type hold.
uint32_t StreamBitRate(const StreamType& type, int64_t frameDuration);

// Lowers the rate of a stream by leaving frames out: a frame is taken when
// at least one frame duration (less half of one, for jitter) has passed
// since the last one taken was due. With the entry's own rate, every frame
// is taken.
// Times are the wrapping millisecond tick.
struct RatePacing {
    uint64_t intervalUs;  // 0: every frame
    uint64_t elapsedUs;   // since the first frame taken
    uint64_t dueUs;       // when the next frame is due, on the same scale
    uint32_t lastMs;
    bool started;
};
void RatePacingStart(RatePacing& pacing, const StreamType& type, int64_t frameDuration);
bool RatePacingTake(RatePacing& pacing, uint32_t nowMs);
