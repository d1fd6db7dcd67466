// The monitor's frame numbering, gap counting and latency percentiles.

#include <gtest/gtest.h>

#include <string.h>

#include "frame_stats.h"

namespace {

TEST(FrameStatsTest, CounterIsWrittenAndReadOnlyInTheMarkedCommentSegment)
{
    uint8_t jpeg[32] = { 0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x0A, 'O', 'V', 'X', 'F',
                         0x78, 0x56, 0x34, 0x12, 0xFF, 0xDB };
    uint8_t written[FRAME_COUNTER_PREFIX];
    WriteFrameCounter(written, 0x12345678u);
    EXPECT_EQ(0, memcmp(written, jpeg, sizeof written));   // what the phone stand-in sends
    uint32_t counter = 0;
    ASSERT_TRUE(ReadFrameCounter(jpeg, sizeof(jpeg), counter));
    EXPECT_EQ(counter, 0x12345678u);
    EXPECT_FALSE(ReadFrameCounter(jpeg, 13, counter));   // cut inside the counter
    jpeg[9] = 'G';
    EXPECT_FALSE(ReadFrameCounter(jpeg, sizeof(jpeg), counter));
}

TEST(FrameStatsTest, GapsCountAsDropsAndARestartIsNotAGap)
{
    CFrameStats stats;
    stats.Add(true, 10, 5);
    stats.Add(true, 11, 5);
    stats.Add(true, 14, 5);   // 12 and 13 never seen
    stats.Add(false, 0, 5);   // unnumbered frames count but say nothing of gaps
    stats.Add(true, 1, 5);    // the phone started again
    stats.Add(true, 3, 5);
    EXPECT_EQ(stats.Frames(), 6u);
    EXPECT_EQ(stats.Drops(), 3u);
}

TEST(FrameStatsTest, NearestRankPercentiles)
{
    CFrameStats stats;
    EXPECT_EQ(stats.LatencyPercentile(50), -1);
    for (int i = 100; i >= 1; --i)
        stats.Add(false, 0, i);
    EXPECT_EQ(stats.LatencyPercentile(50), 50);
    EXPECT_EQ(stats.LatencyPercentile(99), 99);
    EXPECT_EQ(stats.LatencyPercentile(100), 100);
    EXPECT_EQ(stats.LastLatency(), 1);
}

}  // namespace
