// The feed every consumer runs, against the service's real writer side:
// live frames, placeholders and their pacing, damaged frames, the size it
// asks for across restarts of the service, a wake-up from another thread,
// and two feeds on one block.

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "camera_feed.h"
#include "jpeg_check.h"
#include "block_writer.h"
#include "stored_table_access.h"
#include "ticks.h"

namespace {

// The smallest JPEG the whole-JPEG check accepts: start marker, a comment
// that carries the stamp, a baseline frame header, the end marker.
std::vector<uint8_t> Jpeg(uint32_t stamp, uint32_t width, uint32_t height)
{
    std::vector<uint8_t> j = {0xFF,
                              0xD8,
                              0xFF,
                              0xFE,
                              0x00,
                              0x06,
                              0,
                              0,
                              0,
                              0,
                              0xFF,
                              0xC0,
                              0x00,
                              0x0B,
                              0x08,
                              (uint8_t)(height >> 8),
                              (uint8_t)height,
                              (uint8_t)(width >> 8),
                              (uint8_t)width,
                              0x01,
                              0x01,
                              0x11,
                              0x00,
                              0x12,
                              0x34,
                              0xFF,
                              0xD9};
    memcpy(&j[6], &stamp, 4);
    return j;
}

class CameraFeedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseTemporaryStore();
        RemoveStoredKey();
        ASSERT_TRUE(OpenSharedBlock());
        frame.reset(new CameraFrame);
    }
    void TearDown() override
    {
        CloseServiceResources();
        RemoveStoredKey();
    }
    // Published with the current tick as its stamp, so latency is small.
    static void Publish(uint32_t width = 640, uint32_t height = 480)
    {
        std::vector<uint8_t> j = Jpeg(GetTickMs(), width, height);
        PublishFrame(j.data(), (uint32_t)j.size(), 0, GetTickMs());
    }
    static void Stream() { SetLinkState(LINK_STREAMING); }
    // A phone's table with two sizes.
    static void OfferSizes()
    {
        g_formats.count = 2;
        g_formats.entries[0] = {PackEntry(640, 480, 0), 30.0f};
        g_formats.entries[1] = {PackEntry(320, 240, 0), 30.0f};
        PublishFormats();
    }
    // The size the service takes from the block, as it reads it per step.
    static uint32_t RequestedWidth()
    {
        uint32_t w = 0, h = 0;
        ReadRequestedSize(w, h);
        return w;
    }
    static uint32_t RequestedHeight()
    {
        uint32_t w = 0, h = 0;
        ReadRequestedSize(w, h);
        return h;
    }

    std::unique_ptr<CameraFrame> frame;
    FeedItem item;
};

TEST_F(CameraFeedTest, LiveFramesDamagedFramesAndPlaceholdersAreHandedOutAndCounted)
{
    CCameraFeed feed;
    feed.SetPacing(300, 50);
    feed.Start();
    // No link: the placeholder at once, then every period. The period runs
    // from the moment the first one was handed out, which a busy machine may
    // put well before the test's next look at the clock: so the clock is read
    // before the first.
    uint32_t start = GetTickMs();
    ASSERT_EQ(feed.Next(1000, *frame, item), FEED_PLACEHOLDER);
    EXPECT_EQ(item.placeholder, PLACEHOLDER_NO_PHONE);
    feed.Shown();
    ASSERT_EQ(feed.Next(1000, *frame, item), FEED_PLACEHOLDER);
    feed.Shown();
    EXPECT_GE(GetTickMs() - start, 40u) << "placeholder period not kept";

    OfferSizes();
    Stream();
    Publish(320, 240);
    ASSERT_EQ(feed.Next(1000, *frame, item), FEED_LIVE);
    EXPECT_EQ(item.width, 320u);
    EXPECT_EQ(item.height, 240u);
    uint32_t shownAt = GetTickMs();  // read before the stall starts, as above
    feed.Shown();
    // A frame cut short and one without a picture size never reach the
    // consumer; the one after them does.
    std::vector<uint8_t> cut = Jpeg(1, 320, 240);
    PublishFrame(cut.data(), (uint32_t)cut.size() - 2, 0, 1);
    ASSERT_EQ(feed.Next(30, *frame, item), FEED_NOTHING);
    std::vector<uint8_t> zero = Jpeg(2, 0, 240);
    PublishFrame(zero.data(), (uint32_t)zero.size(), 0, 2);
    ASSERT_EQ(feed.Next(30, *frame, item), FEED_NOTHING);
    // Nor does a whole one whose header claims a size in no table.
    std::vector<uint8_t> forged = Jpeg(3, 4095, 4095);
    PublishFrame(forged.data(), (uint32_t)forged.size(), 0, 3);
    ASSERT_EQ(feed.Next(30, *frame, item), FEED_NOTHING);
    Publish();
    ASSERT_EQ(feed.Next(1000, *frame, item), FEED_LIVE);
    feed.Dropped();
    // The stall: no live frame shown for the stall time gives "no picture".
    ASSERT_EQ(feed.Next(2000, *frame, item), FEED_PLACEHOLDER);
    EXPECT_EQ(item.placeholder, PLACEHOLDER_NO_PICTURE);
    EXPECT_GE(GetTickMs() - shownAt, 290u) << "placeholder before the stall time";
    feed.Shown();

    FeedCounts c;
    feed.ReadCounts(c);
    EXPECT_EQ(c.live, 1u);
    EXPECT_EQ(c.placeholders, 3u);
    EXPECT_EQ(c.dropped, 1u);
    EXPECT_EQ(c.damaged, 3u);
    // The one frame shown, stamped just before it was published.
    static uint32_t latency[FEED_LATENCY_BUCKETS];
    feed.ReadLatency(latency);
    uint32_t counted = 0, below = 0;
    for (uint32_t i = 0; i < FEED_LATENCY_BUCKETS; ++i) {
        counted += latency[i];
        below += i < 500 ? latency[i] : 0;
    }
    EXPECT_EQ(counted, 1u);
    EXPECT_EQ(below, 1u);
}

TEST_F(CameraFeedTest, AsksForItsSizeAfterEveryRestartButNeverFightsAnotherConsumer)
{
    CCameraFeed feed;
    feed.SetWantedSize(320, 240);
    feed.Start();
    Stream();
    feed.Next(100, *frame, item);
    EXPECT_EQ(RequestedWidth(), 320u);
    EXPECT_EQ(RequestedHeight(), 240u);

    // Another consumer asks for another size: left alone.
    CCameraClient other;
    ASSERT_TRUE(other.Attach());
    other.RequestSize(1024, 768);
    for (uint32_t start = GetTickMs(); GetTickMs() - start < 4 * ASK_CHECK_MS;)
        feed.Next(20, *frame, item);
    EXPECT_EQ(RequestedWidth(), 1024u);

    // A restart of the service. It stores its table at stop and loads it at
    // start, so the new run asks for the table's last entry (640 x 480). On
    // Windows the feed holds the mapping across it, and the new run zeroes
    // that very mapping; on POSIX the names lead to new objects.
    CloseServiceResources();
    ASSERT_TRUE(OpenSharedBlock());
    ASSERT_EQ(RequestedWidth(), 640u);
    uint32_t start = GetTickMs();
    while (GetTickMs() - start < 3000 && RequestedWidth() != 320)
        feed.Next(20, *frame, item);
    uint32_t asked = GetTickMs() - start;
    printf("size asked again %u ms after the restart\n", asked);
    EXPECT_EQ(RequestedWidth(), 320u);
    EXPECT_EQ(RequestedHeight(), 240u);
    // POSIX readers look for new objects once a second.
    EXPECT_LT(asked, 1500u);

    // The same new run in place, as a held mapping sees it on every
    // platform: zeroed, then nobody asks (no stored table). Every copy of
    // the block is zeroed, the one this process's readers hold included.
    other.Detach();
    ASSERT_TRUE(other.Attach());
    memset(g_block, 0, sizeof *g_block);
    memset(const_cast<SharedCameraBlock*>(other.Block()), 0, sizeof *g_block);
    SetDefaultFormats();
    start = GetTickMs();
    while (GetTickMs() - start < 3000 && RequestedWidth() != 320)
        feed.Next(20, *frame, item);
    EXPECT_EQ(RequestedWidth(), 320u);
    EXPECT_LT(GetTickMs() - start, 1000u);
}

// The rule for asking, one look at a time. Every row wants 320 x 240 and
// looks at t = 10 s; the state before it saw the requested size it gives
// unchanged since t = 0, a live frame at t = 9 s and a link that was down.
TEST(SizeAsk, WhenAFeedWritesItsSize)
{
    const uint32_t NOW = 10000;
    struct Row {
        const char* what;
        uint32_t reqW, reqH;  // the block's requested size
        bool force, preferredOnly, streaming, ringEmpty, requestedIsStartUp, wantedIsStartUp;
        bool changed;     // the requested size is new at this look
        bool starving;    // no live frame since t = 0
        bool byConsumer;  // the size seen was asked for by a consumer
        bool ask;
    };
    const Row rows[] = {
        {"already asked for",                                 320,  240, true,  false, true,  false, false, false, false, true,  false,
         false                                                                                                                               },
        {"chosen: written at once",                           1024, 768, true,  false, true,  false, false, false, false, false,
         true,                                                                                                                          true },
        {"another consumer's size is left alone",             1024, 768, false, false, true,  false, false,
         false,                                                                                                    false, false, true,  false},
        {"nobody asks: a new run in place",                   0,    0,   false, false, false, true,  false, false, false,
         false,                                                                                                                  false, true },
        {"nobody asks and the service sends it anyway",       0,    0,   false, false, false, true,  false,
         true,                                                                                                     false, false, false, false},
        {"a default is not written even at the start",        0,    0,   true,  true,  false, true,  false, true,
         false,                                                                                                           false, false, false},
        {"a chosen size is written even so",                  0,    0,   true,  false, false, true,  false, true,  false,
         false,                                                                                                                  false, true },
        {"a starting service's size",                         640,  480, false, false, false, true,  true,  false, false,
         false,                                                                                                                  false, true },
        {"changed while streaming with frames: a consumer's", 640,  480, false, false, true,  false,
         true,                                                                                              false, true,  false, false, false},
        {"starved while it streams",                          1024, 768, false, false, true,  false, false, false, false,
         true,                                                                                                                   true,  true },
        {"starved, but the size is new",                      1024, 768, false, false, true,  false, false, false, true,
         true,                                                                                                                   false, false},
        {"starved, but no link",                              1024, 768, false, false, false, false, false, false, false, true,
         true,                                                                                                                          false},
    };
    for (const Row& r : rows) {
        SizeAskState state;
        SizeAskStart(state, 0);
        state.seenRequest = r.changed ? 0xFFFFFFFFu : (r.reqW | r.reqH << 16);
        state.seenRequestByConsumer = r.byConsumer;
        state.streamedAtLastLook = false;
        state.lastLiveShownMs = r.starving ? 0 : NOW - 1000;
        SizeLook look = {NOW,
                         r.force,
                         r.preferredOnly,
                         320,
                         240,
                         r.reqW,
                         r.reqH,
                         r.streaming,
                         r.ringEmpty,
                         r.requestedIsStartUp,
                         r.wantedIsStartUp};
        EXPECT_EQ(DecideSizeAsk(state, look), r.ask) << r.what;
        if (r.starving && r.ask) {
            EXPECT_EQ(state.lastLiveShownMs, NOW) << "asking starts the wait again";
        }
    }
    // A link that was up at the last look counts as up: a size that changed
    // while it dropped for that very change was still a consumer's.
    SizeAskState state;
    SizeAskStart(state, 0);
    state.seenRequest = 0;
    state.seenRequestByConsumer = false;
    state.streamedAtLastLook = true;
    SizeLook look = {NOW, false, false, 320, 240, 640, 480, false, false, true, false};
    EXPECT_FALSE(DecideSizeAsk(state, look));
    EXPECT_TRUE(state.seenRequestByConsumer);
}

TEST_F(CameraFeedTest, AttachesWhenTheServiceComesAndFollowsItAcrossARestart)
{
    CloseServiceResources();
    CCameraFeed feed;
    feed.Start();
    ASSERT_EQ(feed.Next(1000, *frame, item), FEED_PLACEHOLDER);
    EXPECT_EQ(item.placeholder, PLACEHOLDER_NO_SERVICE);
    feed.Shown();

    for (int run = 0; run < 2; ++run) {
        if (run == 1)
            CloseServiceResources();
        ASSERT_TRUE(OpenSharedBlock());
        Stream();
        // Published until taken: the feed looks for the service once a second.
        FeedResult got = FEED_NOTHING;
        for (uint32_t start = GetTickMs(); GetTickMs() - start < 4000 && got != FEED_LIVE;) {
            Publish();
            got = feed.Next(50, *frame, item);
            if (got == FEED_PLACEHOLDER)
                feed.Shown();
        }
        ASSERT_EQ(got, FEED_LIVE) << "run " << run;
        feed.Shown();
    }
}

// Next waits on the block's event (attached) or sleeps (no service); Cancel
// from another thread ends either at once, and keeps ending every Next until
// Resume.
TEST_F(CameraFeedTest, CancelEndsAWaitingNextAtOnce)
{
    for (int attached = 1; attached >= 0; --attached) {
        if (!attached)
            CloseServiceResources();
        CCameraFeed feed;
        feed.SetPacing(60000, 60000);
        feed.Start();
        if (attached) {
            Stream();
            Publish();
            ASSERT_EQ(feed.Next(1000, *frame, item), FEED_LIVE);
            feed.Shown();
        } else {
            ASSERT_EQ(feed.Next(1000, *frame, item), FEED_PLACEHOLDER);
            feed.Shown();
        }
        std::atomic<uint32_t> returnedAt(0);
        FeedResult result = FEED_NOTHING;
        std::unique_ptr<CameraFrame> into(new CameraFrame);
        std::thread waiter([&] {
            FeedItem i;
            result = feed.Next(30000, *into, i);
            returnedAt = GetTickMs();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        uint32_t cancelledAt = GetTickMs();
        feed.Cancel();
        waiter.join();
        uint32_t took = returnedAt - cancelledAt;
        printf("%s: Next returned %u ms after Cancel\n", attached ? "attached" : "no service",
               took);
        EXPECT_EQ(result, FEED_CANCELLED);
        EXPECT_LT(took, 500u);
        EXPECT_EQ(feed.Next(1000, *frame, item), FEED_CANCELLED);
        feed.Resume();
        if (attached) {
            Publish();
            EXPECT_EQ(feed.Next(1000, *frame, item), FEED_LIVE);
        }
    }
    ASSERT_TRUE(OpenSharedBlock());
}

// Two consumers that each show only their own size, while the phone streams
// the size asked for last: each asks again when it has starved, and the size
// asked for changes no more often than the rule allows.
TEST_F(CameraFeedTest, StarvedFeedsAskAgainButTakeTurnsNoFasterThanTheRule)
{
    OfferSizes();
    Stream();
    CCameraFeed a, b;
    CCameraFeed* feeds[2] = {&a, &b};
    const uint32_t widths[2] = {640, 320};
    a.SetWantedSize(640, 480);
    b.SetWantedSize(320, 240);
    a.Start();
    b.Start();
    uint32_t shown[2] = {0, 0};
    auto step = [&](uint32_t width) {
        Publish(width, width * 3 / 4);
        for (int i = 0; i < 2; ++i) {
            FeedResult got = feeds[i]->Next(10, *frame, item);
            if (got == FEED_LIVE && item.width != widths[i]) {
                feeds[i]->Dropped();
            } else {
                shown[i] += got == FEED_LIVE;
                feeds[i]->Shown();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    };
    // Both ask when they start; the one that asked last holds the size.
    for (uint32_t start = GetTickMs(); GetTickMs() - start < 300;)
        step(RequestedWidth());
    uint32_t changes = 0, shortestGap = UINT32_MAX;
    uint32_t start = GetTickMs(), lastChange = start, width = RequestedWidth();
    while (GetTickMs() - start < 3 * STARVED_ASK_MS) {
        uint32_t now = GetTickMs();
        if (RequestedWidth() != width) {
            width = RequestedWidth();
            ++changes;
            shortestGap = std::min(shortestGap, now - lastChange);
            lastChange = now;
        }
        step(width);
    }
    printf("requested size changed %u times in %u ms, at least %u ms apart\n", changes,
           3 * STARVED_ASK_MS, shortestGap);
    EXPECT_GE(changes, 2u) << "a starved feed never asked again";
    EXPECT_GE(shortestGap, STARVED_ASK_MS - 2 * ASK_CHECK_MS);
    EXPECT_GT(shown[0], 0u);
    EXPECT_GT(shown[1], 0u);
}

TEST_F(CameraFeedTest, TwoFeedsGetEveryFrameAndABacklogComesOldestFirst)
{
    CCameraFeed one, two(4);
    one.Start();
    two.Start();
    Stream();
    std::unique_ptr<CameraFrame> other(new CameraFrame);
    // Frames told apart by their stamps.
    auto publish = [](uint32_t n) {
        std::vector<uint8_t> j = Jpeg(n, 640, 480);
        PublishFrame(j.data(), (uint32_t)j.size(), 0, n);
    };
    for (uint32_t n = 0; n < 2 * FRAME_SLOT_COUNT; ++n) {
        publish(100 + n);
        ASSERT_EQ(one.Next(1000, *frame, item), FEED_LIVE) << n;
        EXPECT_EQ(frame->stamp, 100 + n);
        ASSERT_EQ(two.Next(1000, *other, item), FEED_LIVE) << n;
        EXPECT_EQ(other->stamp, 100 + n);
    }
    // Three frames at once: the feed with a backlog hands out all three in
    // order, the other only the newest.
    for (uint32_t n = 0; n < 3; ++n)
        publish(200 + n);
    for (uint32_t n = 0; n < 3; ++n) {
        ASSERT_EQ(two.Next(1000, *other, item), FEED_LIVE) << n;
        EXPECT_EQ(other->stamp, 200 + n);
    }
    ASSERT_EQ(one.Next(1000, *frame, item), FEED_LIVE);
    EXPECT_EQ(frame->stamp, 202u);
    EXPECT_EQ(one.Next(30, *frame, item), FEED_NOTHING);
}

TEST(JpegCheck, WholeJpegsGiveTheirSizeAndEverythingElseIsRefused)
{
    std::vector<uint8_t> whole = Jpeg(7, 1280, 720);
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(ReadWholeJpeg(whole.data(), (uint32_t)whole.size(), w, h));
    EXPECT_EQ(w, 1280u);
    EXPECT_EQ(h, 720u);
    // Cut short, not a JPEG, the scan before any frame header, a segment
    // length running off the end.
    EXPECT_FALSE(ReadWholeJpeg(whole.data(), (uint32_t)whole.size() - 1, w, h));
    EXPECT_FALSE(ReadWholeJpeg(whole.data(), 3, w, h));
    const uint8_t png[] = {0x89, 'P', 'N', 'G', 0xFF, 0xD9};
    EXPECT_FALSE(ReadWholeJpeg(png, sizeof png, w, h));
    const uint8_t scanFirst[] = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0x33, 0xFF, 0xD9};
    EXPECT_FALSE(ReadWholeJpeg(scanFirst, sizeof scanFirst, w, h));
    std::vector<uint8_t> runaway = whole;
    runaway[4] = 0xFF;
    EXPECT_FALSE(ReadWholeJpeg(runaway.data(), (uint32_t)runaway.size(), w, h));

    // A trailer after the end marker is tolerated up to its limit; an end
    // marker far from the end (a thumbnail's) does not make a cut frame whole.
    std::vector<uint8_t> trailer = whole;
    trailer.resize(whole.size() + JPEG_TRAILER_MAX, 0x5A);
    EXPECT_TRUE(ReadWholeJpeg(trailer.data(), (uint32_t)trailer.size(), w, h));
    trailer.push_back(0x5A);
    EXPECT_FALSE(ReadWholeJpeg(trailer.data(), (uint32_t)trailer.size(), w, h));
}

}  // namespace
