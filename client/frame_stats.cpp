#include "frame_stats.h"

#include <string.h>

#include <algorithm>
#include <cmath>

namespace {

const uint8_t COUNTER_MARKER[FRAME_COUNTER_PREFIX - 4] = {0xFF, 0xD8, 0xFF, 0xFE, 0x00,
                                                        0x0A, 'O',  'V',  'X',  'F'};

}  // namespace

void WriteFrameCounter(uint8_t* out, uint32_t counter)
{
    memcpy(out, COUNTER_MARKER, sizeof COUNTER_MARKER);
    uint8_t* p = out + sizeof COUNTER_MARKER;
    p[0] = (uint8_t)counter;
    p[1] = (uint8_t)(counter >> 8);
    p[2] = (uint8_t)(counter >> 16);
    p[3] = (uint8_t)(counter >> 24);
}

bool ReadFrameCounter(const uint8_t* data, uint32_t size, uint32_t& counter)
{
    if (size < FRAME_COUNTER_PREFIX || memcmp(data, COUNTER_MARKER, sizeof COUNTER_MARKER) != 0)
        return false;
    const uint8_t* p = data + sizeof COUNTER_MARKER;
    counter = (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) |
              ((uint32_t)p[3] << 24);
    return true;
}

CFrameStats::CFrameStats()
    : frames(0), drops(0), haveCounter(false), lastCounter(0), lastLatency(0)
{
    latencies.reserve(1 << 16);
}

void CFrameStats::Add(bool hasCounter, uint32_t counter, int32_t latencyMs)
{
    ++frames;
    lastLatency = latencyMs;
    latencies.push_back(latencyMs);
    if (!hasCounter)
        return;
    // A counter that goes backwards means the phone started again: count from
    // there instead of reporting a huge gap.
    if (haveCounter && counter > lastCounter)
        drops += counter - lastCounter - 1;
    haveCounter = true;
    lastCounter = counter;
}

int32_t CFrameStats::LatencyPercentile(double p) const
{
    if (latencies.empty())
        return -1;
    std::vector<int32_t> sorted(latencies);
    std::sort(sorted.begin(), sorted.end());
    double rank = std::ceil(p / 100.0 * (double)sorted.size());
    size_t index = rank < 1.0 ? 0 : (size_t)rank - 1;
    if (index >= sorted.size())
        index = sorted.size() - 1;
    return sorted[index];
}
