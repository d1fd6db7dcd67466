#pragma once
// A running service's shared block (the real writer side) and one attached
// consumer, for the consumer library's tests.

#include <gtest/gtest.h>

#include <memory>

#include "camera_client.h"
#include "block_writer.h"
#include "stored_table_access.h"

const uint32_t WAIT_MS = 200;

class CameraClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseTemporaryStore();
        RemoveStoredKey();
        ASSERT_TRUE(OpenSharedBlock());
        for (uint32_t i = 0; i < sizeof(bytes); ++i)
            bytes[i] = (uint8_t)(i * 13 + 1);
        frame.reset(new CameraFrame);
        ASSERT_TRUE(client.Attach());
    }
    void TearDown() override
    {
        client.Detach();
        CloseServiceResources();
        RemoveStoredKey();
    }
    // A frame whose size and first byte tell it apart from the others.
    void Publish(uint32_t stamp)
    {
        bytes[0] = (uint8_t)stamp;
        PublishFrame(bytes, 1000 + stamp, 0, stamp);
    }
    // The copy of the block this reader attached to (where the platform has
    // them, the sealed one the service hands out, not the named g_block).
    SharedCameraBlock* Seen() const { return const_cast<SharedCameraBlock*>(client.Block()); }
    uint32_t OccupiedSlots() const
    {
        uint32_t n = 0;
        for (uint32_t i = 0; i < FRAME_SLOT_COUNT; ++i)
            n += Seen()->slots[i].size != 0;
        return n;
    }

    uint8_t bytes[4000];
    std::unique_ptr<CameraFrame> frame;
    CCameraClient client;
};
