#pragma once
// Counting what a consumer receives: frame numbers carried in the test
// pattern's comment segment, gaps in them, and latency percentiles.

#include <stdint.h>

#include <vector>

// The phone stand-in numbers its frames in a comment segment right after the
// JPEG's start marker: FF D8, then FF FE 00 0A 'O' 'V' 'X' 'F' <u32 LE counter>.
const uint32_t FRAME_COUNTER_PREFIX = 14;

// Writes the start marker and the numbered comment segment into
// out[0..FRAME_COUNTER_PREFIX).
void WriteFrameCounter(uint8_t* out, uint32_t counter);

// Returns false when the frame does not start with that segment.
bool ReadFrameCounter(const uint8_t* data, uint32_t size, uint32_t& counter);

class CFrameStats {
public:
    CFrameStats();
    // One taken frame; hasCounter tells whether counter is meaningful.
    void Add(bool hasCounter, uint32_t counter, int32_t latencyMs);
    // The frames skipped before the next one are no loss (a consumer that
    // took none for a while).
    void NewRun() { haveCounter = false; }
    uint64_t Frames() const { return frames; }
    uint64_t Drops() const { return drops; }
    int32_t LastLatency() const { return lastLatency; }
    // Nearest-rank percentile (0 < p <= 100) of the latencies seen; -1 if none.
    int32_t LatencyPercentile(double p) const;

private:
    uint64_t frames;
    uint64_t drops;
    bool haveCounter;
    uint32_t lastCounter;
    int32_t lastLatency;
    std::vector<int32_t> latencies;
};
