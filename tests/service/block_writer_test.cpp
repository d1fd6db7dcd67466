// The shared camera block from both sides: the service's writer operations and
// a consumer that opens the named objects, in this process or another one.
// The named objects on their own are tested in tests/block.

#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "child_process.h"
#include "named_objects.h"
#include "block_writer.h"
#include "stored_table_access.h"

namespace {

uint8_t PatternByte(uint32_t i) { return (uint8_t)(i * 7 + 3); }

class SharedBlockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseTemporaryStore();
        RemoveStoredKey();
        ASSERT_TRUE(OpenSharedBlock());
        ASSERT_NE(g_block, nullptr);
        ASSERT_TRUE(event.Open(READY_EVENT_NAME));
        for (uint32_t i = 0; i < sizeof(frame); ++i)
            frame[i] = PatternByte(i);
    }
    void TearDown() override
    {
        event.Close();
        CloseServiceResources();
        RemoveStoredKey();
    }
    bool EventIsSet() { return event.Wait(0) == NAMED_WAIT_ACQUIRED; }

    CNamedEvent event;   // the consumer's handle on the ready event
    uint8_t frame[5000];
};

TEST_F(SharedBlockTest, StartsZeroedWithTheDefaultTableAndNoRequestedSize)
{
    EXPECT_EQ(g_block->linkState, (uint32_t)LINK_IDLE);
    EXPECT_EQ(g_block->requestedWidth, 0u);
    EXPECT_EQ(g_block->requestedHeight, 0u);
    EXPECT_EQ(g_block->currentSlot, 0u);
    EXPECT_EQ(g_block->formats.mode, 3u);
    EXPECT_EQ(g_block->formats.count, 1u);
    const uint8_t entry[8] = { 0x80, 0x02, 0x1E, 0x00, 0x00, 0x00, 0xF0, 0x41 };
    EXPECT_EQ(memcmp(&g_block->formats.entries[0], entry, sizeof(entry)), 0);
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(g_block);
    EXPECT_EQ(raw[364], 0);                      // retained frame data
    EXPECT_EQ(raw[SHARED_BLOCK_SIZE - 1], 0);    // last byte of slot 19
    EXPECT_FALSE(EventIsSet());
}

TEST_F(SharedBlockTest, FramesGoToTheNextSlotAndWrapAfterTheLast)
{
    PublishFrame(frame, 1234, 0x8, 777);
    EXPECT_EQ(g_block->currentSlot, 1u);
    EXPECT_EQ(g_block->slots[1].size, 1234u);
    EXPECT_EQ(g_block->slots[1].flags, 0x8u);
    EXPECT_EQ(g_block->slots[1].stamp, 777u);
    EXPECT_EQ(memcmp(g_block->slots[1].data, frame, 1234), 0);
    EXPECT_TRUE(EventIsSet());

    event.Reset();
    g_block->currentSlot = 19;
    PublishFrame(frame, 10, 0, 778);
    EXPECT_EQ(g_block->currentSlot, 0u);
    EXPECT_EQ(g_block->slots[0].size, 10u);
    EXPECT_EQ(g_block->slots[0].stamp, 778u);
    EXPECT_TRUE(EventIsSet());
}

TEST_F(SharedBlockTest, FrameIsDroppedWhileTheNextSlotIsStillOccupied)
{
    PublishFrame(frame, 100, 1, 1);
    PublishFrame(frame, 100, 1, 2);
    event.Reset();
    g_block->currentSlot = 0;   // slot 1 holds a frame the consumer has not taken
    PublishFrame(frame + 1, 200, 2, 3);
    EXPECT_EQ(g_block->currentSlot, 0u);
    EXPECT_EQ(g_block->slots[1].size, 100u);
    EXPECT_EQ(g_block->slots[1].stamp, 1u);
    EXPECT_EQ(g_block->slots[1].data[0], frame[0]);
    EXPECT_FALSE(EventIsSet());

    // Once the consumer frees it, publication goes on.
    g_block->slots[1].size = 0;
    PublishFrame(frame, 200, 2, 4);
    EXPECT_EQ(g_block->currentSlot, 1u);
    EXPECT_EQ(g_block->slots[1].stamp, 4u);
    EXPECT_TRUE(EventIsSet());
}

TEST_F(SharedBlockTest, EmptyAndOversizedFrames)
{
    // No data bytes: published with size 0, so the slot still looks free.
    PublishFrame(nullptr, 0, 5, 6);
    EXPECT_EQ(g_block->currentSlot, 1u);
    EXPECT_EQ(g_block->slots[1].size, 0u);
    EXPECT_EQ(g_block->slots[1].flags, 5u);
    EXPECT_EQ(g_block->slots[1].stamp, 6u);
    EXPECT_TRUE(EventIsSet());

    // More than a slot holds never reaches the block.
    event.Reset();
    static uint8_t big[FRAME_DATA_SIZE + 1];
    PublishFrame(big, FRAME_DATA_SIZE + 1, 0, 7);
    RetainFrame(big, FRAME_DATA_SIZE + 1, 0, 7);
    EXPECT_EQ(g_block->currentSlot, 1u);
    EXPECT_EQ(g_block->slots[2].size, 0u);
    EXPECT_EQ(g_block->retained.size, 0u);
    EXPECT_FALSE(EventIsSet());

    PublishFrame(big, FRAME_DATA_SIZE, 0, 8);
    EXPECT_EQ(g_block->slots[2].size, FRAME_DATA_SIZE);
}

TEST_F(SharedBlockTest, ClearingTheRingKeepsRetainedFrameTableAndRequest)
{
    RetainFrame(frame, 300, 8, 99);
    for (uint32_t i = 0; i < 5; ++i)
        PublishFrame(frame, 50 + i, 0, i);
    g_block->requestedWidth = 320;
    g_block->requestedHeight = 240;
    SetLinkState(LINK_STREAMING);
    FormatTable table = g_block->formats;

    ClearFrameRing();

    EXPECT_EQ(g_block->currentSlot, 0u);
    for (uint32_t i = 0; i < FRAME_SLOT_COUNT; ++i) {
        EXPECT_EQ(g_block->slots[i].size, 0u) << i;
        EXPECT_EQ(g_block->slots[i].data[0], 0) << i;
    }
    EXPECT_EQ(g_block->retained.size, 300u);
    EXPECT_EQ(g_block->retained.flags, 8u);
    EXPECT_EQ(g_block->retained.stamp, 99u);
    EXPECT_EQ(memcmp(g_block->retained.data, frame, 300), 0);
    EXPECT_EQ(memcmp(&g_block->formats, &table, sizeof(table)), 0);
    EXPECT_EQ(g_block->requestedWidth, 320u);
    EXPECT_EQ(g_block->linkState, (uint32_t)LINK_STREAMING);
}

TEST_F(SharedBlockTest, MutexHeldPastTheWaitDropsTheFrame)
{
    CNamedMutex other;
    ASSERT_TRUE(other.Open(SHARED_MUTEX_NAME));
    std::atomic<bool> held(false);
    std::atomic<bool> release(false);
    // Held by another thread, which counts as another owner on both targets.
    std::thread holder([&] {
        other.Lock(5000);
        held = true;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        other.Unlock();
    });
    while (!held)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    PublishFrame(frame, 100, 0, 1);
    release = true;
    holder.join();

    EXPECT_EQ(g_block->currentSlot, 0u);
    EXPECT_EQ(g_block->slots[1].size, 0u);
    EXPECT_FALSE(EventIsSet());
}

TEST_F(SharedBlockTest, ConsumerThatDiedHoldingTheMutexDoesNotStopPublication)
{
    const char* args[] = { "lock-and-die", nullptr };
    ASSERT_EQ(RunSiblingProgram("block_consumer_child", args, 20000), 3);

    PublishFrame(frame, 64, 0, 11);
    EXPECT_EQ(g_block->currentSlot, 1u);
    EXPECT_EQ(g_block->slots[1].stamp, 11u);
    EXPECT_TRUE(EventIsSet());

    // The mutex stays usable afterwards.
    PublishFrame(frame, 64, 0, 12);
    EXPECT_EQ(g_block->currentSlot, 2u);
}

TEST_F(SharedBlockTest, ConsumerInAnotherProcessTakesTheFrameAndAsksForASize)
{
    PublishFrame(frame, 4321, 8, 5150);
    const char* args[] = { "take", "1280", "720", "4321", "8", "5150", nullptr };
    EXPECT_EQ(RunSiblingProgram("block_consumer_child", args, 20000), 0);
    EXPECT_EQ(g_block->slots[1].size, 0u);
    EXPECT_EQ(g_block->requestedWidth, 1280u);
    EXPECT_EQ(g_block->requestedHeight, 720u);
    EXPECT_FALSE(EventIsSet());
}

// A smaller object made under the block's name by someone else, who still
// holds it: the start fails instead of writing past its end, and leaves the
// object as it was.
TEST(SharedBlockStartTest, ASmallerObjectMadeFirstFailsTheStart)
{
    UseTemporaryStore();
    RemoveStoredKey();
    CNamedMapping squatter;
    ASSERT_TRUE(squatter.Create(SHARED_MEMORY_NAME, 4096));
    memset(squatter.View(), 0x5A, 4096);
    EXPECT_FALSE(OpenSharedBlock());
    EXPECT_EQ(0x5A, static_cast<uint8_t*>(squatter.View())[0]);
    EXPECT_EQ(0x5A, static_cast<uint8_t*>(squatter.View())[4095]);
    CloseServiceResources();
    RemoveStoredKey();
}

}  // namespace
