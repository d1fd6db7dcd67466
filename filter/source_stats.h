#pragma once
// Counters of the capture source, readable through IOvalixSourceStats by
// tools and tests in the host process (ovalix-snap prints them).

#include <windows.h>
#include <unknwn.h>

#include <stdint.h>

const uint32_t STATS_BUCKETS = 1000;   // the last bucket holds everything above

struct SourceStats {
    uint64_t liveFrames;          // phone frames delivered downstream
    uint64_t placeholderFrames;   // placeholder pictures delivered
    uint64_t skippedFrames;       // frames that could not be decoded
    uint64_t otherSizeFrames;     // whole frames of a size other than the stream's, left out
    uint32_t firstStamp;          // phone stamps of the first and last live frame
    uint32_t lastStamp;
    // Milliseconds from the phone's send stamp to delivery (1 ms buckets).
    uint32_t latencyMs[STATS_BUCKETS];
    // Decoding or copying into the sample (0.1 ms buckets).
    uint32_t decodeTenthMs[STATS_BUCKETS];
};

// {7A6C2D1E-3B4F-4C8D-9E0A-1B2C3D4E5F60}
const IID IID_IOvalixSourceStats = {
    0x7a6c2d1e, 0x3b4f, 0x4c8d, {0x9e, 0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f, 0x60}};

struct IOvalixSourceStats : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetStats(SourceStats* out) = 0;
};
// For ComPtr::As.
__CRT_UUID_DECL(IOvalixSourceStats, 0x7a6c2d1e, 0x3b4f, 0x4c8d, 0x9e, 0x0a, 0x1b, 0x2c, 0x3d, 0x4e,
                0x5f, 0x60)

// Bucket index below which the given share (0..1) of the counts lies, or -1
// when there are none.
inline int StatsPercentile(const uint32_t (&buckets)[STATS_BUCKETS], double share)
{
    uint64_t total = 0;
    for (uint32_t i = 0; i < STATS_BUCKETS; ++i)
        total += buckets[i];
    if (total == 0)
        return -1;
    uint64_t want = (uint64_t)(share * (double)total);
    if (want >= total)
        want = total - 1;
    uint64_t seen = 0;
    for (uint32_t i = 0; i < STATS_BUCKETS; ++i) {
        seen += buckets[i];
        if (seen > want)
            return (int)i;
    }
    return (int)STATS_BUCKETS - 1;
}
