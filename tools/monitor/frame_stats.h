#pragma once
// Counting what a consumer receives: frame numbers carried in the test
// pattern's comment segment, gaps in them, and latency percentiles.

#include <stdint.h>

#include <vector>

// The phone stand-in puts FF D8 FF FE 00 0A 'O' 'V' 'X' 'F' <u32 LE counter>
// at the start of each JPEG. Returns false when the frame has no such marker.
bool ReadFrameCounter(const uint8_t* data, uint32_t size, uint32_t& counter);

class CFrameStats {
public:
    CFrameStats();
    // One taken frame; hasCounter tells whether counter is meaningful.
    void Add(bool hasCounter, uint32_t counter, int32_t latencyMs);
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
