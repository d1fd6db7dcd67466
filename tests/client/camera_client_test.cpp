// The consumer library against the service's real writer side: attaching and
// reattaching, taking newest first, several readers at once, the block words
// and the formats.

#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <thread>

#include "camera_client_fixture.h"
#include "ticks.h"
#include "video_formats.h"

namespace {

TEST_F(CameraClientTest, TakesTheNewestFrameFreesOlderOnesAndNeverTakesOneTwice)
{
    Publish(1);
    Publish(2);
    Publish(3);
    ASSERT_EQ(client.WaitNewest(WAIT_MS, *frame), CLIENT_FRAME);
    EXPECT_EQ(frame->stamp, 3u);
    EXPECT_EQ(frame->size, 1003u);
    EXPECT_EQ(frame->data[0], 3);
    EXPECT_EQ(memcmp(frame->data + 1, bytes + 1, frame->size - 1), 0);
    // The newest stays for other readers; the two older ones are freed.
    EXPECT_EQ(OccupiedSlots(), 1u);
    EXPECT_EQ(Seen()->slots[Seen()->currentSlot].size, 1003u);

    EXPECT_EQ(client.WaitNewest(50, *frame), CLIENT_TIMEOUT);

    Publish(4);
    ASSERT_EQ(client.WaitNewest(WAIT_MS, *frame), CLIENT_FRAME);
    EXPECT_EQ(frame->stamp, 4u);
    EXPECT_EQ(OccupiedSlots(), 1u);
}

TEST_F(CameraClientTest, AReaderStartingAfterAnIdleTimeSkipsAJammedRing)
{
    // A turn of the ring with nobody reading: the service drops from here
    // on, so the newest slot holds frame 20 while the phone is at 25.
    for (uint32_t s = 1; s <= FRAME_SLOT_COUNT + 5; ++s)
        Publish(s);
    EXPECT_EQ(Seen()->slots[Seen()->currentSlot].stamp, FRAME_SLOT_COUNT);
    EXPECT_TRUE(client.SkipJammedRing());
    EXPECT_EQ(OccupiedSlots(), 0u);
    EXPECT_EQ(client.WaitNewest(50, *frame), CLIENT_TIMEOUT);
    Publish(26);
    ASSERT_EQ(client.WaitNewest(WAIT_MS, *frame), CLIENT_FRAME);
    EXPECT_EQ(frame->stamp, 26u);

    // A ring with room: its newest frame is the phone's newest, and stays.
    Publish(27);
    EXPECT_FALSE(client.SkipJammedRing());
    ASSERT_EQ(client.WaitNewest(WAIT_MS, *frame), CLIENT_FRAME);
    EXPECT_EQ(frame->stamp, 27u);
}

TEST_F(CameraClientTest, EveryFrameModeTakesTheRingOldestFirst)
{
    for (uint32_t s = 1; s <= 5; ++s)
        Publish(s);
    CameraFrame* frames = new CameraFrame[FRAME_SLOT_COUNT];
    uint32_t taken = 0;
    ASSERT_EQ(client.WaitAll(WAIT_MS, frames, FRAME_SLOT_COUNT, taken), CLIENT_FRAME);
    ASSERT_EQ(taken, 5u);
    for (uint32_t n = 0; n < taken; ++n)
        EXPECT_EQ(frames[n].stamp, n + 1);
    EXPECT_EQ(client.WaitAll(50, frames, FRAME_SLOT_COUNT, taken), CLIENT_TIMEOUT);
    EXPECT_EQ(taken, 0u);
    delete[] frames;
}

TEST_F(CameraClientTest, TwoReadersBothGetEveryFrameAndTheRingNeverJams)
{
    CCameraClient second;
    ASSERT_TRUE(second.Attach());
    std::unique_ptr<CameraFrame> other(new CameraFrame);
    // Three times round the ring; the second reader sometimes looks only
    // after the first has taken the frame and reset the event.
    for (uint32_t s = 1; s <= 3 * FRAME_SLOT_COUNT; ++s) {
        Publish(s);
        ASSERT_EQ(client.WaitNewest(WAIT_MS, *frame), CLIENT_FRAME) << s;
        ASSERT_EQ(frame->stamp, s);
        ASSERT_EQ(second.WaitNewest(WAIT_MS, *other), CLIENT_FRAME) << s;
        ASSERT_EQ(other->stamp, s);
        EXPECT_EQ(Seen()->slots[Seen()->currentSlot].stamp, s) << "frame dropped";
    }
}

TEST_F(CameraClientTest, AWaitingReaderWakesForAFramePublishedLater)
{
    std::atomic<int> result{-1};
    std::thread reader([&] { result = client.WaitNewest(2000, *frame); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Publish(7);
    reader.join();
    EXPECT_EQ(result, CLIENT_FRAME);
    EXPECT_EQ(frame->stamp, 7u);
}

TEST_F(CameraClientTest, HostileRingFieldsAreNeitherFollowedNorCopied)
{
    Seen()->currentSlot = 1000;  // read modulo the ring
    Seen()->slots[1000 % FRAME_SLOT_COUNT].size = FRAME_DATA_SIZE + 1;
    EXPECT_EQ(client.WaitNewest(50, *frame), CLIENT_TIMEOUT);
    Seen()->currentSlot = 0;
    Seen()->slots[0].size = 0;
    Publish(1);
    EXPECT_EQ(client.WaitNewest(WAIT_MS, *frame), CLIENT_FRAME);
    EXPECT_EQ(frame->stamp, 1u);
}

TEST_F(CameraClientTest, ReaderKeepsWorkingAcrossARestartOfTheService)
{
    Publish(1);
    ASSERT_EQ(client.WaitNewest(WAIT_MS, *frame), CLIENT_FRAME);
    CloseServiceResources();
    ASSERT_TRUE(OpenSharedBlock());
    Publish(2);
    // The library looks again at most once a second.
    ClientResult r = CLIENT_TIMEOUT;
    uint32_t start = GetTickMs();
    while (GetTickMs() - start < 5000) {
        r = client.WaitNewest(WAIT_MS, *frame);
        if (r == CLIENT_FRAME)
            break;
    }
    ASSERT_EQ(r, CLIENT_FRAME);
    EXPECT_EQ(frame->stamp, 2u);
    EXPECT_TRUE(client.RequestSize(320, 240));
    uint32_t w = 0, h = 0;
    ReadRequestedSize(w, h);
    EXPECT_EQ(w, 320u) << "wrote into the old run's block";
}

TEST_F(CameraClientTest, RequestedSizeAndLinkStateAreTheBlockWords)
{
    EXPECT_TRUE(client.RequestSize(1280, 720));
    uint32_t w = 0, h = 0, state = 99;
    ReadRequestedSize(w, h);
    EXPECT_EQ(w, 1280u);
    EXPECT_EQ(h, 720u);
    // Readers of the named block see the size the service took.
    EXPECT_EQ(g_block->requestedWidth, 1280u);
    EXPECT_EQ(g_block->requestedHeight, 720u);
    EXPECT_TRUE(client.ReadRequestedSize(w, h));
    EXPECT_EQ(w, 1280u);
    EXPECT_EQ(h, 720u);
    SetLinkState(LINK_STREAMING);
    EXPECT_TRUE(client.ReadLinkState(state));
    EXPECT_EQ(state, (uint32_t)LINK_STREAMING);
}

TEST(CameraClientNoService, WaitsOutTheTimeoutAndTriesAgainAtMostOnceASecond)
{
    UseTemporaryStore();
    CCameraClient client;
    std::unique_ptr<CameraFrame> frame(new CameraFrame);
    EXPECT_EQ(client.WaitNewest(30, *frame), CLIENT_NO_SERVICE);
    uint32_t state = 0;
    EXPECT_FALSE(client.ReadLinkState(state));
    EXPECT_FALSE(client.RequestSize(640, 480));

    ASSERT_TRUE(OpenSharedBlock());
    EXPECT_FALSE(client.Attach()) << "tried again within the second";
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_TRUE(client.Attach());
    client.Detach();
    CloseServiceResources();
    RemoveStoredKey();
}

TEST(VideoFormats, UsableEntriesInTableOrderWithTheDefaultWhenNoneIs)
{
    FormatTable t;
    memset(&t, 0, sizeof(t));
    VideoFormat out[FORMAT_MAX_ENTRIES];
    ASSERT_EQ(UsableFormats(t, out), 1u);
    EXPECT_EQ(out[0].width, 640u);
    EXPECT_EQ(out[0].height, 480u);
    EXPECT_EQ(out[0].fps, 30.0f);

    t.count = 4;
    t.entries[0] = {PackEntry(1280, 720, 0), 30.0f};
    t.entries[1] = {PackEntry(0, 480, 0), 30.0f};  // no width: left out
    t.entries[2] = {PackEntry(320, 240, 1), NAN};  // rate not a number: 30
    t.entries[3] = {PackEntry(176, 144, 0), 15.0f};
    ASSERT_EQ(UsableFormats(t, out), 3u);
    EXPECT_EQ(out[0].width, 1280u);
    EXPECT_EQ(out[1].width, 320u);
    EXPECT_EQ(out[1].fps, 30.0f);
    EXPECT_EQ(out[2].height, 144u);
    EXPECT_EQ(out[2].fps, 15.0f);
    EXPECT_EQ(FindFormat(out, 3, 320, 240), 1);
    EXPECT_EQ(FindFormat(out, 3, 640, 480), -1);

    t.count = 0xFFFFFFFF;  // clamped to the table's 40 entries
    for (uint32_t i = 0; i < FORMAT_MAX_ENTRIES; ++i)
        t.entries[i] = {PackEntry(200 + i, 150, 0), 25.0f};
    ASSERT_EQ(UsableFormats(t, out), FORMAT_MAX_ENTRIES);
    EXPECT_EQ(out[39].width, 239u);
}

}  // namespace
