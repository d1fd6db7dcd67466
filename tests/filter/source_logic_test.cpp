// The capture source's plain logic: the stream types made of the offered
// formats, and their rates.
#include <gtest/gtest.h>

#include "video_formats.h"
#include "stream_types.h"

namespace {

TEST(SourceFormats, PictureNumbers)
{
    EXPECT_EQ(FrameDuration(30.0f), 333333);
    EXPECT_EQ(FrameDuration(15.0f), 666667);
    EXPECT_EQ(FrameDuration(10.0f), 1000000);
    EXPECT_EQ(FrameDuration(0.0f), 333333);  // unusable rates count as 30
    EXPECT_EQ(FrameDuration(__builtin_nanf("")), 333333);
}

uint32_t Count(const StreamType* t, uint32_t n, SampleKind kind)
{
    uint32_t c = 0;
    for (uint32_t i = 0; i < n; ++i)
        c += t[i].kind == kind;
    return c;
}

TEST(StreamTypes, EveryKindPerEntryWholeWordRowsAndOneSizeOnceForPreview)
{
    const VideoFormat f[] = {
        {1280, 720, 30},
        {854,  480, 30},
        {640,  480, 15},
        {640,  480, 30},
        {640,  480, 30},
        {175,  143, 10}
    };
    StreamType t[STREAM_TYPE_MAX];
    // The repeated 640 x 480 at 30 adds nothing; two rates of a size are two entries.
    uint32_t n = BuildStreamTypes(f, 6, t);
    ASSERT_EQ(n, 25u);
    for (int k = 0; k < SAMPLE_KIND_COUNT; ++k)
        EXPECT_EQ(Count(t, n, (SampleKind)k), 5u);
    // Entry by entry, kinds in order.
    EXPECT_EQ(t[0].kind, SAMPLE_I420);
    EXPECT_EQ(t[4].kind, SAMPLE_MJPG);
    EXPECT_EQ(t[5].entry.width, 854u);
    for (uint32_t i = 0; i < n; ++i) {
        if (t[i].kind == SAMPLE_MJPG) {
            // The phone's own size, and room for the largest frame.
            EXPECT_EQ(t[i].width, t[i].entry.width);
            EXPECT_EQ(SampleImageSize(SAMPLE_MJPG, t[i].width, t[i].height), FRAME_DATA_SIZE);
            continue;
        }
        // Rows fill whole words and chroma planes exact halves.
        EXPECT_EQ(t[i].width % 4, 0u) << i;
        EXPECT_EQ(t[i].height % 2, 0u) << i;
        EXPECT_LE(t[i].entry.width - t[i].width, 3u);
    }
    EXPECT_EQ(t[5].width, 852u);
    EXPECT_EQ(t[20].width, 172u);
    EXPECT_EQ(t[20].height, 142u);
    EXPECT_EQ(SampleImageSize(SAMPLE_I420, 852, 480), 852u * 480 * 3 / 2);
    EXPECT_EQ(SampleImageSize(SAMPLE_YUY2, 852, 480), 852u * 480 * 2);
    EXPECT_EQ(SampleImageSize(SAMPLE_RGB24, 852, 480), 852u * 480 * 3);
    EXPECT_EQ(SampleImageSize(SAMPLE_RGB32, 852, 480), 852u * 480 * 4);

    StreamType p[STREAM_TYPE_MAX];
    ASSERT_EQ(PreviewTypes(t, n, p), 4u);
    const uint32_t sizes[][2] = {
        {1280, 720},
        {852,  480},
        {640,  480},
        {172,  142}
    };
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(p[i].kind, PREVIEW_KIND);
        EXPECT_EQ(p[i].width, sizes[i][0]);
        EXPECT_EQ(p[i].height, sizes[i][1]);
    }
    EXPECT_EQ(p[2].entry.fps, 30.0f);  // the faster of the two 640 x 480 entries
}

TEST(StreamTypes, RatesRangeFromTheEntryDownAndPickTheSlowestEntryThatKeepsUp)
{
    const VideoFormat f[] = {
        {640, 480, 15},
        {640, 480, 30},
        {320, 240, 4 }
    };
    StreamType t[STREAM_TYPE_MAX];
    uint32_t n = BuildStreamTypes(f, 3, t);
    auto find = [&](int64_t duration) {
        int i = FindStreamType(t, n, SAMPLE_YUY2, 640, 480, duration);
        return i < 0 ? 0.0f : t[i].entry.fps;
    };
    EXPECT_EQ(find(0), 30.0f);
    EXPECT_EQ(find(333333), 30.0f);
    EXPECT_EQ(find(333332), 30.0f);  // 1e7 / 30 rounded the other way
    EXPECT_EQ(find(400000), 30.0f);  // 25 fps: only the 30 entry keeps up
    EXPECT_EQ(find(417083), 30.0f);  // 23.976
    EXPECT_EQ(find(666667), 15.0f);
    EXPECT_EQ(find(1000000), 15.0f);  // 10 fps
    EXPECT_EQ(find(2000000), 15.0f);  // 5 fps, the lowest offered
    EXPECT_EQ(find(2000001), 0.0f);
    EXPECT_EQ(find(166667), 0.0f);  // 60 fps is more than any entry
    EXPECT_EQ(FindStreamType(t, n, SAMPLE_YUY2, 640, 360, 0), -1);
    EXPECT_EQ(FindStreamType(t, n, SAMPLE_MJPG, 640, 480, 333333) >= 0, true);
    // An entry below the lowest rate offers its own rate only.
    int slow = FindStreamType(t, n, SAMPLE_I420, 320, 240, 0);
    ASSERT_GE(slow, 0);
    EXPECT_EQ(MinFrameDuration(t[slow]), 2500000);
    EXPECT_EQ(MaxFrameDuration(t[slow]), 2500000);
    EXPECT_EQ(MaxFrameDuration(t[0]), 2000000);
}

TEST(StreamTypes, BitRateIsComputedWideAndClamped)
{
    StreamType t;
    t.kind = SAMPLE_RGB24;
    t.entry = {1920, 1080, 60};
    t.width = 1920;
    t.height = 1080;
    // 1920 * 1080 * 24 * 60 = 2,985,984,000 bits a second: more than 31 bits.
    EXPECT_EQ(StreamBitRate(t, FrameDuration(60)), 0x7FFFFFFFu);
    EXPECT_EQ(StreamBitRate(t, FrameDuration(30)), 1492993492u);  // at 333,333 x 100 ns
    t.kind = SAMPLE_I420;
    t.entry = {640, 480, 30};
    t.width = 640;
    t.height = 480;
    EXPECT_EQ(StreamBitRate(t, 333333), 110592110u);
}

TEST(StreamTypes, LowerRatesDropFramesEvenlyAndTheEntryRateDropsNone)
{
    StreamType t;
    t.kind = SAMPLE_I420;
    t.entry = {640, 480, 30};
    struct Case {
        int64_t duration;
        int taken;  // of 90 frames, 3 s at 30 fps with jitter
    };
    const Case cases[] = {
        {333333,  90},
        {333334,  90},
        {400000,  75},
        {666667,  45},
        {2000000, 15}
    };
    for (const Case& c : cases) {
        RatePacing pacing;
        RatePacingStart(pacing, t, c.duration);
        int taken = 0;
        uint32_t now = 0xFFFFF000u;  // across the tick's wrap
        for (int i = 0; i < 90; ++i) {
            now += i % 3 == 0 ? 33 : i % 3 == 1 ? 34 : 33;
            now += (i % 7 == 0) ? 5 : 0;  // a late frame now and then
            now -= (i % 7 == 1) ? 5 : 0;
            taken += RatePacingTake(pacing, now);
        }
        EXPECT_NEAR(taken, c.taken, 1) << c.duration;
    }
    // After a gap the next frame is taken at once.
    RatePacing pacing;
    RatePacingStart(pacing, t, 666667);
    EXPECT_TRUE(RatePacingTake(pacing, 1000));
    EXPECT_FALSE(RatePacingTake(pacing, 1033));
    EXPECT_TRUE(RatePacingTake(pacing, 3000));
    EXPECT_FALSE(RatePacingTake(pacing, 3033));
    EXPECT_TRUE(RatePacingTake(pacing, 3067));
}

}  // namespace
