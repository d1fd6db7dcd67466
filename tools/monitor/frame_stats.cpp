#include "frame_stats.h"

#include <string.h>

#include <algorithm>
#include <cmath>

bool ReadFrameCounter(const uint8_t* data, uint32_t size, uint32_t& counter)
{
    static const uint8_t marker[10] = { 0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x0A, 'O', 'V', 'X', 'F' };
    if (size < sizeof(marker) + 4 || memcmp(data, marker, sizeof(marker)) != 0)
        return false;
    const uint8_t* p = data + sizeof(marker);
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
